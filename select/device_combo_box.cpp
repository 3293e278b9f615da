#include "device_combo_box.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QScopedValueRollback>
#include <QTimer>

namespace kvx {
namespace {

bool isListKey(const QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
        return true;
    default:
        return false;
    }
}

} // namespace

DeviceComboBox::DeviceComboBox(QWidget* parent) : QComboBox(parent)
{
    setEditable(true);
    setInsertPolicy(QComboBox::NoInsert); // typing adds no entry
    setCompleter(nullptr);                // nor completes one
    // textEdited comes from the operator's typing only, never from code.
    connect(lineEdit(), &QLineEdit::textEdited, this, [this] { typedOver_ = true; });
    connect(this, &QComboBox::activated, this, &DeviceComboBox::takeActivation);
}

void DeviceComboBox::takeActivation()
{
    if (choosing_ || popupChoice_)
        typedOver_ = false;
}

void DeviceComboBox::showPopup()
{
    popupChoice_ = true;
    QComboBox::showPopup();
}

// The list closes before it reports the entry picked from it, so the
// picking is still counted as a choice until the events of the closing ran.
void DeviceComboBox::hidePopup()
{
    QComboBox::hidePopup();
    QTimer::singleShot(0, this, [this] { popupChoice_ = false; });
}

void DeviceComboBox::keyPressEvent(QKeyEvent* event)
{
    QScopedValueRollback<bool> choosing(choosing_, isListKey(event) && !(event->modifiers() & Qt::AltModifier));
    QComboBox::keyPressEvent(event);
}

void DeviceComboBox::wheelEvent(QWheelEvent* event)
{
    QScopedValueRollback<bool> choosing(choosing_, true);
    QComboBox::wheelEvent(event);
}

} // namespace kvx
