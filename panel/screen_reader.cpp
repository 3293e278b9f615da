#include "screen_reader.h"

#include "panel_slider.h"

#include <QAccessibleWidget>
#include <QWidget>

namespace kvx {
namespace {

constexpr char RoleProperty[] = "kvxScreenReaderRole";

QAccessibleInterface* programInterfaces(const QString&, QObject* object)
{
    if (!object || !object->isWidgetType())
        return nullptr;
    auto* widget = static_cast<QWidget*>(object);
    if (auto* slider = dynamic_cast<PanelSlider*>(widget))
        return panelSliderInterface(slider);
    const QVariant role = widget->property(RoleProperty);
    if (!role.isValid())
        return nullptr;
    return new QAccessibleWidget(widget, QAccessible::Role(role.toInt()));
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

void setScreenReaderRole(QWidget* widget, QAccessible::Role role) { widget->setProperty(RoleProperty, int(role)); }

} // namespace kvx
