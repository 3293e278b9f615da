// An unfilled rectangle outline, used to mark the jog slider's zero.
#pragma once

#include <QWidget>

namespace kvx {

class OutlineMarker : public QWidget {
public:
    explicit OutlineMarker(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace kvx
