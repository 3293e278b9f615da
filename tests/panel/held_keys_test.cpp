// The commands that keys hold: pressed once, held through the repeats in
// every form the platform gives them, and ended by the key's release
// wherever it lands.
#include "commands_fixture.h"
#include "held_keys.h"

#include <QLineEdit>
#include <QPushButton>
#include <QSlider>

using namespace kvx;
using kvx::test::Commands;

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
