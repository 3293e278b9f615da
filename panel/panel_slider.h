// A slider whose keys move it as the platform's slider does: Right and Down
// raise the value, Left and Up lower it, Page Down and Page Up move by the
// large step, Home and End go to the minimum and the maximum, whatever the
// orientation. (The panel's vertical sliders have their minimum at the top,
// so Down moves the thumb down there too.) It tells apart a change that the
// operator made with a key or through a screen reader from one made by the
// program.
#pragma once

#include <QSlider>

class QAccessibleInterface;

namespace kvx {

class PanelSlider : public QSlider {
    Q_OBJECT
public:
    using QSlider::QSlider;

    // A screen reader setting the value, as the operator's own change.
    void setValueByOperator(int value);

signals:
    // The operator changed the value with a key or through a screen reader.
    void changedByOperator();

protected:
    void keyPressEvent(QKeyEvent* event) override;
};

// What a screen reader gets of such a slider: Qt's slider interface, with
// its value set as the operator's change.
QAccessibleInterface* panelSliderInterface(PanelSlider* slider);

} // namespace kvx
