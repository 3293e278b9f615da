#include "indicator_button.h"
#include "lamp.h"
#include "outline_marker.h"
#include "panel_fixture.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTimer>

using namespace kvx;
using Layout = kvx::test::PanelTest;

namespace {

struct Place {
    const char* name;
    int left, top, width, height; // twips
};

// The form's table, in twips; every figure is a whole number of pixels.
constexpr Place places[] = {
    {"cmdExit", 5760, 360, 735, 375},   {"Slider1", 480, 4440, 6975, 375},  {"Frame7", 240, 4200, 7455, 735},
    {"Go", 3840, 2760, 495, 375},       {"Picture1", 240, 240, 5295, 735},  {"Text1", 360, 1440, 3255, 705},
    {"Frame1", 240, 1200, 3495, 1095},  {"Text2", 360, 2640, 3255, 705},    {"Frame2", 240, 2400, 4695, 1095},
    {"Command1", 5160, 2760, 735, 375}, {"Command2", 5160, 1560, 735, 375}, {"Text3", 1320, 3480, 2655, 345},
    {"Slider2", 6720, 240, 630, 1575},  {"Slider3", 6000, 2640, 630, 1575}, {"Slider4", 6480, 2640, 630, 1575},
    {"Label2", 6120, 2400, 1815, 1695}, {"Label3", 6360, 1800, 1215, 255},  {"Command6", 3960, 1800, 735, 255},
    {"Label4", 5280, 3840, 615, 255},   {"Label5", 3960, 1080, 735, 255},   {"Command3", 3960, 2040, 735, 255},
    {"Command7", 4440, 2760, 255, 375}, {"Label10", 7560, 600, 255, 495},   {"Label9", 7440, 360, 495, 255},
    {"Slider5", 7200, 2640, 615, 1575}, {"Shape3", 3960, 1440, 255, 255},   {"Shape4", 4440, 1440, 255, 255},
    {"Shape2", 5280, 3240, 495, 495},   {"Shape1", 3840, 4080, 255, 975},
};

struct Caption {
    const char* name;
    const char* text;
    const char* family;
    double points;
    bool bold;
    const char* tip;
};

constexpr Caption captions[] = {
    {"cmdExit", "Exit", "Arial", 9.75, true, ""},
    {"Frame7", "     Speed", "Arial", 9.75, true, ""},
    {"Go", "GO", "Arial", 9.75, true, "Move to Absolute Position"},
    {"Text1", "0", "Arial", 26.25, true, "Motor's Position"},
    {"Frame1", "Real Position", "MS Sans Serif", 8.25, false, ""},
    {"Text2", "0", "Arial", 26.25, true, ""},
    {"Frame2", "Target Position", "MS Sans Serif", 8.25, false, ""},
    {"Command1", "STOP", "Arial", 9.75, true, ""},
    {"Command2", "ZERO", "Arial", 9.75, true, "Define Origin"},
    {"Text3", "0", "MS Sans Serif", 9.75, true, ""},
    {"Label2", " Acc   Ampli       CR%", "Arial", 8.25, true, ""},
    {"Label3", "Max Speed", "Arial", 9.75, true, ""},
    {"Command6", "Reverse", "MS Sans Serif", 8.25, false, "Reverse Limit Switch Operation"},
    {"Label4", "BUSY", "Arial", 9.75, true, ""},
    {"Label5", "Limits", "Arial", 9.75, true, ""},
    {"Command3", "Act Hi", "MS Sans Serif", 8.25, false, "Limit Switch Active on HIGH"},
    {"Command7", "R", "MS Sans Serif", 9.75, true, "Move Relative Position"},
    {"Label10", "X", "Arial", 18, true, ""},
    {"Label9", "Axis", "Arial", 9.75, true, ""},
};

// A control by its form name; the ideal position's box belongs to no window.
QWidget* control(const kvx::frmMain& panel, const char* name)
{
    if (panel.Text3->objectName() == QLatin1String(name))
        return panel.Text3;
    return panel.findChild<QWidget*>(QLatin1String(name));
}

QString captionOf(QWidget* w)
{
    if (auto* b = qobject_cast<QPushButton*>(w))
        return b->text();
    if (auto* l = qobject_cast<QLabel*>(w))
        return l->text();
    if (auto* g = qobject_cast<QGroupBox*>(w))
        return g->title();
    if (auto* e = qobject_cast<QLineEdit*>(w))
        return e->text();
    return QStringLiteral("?");
}

struct SliderSetting {
    const char* name;
    Qt::Orientation orientation;
    int minimum, maximum, value, small, large, ticks;
    const char* tip;
};

constexpr SliderSetting sliders[] = {
    {"Slider1", Qt::Horizontal, -10000, 10000, 0, 1, 5, 500, "Joystick Control"},
    {"Slider2", Qt::Vertical, 0, 255, 180, 1, 10, 15, "Maximal Speed"},
    {"Slider3", Qt::Vertical, 0, 255, 75, 1, 5, 15, "Acceleration/Deceleration"},
    {"Slider4", Qt::Vertical, 0, 255, 160, 1, 2, 15, "Motor Current Amplitude"},
    {"Slider5", Qt::Vertical, 0, 100, 50, 1, 5, 10, "% of Amplitude when Idle"},
};

} // namespace

TEST_F(Layout, WindowIsAFixedPlainWindowOfTheFormsSize)
{
    EXPECT_EQ(panel.windowTitle(), QStringLiteral("KVX-340 Stepper Motor Control Panel"));
    EXPECT_EQ(panel.size(), QSize(540, 354));
    EXPECT_EQ(panel.minimumSize(), panel.maximumSize());
    EXPECT_TRUE(panel.isWindow());
    EXPECT_FALSE(panel.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(panel.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_EQ(panel.windowIcon().availableSizes(), QList<QSize>({QSize(16, 16), QSize(32, 32)}));
}

TEST_F(Layout, EveryControlStandsAtItsPlaceInPixels)
{
    for (const Place& p : places) {
        QWidget* placed = control(panel, p.name);
        ASSERT_NE(placed, nullptr) << p.name;
        EXPECT_EQ(placed->geometry(), QRect(p.left / 15, p.top / 15, p.width / 15, p.height / 15)) << p.name;
    }
}

TEST_F(Layout, CaptionsFontsAndTooltipsAsDesigned)
{
    open();
    for (const Caption& c : captions) {
        QWidget* captioned = control(panel, c.name);
        ASSERT_NE(captioned, nullptr) << c.name;
        EXPECT_EQ(captionOf(captioned), QString::fromUtf8(c.text)) << c.name;
        EXPECT_EQ(captioned->font().family(), QLatin1String(c.family)) << c.name;
        EXPECT_DOUBLE_EQ(captioned->font().pointSizeF(), c.points) << c.name;
        EXPECT_EQ(captioned->font().bold(), c.bold) << c.name;
        EXPECT_EQ(captioned->toolTip(), QString::fromUtf8(c.tip)) << c.name;
    }
}

TEST_F(Layout, NumberBoxesShowTheirColours)
{
    EXPECT_EQ(panel.Text1->palette().color(QPalette::Text), QColor(0, 255, 0));
    EXPECT_EQ(panel.Text1->palette().color(QPalette::Base), QColor(0, 0, 0));
    EXPECT_EQ(panel.Text2->palette().color(QPalette::Text), QColor(224, 224, 224));
    EXPECT_EQ(panel.Text2->palette().color(QPalette::Base), QColor(0, 0, 0));
    EXPECT_FALSE(panel.Text1->isReadOnly());
    EXPECT_FALSE(panel.Picture1->pixmap().isNull());
    EXPECT_EQ(panel.Picture1->pixmap().size(), QSize(350, 44));
}

TEST_F(Layout, SlidersHaveTheirRangesStepsAndTicks)
{
    for (const SliderSetting& s : sliders) {
        auto* slider = panel.findChild<QSlider*>(QLatin1String(s.name));
        ASSERT_NE(slider, nullptr) << s.name;
        EXPECT_EQ(slider->orientation(), s.orientation) << s.name;
        EXPECT_EQ(slider->minimum(), s.minimum) << s.name;
        EXPECT_EQ(slider->maximum(), s.maximum) << s.name;
        EXPECT_EQ(slider->value(), s.value) << s.name;
        EXPECT_EQ(slider->singleStep(), s.small) << s.name;
        EXPECT_EQ(slider->pageStep(), s.large) << s.name;
        EXPECT_EQ(slider->tickInterval(), s.ticks) << s.name;
        EXPECT_NE(slider->tickPosition(), QSlider::NoTicks) << s.name;
        EXPECT_EQ(slider->toolTip(), QLatin1String(s.tip)) << s.name;
        const bool vertical = s.orientation == Qt::Vertical;
        EXPECT_EQ(slider->invertedAppearance(), vertical) << s.name;
        EXPECT_EQ(slider->invertedControls(), vertical) << s.name;
    }
}

TEST_F(Layout, VerticalSlidersHaveTheirMinimumAtTheTop)
{
    open();
    QSlider* slider = panel.Slider2;
    // The middle button sets the value where it clicks.
    QTest::mouseClick(slider, Qt::MiddleButton, {}, QPoint(slider->width() / 2, 1));
    EXPECT_EQ(slider->value(), 0);
    QTest::mouseClick(slider, Qt::MiddleButton, {}, QPoint(slider->width() / 2, slider->height() - 2));
    EXPECT_EQ(slider->value(), 255);
    slider->setValue(180);
    // The arrow keys follow the screen.
    QTest::keyClick(slider, Qt::Key_Down);
    EXPECT_EQ(slider->value(), 181);
    QTest::keyClick(slider, Qt::Key_Up);
    EXPECT_EQ(slider->value(), 180);
}

TEST_F(Layout, MarkerStandsOverTheJogSlidersZero)
{
    open();
    QStyleOptionSlider option;
    option.initFrom(panel.Slider1);
    option.orientation = Qt::Horizontal;
    option.minimum = panel.Slider1->minimum();
    option.maximum = panel.Slider1->maximum();
    option.sliderPosition = option.sliderValue = 0;
    option.tickPosition = panel.Slider1->tickPosition();
    option.tickInterval = panel.Slider1->tickInterval();
    const QRect handle =
        panel.Slider1->style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, panel.Slider1);
    const int handleCentre = panel.Slider1->x() + handle.center().x();
    EXPECT_NEAR(panel.Shape1->geometry().center().x(), handleCentre, 1);
    EXPECT_LT(panel.Shape1->y(), panel.Frame7->y());
    EXPECT_GT(panel.Shape1->geometry().bottom(), panel.Frame7->geometry().bottom());
}

TEST_F(Layout, StartsWithRedLampsAndPlainIndicators)
{
    open();
    for (Lamp* lamp : {panel.Shape2, panel.Shape3, panel.Shape4})
        EXPECT_EQ(lamp->fillColor(), QColor(255, 0, 0)) << lamp->objectName().toStdString();
    const QColor face = QApplication::palette().color(QPalette::Button);
    EXPECT_EQ(panel.Command3->background(), face);
    EXPECT_EQ(panel.Command6->background(), face);
    EXPECT_EQ(panel.Label3->palette().color(QPalette::WindowText),
              QApplication::palette().color(QPalette::ButtonText));
    EXPECT_FALSE(panel.Text3->isVisible());
    EXPECT_TRUE(panel.Text1->isVisible());
}

TEST_F(Layout, NoButtonAnswersEnterOrEscapeOnItsOwn)
{
    for (QPushButton* button : panel.findChildren<QPushButton*>()) {
        EXPECT_FALSE(button->isDefault()) << button->objectName().toStdString();
        EXPECT_FALSE(button->autoDefault()) << button->objectName().toStdString();
    }
}

TEST_F(Layout, TabMovesFocusInTheFormsOrder)
{
    open();
    panel.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&panel, 30000));
    ASSERT_EQ(QApplication::focusWidget(), panel.cmdExit);
    QStringList visited;
    for (int i = 0; i < 15; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visited << QApplication::focusWidget()->objectName();
    }
    EXPECT_EQ(visited, QStringList({"Slider1", "Go", "Picture1", "Text1", "Text2", "Command1", "Command2", "Slider2",
                                    "Slider3", "Slider4", "Command6", "Command3", "Command7", "Slider5", "cmdExit"}));
}

TEST_F(Layout, LoadAndActivationSetTheStartingState)
{
    state.PositionModeFlag = 32;
    panel.TargetPosition = 99;
    panel.Text1->setText(QStringLiteral("typed"));
    panel.show();
    QApplication::processEvents();
    EXPECT_EQ(panel.TargetPosition, 0);
    EXPECT_EQ(state.PositionModeFlag, 0);
    EXPECT_EQ(state.EnableFlag, 8);
    EXPECT_EQ(panel.Text1->text(), QLatin1String("0"));
    EXPECT_EQ(panel.Text2->text(), QLatin1String("0"));
    EXPECT_EQ(panel.Text3->text(), QLatin1String("0"));
    EXPECT_EQ(panel.Label10->text(), QLatin1String("X"));
    EXPECT_TRUE(panel.Timer1->isActive());
    EXPECT_EQ(panel.Timer1->interval(), 30);
    EXPECT_EQ(panel.Timer1->timerType(), Qt::PreciseTimer);
}

TEST_F(Layout, TimerIsIdleUntilThePanelLoads)
{
    EXPECT_FALSE(panel.Timer1->isActive());
    EXPECT_EQ(state.EnableFlag, 0);
}
