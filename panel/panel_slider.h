// A slider whose keys move it as the platform's slider does. The panel's
// vertical sliders have their minimum at the top and use Qt's inverted
// controls, so that Down and Page Down raise the value as they move the
// thumb down; Qt then also swaps Left and Right. On the platform's slider
// Right raises the value and Left lowers it, whatever the orientation.
#pragma once

#include <QSlider>

namespace kvx {

class PanelSlider : public QSlider {
public:
    using QSlider::QSlider;

protected:
    void keyPressEvent(QKeyEvent* event) override;
};

} // namespace kvx
