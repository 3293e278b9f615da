// A round indicator lamp: a solid filled circle with a thin outline. Screen
// readers see it as a picture; its name and state words are set by the panel.
#pragma once

#include <QColor>
#include <QWidget>

namespace kvx {

class Lamp : public QWidget {
public:
    explicit Lamp(QWidget* parent = nullptr);

    QColor fillColor() const { return fill_; }
    void setFillColor(const QColor& color);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor fill_{255, 0, 0};
};

} // namespace kvx
