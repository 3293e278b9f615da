#include "commands_fixture.h"

#include <QAccessible>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>

using namespace kvx;
using kvx::test::Commands;

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
