#include "screen_reader.h"

#include <QAccessibleWidget>

namespace kvx {
namespace {

// A top-level window: read as a window with its title, and without the
// child widgets that are kept from screen readers.
class ProgramWindowAccessible : public QAccessibleWidget {
public:
    explicit ProgramWindowAccessible(QWidget* window) : QAccessibleWidget(window, QAccessible::Window) {}

    int childCount() const override { return int(reachableChildren().size()); }

    QAccessibleInterface* child(int index) const override
    {
        const QWidgetList children = reachableChildren();
        if (index < 0 || index >= children.size())
            return nullptr;
        return QAccessible::queryAccessibleInterface(children.at(index));
    }

    int indexOfChild(const QAccessibleInterface* child) const override
    {
        if (!child || !child->object() || !child->object()->isWidgetType())
            return -1;
        return int(reachableChildren().indexOf(static_cast<QWidget*>(child->object())));
    }

private:
    QWidgetList reachableChildren() const
    {
        QWidgetList reachable;
        for (QObject* object : widget()->children()) {
            auto* child = qobject_cast<QWidget*>(object);
            if (child && !child->isWindow() && !qobject_cast<UnreadLineEdit*>(child))
                reachable.append(child);
        }
        return reachable;
    }
};

QAccessibleInterface* programInterfaces(const QString& className, QObject* object)
{
    if (!object || !object->isWidgetType())
        return nullptr;
    auto* widget = static_cast<QWidget*>(object);
    if (className == QLatin1String("kvx::frmMain") || className == QLatin1String("kvx::frmSelect"))
        return new ProgramWindowAccessible(widget);
    if (className == QLatin1String("kvx::Lamp") || className == QLatin1String("kvx::OutlineMarker"))
        return new QAccessibleWidget(widget, QAccessible::Graphic);
    if (className == QLatin1String("kvx::UnreadLineEdit"))
        return new QAccessibleWidget(widget, QAccessible::NoRole);
    return nullptr;
}

} // namespace

void installScreenReaderSupport()
{
    static const bool installed = [] {
        QAccessible::installFactory(programInterfaces);
        return true;
    }();
    (void)installed;
}

} // namespace kvx
