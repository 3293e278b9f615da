// How the real kvx340ctl ends: by a signal or by output that goes nowhere,
// after STOP and the close; and the simulated controller it leaves behind,
// kept between programs, carrying on when its program is killed, held by
// one program at a time.
#include "ctl_program.h"

using namespace kvx::ctltest;

namespace {

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
