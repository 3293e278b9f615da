#include "controller_store.h"
#include "counting_link.h"
#include "frm_main.h"
#include "frm_select.h"
#include "message_catcher.h"
#include "program.h"
#ifndef Q_OS_WIN
#include "termination_signals.h"
#endif
#include "usb_library.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <private/qguiapplication_p.h>
#include <gtest/gtest.h>
#include <atomic>
#include <chrono>
#include <csignal>
#include <functional>
#include <thread>

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

// A loaded machine runs the program's timer late: waits are for a
// condition, bounded only so that a fault fails rather than hangs.
bool waitFor(const std::function<bool()>& condition)
{
    return QTest::qWaitFor(condition, 30000);
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
#ifndef Q_OS_WIN
    // As main() wires them.
    void catchSignals(TerminationSignals& termination)
    {
        QObject::connect(&termination, &TerminationSignals::received, [this] { program->endOnSignal(); });
    }
#endif

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
    const int writesBeforeGo = link.count("SI_Write");
    QTest::mousePress(panel()->Go, Qt::LeftButton);
    EXPECT_EQ(panel()->TargetPosition, 187.5);
    EXPECT_EQ(panel()->Text2->text(), "12.50");
    // Held until a frame has carried GO to the controller.
    ASSERT_TRUE(waitFor([&] { return link.count("SI_Write") > writesBeforeGo; }));
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

// The desktop's save request may be followed by a cancelled logout, or be a
// mere checkpoint: the panel stays. The session's real end closes once.
TEST_F(Program_, SaveRequestAloneChangesNothingAndTheSessionsEndClosesOnce)
{
    start();
    program->followSessionEnd();
    confirm();
    ASSERT_NE(panel(), nullptr);
    QGuiApplicationPrivate::instance()->commitData();
    QTest::qWait(60);
    EXPECT_FALSE(program->ended());
    EXPECT_EQ(link.count("SI_Close"), 0);
    EXPECT_TRUE(panel()->isVisible());

    const int aboutToQuit = QCoreApplication::staticMetaObject.indexOfSignal("aboutToQuit()");
    ASSERT_GE(aboutToQuit, 0);
    for (int times = 0; times < 2; ++times)
        QCoreApplication::instance()->qt_metacall(QMetaObject::InvokeMetaMethod, aboutToQuit, nullptr);
    EXPECT_TRUE(program->ended());
    EXPECT_EQ(link.count("SI_Close"), 1);
}

// Termination signals are POSIX's; on Windows a polite end is a close request,
// which the window tests cover.
#ifndef Q_OS_WIN
TEST_F(Program_, ABurstOfSignalsWhileTheLoopIsBusyEndsTheProgramOnce)
{
    start();
    confirm();
    ASSERT_NE(panel(), nullptr);
    TerminationSignals termination;
    catchSignals(termination);
    // Raised on another thread, so that the handler runs there: should it
    // block, the event loop below frees it again.
    std::atomic<bool> raised = false;
    std::thread burst([&raised] {
        for (int i = 0; i < 1000; ++i)
            std::raise(SIGTERM);
        raised = true;
    });
    // Meanwhile the event loop does not run, as during a long USB call.
    for (int waited = 0; waited < 30000 && !raised; waited += 10)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const bool handlerNeverBlocked = raised;
    EXPECT_TRUE(waitFor([&] { return raised && program->ended(); }));
    burst.join();
    EXPECT_TRUE(handlerNeverBlocked) << "the signal handler blocked";
    EXPECT_EQ(program->exitCode(), 0);
    EXPECT_EQ(link.count("SI_Close"), 1);
}

namespace {
volatile std::sig_atomic_t ownHandlerCalls = 0;
extern "C" void ownHandler(int) { ownHandlerCalls = ownHandlerCalls + 1; }
} // namespace

TEST_F(Program_, SignalsKeepWhatTheyInheritedAndGetItBack)
{
    struct sigaction ignore = {}, own = {}, hangup = {}, interrupt = {};
    ignore.sa_handler = SIG_IGN;
    own.sa_handler = ownHandler;
    sigaction(SIGHUP, &ignore, &hangup);
    sigaction(SIGINT, &own, &interrupt);
    start();
    {
        TerminationSignals termination;
        catchSignals(termination);
        // Started under nohup: a hangup does nothing.
        std::raise(SIGHUP);
        QTest::qWait(50);
        EXPECT_FALSE(program->ended()) << "an ignored hangup ended the program";
        std::raise(SIGINT);
        EXPECT_TRUE(waitFor([&] { return program->ended(); }));
        EXPECT_EQ(ownHandlerCalls, 0);
    }
    struct sigaction now = {};
    sigaction(SIGHUP, nullptr, &now);
    EXPECT_EQ(now.sa_handler, SIG_IGN);
    sigaction(SIGINT, nullptr, &now);
    EXPECT_EQ(now.sa_handler, &ownHandler);
    sigaction(SIGHUP, &hangup, nullptr);
    sigaction(SIGINT, &interrupt, nullptr);
}
#endif

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

// Another program (here a store of our own, locking as one would) holds the
// simulated controller: the open fails as a real controller's does.
TEST_F(Program_, ControllerHeldByAnotherProgramIsNotOpened)
{
    QTemporaryDir folder;
    qputenv(sim::StateFolderVariable, folder.path().toLocal8Bit());
    sim::FileControllerStore otherProgram;
    std::optional<sim::SavedAxis> saved;
    ASSERT_TRUE(otherProgram.claim(0, "KVX-340 X", saved));
    start();
    ASSERT_TRUE(started);
    confirm();
    qputenv(sim::StateFolderVariable, "off");
    EXPECT_EQ(catcher.messages, QStringList{"Error opening device: KVX-340 X" + Tail});
    EXPECT_TRUE(program->ended());
    EXPECT_EQ(program->panelWindow(), nullptr);
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
