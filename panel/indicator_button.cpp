#include "indicator_button.h"

#include <QPainter>
#include <qdrawutil.h>

namespace kvx {

IndicatorButton::IndicatorButton(const QString& text, QWidget* parent) : QPushButton(text, parent)
{
    setFlat(true);
    setAutoFillBackground(true);
}

void IndicatorButton::setBackground(const QColor& color)
{
    if (color == background())
        return;
    QPalette colours = palette();
    colours.setColor(QPalette::Button, color);
    colours.setColor(QPalette::Window, color);
    setPalette(colours);
}

void IndicatorButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QBrush fill(background());
    qDrawWinButton(&painter, rect(), palette(), isDown(), &fill);
    const QRect inside = rect().adjusted(2, 2, -2, -2).translated(isDown() ? QPoint(1, 1) : QPoint());
    painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::ButtonText));
    painter.drawText(inside, Qt::AlignCenter, text());
    if (hasFocus()) {
        painter.setPen(QPen(palette().color(QPalette::ButtonText), 1, Qt::DotLine));
        painter.drawRect(inside.adjusted(1, 1, -2, -2));
    }
}

} // namespace kvx
