#include "panel_slider.h"

#include <QAccessibleWidget>
#include <QKeyEvent>
#include <optional>

namespace kvx {
namespace {

std::optional<QAbstractSlider::SliderAction> platformAction(int key)
{
    switch (key) {
    case Qt::Key_Right:
    case Qt::Key_Down: return QAbstractSlider::SliderSingleStepAdd;
    case Qt::Key_Left:
    case Qt::Key_Up: return QAbstractSlider::SliderSingleStepSub;
    case Qt::Key_PageDown: return QAbstractSlider::SliderPageStepAdd;
    case Qt::Key_PageUp: return QAbstractSlider::SliderPageStepSub;
    case Qt::Key_Home: return QAbstractSlider::SliderToMinimum;
    case Qt::Key_End: return QAbstractSlider::SliderToMaximum;
    default: return std::nullopt;
    }
}

class PanelSliderAccessible : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    explicit PanelSliderAccessible(PanelSlider* slider) : QAccessibleWidget(slider, QAccessible::Slider) {}

    void* interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::ValueInterface)
            return static_cast<QAccessibleValueInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }
    QString text(QAccessible::Text type) const override
    {
        return type == QAccessible::Value ? QString::number(slider()->value()) : QAccessibleWidget::text(type);
    }
    QVariant currentValue() const override { return slider()->value(); }
    void setCurrentValue(const QVariant& value) override { slider()->setValueByOperator(value.toInt()); }
    QVariant maximumValue() const override { return slider()->maximum(); }
    QVariant minimumValue() const override { return slider()->minimum(); }
    QVariant minimumStepSize() const override { return slider()->singleStep(); }

private:
    PanelSlider* slider() const { return static_cast<PanelSlider*>(widget()); }
};

} // namespace

void PanelSlider::setValueByOperator(int newValue)
{
    const int before = value();
    setValue(newValue);
    if (value() != before)
        emit changedByOperator();
}

void PanelSlider::keyPressEvent(QKeyEvent* event)
{
    const std::optional<SliderAction> action = platformAction(event->key());
    if (!action) {
        QSlider::keyPressEvent(event);
        return;
    }
    const int before = value();
    triggerAction(*action);
    if (value() != before)
        emit changedByOperator();
}

QAccessibleInterface* panelSliderInterface(PanelSlider* slider) { return new PanelSliderAccessible(slider); }

} // namespace kvx
