// The real kvx340ctl on the simulator's library: its frames beside the
// panel's own mouse commands on the same library, its exit statuses, its
// bad input and its run files.
#include "ctl_program.h"

using namespace kvx::ctltest;

namespace {

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

} // namespace
