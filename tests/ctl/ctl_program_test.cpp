// The real kvx340ctl on the simulator's library: its frames beside the
// panel's own mouse commands on the same library, its exit statuses, its
// end on a signal, and the simulated controller kept between programs.
#include "device_list.h"
#include "frm_main.h"
#include "recording_end.h"
#include "usb_library.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <gtest/gtest.h>

#ifndef Q_OS_WIN
#include <csignal>
#include <unistd.h>
#endif

using namespace kvx;

namespace {

const char* const FrameLog = "KVX340_SIM_FRAME_LOG";
const char* const CallLog = "KVX340_SIM_CALL_LOG";
const char* const StateFolder = "KVX340_SIM_STATE_DIR";

struct Ended {
    int exit = -1;   // -1 when ended by a signal
    QString out, err;
    int signal = 0;  // the signal that ended it
};

class CtlProgram : public ::testing::Test {
protected:
    QString file(const char* name) const { return folder.filePath(QLatin1String(name)); }

    QProcess* start(const QStringList& arguments, const QList<QPair<QString, QString>>& variables = {})
    {
        auto* process = new QProcess;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const auto& [name, value] : variables)
            environment.insert(name, value);
        process->setProcessEnvironment(environment);
        process->start(QStringLiteral(CTL_PROGRAM), QStringList{QStringLiteral("--simulator")} + arguments);
        EXPECT_TRUE(process->waitForStarted(30000));
        processes.emplace_back(process);
        return process;
    }

    static Ended finish(QProcess* process, int timeoutMs = 30000)
    {
        EXPECT_TRUE(process->waitForFinished(timeoutMs));
        // A Windows console program ends its lines with CR LF.
        const auto text = [](const QByteArray& bytes) { return QString::fromUtf8(bytes).remove(QLatin1Char('\r')); };
        const bool normal = process->exitStatus() == QProcess::NormalExit;
        return {normal ? process->exitCode() : -1, text(process->readAllStandardOutput()),
                text(process->readAllStandardError()), normal ? 0 : process->exitCode()};
    }

    Ended ctl(const QString& line, const QList<QPair<QString, QString>>& variables = {})
    {
        return finish(start(line.split(QLatin1Char(' '), Qt::SkipEmptyParts), variables));
    }

    // A POSIX shell line, with $ctl the program on the simulator.
    Ended shell(const QString& script, const QList<QPair<QString, QString>>& variables = {})
    {
        auto* process = new QProcess;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("ctl"), QStringLiteral(CTL_PROGRAM " --simulator"));
        for (const auto& [name, value] : variables)
            environment.insert(name, value);
        process->setProcessEnvironment(environment);
        process->start(QStringLiteral("/bin/bash"), {QStringLiteral("-c"), script});
        processes.emplace_back(process);
        return finish(process);
    }

    void write(const char* name, const QByteArray& contents) const
    {
        QFile out(file(name));
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(contents);
    }

    static QStringList lines(const QString& path)
    {
        QFile log(path);
        if (!log.open(QIODevice::ReadOnly))
            return {};
        return QString::fromLatin1(log.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    QTemporaryDir folder;
    std::vector<std::unique_ptr<QProcess>> processes;
};

// Whether the last frame before the close carried STOP.
bool stopBeforeClose(const QStringList& calls)
{
    const qsizetype close = calls.lastIndexOf(QStringLiteral("SI_Close 0"));
    for (qsizetype i = close - 1; i >= 0; --i)
        if (calls[i].startsWith(QLatin1String("SI_Write 0 command ")))
            return (calls[i].mid(19, 2).toInt(nullptr, 16) & 0x02) != 0;
    return false;
}

// The frames of one command, as the controller would tell them apart: the
// toggle bit left out and repeats of one frame taken once. Checks that the
// toggle alternates, starting set.
QStringList distinctFrames(const QStringList& frames)
{
    QStringList distinct;
    for (int i = 0; i < frames.size(); ++i) {
        QString frame = frames[i];
        const int command = frame.mid(6, 2).toInt(nullptr, 16);
        EXPECT_EQ((command & 0x80) != 0, i % 2 == 0) << "frame " << i;
        frame.replace(6, 2, QStringLiteral("%1").arg(command & 0x7F, 2, 16, QLatin1Char('0')));
        if (distinct.isEmpty() || distinct.last() != frame)
            distinct << frame;
    }
    return distinct;
}

// The panel on the simulator's library, opened as the dialog opens it, its
// commands given with the mouse and its ticks given by hand, 30 ms apart.
class PanelOnSimulator {
public:
    explicit PanelOnSimulator(const QString& frameLog) : frameLog_(frameLog)
    {
        state.Demultiplication = 15;
        listDevices(link, state); // fresh controllers
        link.SI_SetTimeouts(10000, 10000);
        EXPECT_EQ(link.SI_Open(0, &state.DeviceHandle), 0);
        panel.showMessage = [](const QString&) {};
        panel.show();
        QApplication::processEvents();
        panel.Timer1->stop();
        qputenv(FrameLog, frameLog_.toLocal8Bit());
    }
    ~PanelOnSimulator()
    {
        qunsetenv(FrameLog);
        link.SI_Close(state.DeviceHandle);
    }

    void tick()
    {
        if (ticked_)
            QTest::qWait(30);
        ticked_ = true;
        panel.Timer1_Timer();
    }
    void ticks(int count)
    {
        for (int i = 0; i < count; ++i)
            tick();
    }
    void tickUntilIdle()
    {
        do
            tick();
        while (state.DriveBusy);
    }
    void tickFor(int ms)
    {
        QElapsedTimer clock;
        clock.start();
        do
            tick();
        while (clock.elapsed() < ms);
    }
    void press(QPushButton* button, int heldTicks = 3)
    {
        QTest::mousePress(button, Qt::LeftButton);
        ticks(heldTicks);
        QTest::mouseRelease(button, Qt::LeftButton);
    }
    void stop()
    {
        QTest::mousePress(panel.Command1, Qt::LeftButton);
        tickUntilIdle();
        QTest::mouseRelease(panel.Command1, Qt::LeftButton);
        tick();
    }

    MotionState state;
    UsbLibrary link{QStringLiteral(SIM_LIBRARY_PATH), QStringLiteral("kvx340sim"), LibrarySource::Simulator};
    test::RecordingEnd end;
    frmMain panel{state, link, end};

private:
    QString frameLog_;
    bool ticked_ = false;
};

struct FramesCase {
    const char* command;
    std::function<void(PanelOnSimulator&)> panel;
};

const FramesCase FramesCases[] = {
    {"move 10",
     [](PanelOnSimulator& p) {
         p.panel.Text2->setText(QStringLiteral("10"));
         p.press(p.panel.Go);
         p.tickUntilIdle();
     }},
    {"move --relative -4",
     [](PanelOnSimulator& p) {
         p.panel.Text2->setText(QStringLiteral("-4"));
         p.press(p.panel.Command7);
         p.tickUntilIdle();
     }},
    {"zero",
     [](PanelOnSimulator& p) {
         p.press(p.panel.Command2);
         p.tick();
     }},
    {"stop", [](PanelOnSimulator& p) { p.stop(); }},
    {"jog 3000 --for 0.3",
     [](PanelOnSimulator& p) {
         p.panel.Slider1->setValue(3000);
         p.panel.Slider1_Click();
         p.tickFor(300);
         p.stop();
     }},
};

TEST_F(CtlProgram, FramesAreThoseOfThePanelsMouseCommands)
{
    for (const FramesCase& c : FramesCases) {
        const QString ctlLog = file("ctl-frames"), panelLog = file("panel-frames");
        QFile::remove(ctlLog);
        QFile::remove(panelLog);
        const Ended ended = ctl(QStringLiteral("-d 0 ") + QLatin1String(c.command), {{FrameLog, ctlLog}});
        EXPECT_EQ(ended.exit, 0) << c.command << ended.err.toStdString();
        {
            PanelOnSimulator panel(panelLog);
            c.panel(panel);
        }
        const QStringList ctlFrames = lines(ctlLog), panelFrames = lines(panelLog);
        EXPECT_FALSE(ctlFrames.isEmpty()) << c.command;
        // The command itself, every byte: held for three exchanges, let go.
        EXPECT_EQ(ctlFrames.mid(0, 5), panelFrames.mid(0, 5)) << c.command;
        // The wait for the axis: as long as it takes, the same frames.
        EXPECT_EQ(distinctFrames(ctlFrames), distinctFrames(panelFrames)) << c.command;
    }
}

TEST_F(CtlProgram, WatchExchangesEvery30msWithoutRequests)
{
    const Ended ended = ctl(QStringLiteral("-d 1 watch --for 1 --format csv"), {{FrameLog, file("frames")}});
    ASSERT_EQ(ended.exit, 0) << ended.err.toStdString();
    QStringList rows = ended.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_FALSE(rows.isEmpty());
    EXPECT_EQ(rows.takeFirst(),
              QLatin1String("ms,position,leftLimit,rightLimit,busy,maxSpeed,reverseLimitSwitch,limitSwitchActiveHigh"));
    // A loaded machine makes fewer, later exchanges, never more or sooner:
    // the period's own figure is the benchmark's (bench/).
    ASSERT_GE(rows.size(), 2);
    EXPECT_LE(rows.size(), 40);
    std::vector<int> gaps;
    for (int i = 1; i < rows.size(); ++i)
        gaps.push_back(rows[i].section(QLatin1Char(','), 0, 0).toInt() - rows[i - 1].section(QLatin1Char(','), 0, 0).toInt());
    std::nth_element(gaps.begin(), gaps.begin() + gaps.size() / 2, gaps.end());
    EXPECT_GE(gaps[gaps.size() / 2], 26);
    EXPECT_LT(rows.first().section(QLatin1Char(','), 0, 0).toInt(), 30); // the first exchange at once
    // The enable bit and the toggle only, as status sends.
    const QStringList frames = lines(file("frames"));
    EXPECT_EQ(frames.size(), rows.size());
    for (const QString& frame : frames)
        EXPECT_EQ(frame.mid(6, 2).toInt(nullptr, 16) & 0x7F, 8) << frame.toStdString();
}

// Exit 3 refuses before anything is opened; exit 2 carries the panel's
// words, and a failed count or open sends no frame. A failed exchange ends
// as the panel does, without the close, unless the axis may be moving:
// then STOP and the close are tried first.
TEST_F(CtlProgram, ExitStatuses)
{
    struct Case {
        const char* line;
        const char* faults;
        int exit;
        const char* err;   // the start of standard error
        const char* never; // a call the log must not show
        bool stopThenClose;
        bool closed;
    };
    const Case cases[] = {
        {"-d 0 status", "", 0, "", nullptr, false, true},
        {"-d 0 move abc", "", 1, "kvx340ctl: the position is not a number: \"abc\"", "SI_GetNumDevices", false, false},
        {"-d 0 move 5", "fail-read@2", 2,
         "Error writing to USB. Read  0 of  12 bytes. Application is aborting. Reset hardware and try again.", nullptr,
         true, true},
        {"-d 0 jog 3000 --for 30", "fail-read@t=0.3s", 2, "Error writing to USB. Read  0 of  12 bytes.", nullptr, true,
         true},
        {"-d 0 status", "fail-read@1", 2, "Error writing to USB. Read  0 of  12 bytes.", "SI_Close", false, false},
        {"-d 0 status", "open-fails", 2,
         "Error opening device: KVX-340 X. Application is aborting. Reset hardware and try again.", "SI_Write", false,
         false},
        {"-d 0 status", "count-fails", 2, "Error finding USB device. Aborting application.", "SI_Open", false, false},
        {"list", "count-fails", 2, "Error finding USB device. Aborting application.", "SI_Open", false, false},
        {"status", "", 3,
         "kvx340ctl: several controllers attached; choose one with -d:\n  -d '#0'   KVX-340 X\n  -d '#1'   KVX-340 Y",
         "SI_Open", false, false},
        {"-d 2 status", "", 3, "kvx340ctl: no controller number 2", "SI_Open", false, false},
        {"-d C3 stop", "", 3, "kvx340ctl: no controller \"C3\"", "SI_Open", false, false},
        {"status", "no-devices", 3, "kvx340ctl: no controller attached", "SI_Open", false, false},
        {"-d 0001 status", "products=0001,A,B", 0, "", nullptr, false, true},
        // Told the switches are active-high, the axis takes both as pressed.
        {"-d 0 --limit-active-high move 10", "", 4, "", nullptr, false, true},
        {"-d 0 move 3000 --timeout 0.3", "", 6, "kvx340ctl: move: timed out after 0.3 s; STOP sent", nullptr, true,
         true},
        // Homing from near the switch; from far away, and the wrong switch.
        {"-d 0 home left", "start-at=-149000", 0, "", nullptr, false, true},
        {"-d 1 home right --speed 10000", "start-at=149000", 0, "", nullptr, false, true},
        {"-d 0 home right --timeout 0.3", "start-at=-149000", 7, "kvx340ctl: home: no switch found within 0.3 s",
         nullptr, true, true},
        // The options turn the motor, not the lamp home seeks.
        {"-d 0 --reverse-motor home left", "start-at=-149000", 0, "", nullptr, false, true},
        {"-d 0 --limit-active-high home left", "", 7, "kvx340ctl: home: both limit switches read active", nullptr,
         true, true},
        // The switch found at once, the time-out after it: not "no switch".
        {"-d 0 home left --speed 50 --timeout 0.75", "start-at=-149995", 6,
         "kvx340ctl: home: timed out after 0.75 s while", nullptr, true, true},
        {"-d 0 wait-idle --timeout 0.0005", "", 0, "", nullptr, false, true},
    };
    for (const Case& c : cases) {
        const QString log = file("calls");
        QFile::remove(log);
        const Ended ended = ctl(QLatin1String(c.line), {{"KVX340_SIM_FAULTS", QLatin1String(c.faults)}, {CallLog, log}});
        EXPECT_EQ(ended.exit, c.exit) << c.line << " " << c.faults << ": " << ended.err.toStdString();
        const QString expected = QLatin1String(c.err);
        EXPECT_EQ(ended.err.left(expected.size()), expected) << c.line << ": " << ended.err.toStdString();
        const QStringList calls = lines(log);
        EXPECT_EQ(calls.contains(QStringLiteral("SI_Close 0")), c.closed) << c.line << " " << c.faults;
        EXPECT_EQ(stopBeforeClose(calls), c.stopThenClose) << c.line << " " << c.faults;
        if (c.never) {
            EXPECT_TRUE(calls.filter(QLatin1String(c.never)).isEmpty()) << c.line << " " << c.faults;
        }
    }
#ifndef Q_OS_WIN
    // (On Windows the simulator reads its script in the ANSI code page, and
    // a program copied alone lacks its Qt libraries: checked on Linux.)
    // A product string in any language: the library's UTF-8 read as such,
    // listed and chosen by its own text.
    const QList<QPair<QString, QString>> named = {{"KVX340_SIM_FAULTS", QStringLiteral("products=KVX-340 X,Achse Ä")}};
    EXPECT_EQ(ctl(QStringLiteral("list"), named).out, QStringLiteral("0 KVX-340 X\n1 Achse Ä\n"));
    const Ended chosen = finish(start({QStringLiteral("-d"), QStringLiteral("Achse Ä"), QStringLiteral("status")}, named));
    EXPECT_EQ(chosen.exit, 0) << chosen.err.toStdString();

    // Without its library: the panel's words, status 2.
    QTemporaryDir alone;
    const QString moved = alone.filePath(QStringLiteral("kvx340ctl"));
    ASSERT_TRUE(QFile::copy(QStringLiteral(CTL_PROGRAM), moved));
    QProcess process;
    process.start(moved, {QStringLiteral("--simulator"), QStringLiteral("-d"), QStringLiteral("0"),
                          QStringLiteral("status")});
    const Ended missing = finish(&process);
    EXPECT_EQ(missing.exit, 2) << missing.err.toStdString();
    EXPECT_TRUE(missing.err.contains(QLatin1String("kvx340sim"))) << missing.err.toStdString();
#endif
}

TEST_F(CtlProgram, BadInputSendsNothing)
{
    const char* const cases[] = {
        "-d 0 move x1", "-d 0 move 1e12", "-d 0 --ratio 0.001 status", "-d 0 --bogus status",
        "-d 0 jog 20000 --for 1", "-d 0 status --settings missing-file.conf", "-d 0 run missing-file.run",
        "-d 0 --settings malformed.conf status", "-d 0 run bad.run", "-d 0 move 1,500", "-d 0 --ratio 0,500 status",
        "-d 0 jog 10 --for 1e16", "-d 0 move 10 --amplitude 0", "-d 0 move 10 --max-speed -1", "-d 0 run empty.run",
        "-d 0 run comments.run",
    };
    write("empty.run", "");
    write("comments.run", "# a scan, one day\n\n");
    QFile malformed(file("malformed.conf"));
    ASSERT_TRUE(malformed.open(QIODevice::WriteOnly));
    malformed.write("ratio=15\nspeed is fast\n");
    malformed.close();
    QFile bad(file("bad.run"));
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write("move 10\nstatus\njog 1 --for never\n");
    bad.close();
    for (const char* line : cases) {
        const QString log = file("calls");
        QFile::remove(log);
        QString arguments = QLatin1String(line);
        for (const char* name : {"malformed.conf", "bad.run", "empty.run", "comments.run"})
            arguments.replace(QLatin1String(name), file(name));
        const Ended ended = ctl(arguments, {{CallLog, log}});
        EXPECT_EQ(ended.exit, 1) << line;
        EXPECT_EQ(ended.err.count(QLatin1Char('\n')), 1) << line << ": " << ended.err.toStdString();
        EXPECT_TRUE(lines(log).isEmpty()) << line;
    }
    EXPECT_TRUE(ctl(QStringLiteral("run ") + file("bad.run")).err.contains(QLatin1String("line 3")));
}

TEST_F(CtlProgram, RunIsOneSessionOnOneOpenController)
{
    QFile sequence(file("scan.run"));
    ASSERT_TRUE(sequence.open(QIODevice::WriteOnly));
    sequence.write("# a short scan\nmove 2\nstatus\nmove --relative 1\nwait 0.1\nzero\nstatus\n");
    sequence.close();
    const Ended ended = ctl(QStringLiteral("-d 0 --json run ") + file("scan.run"), {{CallLog, file("calls")}});
    EXPECT_EQ(ended.exit, 0) << ended.err.toStdString();
    const QStringList out = ended.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(out.size(), 5);
    EXPECT_TRUE(out[1].contains(QLatin1String("\"position\":2,"))) << out[1].toStdString();
    EXPECT_TRUE(out[2].contains(QLatin1String("\"position\":3,"))) << out[2].toStdString();
    EXPECT_TRUE(out[4].contains(QLatin1String("\"position\":0,"))) << out[4].toStdString();
    const QStringList calls = lines(file("calls"));
    EXPECT_EQ(calls.filter(QStringLiteral("SI_Open")).size(), 1);
    EXPECT_EQ(calls.filter(QStringLiteral("SI_Close")).size(), 1);
}

// Ctrl+C and SIGTERM come from a POSIX shell; on Windows, the console's
// events cannot be sent to a program from a test (checked by hand). After
// STOP and the close the program ends by the signal itself, so that the
// shell loop around it stops too.
TEST_F(CtlProgram, SignalDuringAMoveSendsStopBeforeTheCloseThenEndsByIt)
{
#ifdef Q_OS_WIN
    GTEST_SKIP() << "POSIX signals";
#else
    const QString log = file("calls");
    const auto underWay = [&] { return lines(log).contains(QStringLiteral("SI_Write 0 command 28")); };
    for (const int signalNumber : {SIGINT, SIGTERM}) {
        QFile::remove(log);
        QProcess* process = start({QStringLiteral("-d"), QStringLiteral("0"), QStringLiteral("move"),
                                   QStringLiteral("3000")},
                                  {{CallLog, log}});
        // Under way: GO released, the click's position mode (0x28) sent.
        ASSERT_TRUE(QTest::qWaitFor(underWay, 30000));
        ::kill(pid_t(process->processId()), signalNumber);
        const Ended ended = finish(process);
        EXPECT_EQ(ended.signal, signalNumber);
        const QStringList calls = lines(log);
        EXPECT_TRUE(stopBeforeClose(calls)) << calls.join(QLatin1Char('\n')).toStdString();
    }

    // Two signals a few milliseconds apart, during a jog and a move: the
    // second may cut the wait for idle short, never the STOP.
    // (The log shows a frame once, until another one follows.)
    const std::pair<const char*, const char*> motions[] = {{"jog 3000 --for 100", "SI_Write 0 command 18"},
                                                           {"move 3000", "SI_Write 0 command 28"}};
    for (const auto& [command, underWayFrame] : motions)
        for (const int gapMs : {1, 5, 20}) {
            QFile::remove(log);
            QStringList arguments{QStringLiteral("-d"), QStringLiteral("0")};
            arguments += QString::fromLatin1(command).split(QLatin1Char(' '));
            QProcess* process = start(arguments, {{CallLog, log}});
            ASSERT_TRUE(QTest::qWaitFor([&] { return lines(log).contains(QLatin1String(underWayFrame)); }, 30000));
            ::kill(pid_t(process->processId()), SIGTERM);
            ::usleep(useconds_t(gapMs) * 1000);
            ::kill(pid_t(process->processId()), SIGTERM);
            EXPECT_EQ(finish(process).signal, SIGTERM) << command << " " << gapMs;
            EXPECT_TRUE(stopBeforeClose(lines(log))) << command << " " << gapMs << "\n"
                                                     << lines(log).join(QLatin1Char('\n')).toStdString();
        }

    // Ctrl+C in a terminal reaches the whole process group: the loop ends
    // with the first move, after one open.
    QFile::remove(log);
    QProcess loop;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QLatin1String(CallLog), log);
    loop.setProcessEnvironment(environment);
    loop.start(QStringLiteral("/usr/bin/setsid"),
               {QStringLiteral("/bin/bash"), QStringLiteral("-c"),
                QStringLiteral("for p in 300 -300; do " CTL_PROGRAM " --simulator -d 0 move $p; done; echo continued")});
    ASSERT_TRUE(QTest::qWaitFor(underWay, 30000));
    ::kill(-pid_t(loop.processId()), SIGINT);
    const Ended looped = finish(&loop);
    EXPECT_FALSE(looped.out.contains(QLatin1String("continued")));
    EXPECT_EQ(lines(log).filter(QStringLiteral("SI_Open")).size(), 1);
    EXPECT_TRUE(stopBeforeClose(lines(log)));

    // Ignored when it started (nohup, a background job): it stays ignored.
    QFile::remove(log);
    QProcess* ignoring = new QProcess;
    processes.emplace_back(ignoring);
    ignoring->setProcessEnvironment(environment);
    ignoring->start(QStringLiteral("/bin/bash"),
                    {QStringLiteral("-c"), QStringLiteral("trap '' INT; exec " CTL_PROGRAM " --simulator -d 0 move 3000")});
    ASSERT_TRUE(QTest::qWaitFor(underWay, 30000));
    ::kill(pid_t(ignoring->processId()), SIGINT);
    EXPECT_FALSE(ignoring->waitForFinished(300));
    ::kill(pid_t(ignoring->processId()), SIGTERM);
    EXPECT_EQ(finish(ignoring).signal, SIGTERM);
#endif
}

// Output that goes nowhere ends the program as an interruption does: STOP
// while the axis may be moving, the close, and SIGPIPE (at its default) or
// status 9 (SIGPIPE ignored, or another failed write).
TEST_F(CtlProgram, OutputThatGoesNowhereEndsTheProgram)
{
#ifdef Q_OS_WIN
    GTEST_SKIP() << "POSIX pipes and /dev/full";
#else
    // The watch writes every 30 ms while the move runs on: the first write
    // after `head` has gone fails, however late that is.
    write("scan.run", "status\nmove 300 --no-wait\nwatch --for 20\n");
    const QString run = QStringLiteral("$ctl -d 0 run ") + file("scan.run");
    struct Case {
        QString script;
        const char* status;
        bool stopThenClose;
    };
    const Case cases[] = {
        {run + " | head -1 >/dev/null; echo ${PIPESTATUS[0]}", "141", true},
        {"trap '' PIPE; " + run + " | head -1 >/dev/null; echo ${PIPESTATUS[0]}", "9", true},
        {"trap '' PIPE; $ctl -d 1 watch | head -1 >/dev/null; echo ${PIPESTATUS[0]}", "9", false},
        {"$ctl list >/dev/full; echo $?", "9", false},
        {"(sleep .5; $ctl --help) | true; echo ${PIPESTATUS[0]}", "141", false},
        {"$ctl doctor | true; echo ${PIPESTATUS[0]}", "141", false},
    };
    for (const Case& c : cases) {
        const QString log = file("calls");
        QFile::remove(log);
        const Ended ended = shell(c.script, {{CallLog, log}});
        EXPECT_EQ(ended.out.trimmed(), QLatin1String(c.status)) << c.script.toStdString() << ended.err.toStdString();
        const QStringList calls = lines(log);
        EXPECT_EQ(stopBeforeClose(calls), c.stopThenClose) << c.script.toStdString();
        EXPECT_EQ(calls.filter(QStringLiteral("SI_Open")).size(), calls.filter(QStringLiteral("SI_Close")).size())
            << c.script.toStdString();
    }
#endif
}

TEST_F(CtlProgram, SimulatedControllerKeepsItsStateBetweenPrograms)
{
    const QList<QPair<QString, QString>> kept = {{StateFolder, folder.path()}};
    EXPECT_EQ(ctl(QStringLiteral("-d 0 move 10"), kept).exit, 0);
    EXPECT_EQ(ctl(QStringLiteral("-d 0 status"), kept).out.section(QLatin1Char('\n'), 0, 0),
              QLatin1String("Position: 10.00"));
    // A move left running goes on while no program has the controller.
    EXPECT_EQ(ctl(QStringLiteral("-d 0 move 40 --no-wait"), kept).exit, 0);
    QTest::qWait(1500);
    EXPECT_TRUE(ctl(QStringLiteral("-d 0 status --json"), kept).out.contains(QLatin1String("\"position\":40,")));
    // The origin too; and each controller on its own.
    EXPECT_EQ(ctl(QStringLiteral("-d 0 zero"), kept).exit, 0);
    EXPECT_EQ(ctl(QStringLiteral("-d 0 status"), kept).out.section(QLatin1Char('\n'), 0, 0),
              QLatin1String("Position: 0.00"));
    EXPECT_EQ(ctl(QStringLiteral("-d 1 status"), kept).out.section(QLatin1Char('\n'), 0, 0),
              QLatin1String("Position: 0.00"));
    // Without a folder, nothing is kept.
    EXPECT_EQ(ctl(QStringLiteral("-d 0 move 10")).exit, 0);
    EXPECT_EQ(ctl(QStringLiteral("-d 0 status")).out.section(QLatin1Char('\n'), 0, 0),
              QLatin1String("Position: 0.00"));
}

// Killed outright, a program saves nothing at its end: the controller
// carries on with the last command, kept when it was given, and the next
// program finds the move under way or ended, never back at its start.
TEST_F(CtlProgram, SimulatedControllerCarriesOnWhenItsProgramIsKilled)
{
#ifdef Q_OS_WIN
    GTEST_SKIP() << "SIGKILL";
#else
    const QList<QPair<QString, QString>> kept = {{StateFolder, folder.path()}, {CallLog, file("calls")}};
    const QString slow = QStringLiteral("-d 0 --ratio 1 --max-speed 100 "); // 1000 steps/s: 5000 take 5 s
    QElapsedTimer since;
    since.start();
    QProcess* mover = start((slow + QStringLiteral("move 5000")).split(QLatin1Char(' ')), kept);
    ASSERT_TRUE(QTest::qWaitFor([&] { return lines(file("calls")).contains(QStringLiteral("SI_Write 0 command 28")); },
                                30000));
    QTest::qWait(1000);
    ::kill(pid_t(mover->processId()), SIGKILL);
    EXPECT_EQ(finish(mover).signal, SIGKILL);
    const Ended next = ctl(slow + QStringLiteral("status --json"), kept);
    const double seconds = since.elapsed() / 1000.0;
    ASSERT_EQ(next.exit, 0) << next.err.toStdString(); // the hold went with the killed program
    const int position = QJsonDocument::fromJson(next.out.toUtf8()).object().value(QLatin1String("position")).toInt();
    // A second at least since the move was under way; never faster than its top speed.
    EXPECT_GE(position, 500) << next.out.toStdString();
    EXPECT_LE(position, std::min(5000.0, 1000 * seconds)) << seconds;
    EXPECT_EQ(next.out.contains(QLatin1String("\"busy\":true")), position < 5000) << next.out.toStdString();
#endif
}

TEST_F(CtlProgram, ControllerHeldByOneProgramCannotBeOpenedByAnother)
{
    const QList<QPair<QString, QString>> kept = {{StateFolder, folder.path()}};
    // Held until the test lets go, however slowly the rest starts.
    QProcess* holder = start({QStringLiteral("-d"), QStringLiteral("0"), QStringLiteral("watch"),
                              QStringLiteral("--for"), QStringLiteral("600")},
                             kept);
    ASSERT_TRUE(QTest::qWaitFor([&] { return holder->canReadLine(); }, 30000));
    const Ended second = ctl(QStringLiteral("-d 0 status"), kept);
    // In use is no broken link: its own status, and no advice to reset.
    EXPECT_EQ(second.exit, 5);
    EXPECT_EQ(second.err, "kvx340ctl: controller 0 (KVX-340 X) is in use by another program; end that program first\n");
    // The panel meets the same refusal, and so takes its "Error opening device" path.
    qputenv(StateFolder, folder.path().toLocal8Bit());
    UsbLibrary link(QStringLiteral(SIM_LIBRARY_PATH), QStringLiteral("kvx340sim"), LibrarySource::Simulator);
    MotionState state;
    listDevices(link, state);
    UsbHandle handle = nullptr;
    EXPECT_NE(link.SI_Open(0, &handle), 0);
    EXPECT_EQ(link.SI_Open(1, &handle), 0); // the other controller is free
    link.SI_Close(handle);
    qputenv(StateFolder, "off");
    // The hold goes with the program however it ends.
    holder->kill();
    finish(holder);
    EXPECT_EQ(ctl(QStringLiteral("-d 0 status"), kept).exit, 0);
}

} // namespace
