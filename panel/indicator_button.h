// A push button whose background is one exact solid colour, set at run time,
// inside the usual raised bevel. The platform style would tint a coloured
// button with a gradient; an indicator must show the colour it is given.
#pragma once

#include <QColor>
#include <QPushButton>

namespace kvx {

class IndicatorButton : public QPushButton {
public:
    explicit IndicatorButton(const QString& text, QWidget* parent = nullptr);

    QColor background() const { return palette().color(QPalette::Button); }
    void setBackground(const QColor& color);

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace kvx
