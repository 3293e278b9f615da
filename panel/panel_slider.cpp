#include "panel_slider.h"

#include <QKeyEvent>

namespace kvx {

void PanelSlider::keyPressEvent(QKeyEvent* event)
{
    const int key = event->key();
    if (orientation() != Qt::Vertical || !invertedControls() || (key != Qt::Key_Left && key != Qt::Key_Right)) {
        QSlider::keyPressEvent(event);
        return;
    }
    // Undo the swap that the inverted controls make.
    QKeyEvent unswapped(event->type(), key == Qt::Key_Left ? Qt::Key_Right : Qt::Key_Left, event->modifiers(),
                        event->text(), event->isAutoRepeat(), event->count());
    QSlider::keyPressEvent(&unswapped);
    event->setAccepted(unswapped.isAccepted());
}

} // namespace kvx
