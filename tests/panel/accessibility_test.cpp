// What a screen reader gets from the panel: names, state words and their
// notices, and the slider keys of the platform's slider. The message boxes
// and the dialog are checked on a real accessibility bus (tests/desktop).
#include "accessibility_recorder.h"
#include "frames.h"
#include "indicator_button.h"
#include "lamp.h"
#include "outline_marker.h"
#include "panel_fixture.h"

#include <QAccessible>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QSlider>
#include <qpa/qwindowsysteminterface.h>

using namespace kvx;

namespace {

// Before the panel, so that the panel is built with accessibility on, as
// it is under a screen reader.
struct RecorderFirst {
    test::AccessibilityRecorder recorder;
};

class Accessibility : public RecorderFirst, public test::PanelTest {
protected:
    Accessibility() { open(); }

    static QAccessibleInterface* face(QObject* object) { return QAccessible::queryAccessibleInterface(object); }
    static QString name(QObject* object) { return face(object)->text(QAccessible::Name); }
    static QString description(QObject* object) { return face(object)->text(QAccessible::Description); }

    // The state words, without the tooltip that follows them.
    QStringList statusDescriptions()
    {
        QStringList words;
        for (QWidget* element : statusElements())
            words << description(element).section(QLatin1Char('.'), 0, 0);
        return words;
    }
    std::vector<QWidget*> statusElements()
    {
        return {panel.Shape3, panel.Shape4, panel.Command6, panel.Label3, panel.Shape2, panel.Command3};
    }
    int descriptionNotices(QWidget* element) { return recorder.count(element, QAccessible::DescriptionChanged); }

    // What Orca speaks without the focus: the notification as it shows.
    QAccessibleInterface* spokenNotice()
    {
        QAccessibleInterface* window = face(&panel);
        for (int i = 0; i < window->childCount(); ++i)
            if (window->child(i)->role() == QAccessible::Notification)
                return window->child(i);
        return nullptr;
    }
    int timesSpoken() { return recorder.count(spokenNotice()->object(), QAccessible::ObjectShow); }

    void tick(uint8_t statusByte)
    {
        link.answer(0, statusByte);
        panel.Timer1_Timer();
    }
};

} // namespace

TEST_F(Accessibility, EveryElementIsNamedInTheWindowsOwnWordsAndTheIdealPositionIsOutOfReach)
{
    const std::pair<QWidget*, const char*> names[] = {
        {panel.Slider1, "Joystick Control"},
        {panel.Slider2, "Maximal Speed"},
        {panel.Slider3, "Acceleration/Deceleration"},
        {panel.Slider4, "Motor Current Amplitude"},
        {panel.Slider5, "% of Amplitude when Idle"},
        {panel.Text1, "Real Position"},
        {panel.Text2, "Target Position"},
        {panel.Shape3, "Left limit"},
        {panel.Shape4, "Right limit"},
        {panel.Shape2, "Busy"},
        {panel.Shape1, "Joystick Control zero"},
        {panel.Picture1, "KVX-340 Stepper Motor Control Panel"},
    };
    for (const auto& [control, expected] : names)
        EXPECT_EQ(name(control), QLatin1String(expected)) << control->objectName().toStdString();
    EXPECT_EQ(description(panel.Command6), "Reverse: off. Reverse Limit Switch Operation");

    QAccessibleInterface* window = face(&panel);
    EXPECT_EQ(window->role(), QAccessible::Window);
    EXPECT_EQ(window->text(QAccessible::Name), panel.windowTitle());
    for (int i = 0; i < window->childCount(); ++i) {
        QAccessibleInterface* child = window->child(i);
        EXPECT_EQ(window->indexOfChild(child), i);
        if (child->state().invisible)
            continue;
        EXPECT_FALSE(child->text(QAccessible::Name).isEmpty()) << child->object()->objectName().toStdString();
        EXPECT_NE(child->object(), panel.Text3);
    }
    // Not even its change notices carry the ideal position.
    EXPECT_EQ(face(panel.Text3)->textInterface(), nullptr);
}

TEST_F(Accessibility, StateWordsFollowTheStatusByte)
{
    EXPECT_EQ(statusDescriptions(),
              QStringList({"Left limit: switch active", "Right limit: switch active", "Reverse: off",
                           "Max Speed: not reached", "Busy: busy", "Act Hi: off"}))
        << "before the first status frame, the words say what the colours say";

    const QStringList clear{"Left limit: clear", "Right limit: clear", "Reverse: off",
                            "Max Speed: not reached", "Busy: idle", "Act Hi: off"};
    const QStringList alert{"Left limit: switch active", "Right limit: switch active", "Reverse: on",
                            "Max Speed: reached", "Busy: busy", "Act Hi: on"};
    const uint8_t bits[] = {StatusBit::LowerLimit, StatusBit::UpperLimit, StatusBit::ReverseLimit,
                            StatusBit::MaxSpeed,   StatusBit::Busy,       StatusBit::ActiveHigh};
    for (size_t i = 0; i < std::size(bits); ++i) {
        tick(bits[i]);
        QStringList expected = clear;
        expected[qsizetype(i)] = alert[qsizetype(i)];
        EXPECT_EQ(statusDescriptions(), expected) << "status byte " << int(bits[i]);
    }
    tick(0xFF);
    EXPECT_EQ(statusDescriptions(), alert);
    tick(0xC0);
    EXPECT_EQ(statusDescriptions(), clear);
}

// The axis's own states (switches, Busy, Max Speed) are spoken as they
// change; the options' indicators only change their words.
TEST_F(Accessibility, OneNoticePerChangeAndNoneWhileTheStateStays)
{
    ASSERT_NE(spokenNotice(), nullptr);
    recorder.clear();
    tick(0);
    const int firstNotices[] = {1, 1, 0, 0, 1, 0}; // the lamps leave their red start
    for (size_t i = 0; i < statusElements().size(); ++i)
        EXPECT_EQ(descriptionNotices(statusElements()[i]), firstNotices[i]) << i;
    EXPECT_EQ(timesSpoken(), 1);
    EXPECT_EQ(spokenNotice()->text(QAccessible::Name), "Left limit: clear. Right limit: clear. Busy: idle");

    recorder.clear();
    for (int i = 0; i < 5; ++i)
        tick(0);
    for (QWidget* element : statusElements())
        EXPECT_EQ(descriptionNotices(element), 0) << element->objectName().toStdString();
    EXPECT_EQ(timesSpoken(), 0);

    recorder.clear();
    tick(StatusBit::Busy | StatusBit::ReverseLimit);
    tick(StatusBit::Busy | StatusBit::ReverseLimit);
    for (QWidget* element : statusElements()) {
        const bool changed = element == panel.Shape2 || element == panel.Command6;
        EXPECT_EQ(descriptionNotices(element), changed ? 1 : 0) << element->objectName().toStdString();
    }
    EXPECT_EQ(timesSpoken(), 1);
    EXPECT_EQ(spokenNotice()->text(QAccessible::Name), "Busy: busy");
    tick(StatusBit::Busy);
    EXPECT_EQ(timesSpoken(), 1) << "Reverse is not spoken";
    for (const uint8_t activeHigh : {StatusBit::ActiveHigh, uint8_t(0)}) {
        recorder.clear();
        tick(StatusBit::Busy | activeHigh);
        EXPECT_EQ(descriptionNotices(panel.Command3), 1);
        EXPECT_EQ(timesSpoken(), 0) << "Act Hi is not spoken";
    }

    // Said while another window has the keyboard, the words wait for the
    // panel's activation: a screen reader passes over an inactive window.
    // Of an element that changed twice meanwhile, its latest state is said.
    QWindowSystemInterface::handleWindowActivated(nullptr);
    QCoreApplication::processEvents();
    recorder.clear();
    tick(StatusBit::LowerLimit);
    tick(StatusBit::LowerLimit | StatusBit::Busy);
    tick(StatusBit::Busy);
    EXPECT_EQ(timesSpoken(), 0);
    panel.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&panel, 30000));
    EXPECT_EQ(timesSpoken(), 1);
    EXPECT_EQ(spokenNotice()->text(QAccessible::Name), "Busy: busy. Left limit: clear");
}

// The readout is handed a text only when it changes: a screen reader hears
// of each new position once, and of nothing while the axis stands.
TEST_F(Accessibility, TheReadoutTellsEachNewPositionOnceAndNothingWhileItStands)
{
    link.answer(150, 0);
    panel.Timer1_Timer();
    recorder.clear();
    for (int i = 0; i < 5; ++i)
        panel.Timer1_Timer();
    EXPECT_EQ(recorder.count(panel.Text1, QAccessible::TextUpdated), 0);
    for (int64_t steps : {165, 165, 180, 180})
        link.answer(steps, 0);
    for (int i = 0; i < 5; ++i)
        panel.Timer1_Timer();
    EXPECT_EQ(recorder.count(panel.Text1, QAccessible::TextUpdated), 2);
    EXPECT_EQ(panel.Text1->text(), QLatin1String("12.00"));
}

TEST_F(Accessibility, SliderKeysMoveAsOnThePlatformsSlider)
{
    struct Case {
        Qt::Key key;
        int maxSpeed; // from 180; small step 1, large step 10, minimum 0 at the top
    };
    const Case vertical[] = {{Qt::Key_Down, 181},    {Qt::Key_Right, 181},  {Qt::Key_Up, 179}, {Qt::Key_Left, 179},
                             {Qt::Key_PageDown, 190}, {Qt::Key_PageUp, 170}, {Qt::Key_Home, 0}, {Qt::Key_End, 255}};
    for (const Case& c : vertical) {
        panel.Slider2->setValue(180);
        QTest::keyClick(panel.Slider2, c.key);
        panel.Timer1_Timer();
        EXPECT_EQ(decodeCommandFrame(lastFrame().data()).MaxSpeed, c.maxSpeed) << "key " << int(c.key);
    }

    // The horizontal slider by the same rule: Down and Right raise, Up and Left
    // lower. A key moving the jog slider is the operator's jog, as a click is.
    const std::pair<Qt::Key, int> jog[] = {{Qt::Key_Right, 32768},    {Qt::Key_Left, 32766},
                                           {Qt::Key_Down, 32768},     {Qt::Key_Up, 32766},
                                           {Qt::Key_PageDown, 32772}, {Qt::Key_PageUp, 32762},
                                           {Qt::Key_Home, 22767},     {Qt::Key_End, 42767}};
    for (const auto& [key, jogWord] : jog) {
        state.JogModeFlag = 0;
        panel.Slider1->setValue(0);
        QTest::keyClick(panel.Slider1, key);
        panel.Timer1_Timer();
        EXPECT_EQ(decodeCommandFrame(lastFrame().data()).JogWord, jogWord) << "key " << int(key);
        EXPECT_EQ(state.JogModeFlag, 16) << "key " << int(key);
    }
}
