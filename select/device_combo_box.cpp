#include "device_combo_box.h"

#include <QAbstractItemView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QScopedValueRollback>
#include <utility>

namespace kvx {
namespace {

bool isListKey(const QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
        return !(event->modifiers() & Qt::AltModifier); // Alt+Down opens the list
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
    connect(lineEdit(), &QLineEdit::textEdited, this, [this] {
        typedOver_ = true;
        pickedRow_ = -1;
    });
    connect(this, &QComboBox::activated, this, &DeviceComboBox::takeActivation);
    // The list's own pick, seen before the list reports it; the list view
    // exists from here on.
    view()->installEventFilter(this);
    view()->viewport()->installEventFilter(this);
}

void DeviceComboBox::takeActivation(int index)
{
    if (choosing_ || std::exchange(pickedRow_, -1) == index)
        typedOver_ = false;
}

bool DeviceComboBox::eventFilter(QObject* watched, QEvent* event)
{
    QAbstractItemView* list = view();
    if (!list->isVisible())
        return QComboBox::eventFilter(watched, event);
    if (watched == list->viewport() && event->type() == QEvent::MouseButtonRelease) {
        const QModelIndex under = list->indexAt(static_cast<QMouseEvent*>(event)->position().toPoint());
        pickedRow_ = under.isValid() ? under.row() : -1;
    } else if (watched == list && event->type() == QEvent::ShortcutOverride) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter)
            pickedRow_ = list->currentIndex().isValid() ? list->currentIndex().row() : -1;
    }
    return QComboBox::eventFilter(watched, event);
}

void DeviceComboBox::keyPressEvent(QKeyEvent* event)
{
    QScopedValueRollback<bool> choosing(choosing_, isListKey(event));
    QComboBox::keyPressEvent(event);
}

void DeviceComboBox::wheelEvent(QWheelEvent* event)
{
    QScopedValueRollback<bool> choosing(choosing_, true);
    QComboBox::wheelEvent(event);
}

} // namespace kvx
