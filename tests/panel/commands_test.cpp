#include "frames.h"
#include "held_keys.h"
#include "panel_fixture.h"

#include <QAccessible>
#include <QGuiApplication>
#include <qpa/qwindowsysteminterface.h>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QSlider>
#include <QWindow>

using namespace kvx;

namespace {

class Commands : public kvx::test::PanelTest {
protected:
    Commands() { open(); }

    // Straight to the widget, or (throughWindow) as the platform delivers a
    // key: to the target's window, which hands it to its focus widget. Then
    // what the key posted, as the event loop delivers it before the next
    // tick.
    void key(QWidget* target, QEvent::Type type, int code, bool autoRepeat = false,
             Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        if (throughWindow)
            windowKey(target, type, code, autoRepeat, ++keyTime, modifiers);
        else {
            QKeyEvent event(type, code, modifiers, QString(), autoRepeat);
            QApplication::sendEvent(target, &event);
        }
        QCoreApplication::sendPostedEvents();
    }

    // The X server's repeat of a held key whose press Qt read too late to
    // flag the pair: a release and a press, neither a repeat, with one
    // timestamp; the press comes before the loop's next round, or after it
    // (pressLater). Gives the command bytes of an exchange between the two
    // and of one after them.
    std::pair<uint8_t, uint8_t> latePair(QWidget* target, int code, bool pressLater = false)
    {
        windowKey(target, QEvent::KeyRelease, code, false, ++keyTime);
        if (pressLater)
            QCoreApplication::sendPostedEvents();
        const uint8_t between = tickCommandByte();
        windowKey(target, QEvent::KeyPress, code, false, keyTime);
        QCoreApplication::sendPostedEvents();
        return {between, tickCommandByte()};
    }

    void windowKey(QWidget* target, QEvent::Type type, int code, bool autoRepeat, ulong timestamp,
                   Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        target->setFocus();
        QWindow* window = target->window()->windowHandle();
        ASSERT_NE(window, nullptr);
        QWindowSystemInterface::handleKeyEvent<QWindowSystemInterface::SynchronousDelivery>(
            window, timestamp, type, code, modifiers, QString(), autoRepeat);
    }

    bool throughWindow = false;
    ulong keyTime = 1000;

    void enterHeldWithAutoRepeat();

    void mouse(QWidget* target, QEvent::Type type, Qt::MouseButton button, QPoint at = {5, 5})
    {
        const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(button);
        QMouseEvent event(type, at, target->mapToGlobal(at), button, held, Qt::NoModifier);
        QApplication::sendEvent(target, &event);
    }

    uint8_t tickCommandByte()
    {
        panel.Timer1_Timer();
        return lastFrame()[3] & 0x7F; // without the toggle bit
    }

    int64_t tickTarget()
    {
        panel.Timer1_Timer();
        return decodeCommandFrame(lastFrame().data()).TargetSteps;
    }
};

} // namespace

TEST_F(Commands, GoHeldWithTheMouseCarriesItsTargetUntilReleasedThenSelectsPositionMode)
{
    state.JogModeFlag = 16;
    panel.Text2->setText(QStringLiteral("12.5"));
    QTest::mousePress(panel.Go, Qt::LeftButton);
    EXPECT_EQ(panel.Text2->text(), QLatin1String("12.50"));
    EXPECT_EQ(panel.TargetPosition, 187.5);
    EXPECT_EQ(tickCommandByte(), 1 + 8 + 16);
    EXPECT_EQ(decodeCommandFrame(lastFrame().data()).TargetSteps, 188);
    QTest::mouseRelease(panel.Go, Qt::LeftButton);
    EXPECT_EQ(tickCommandByte(), 8 + 32);
}

TEST_F(Commands, GoWithTheSecondaryButtonMovesButLeavesTheModes)
{
    state.JogModeFlag = 16;
    panel.Text2->setText(QStringLiteral("4"));
    mouse(panel.Go, QEvent::MouseButtonPress, Qt::RightButton);
    EXPECT_EQ(state.GoFlag, 1);
    EXPECT_EQ(panel.TargetPosition, 60);
    mouse(panel.Go, QEvent::MouseButtonRelease, Qt::RightButton);
    EXPECT_EQ(state.GoFlag, 0);
    EXPECT_EQ(state.JogModeFlag, 16);
    EXPECT_EQ(state.PositionModeFlag, 0);
}

TEST_F(Commands, ReleaseOffTheButtonClearsTheHoldWithoutAClick)
{
    QTest::mousePress(panel.Go, Qt::LeftButton);
    EXPECT_EQ(state.GoFlag, 1);
    QTest::mouseRelease(panel.Go, Qt::LeftButton, {}, QPoint(-40, -40));
    EXPECT_EQ(state.GoFlag, 0);
    EXPECT_EQ(state.PositionModeFlag, 0);

    mouse(panel.Command7, QEvent::MouseButtonPress, Qt::LeftButton);
    EXPECT_EQ(state.RelativeFlag, 64);
    mouse(panel.Command7, QEvent::MouseButtonRelease, Qt::LeftButton, QPoint(300, 300));
    EXPECT_EQ(state.RelativeFlag, 0);
    EXPECT_EQ(state.PositionModeFlag, 0);
}

TEST_F(Commands, SecondPressOfADoubleClickIsAMouseDown)
{
    panel.Text2->setText(QStringLiteral("2"));
    mouse(panel.Go, QEvent::MouseButtonDblClick, Qt::LeftButton);
    EXPECT_EQ(state.GoFlag, 1);
    EXPECT_EQ(panel.TargetPosition, 30);
}

TEST_F(Commands, EnterHeldWithAutoRepeatKeepsGoAndRecomputesFromTheShownText)
{
    for (const bool window : {false, true}) {
        throughWindow = window;
        SCOPED_TRACE(window ? "through the window" : "to the widget");
        enterHeldWithAutoRepeat();
    }
}

void Commands::enterHeldWithAutoRepeat()
{
    state.Demultiplication = 200;
    state.JogModeFlag = 16;
    panel.Text2->setText(QStringLiteral("2.345678"));
    key(panel.Text2, QEvent::KeyPress, Qt::Key_Return);
    EXPECT_EQ(state.GoFlag, 1);
    EXPECT_DOUBLE_EQ(panel.TargetPosition, 469.1356);
    EXPECT_EQ(panel.Text2->text(), QLatin1String("2.35"));
    EXPECT_EQ(tickTarget(), 469);

    key(panel.Text2, QEvent::KeyRelease, Qt::Key_Return, true);
    EXPECT_EQ(state.GoFlag, 1);
    key(panel.Text2, QEvent::KeyPress, Qt::Key_Return, true);
    EXPECT_EQ(panel.TargetPosition, 470);
    EXPECT_EQ(tickCommandByte(), 1 + 8 + 16);
    const auto [between, after] = latePair(panel.Text2, Qt::Key_Return);
    EXPECT_EQ(between, 1 + 8 + 16) << "between a late pair";
    EXPECT_EQ(after, 1 + 8 + 16) << "after a late pair";

    key(panel.Text2, QEvent::KeyRelease, Qt::Key_Return);
    EXPECT_EQ(state.GoFlag, 0);
    EXPECT_EQ(state.PositionModeFlag, 0);
    EXPECT_EQ(state.JogModeFlag, 16);
}

TEST_F(Commands, KeypadEnterAndShiftEnterCountAsEnter)
{
    panel.Text2->setText(QStringLiteral("1"));
    key(panel.Text2, QEvent::KeyPress, Qt::Key_Enter, false, Qt::KeypadModifier);
    EXPECT_EQ(state.GoFlag, 1);
    key(panel.Text2, QEvent::KeyRelease, Qt::Key_Enter, false, Qt::KeypadModifier);
    EXPECT_EQ(state.GoFlag, 0);
    key(panel.Text2, QEvent::KeyPress, Qt::Key_Return, false, Qt::ShiftModifier);
    EXPECT_EQ(state.GoFlag, 1);
}

TEST_F(Commands, EnterStaysInThePositionBox)
{
    struct Spy : QObject {
        int keys = 0;
        bool eventFilter(QObject*, QEvent* e) override
        {
            keys += e->type() == QEvent::KeyPress || e->type() == QEvent::KeyRelease;
            return false;
        }
    } spy;
    panel.installEventFilter(&spy);
    QTest::keyClick(panel.Text2, Qt::Key_Return);
    EXPECT_EQ(spy.keys, 0);
    // Other keys edit the text and start nothing.
    panel.Text2->clear();
    QTest::keyClicks(panel.Text2, QStringLiteral("7 "));
    EXPECT_EQ(panel.Text2->text(), QLatin1String("7 "));
    EXPECT_EQ(state.GoFlag, 0);
}

TEST_F(Commands, SpaceOnAFocusedGoOnlyClicks)
{
    state.JogModeFlag = 16;
    panel.Text2->setText(QStringLiteral("5"));
    panel.Go->setFocus();
    QTest::keyClick(panel.Go, Qt::Key_Space);
    EXPECT_EQ(state.PositionModeFlag, 32);
    EXPECT_EQ(state.JogModeFlag, 0);
    EXPECT_EQ(state.GoFlag, 0);
    EXPECT_EQ(panel.TargetPosition, 0);
    EXPECT_EQ(panel.Text2->text(), QLatin1String("5"));
}

TEST_F(Commands, SpaceOnRelativeHoldsTheDistanceThenClicks)
{
    panel.Text2->setText(QStringLiteral("-2"));
    panel.Command7->setFocus();
    key(panel.Command7, QEvent::KeyPress, Qt::Key_Space);
    EXPECT_EQ(state.RelativeFlag, 64);
    EXPECT_EQ(panel.TargetPosition, -30);
    EXPECT_EQ(tickCommandByte(), 64 + 8);
    key(panel.Command7, QEvent::KeyRelease, Qt::Key_Space, true);
    EXPECT_EQ(state.RelativeFlag, 64);
    key(panel.Command7, QEvent::KeyRelease, Qt::Key_Space);
    EXPECT_EQ(state.RelativeFlag, 0);
    EXPECT_EQ(state.PositionModeFlag, 32);
}

// Space held on a focused STOP or ZERO, and Escape held whichever control
// has the focus, hold the flag as the mouse does; the auto-repeats press
// nothing again and Enter presses nothing. The release ends the command
// wherever it lands: on a control that took the focus meanwhile, or in
// another window of the program.
TEST_F(Commands, StopAndZeroHeldFromTheKeyboard)
{
    QWidget otherWindow;
    struct Case {
        const char* name;
        QWidget* focus;
        int code;
        uint8_t MotionState::*flag;
        uint8_t value;
        QWidget* releasedOn = nullptr; // the focus when none
    };
    const Case cases[] = {
        {"Space on STOP", panel.Command1, Qt::Key_Space, &MotionState::StopFlag, 2},
        {"Space on ZERO", panel.Command2, Qt::Key_Space, &MotionState::ZeroFlag, 4},
        {"Escape in the position box", panel.Text2, Qt::Key_Escape, &MotionState::StopFlag, 2},
        {"Escape on a slider", panel.Slider3, Qt::Key_Escape, &MotionState::StopFlag, 2},
        {"Escape on ZERO", panel.Command2, Qt::Key_Escape, &MotionState::StopFlag, 2},
        {"Escape on the panel itself", &panel, Qt::Key_Escape, &MotionState::StopFlag, 2},
        {"Space on ZERO, released in the position box", panel.Command2, Qt::Key_Space, &MotionState::ZeroFlag, 4,
         panel.Text2},
        {"Space on STOP, released on a slider", panel.Command1, Qt::Key_Space, &MotionState::StopFlag, 2,
         panel.Slider2},
        {"Escape, released in another window", panel.Text2, Qt::Key_Escape, &MotionState::StopFlag, 2,
         &otherWindow},
    };
    otherWindow.show();
    panel.activateWindow();
    for (const Case& c : cases)
        for (const bool window : {false, true}) {
            throughWindow = window;
            SCOPED_TRACE(window ? "through the window" : "to the widget");
            state.JogModeFlag = 16;
            panel.Slider1->setValue(700);
            panel.Text2->setText(QStringLiteral("5"));
            c.focus->setFocus();
            key(c.focus, QEvent::KeyPress, c.code);
            EXPECT_EQ(state.*c.flag, c.value) << c.name;
            EXPECT_EQ(tickCommandByte(), (c.value == 2 ? 2 : 16 + 4) + 8) << c.name;
            if (c.value == 2) {
                EXPECT_EQ(panel.Slider1->value(), 0) << c.name;
            }
            panel.Slider1->setValue(700);
            QWidget* releasedOn = c.releasedOn ? c.releasedOn : c.focus;
            key(releasedOn, QEvent::KeyRelease, c.code, true);
            key(releasedOn, QEvent::KeyPress, c.code, true);
            EXPECT_EQ(state.*c.flag, c.value) << c.name << ": auto-repeat";
            EXPECT_EQ(panel.Slider1->value(), 700) << c.name << ": auto-repeat pressed again";
            if (throughWindow) {
                windowKey(releasedOn, QEvent::KeyPress, c.code, false, ++keyTime);
                EXPECT_EQ(panel.Slider1->value(), 700) << c.name << ": a repeat as a press alone pressed again";
            }
            const auto [between, after] = latePair(releasedOn, c.code);
            EXPECT_EQ(between & c.value, c.value) << c.name << ": between a late pair";
            EXPECT_EQ(after & c.value, c.value) << c.name << ": after a late pair";
            EXPECT_EQ(panel.Slider1->value(), 700) << c.name << ": a late pair pressed again";
            // One exchange cannot know that a press will follow; the press
            // holds the command again.
            EXPECT_EQ(latePair(releasedOn, c.code, true).second & c.value, c.value) << c.name << ": press later";
            key(releasedOn, QEvent::KeyRelease, c.code);
            EXPECT_EQ(state.StopFlag + state.ZeroFlag + state.GoFlag, 0) << c.name;
            EXPECT_EQ(tickCommandByte() & 0x0F, 8) << c.name;
            EXPECT_EQ(panel.Text2->text(), QLatin1String("5")) << c.name;
        }
    throughWindow = false;
    for (QPushButton* button : {panel.Command1, panel.Command2})
        for (int code : {Qt::Key_Return, Qt::Key_Enter}) {
            button->setFocus();
            key(button, QEvent::KeyPress, code);
            EXPECT_EQ(state.StopFlag + state.ZeroFlag, 0);
            key(button, QEvent::KeyRelease, code);
        }
}

// Another program's window takes the keyboard: the keys' releases go there,
// so every command a key holds ends at once. The mouse's hold is its own.
TEST_F(Commands, LosingTheKeyboardEndsEveryCommandAKeyHolds)
{
    panel.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&panel, 30000));
    panel.Text2->setText(QStringLiteral("3"));
    key(panel.Text2, QEvent::KeyPress, Qt::Key_Return);
    panel.Command2->setFocus();
    key(panel.Command2, QEvent::KeyPress, Qt::Key_Space);
    key(panel.Command2, QEvent::KeyPress, Qt::Key_Escape);
    mouse(panel.Command7, QEvent::MouseButtonPress, Qt::LeftButton);
    ASSERT_EQ(tickCommandByte(), 1 + 2 + 4 + 8 + 64);

    QWindowSystemInterface::handleWindowActivated(nullptr);
    QCoreApplication::processEvents();
    EXPECT_EQ(tickCommandByte(), 8 + 64);
    // The keys' late releases, when the keyboard comes back, change nothing.
    key(panel.Command2, QEvent::KeyRelease, Qt::Key_Space);
    key(panel.Text2, QEvent::KeyRelease, Qt::Key_Return);
    EXPECT_EQ(tickCommandByte(), 8 + 64);
    mouse(panel.Command7, QEvent::MouseButtonRelease, Qt::LeftButton);
    EXPECT_EQ(state.RelativeFlag, 0);
}

// Released and forgotten: once the keyboard is back, Space is STOP's own
// and a late release of the Space that held ZERO lets go of nothing, not
// even of ZERO held by the mouse since.
TEST_F(Commands, LosingTheKeyboardForgetsTheKeys)
{
    throughWindow = true;
    const auto loseAndRegainTheKeyboard = [&] {
        panel.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&panel, 30000));
        key(panel.Command2, QEvent::KeyPress, Qt::Key_Space);
        ASSERT_EQ(state.ZeroFlag, 4);
        QWindowSystemInterface::handleWindowActivated(nullptr);
        QCoreApplication::processEvents();
        ASSERT_EQ(state.ZeroFlag, 0);
        panel.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&panel, 30000));
    };
    loseAndRegainTheKeyboard();
    key(panel.Command1, QEvent::KeyPress, Qt::Key_Space);
    EXPECT_EQ(tickCommandByte(), 2 + 8);
    key(panel.Command1, QEvent::KeyRelease, Qt::Key_Space);
    EXPECT_EQ(tickCommandByte(), 8);

    loseAndRegainTheKeyboard();
    mouse(panel.Command2, QEvent::MouseButtonPress, Qt::LeftButton);
    key(panel.Command2, QEvent::KeyRelease, Qt::Key_Space);
    EXPECT_EQ(state.ZeroFlag, 4);
    mouse(panel.Command2, QEvent::MouseButtonRelease, Qt::LeftButton);
    EXPECT_EQ(state.ZeroFlag, 0);
}

// The X server repeats a held key as a release and a press with one
// timestamp. When the press comes late, neither is flagged as a repeat:
// the pair is still a repeat, in the refusal box and on the panel. Enter
// held over an entry its first repeat refuses, through the windows.
TEST_F(Commands, LateRepeatOfAHeldKeyIsNoNewPress)
{
    state.Demultiplication = 3;
    QWidget box;
    auto* boxButton = new QPushButton(QStringLiteral("OK"), &box);
    boxButton->setAutoDefault(true);
    int boxClicks = 0;
    QObject::connect(boxButton, &QPushButton::clicked, [&] { ++boxClicks; });
    box.show();

    // As an X server asked for repeats as presses alone sends them, too.
    const struct {
        const char* name;
        bool late, alone;
    } kinds[] = {{"press in time", false, false}, {"press late", true, false}, {"presses alone", false, true}};
    for (const auto& [name, late, alone] : kinds) {
        SCOPED_TRACE(name);
        shownMessages.clear();
        const auto repeat = [&](QWidget* target) {
            ++keyTime;
            if (!alone)
                windowKey(target, QEvent::KeyRelease, Qt::Key_Return, !late, keyTime);
            windowKey(target, QEvent::KeyPress, Qt::Key_Return, !late && !alone, keyTime);
        };
        panel.showMessage = [&](const QString& text) {
            shownMessages << text;
            repeat(boxButton);
        };
        panel.Text2->setText(QStringLiteral("357913941.166"));
        windowKey(panel.Text2, QEvent::KeyPress, Qt::Key_Return, false, ++keyTime);
        ASSERT_EQ(state.GoFlag, 1);
        // The first repeat refuses the entry now shown; the box takes the next.
        repeat(panel.Text2);
        repeat(panel.Text2);
        repeat(panel.Text2);
        windowKey(panel.Text2, QEvent::KeyRelease, Qt::Key_Return, false, ++keyTime);
        QCoreApplication::sendPostedEvents();
        EXPECT_EQ(shownMessages.size(), 1);
        EXPECT_EQ(boxClicks, 0);
        EXPECT_EQ(state.GoFlag, 0);
    }
    // A new press, a moment later, is one.
    panel.Text2->setText(QStringLiteral("2"));
    windowKey(panel.Text2, QEvent::KeyPress, Qt::Key_Return, false, ++keyTime);
    EXPECT_EQ(state.GoFlag, 1);
    windowKey(panel.Text2, QEvent::KeyRelease, Qt::Key_Return, false, ++keyTime);
}

// Escape held while a mouse press is refused: the box neither closes on
// Escape's repeats nor keeps STOP after Escape comes up in it.
TEST_F(Commands, EscapeHeldThroughARefusalIsReleasedInTheBox)
{
    struct KeySpy : QWidget {
        int presses = 0;
        void keyPressEvent(QKeyEvent*) override { ++presses; }
    } box;
    panel.showMessage = [&](const QString& text) {
        shownMessages << text;
        for (int repeat = 0; repeat < 3; ++repeat) {
            key(&box, QEvent::KeyRelease, Qt::Key_Escape, true);
            key(&box, QEvent::KeyPress, Qt::Key_Escape, true);
        }
        key(&box, QEvent::KeyRelease, Qt::Key_Escape);
    };
    key(panel.Text2, QEvent::KeyPress, Qt::Key_Escape);
    panel.Text2->setText(QStringLiteral("1e400"));
    mouse(panel.Go, QEvent::MouseButtonPress, Qt::LeftButton);
    EXPECT_EQ(shownMessages.size(), 1);
    EXPECT_EQ(box.presses, 0);
    EXPECT_EQ(tickCommandByte(), 8);
    // GO works again at once, with no extra tap of Escape.
    panel.Text2->setText(QStringLiteral("2"));
    mouse(panel.Go, QEvent::MouseButtonPress, Qt::LeftButton);
    EXPECT_EQ(tickCommandByte(), 1 + 8);
    mouse(panel.Go, QEvent::MouseButtonRelease, Qt::LeftButton);
}

// Qt's press action is a short animated click with no mouse or key event.
TEST_F(Commands, ScreenReaderPressOnStopAndZeroReachesTheFrames)
{
    const std::pair<QPushButton*, uint8_t> buttons[] = {{panel.Command1, 2}, {panel.Command2, 4}};
    for (const auto& [button, bit] : buttons) {
        QAccessibleActionInterface* actions = QAccessible::queryAccessibleInterface(button)->actionInterface();
        ASSERT_NE(actions, nullptr);
        actions->doAction(QAccessibleActionInterface::pressAction());
        EXPECT_EQ(tickCommandByte(), bit + 8);
        EXPECT_TRUE(QTest::qWaitFor([&] { return state.StopFlag + state.ZeroFlag == 0; }, 30000));
        EXPECT_EQ(tickCommandByte(), 8);
    }
    // A mouse press on STOP is held by the mouse alone, not released with the button's animation.
    mouse(panel.Command1, QEvent::MouseButtonPress, Qt::LeftButton);
    QTest::qWait(150);
    EXPECT_EQ(state.StopFlag, 2);
    mouse(panel.Command1, QEvent::MouseButtonRelease, Qt::LeftButton);

    const auto press = [](QPushButton* button) {
        QAccessible::queryAccessibleInterface(button)->actionInterface()->doAction(
            QAccessibleActionInterface::pressAction());
    };
    // Two presses within one animation: each button comes up on its own.
    press(panel.Command2);
    press(panel.Command1);
    EXPECT_EQ(tickCommandByte(), 2 + 4 + 8);
    EXPECT_TRUE(QTest::qWaitFor([&] { return state.StopFlag + state.ZeroFlag == 0; }, 30000));
    // The mouse takes over a press that the animation started.
    press(panel.Command1);
    mouse(panel.Command1, QEvent::MouseButtonPress, Qt::LeftButton);
    QTest::qWait(150);
    EXPECT_EQ(state.StopFlag, 2) << "the animation's end released the mouse's STOP";
    mouse(panel.Command1, QEvent::MouseButtonRelease, Qt::LeftButton);
    EXPECT_EQ(state.StopFlag, 0);
}

TEST_F(Commands, StopDuringAHeldEnterSendsBothFlagsAndCentresTheJogSlider)
{
    state.JogModeFlag = 16;
    panel.Slider1->setValue(3000);
    key(panel.Text2, QEvent::KeyPress, Qt::Key_Return);
    mouse(panel.Command1, QEvent::MouseButtonPress, Qt::LeftButton);
    EXPECT_EQ(tickCommandByte(), 1 + 2 + 8);
    EXPECT_EQ(panel.Slider1->value(), 0);
    EXPECT_EQ(decodeCommandFrame(lastFrame().data()).JogWord, 32767);
    mouse(panel.Command1, QEvent::MouseButtonRelease, Qt::LeftButton);
    EXPECT_EQ(tickCommandByte(), 1 + 8);
}

TEST_F(Commands, ZeroAndStopAnswerEveryMouseButton)
{
    for (Qt::MouseButton button : {Qt::LeftButton, Qt::RightButton, Qt::MiddleButton}) {
        mouse(panel.Command2, QEvent::MouseButtonPress, button);
        EXPECT_EQ(state.ZeroFlag, 4);
        mouse(panel.Command2, QEvent::MouseButtonRelease, button);
        EXPECT_EQ(state.ZeroFlag, 0);
        mouse(panel.Command1, QEvent::MouseButtonPress, button);
        EXPECT_EQ(state.StopFlag, 2);
        mouse(panel.Command1, QEvent::MouseButtonRelease, button);
        EXPECT_EQ(state.StopFlag, 0);
    }
    EXPECT_EQ(panel.Text2->text(), QLatin1String("0"));
}

TEST_F(Commands, PressAndReleaseBetweenTwoTicksNeverReachesAFrame)
{
    QTest::mouseClick(panel.Command2, Qt::LeftButton);
    EXPECT_EQ(tickCommandByte(), 8);
}

TEST_F(Commands, ClickOnTheJogSliderSelectsJogMode)
{
    QSlider* jog = panel.Slider1;
    mouse(jog, QEvent::MouseButtonPress, Qt::RightButton, {30, 10});
    mouse(jog, QEvent::MouseButtonRelease, Qt::RightButton, {30, 10});
    EXPECT_EQ(state.JogModeFlag, 0);
    mouse(jog, QEvent::MouseButtonPress, Qt::LeftButton, {30, 10});
    mouse(jog, QEvent::MouseButtonRelease, Qt::LeftButton, {30, 200});
    EXPECT_EQ(state.JogModeFlag, 0);
    // On the groove, away from the handle.
    QTest::mouseClick(jog, Qt::LeftButton, {}, QPoint(30, jog->height() / 2));
    EXPECT_EQ(state.JogModeFlag, 16);
    state.JogModeFlag = 0;
    // On the handle, in the middle.
    QTest::mouseClick(jog, Qt::LeftButton, {}, QPoint(jog->width() / 2, jog->height() / 2));
    EXPECT_EQ(state.JogModeFlag, 16);
}

// A screen reader changing the jog slider's value is the operator's jog, as
// a click or a key is (the slider keys' table); the program centring it is not.
TEST_F(Commands, JogSliderChangedByAScreenReaderSelectsJogMode)
{
    QAccessible::queryAccessibleInterface(panel.Slider1)->valueInterface()->setCurrentValue(2500);
    EXPECT_EQ(state.JogModeFlag, 16);
    EXPECT_EQ(decodeCommandFrame((panel.Timer1_Timer(), lastFrame()).data()).JogWord, 32767 + 2500);
    mouse(panel.Command1, QEvent::MouseButtonPress, Qt::LeftButton);
    mouse(panel.Command1, QEvent::MouseButtonRelease, Qt::LeftButton);
    EXPECT_EQ(state.JogModeFlag, 0) << "STOP centred the slider and ended jog mode";
}

// A release passes the application's filter once for every widget it
// travels up through; the held command ends once. A box's window is not
// the panel: it does not see the held key's repeats.
TEST(HeldKeys, OneReleaseOneCallAndNoRepeatsOutsideThePanel)
{
    QWidget panel, box;
    QWidget* boxButton = new QWidget(&box); // ignores keys: the release goes on to the box
    int releases = 0, boxPresses = 0;
    struct Spy : QObject {
        int* presses;
        explicit Spy(int* p) : presses(p) {}
        bool eventFilter(QObject*, QEvent* e) override
        {
            *presses += e->type() == QEvent::KeyPress;
            return false;
        }
    } spy(&boxPresses);
    boxButton->installEventFilter(&spy);
    HeldKeys keys(&panel);
    for (int press = 1; press <= 2; ++press) {
        keys.hold(Qt::Key_Return, [&] { ++releases; }, [] {});
        QKeyEvent repeat(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QString(), true);
        QApplication::sendEvent(boxButton, &repeat);
        QKeyEvent up(QEvent::KeyRelease, Qt::Key_Enter, Qt::NoModifier);
        QApplication::sendEvent(boxButton, &up);
        EXPECT_EQ(releases, press);
    }
    EXPECT_EQ(boxPresses, 0);

    // A release from the platform: a fresh press that comes while it waits
    // to end the hold ends it first, and once; a late press that comes after
    // it ended the hold holds it again, in the box too.
    int agains = 0;
    const auto send = [&](QEvent::Type type, ulong time) {
        QKeyEvent event(type, Qt::Key_Return, Qt::NoModifier, QString());
        event.setTimestamp(time);
        QApplication::sendEvent(boxButton, &event);
    };
    keys.hold(Qt::Key_Return, [&] { ++releases; }, [&] { ++agains; });
    send(QEvent::KeyRelease, 6);
    send(QEvent::KeyPress, 7);
    EXPECT_EQ(releases, 3);
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(releases, 3);
    EXPECT_EQ(agains, 0);
    keys.hold(Qt::Key_Return, [&] { ++releases; }, [&] { ++agains; });
    send(QEvent::KeyRelease, 8);
    QCoreApplication::sendPostedEvents();
    send(QEvent::KeyPress, 8);
    EXPECT_EQ(agains, 1);
    EXPECT_TRUE(keys.isHeld(Qt::Key_Enter));
}

TEST_F(Commands, TenDigitEntryIsShownInFull)
{
    state.Demultiplication = 0.01;
    panel.Text2->setText(QStringLiteral("1234567890"));
    QTest::mousePress(panel.Go, Qt::LeftButton);
    EXPECT_EQ(panel.Text2->text(), QLatin1String("1234567890.00"));
    EXPECT_DOUBLE_EQ(panel.TargetPosition, 12345678.9);
}

TEST_F(Commands, OutOfRangeEntryIsRefusedAndChangesNothing)
{
    state.JogModeFlag = 16;
    panel.TargetPosition = 45;
    for (const char* typed : {"71582788.3", "1e400"}) {
        panel.Text2->setText(QLatin1String(typed));
        QTest::mouseClick(panel.Go, Qt::LeftButton);
        key(panel.Text2, QEvent::KeyPress, Qt::Key_Return);
        panel.Command7->setFocus();
        key(panel.Command7, QEvent::KeyPress, Qt::Key_Space);
        mouse(panel.Command7, QEvent::MouseButtonPress, Qt::RightButton);
        EXPECT_EQ(panel.Text2->text(), QLatin1String(typed));
        EXPECT_EQ(panel.TargetPosition, 45);
        EXPECT_EQ(state.GoFlag + state.RelativeFlag + state.PositionModeFlag, 0);
        EXPECT_EQ(state.JogModeFlag, 16);
        EXPECT_FALSE(panel.Go->isDown());
        EXPECT_FALSE(panel.Command7->isDown());
    }
    ASSERT_EQ(shownMessages.size(), 8);
    EXPECT_EQ(shownMessages.front(),
              QStringLiteral("Position out of range. Enter a position from -71582788.27 to 71582788.20."));
    // The frames still carry the last accepted target.
    EXPECT_EQ(tickTarget(), 45);
}

// Ratio 3: 357913941.166 is accepted and shown as 357913941.17, which the
// next repeat of the held key refuses. The box then takes the key: its
// repeats must not press the box's button, and its release must still end
// the hold, whether it comes while the box is open or after.
TEST_F(Commands, HeldKeyOverARefusedEntryOpensOneBoxAndLeavesNoFlagAfterTheRelease)
{
    state.Demultiplication = 3;
    struct Held {
        QWidget* target;
        int code;
        uint8_t MotionState::*flag;
        uint8_t value;
    };
    const Held keys[] = {{panel.Text2, Qt::Key_Return, &MotionState::GoFlag, 1},
                         {panel.Command7, Qt::Key_Space, &MotionState::RelativeFlag, 64}};
    QPushButton boxButton; // the box's OK, which Enter and Space would press
    boxButton.setAutoDefault(true);
    int boxPresses = 0;
    QObject::connect(&boxButton, &QPushButton::pressed, [&] { ++boxPresses; });

    for (const Held& held : keys) {
        for (const bool releasedInBox : {true, false}) {
            shownMessages.clear();
            panel.Text2->setText(QStringLiteral("357913941.166"));
            key(held.target, QEvent::KeyPress, held.code);
            ASSERT_EQ(state.*held.flag, held.value);
            ASSERT_EQ(panel.Text2->text(), QLatin1String("357913941.17"));
            panel.showMessage = [&](const QString& text) {
                shownMessages << text;
                key(&boxButton, QEvent::KeyRelease, held.code, true);
                key(&boxButton, QEvent::KeyPress, held.code, true);
                if (releasedInBox)
                    key(&boxButton, QEvent::KeyRelease, held.code);
            };
            for (int repeat = 0; repeat < 5; ++repeat) {
                key(held.target, QEvent::KeyRelease, held.code, true);
                key(held.target, QEvent::KeyPress, held.code, true);
            }
            EXPECT_EQ(shownMessages.size(), 1);
            if (!releasedInBox) {
                EXPECT_EQ(state.*held.flag, held.value) << "still held after the box";
                key(held.target, QEvent::KeyRelease, held.code);
            }
            EXPECT_EQ(state.*held.flag, 0);
        }
    }
    EXPECT_EQ(boxPresses, 0);
}

TEST_F(Commands, HandlersDoNothingOnceTheProgramIsEnding)
{
    end.endNow();
    panel.Text2->setText(QStringLiteral("3"));
    QTest::mousePress(panel.Go, Qt::LeftButton);
    QTest::mousePress(panel.Command1, Qt::LeftButton);
    key(panel.Text2, QEvent::KeyPress, Qt::Key_Return);
    EXPECT_EQ(state.GoFlag + state.StopFlag, 0);
    EXPECT_EQ(panel.Text2->text(), QLatin1String("3"));
}
