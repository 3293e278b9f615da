#include "frames.h"
#include "indicator_button.h"
#include "lamp.h"
#include "panel_fixture.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTimer>

using namespace kvx;

namespace {

class Tick : public kvx::test::PanelTest {
protected:
    Tick() { open(); }
};

const QColor red(255, 0, 0), green(0, 192, 0), yellow(255, 255, 0);

} // namespace

TEST_F(Tick, ShowsPositionAndEveryIndicatorOfTheStatusFrame)
{
    state.Demultiplication = 3;
    link.answer(200, 0x3F, -1);
    link.answer(0, 0);
    panel.Text1->setText(QStringLiteral("typed"));

    panel.Timer1_Timer();
    EXPECT_EQ(panel.Text1->text(), QLatin1String("66.67"));
    EXPECT_EQ(panel.Text3->text(), QLatin1String("-1"));
    EXPECT_EQ(panel.Shape3->fillColor(), red);
    EXPECT_EQ(panel.Shape4->fillColor(), red);
    EXPECT_EQ(panel.Shape2->fillColor(), red);
    EXPECT_EQ(panel.Command6->background(), yellow);
    EXPECT_EQ(panel.Command3->background(), yellow);
    EXPECT_EQ(panel.Label3->palette().color(QPalette::WindowText), red);
    EXPECT_EQ(state.DriveBusy, -1);

    panel.Timer1_Timer();
    const QColor face = QApplication::palette().color(QPalette::Button);
    EXPECT_EQ(panel.Text1->text(), QLatin1String("0.00"));
    EXPECT_EQ(panel.Shape3->fillColor(), green);
    EXPECT_EQ(panel.Shape4->fillColor(), green);
    EXPECT_EQ(panel.Shape2->fillColor(), face);
    EXPECT_EQ(panel.Command6->background(), face);
    EXPECT_EQ(panel.Command3->background(), face);
    EXPECT_EQ(panel.Label3->palette().color(QPalette::WindowText),
              QApplication::palette().color(QPalette::ButtonText));
    EXPECT_FALSE(panel.Text3->isVisible());
}

// A dark or high-contrast theme redraws the idle looks in its colours; the
// looks of an active state keep theirs.
TEST_F(Tick, StatusLooksFollowAChangeOfTheSystemsColours)
{
    link.answer(0, 0x04); // Reverse on, everything else clear and idle
    panel.Timer1_Timer();
    const QPalette before = QApplication::palette();
    QPalette dark = before;
    dark.setColor(QPalette::Button, QColor(40, 40, 48));
    dark.setColor(QPalette::ButtonText, QColor(230, 230, 230));
    // Qt hands a new palette on to the windows through posted events.
    const auto setSystemPalette = [](const QPalette& colours) {
        QApplication::setPalette(colours);
        QCoreApplication::processEvents();
    };
    setSystemPalette(dark);
    EXPECT_EQ(panel.Shape2->fillColor(), QColor(40, 40, 48));
    EXPECT_EQ(panel.Command3->background(), QColor(40, 40, 48));
    EXPECT_EQ(panel.Label3->palette().color(QPalette::WindowText), QColor(230, 230, 230));
    EXPECT_EQ(panel.Command6->background(), yellow);
    EXPECT_EQ(panel.Shape3->fillColor(), green);
    // The next change of state still draws in the new colours.
    link.answer(0, 0);
    panel.Timer1_Timer();
    EXPECT_EQ(panel.Command6->background(), QColor(40, 40, 48));
    setSystemPalette(before);
    EXPECT_EQ(panel.Command6->background(), before.color(QPalette::Button));
}

TEST_F(Tick, IndicatorBackgroundIsTheExactSolidColour)
{
    link.answer(0, StatusBit::ActiveHigh | StatusBit::ReverseLimit);
    panel.Timer1_Timer();
    for (QPushButton* indicator : {static_cast<QPushButton*>(panel.Command3), static_cast<QPushButton*>(panel.Command6)}) {
        const QImage look = indicator->grab().toImage();
        // Inside the bevel, clear of the caption.
        for (QPoint at : {QPoint(2, 2), QPoint(look.width() / 2, 2), QPoint(look.width() - 3, 2), QPoint(2, look.height() - 3)})
            EXPECT_EQ(look.pixelColor(at), yellow) << indicator->objectName().toStdString();
    }
}

TEST_F(Tick, FramesCarryTheSlidersAndTheEnabledDrive)
{
    panel.Timer1_Timer();
    EXPECT_EQ(lastFrame(), (Frame{180, 75, 80, 136, 255, 127, 50, 144, 0, 0, 0, 64}));
    panel.Slider1->setValue(-10000);
    panel.Slider2->setValue(255);
    panel.Slider5->setValue(100);
    panel.Timer1_Timer();
    const CommandFrame sent = decodeCommandFrame(lastFrame().data());
    EXPECT_EQ(sent.JogWord, 22767);
    EXPECT_EQ(sent.MaxSpeed, 255);
    EXPECT_EQ(sent.Amplitude, 160);
    EXPECT_EQ(sent.CommandByte, 8);
}

TEST_F(Tick, ShortReadShowsItsMessageOnceStopsTheTimerAndClosesNothing)
{
    panel.Timer1->start();
    link.readCount = 5;
    panel.Timer1_Timer();
    EXPECT_FALSE(panel.Timer1->isActive());
    ASSERT_EQ(end.messages.size(), 1);
    EXPECT_EQ(end.messages.front(), QStringLiteral("Error writing to USB. Read  5 of  12 bytes. Application is "
                                                   "aborting. Reset hardware and try again."));
    panel.Timer1_Timer();
    panel.close();
    panel.cmdExit_Click();
    EXPECT_EQ(end.messages.size(), 1);
    EXPECT_EQ(link.calls, QStringList({"SI_Write", "SI_Read"}));
}

TEST_F(Tick, FailedWriteEndsTheProgramWithoutReading)
{
    link.writeStatus = 4;
    panel.Timer1_Timer();
    ASSERT_EQ(end.messages.size(), 1);
    EXPECT_TRUE(end.messages.front().startsWith(QLatin1String("Error writing to USB. Wrote  0 of  12 bytes.")));
    EXPECT_EQ(link.calls, QStringList({"SI_Write"}));
}

// Counts, not milliseconds: a loaded machine may run the timer late.
TEST_F(Tick, RealTimerRunsTheExchangeAfterLoad)
{
    panel.Timer1->start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return link.written.size() >= 2; }, 30000));
    EXPECT_EQ(lastFrame()[3] & CommandBit::Enable, CommandBit::Enable);
}

TEST_F(Tick, ExitClosesTheDeviceOnceAndEnds)
{
    QTest::mouseClick(panel.cmdExit, Qt::LeftButton);
    panel.close();
    panel.Timer1_Timer();
    EXPECT_EQ(link.calls.count(QStringLiteral("SI_Close")), 1);
    ASSERT_EQ(link.closedHandles.size(), 1u);
    EXPECT_EQ(link.closedHandles.front(), link.handleToGive);
    EXPECT_EQ(end.ends, 1);
    EXPECT_TRUE(end.messages.isEmpty());
    EXPECT_FALSE(panel.Timer1->isActive());
    EXPECT_EQ(link.calls.count(QStringLiteral("SI_Write")), 0);
}

TEST_F(Tick, ClosingTheWindowClosesTheDeviceOnceAndEnds)
{
    panel.close();
    panel.cmdExit_Click();
    EXPECT_EQ(link.calls, QStringList({"SI_Close"}));
    EXPECT_EQ(end.ends, 1);
}

TEST_F(Tick, MissingCloseFunctionStillEndsTheProgram)
{
    link.missing << QStringLiteral("SI_Close");
    panel.cmdExit_Click();
    EXPECT_EQ(end.ends, 1);
    EXPECT_TRUE(end.messages.isEmpty());
}
