// Builds the panel's controls at their places, with their captions, fonts,
// colours and tab order. Later siblings are drawn over earlier ones, so the
// marker, the group boxes and the labels are made first: they lie behind.
#include "frm_main.h"

#include "indicator_button.h"
#include "lamp.h"
#include "outline_marker.h"
#include "panel_fonts.h"
#include "panel_layout.h"
#include "panel_slider.h"
#include "program_icon.h"
#include "screen_reader.h"
#include "spoken_notice.h"

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTimer>

namespace kvx {
namespace {

template <typename W>
W* placed(W* widget, const layout::Twips& place, const char* name)
{
    widget->setGeometry(layout::toPixels(place));
    widget->setObjectName(QLatin1String(name));
    return widget;
}

QGroupBox* groupBox(QWidget* parent, const QString& title, const QFont& font)
{
    auto* box = new QGroupBox(title, parent);
    box->setFont(font);
    return box;
}

QLabel* label(QWidget* parent, const QString& caption, const QFont& font, Qt::Alignment alignment)
{
    auto* text = new QLabel(caption, parent);
    text->setFont(font);
    text->setAlignment(alignment | Qt::AlignTop);
    return text;
}

QPushButton* button(QWidget* parent, const QString& caption, const QFont& font, const QString& tip = {})
{
    auto* push = new QPushButton(caption, parent);
    push->setFont(font);
    push->setToolTip(tip);
    // Enter and Escape must reach the focused control, never a default button.
    push->setAutoDefault(false);
    push->setDefault(false);
    return push;
}

IndicatorButton* indicator(QWidget* parent, const QString& caption, const QString& tip)
{
    auto* push = new IndicatorButton(caption, parent);
    push->setFont(msSansSerif(8.25, Weight::Regular));
    push->setToolTip(tip);
    push->setAutoDefault(false);
    push->setDefault(false);
    push->setBackground(parent->palette().color(QPalette::Button));
    return push;
}

QLineEdit* numberBox(QWidget* parent, const QString& text, const QFont& font, const QColor& ink, const QColor& ground)
{
    auto* box = new QLineEdit(text, parent);
    box->setFont(font);
    QPalette colours = box->palette();
    colours.setColor(QPalette::Text, ink);
    colours.setColor(QPalette::Base, ground);
    box->setPalette(colours);
    return box;
}

struct SliderSettings {
    Qt::Orientation orientation;
    int minimum, maximum, value, smallStep, largeStep, tickEvery;
    const char* tip;
};

PanelSlider* slider(QWidget* parent, const SliderSettings& s)
{
    auto* bar = new PanelSlider(s.orientation, parent);
    bar->setRange(s.minimum, s.maximum);
    bar->setValue(s.value);
    bar->setSingleStep(s.smallStep);
    bar->setPageStep(s.largeStep);
    bar->setTickInterval(s.tickEvery);
    bar->setTickPosition(QSlider::TicksBelow);
    bar->setToolTip(QLatin1String(s.tip));
    // The tooltip is what the operator reads of it, so a screen reader says it too.
    bar->setAccessibleName(QLatin1String(s.tip));
    if (s.orientation == Qt::Vertical) {
        // Minimum at the top; the wheel moves the thumb the way it looks.
        bar->setInvertedAppearance(true);
        bar->setInvertedControls(true);
    }
    return bar;
}

} // namespace

void frmMain::buildControls()
{
    Shape1 = placed(new OutlineMarker(this), layout::Shape1, "Shape1");
    setScreenReaderRole(Shape1, QAccessible::Graphic);
    Shape1->setAccessibleName(QStringLiteral("Joystick Control zero"));

    Frame7 = placed(groupBox(this, QStringLiteral("     Speed"), arial(9.75)), layout::Frame7, "Frame7");
    Frame1 = placed(groupBox(this, QStringLiteral("Real Position"), msSansSerif(8.25, Weight::Regular)),
                    layout::Frame1, "Frame1");
    Frame2 = placed(groupBox(this, QStringLiteral("Target Position"), msSansSerif(8.25, Weight::Regular)),
                    layout::Frame2, "Frame2");

    Label2 = placed(label(this, QStringLiteral(" Acc   Ampli       CR%"), arial(8.25), Qt::AlignLeft),
                    layout::Label2, "Label2");
    Label3 = placed(label(this, QStringLiteral("Max Speed"), arial(9.75), Qt::AlignHCenter), layout::Label3, "Label3");
    Label4 = placed(label(this, QStringLiteral("BUSY"), arial(9.75), Qt::AlignLeft), layout::Label4, "Label4");
    Label5 = placed(label(this, QStringLiteral("Limits"), arial(9.75), Qt::AlignHCenter), layout::Label5, "Label5");
    Label10 = placed(label(this, QStringLiteral("-"), arial(18), Qt::AlignHCenter), layout::Label10, "Label10");
    Label9 = placed(label(this, QStringLiteral("Axis"), arial(9.75), Qt::AlignHCenter), layout::Label9, "Label9");

    buildIndicators();

    cmdExit = placed(button(this, QStringLiteral("Exit"), arial(9.75)), layout::cmdExit, "cmdExit");
    Go = placed(button(this, QStringLiteral("GO"), arial(9.75), QStringLiteral("Move to Absolute Position")),
                layout::Go, "Go");
    Command1 = placed(button(this, QStringLiteral("STOP"), arial(9.75)), layout::Command1, "Command1");
    Command2 = placed(button(this, QStringLiteral("ZERO"), arial(9.75), QStringLiteral("Define Origin")),
                      layout::Command2, "Command2");
    Command7 = placed(button(this, QStringLiteral("R"), msSansSerif(9.75), QStringLiteral("Move Relative Position")),
                      layout::Command7, "Command7");

    Picture1 = placed(new QLabel(this), layout::Picture1, "Picture1");
    Picture1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Picture1->setLineWidth(2);
    Picture1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Picture1->setPixmap(bannerPicture());
    Picture1->setFocusPolicy(Qt::TabFocus);
    Picture1->setAccessibleName(QStringLiteral("KVX-340 Stepper Motor Control Panel"));

    Text1 = placed(numberBox(this, QStringLiteral("0"), arial(26.25), QColor(0, 255, 0), Qt::black), layout::Text1,
                   "Text1");
    Text1->setToolTip(QStringLiteral("Motor's Position"));
    // The group boxes frame the boxes without holding them, so Qt cannot
    // name the boxes after their captions.
    Text1->setAccessibleName(Frame1->title());
    Text2 = placed(numberBox(this, QStringLiteral("0"), arial(26.25), QColor(224, 224, 224), Qt::black),
                   layout::Text2, "Text2");
    Text2->setAccessibleName(Frame2->title());
    // Nobody reads the ideal position, a screen reader no more than the eye:
    // the box belongs to no window, and offers no text even to notices.
    Text3 = placed(new QLineEdit(QStringLiteral("Text3")), layout::Text3, "Text3");
    setScreenReaderRole(Text3, QAccessible::NoRole);
    Text3->setFont(msSansSerif(9.75));

    buildSliders();

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(30);
    Timer1->setTimerType(Qt::PreciseTimer);
}

void frmMain::buildIndicators()
{
    Shape3 = placed(new Lamp(this), layout::Shape3, "Shape3");
    Shape4 = placed(new Lamp(this), layout::Shape4, "Shape4");
    Shape2 = placed(new Lamp(this), layout::Shape2, "Shape2");
    Command6 = placed(indicator(this, QStringLiteral("Reverse"), QStringLiteral("Reverse Limit Switch Operation")),
                      layout::Command6, "Command6");
    Command3 = placed(indicator(this, QStringLiteral("Act Hi"), QStringLiteral("Limit Switch Active on HIGH")),
                      layout::Command3, "Command3");
    for (auto [lamp, element] : {std::pair{Shape3, StatusElement::LeftLimit},
                                 std::pair{Shape4, StatusElement::RightLimit}, std::pair{Shape2, StatusElement::Busy}}) {
        setScreenReaderRole(lamp, QAccessible::Graphic);
        lamp->setAccessibleName(statusName(element));
    }
    notice_ = new SpokenNotice(this);

    // The idle looks are the system's button colours, read at each drawing so
    // that they follow a change of palette (a dark or high-contrast theme).
    const QColor red(255, 0, 0), green(0, 192, 0), yellow(255, 255, 0);
    const auto face = [this] { return palette().color(QPalette::Button); };
    const auto lamp = [](Lamp* shape, QColor alert, std::function<QColor()> clear) {
        return [=](bool on) { shape->setFillColor(on ? alert : clear()); };
    };
    const auto fixed = [](QColor colour) { return [colour] { return colour; }; };
    const auto indicatorLook = [=](IndicatorButton* button) {
        return [=](bool on) { button->setBackground(on ? yellow : face()); };
    };
    statusViews_ = {
        {StatusElement::LeftLimit, Shape3, lamp(Shape3, red, fixed(green))},
        {StatusElement::RightLimit, Shape4, lamp(Shape4, red, fixed(green))},
        {StatusElement::Reverse, Command6, indicatorLook(Command6)},
        {StatusElement::MaxSpeed, Label3,
         [this, red](bool on) {
             QPalette colours = Label3->palette();
             colours.setColor(QPalette::WindowText, on ? red : palette().color(QPalette::ButtonText));
             Label3->setPalette(colours);
         }},
        {StatusElement::Busy, Shape2, lamp(Shape2, red, face)},
        {StatusElement::ActiveHigh, Command3, indicatorLook(Command3)},
    };
    // The first look, until the first status frame: the three lamps red.
    // A lamp's colour, an indicator's background and a text colour are lost
    // on a screen reader and on an operator who cannot tell red from green:
    // each also carries its state in words.
    IndicatorAlerts firstLook;
    firstLook.Shape3 = firstLook.Shape4 = firstLook.Shape2 = true;
    showStatus(firstLook, true);
}

void frmMain::buildSliders()
{
    Slider1 = placed(slider(this, {Qt::Horizontal, -10000, 10000, 0, 1, 5, 500, "Joystick Control"}),
                     layout::Slider1, "Slider1");
    Slider2 = placed(slider(this, {Qt::Vertical, 0, 255, 180, 1, 10, 15, "Maximal Speed"}), layout::Slider2,
                     "Slider2");
    Slider3 = placed(slider(this, {Qt::Vertical, 0, 255, 75, 1, 5, 15, "Acceleration/Deceleration"}),
                     layout::Slider3, "Slider3");
    Slider4 = placed(slider(this, {Qt::Vertical, 0, 255, 160, 1, 2, 15, "Motor Current Amplitude"}),
                     layout::Slider4, "Slider4");
    Slider5 = placed(slider(this, {Qt::Vertical, 0, 100, 50, 1, 5, 10, "% of Amplitude when Idle"}),
                     layout::Slider5, "Slider5");
}

void frmMain::arrangeTabOrder()
{
    QWidget* const order[] = {cmdExit, Slider1, Go,       Picture1, Text1,    Text2,    Command1, Command2,
                              Slider2, Slider3, Slider4,  Command6, Command3, Command7, Slider5};
    for (size_t i = 1; i < std::size(order); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);
    cmdExit->setFocus();
}

} // namespace kvx
