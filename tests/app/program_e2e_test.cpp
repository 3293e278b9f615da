#include "counting_link.h"
#include "frm_main.h"
#include "frm_select.h"
#include "message_catcher.h"
#include "program.h"
#include "usb_library.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>
#include <functional>

using namespace kvx;
using kvx::test::CountingLink;
using kvx::test::MessageCatcher;

namespace {

const QString Tail = QStringLiteral(". Application is aborting. Reset hardware and try again.");

// One simulator library for the whole process, as in the program; each test
// sets its fault script, which the library reads at the start-up count.
UsbLibrary& simulator()
{
    static UsbLibrary library(QStringLiteral(SIM_LIBRARY_PATH), QStringLiteral("kvx340sim"));
    return library;
}

bool waitFor(const std::function<bool()>& condition, int timeoutMs = 5000)
{
    for (int waited = 0; waited < timeoutMs && !condition(); waited += 10)
        QTest::qWait(10);
    return condition();
}

class Program_ : public ::testing::Test {
protected:
    void start(const char* faults = "")
    {
        qputenv("KVX340_SIM_FAULTS", faults);
        program = std::make_unique<Program>(link);
        started = program->start();
    }
    // Typing over the entry, then OK with the mouse, as the operator does.
    void confirm()
    {
        QTest::mouseClick(program->selectWindow()->cmdOK, Qt::LeftButton);
    }
    frmMain* panel() const { return program->panelWindow(); }

    void TearDown() override
    {
        // The program never closes after a failed exchange; the simulated
        // controller must be free for the next test.
        if (program && program->state().DeviceHandle && link.count("SI_Close") == 0)
            simulator().SI_Close(program->state().DeviceHandle);
        program.reset();
    }

    CountingLink link{simulator()};
    MessageCatcher catcher;
    std::unique_ptr<Program> program;
    bool started = false;
};

} // namespace

TEST_F(Program_, OperatorMovesTheSimulatedAxisAndExits)
{
    start();
    ASSERT_TRUE(started);
    frmSelect* dialog = program->selectWindow();
    EXPECT_TRUE(dialog->isVisible());
    ASSERT_EQ(dialog->cmbDevice->count(), 2);
    EXPECT_EQ(dialog->cmbDevice->itemText(0), "KVX-340 X");
    EXPECT_EQ(dialog->cmbDevice->itemText(1), "KVX-340 Y");
    EXPECT_EQ(dialog->cmbDevice->currentIndex(), 0);

    confirm();
    ASSERT_NE(panel(), nullptr);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_TRUE(panel()->isVisible());
    EXPECT_EQ(link.calls.mid(0, 5), QStringList({"SI_GetNumDevices", "SI_GetProductString", "SI_GetProductString",
                                                 "SI_SetTimeouts", "SI_Open"}));
    EXPECT_EQ(link.openedDevices, std::vector<uint32_t>{0});
    EXPECT_EQ(panel()->Label10->text(), "X");
    EXPECT_EQ(panel()->Text2->text(), "0");
    ASSERT_TRUE(waitFor([&] { return program->state().EnableFlag == 8; }));
    EXPECT_EQ(program->state().PositionModeFlag, 0);
    EXPECT_EQ(program->state().Demultiplication, 15);

    panel()->Text2->setText(QStringLiteral("12.5"));
    QTest::mousePress(panel()->Go, Qt::LeftButton);
    EXPECT_EQ(panel()->TargetPosition, 187.5);
    EXPECT_EQ(panel()->Text2->text(), "12.50");
    QTest::qWait(100);
    QTest::mouseRelease(panel()->Go, Qt::LeftButton);
    EXPECT_EQ(program->state().PositionModeFlag, 32);

    // The simulated axis reports 188 steps, shown at the ratio 15.
    EXPECT_TRUE(waitFor([&] { return panel()->Text1->text() == "12.53"; })) << panel()->Text1->text().toStdString();
    EXPECT_EQ(panel()->Text3->text(), "188");

    QTest::mouseClick(panel()->cmdExit, Qt::LeftButton);
    EXPECT_TRUE(program->ended());
    EXPECT_EQ(program->exitCode(), 0);
    EXPECT_EQ(link.count("SI_Close"), 1);
    const int writes = link.count("SI_Write");
    QTest::qWait(100);
    panel()->close(); // the window going away afterwards closes nothing more
    EXPECT_EQ(link.count("SI_Write"), writes);
    EXPECT_EQ(link.count("SI_Close"), 1);
    EXPECT_TRUE(catcher.messages.isEmpty());
}

TEST_F(Program_, ClosingThePanelClosesTheControllerOnce)
{
    start();
    confirm();
    ASSERT_NE(panel(), nullptr);
    QTest::qWait(60);
    panel()->close();
    EXPECT_TRUE(program->ended());
    EXPECT_EQ(link.count("SI_Close"), 1);
}

TEST_F(Program_, CancelEndsAfterTheListingAlone)
{
    start();
    QTest::mouseClick(program->selectWindow()->cmdCancel, Qt::LeftButton);
    EXPECT_TRUE(program->ended());
    EXPECT_EQ(link.calls, QStringList({"SI_GetNumDevices", "SI_GetProductString", "SI_GetProductString"}));
    EXPECT_EQ(program->panelWindow(), nullptr);
}

TEST_F(Program_, NoControllerEndsBeforeAnyWindowIsSeen)
{
    for (const char* faults : {"count-fails", "no-devices"}) {
        catcher.messages.clear();
        start(faults);
        EXPECT_FALSE(started) << faults;
        EXPECT_FALSE(program->selectWindow()->isVisible()) << faults;
        EXPECT_EQ(catcher.messages, QStringList{"Error finding USB device. Aborting application."}) << faults;
        EXPECT_EQ(program->exitCode(), 1);
    }
    EXPECT_EQ(catcher.titles.value(0), "KVX-340");
    EXPECT_EQ(catcher.icons.value(0), QMessageBox::NoIcon);
    EXPECT_EQ(link.count("SI_Open"), 0);
}

TEST_F(Program_, FailedOpenQuotesTheTypedEntry)
{
    start("open-fails");
    ASSERT_TRUE(started);
    QComboBox* entry = program->selectWindow()->cmbDevice;
    entry->setFocus();
    entry->lineEdit()->selectAll();
    QTest::keyClicks(entry, QStringLiteral("ABC"));
    confirm();
    EXPECT_EQ(catcher.messages, QStringList{"Error opening device: ABC" + Tail});
    EXPECT_EQ(link.openedDevices, std::vector<uint32_t>{NoDevice});
    EXPECT_TRUE(program->ended());
    EXPECT_EQ(program->panelWindow(), nullptr);
    EXPECT_EQ(link.count("SI_Close"), 0);
}

TEST_F(Program_, ShortTransfersEndWithTheirMessageAndNoClose)
{
    struct Case { const char* faults; QString message; };
    const Case cases[] = {
        {"short-write@3", "Error writing to USB. Wrote  11 of  12 bytes" + Tail},
        {"short-read@3", "Error writing to USB. Read  6 of  12 bytes" + Tail},
        {"unplug@t=0.1s", "Error writing to USB. Wrote  0 of  12 bytes" + Tail},
    };
    for (const Case& c : cases) {
        catcher.messages.clear();
        link.calls.clear();
        start(c.faults);
        confirm();
        ASSERT_TRUE(waitFor([&] { return program->ended(); })) << c.faults;
        EXPECT_EQ(catcher.messages, QStringList{c.message}) << c.faults;
        const int writes = link.count("SI_Write");
        QTest::qWait(100);
        EXPECT_EQ(link.count("SI_Write"), writes) << "a tick ran after the end: " << c.faults;
        EXPECT_EQ(link.count("SI_Close"), 0) << c.faults;
        TearDown();
    }
}

TEST_F(Program_, MissingLibraryIsReportedBeforeAnyWindow)
{
    UsbLibrary missing(QStringLiteral("/nonexistent/libkvx-nothing.so"), QStringLiteral("SiUSBXp"));
    Program lonely(missing);
    EXPECT_FALSE(lonely.start());
    ASSERT_EQ(catcher.messages.size(), 1);
    EXPECT_TRUE(catcher.messages[0].startsWith("The controller's USB library SiUSBXp could not be loaded from "
                                               "/nonexistent/libkvx-nothing.so ("))
        << catcher.messages[0].toStdString();
    EXPECT_FALSE(lonely.selectWindow()->isVisible());
}
