// kvx340ctl's command line, settings files and run files: one table of
// what is typed and what the program makes of it.
#include "ctl_options.h"

#include <QMap>
#include <gtest/gtest.h>

using namespace kvx::ctl;

namespace {

const QMap<QString, QByteArray> Files = {
    {"good.conf", "# bench 3\nratio = 2.5\nmax-speed=100\n\nreverse-motor=yes\nidle-percent=0\n"},
    {"nokey.conf", "ratio=2.5\nmax-speed\n"},
    {"unknown.conf", "colour=red\n"},
    {"range.conf", "amplitude=256\n"},
    {"seq.run", "# scan\nmove 10\nwait 0.5\n  status  \nmove --relative -2 --no-wait\njog -500 --for 1\nzero\nstop\n"
                "watch --for 0.2 --format csv\nlist\n"},
    {"badline.run", "move 10\nstatus\nmove abc\n"},
    {"unknowncmd.run", "move 10\nfly 3\n"},
    {"badopt.run", "stop --for 2\n"},
    {"doctorline.run", "status\ndoctor\n"},
    {"empty.run", ""},
    {"comments.run", "# nothing yet\n\n   # still nothing\n"},
    {"trailing.run", "move 3  # start\nwait 1# settle\nhome right --speed 500 --timeout 20\nwait-idle\n"},
    {"spans.run", "wait 1e16\n"},
    {"grouped.run", "move 1,500\n"},
    {"commented.conf", "ratio = 2 # bench 3\nreverse-limit = yes\n"},
};

bool fakeRead(const QString& name, QByteArray& contents)
{
    if (!Files.contains(name))
        return false;
    contents = Files.value(name);
    return true;
}

QString commandName(Command command)
{
    static const char* names[] = {"list",  "status",    "move", "jog",   "stop",  "zero",
                                  "watch", "wait", "wait-idle", "home", "doctor"};
    return QLatin1String(names[int(command)]);
}

// What a request comes to, in one line a table can hold.
QString describe(const Parsed& parsed)
{
    if (parsed.kind == Parsed::Kind::Error)
        return QStringLiteral("error: ") + parsed.text;
    if (parsed.kind == Parsed::Kind::Help)
        return QStringLiteral("help");
    if (parsed.kind == Parsed::Kind::Version)
        return QStringLiteral("version");
    const Request& r = parsed.request;
    const Settings& s = r.settings;
    QStringList steps;
    for (const Step& step : r.steps) {
        QString text = commandName(step.command);
        if (step.command == Command::Move)
            text += QStringLiteral(" %1%2%3").arg(step.targetPosition, 0, 'g', 15).arg(step.relative ? " rel" : "")
                        .arg(step.noWait ? " nowait" : "");
        if (step.command == Command::Jog)
            text += QStringLiteral(" %1").arg(step.jogSpeed);
        if (step.command == Command::Home)
            text += QStringLiteral(" %1 %2").arg(step.side == HomeSide::Left ? "left" : "right").arg(step.jogSpeed);
        if (step.timeout >= 0)
            text += QStringLiteral(" t%1").arg(step.timeout);
        if (step.seconds >= 0)
            text += QStringLiteral(" %1s").arg(step.seconds);
        if (step.format == WatchFormat::Csv)
            text += QStringLiteral(" csv");
        if (step.format == WatchFormat::Jsonl)
            text += QStringLiteral(" jsonl");
        steps << text;
    }
    return QStringLiteral("%1 | ratio %2 | %3/%4/%5/%6 | options %7%8%9 | dev '%10'%11%12%13")
        .arg(steps.join(QStringLiteral("; ")))
        .arg(s.demultiplication)
        .arg(s.sliders.Slider2).arg(s.sliders.Slider3).arg(s.sliders.Slider4).arg(s.sliders.Slider5)
        .arg(int(s.reverseMotor)).arg(int(s.reverseLimit)).arg(int(s.limitActiveHigh))
        .arg(r.device)
        .arg(r.simulator ? " sim" : "")
        .arg(r.json ? " json" : "")
        .arg(r.sequence ? " seq" : "");
}

struct Case {
    const char* arguments; // split at blanks; ~ stands for a blank inside one argument
    const char* expected;  // describe(), or the start of "error: ..."
};

const Case Cases[] = {
    // Commands and their defaults: ratio 15, the panel's design values.
    {"status", "status | ratio 15 | 180/75/160/50 | options 000 | dev ''"},
    {"list --simulator", "list | ratio 15 | 180/75/160/50 | options 000 | dev '' sim"},
    {"--json -d 1 stop", "stop | ratio 15 | 180/75/160/50 | options 000 | dev '1' json"},
    {"zero -d KVX-340~Y", "zero | ratio 15 | 180/75/160/50 | options 000 | dev 'KVX-340 Y'"},
    {"move 12.5", "move 187.5 | ratio 15 | 180/75/160/50 | options 000 | dev ''"},
    // The panel's position entry: 15 significant digits, then the ratio.
    {"move 2.345678 --ratio 200", "move 469.1356 | ratio 200 | 180/75/160/50 | options 000 | dev ''"},
    {"move -3 --relative --no-wait", "move -45 rel nowait | ratio 15 | 180/75/160/50 | options 000 | dev ''"},
    {"move --relative -- -3", "move -45 rel | ratio 15 | 180/75/160/50 | options 000 | dev ''"},
    {"move 1e2", "move 1500 | ratio 15 | 180/75/160/50 | options 000 | dev ''"},
    {"jog -10000 --for 2.5", "jog -10000 2.5s | ratio 15 | 180/75/160/50 | options 000 | dev ''"},
    {"jog 10000 --for 1", "jog 10000 1s | ratio 15 | 180/75/160/50 | options 000 | dev ''"},
    {"watch", "watch | ratio 15 | 180/75/160/50 | options 000 | dev ''"},
    {"watch --for 3 --format jsonl", "watch 3s jsonl | ratio 15 | 180/75/160/50 | options 000 | dev ''"},
    // Settings: options, the dialog's ratio rules, a file, options over the file.
    {"status --ratio 0.01", "status | ratio 0.01 | 180/75/160/50 | options 000 | dev ''"},
    {"status --reverse-motor --reverse-limit --limit-active-high --max-speed 255 --acceleration 0 "
     "--amplitude 0 --idle-percent 100",
     "status | ratio 15 | 255/0/0/100 | options 111 | dev ''"},
    {"status --settings good.conf", "status | ratio 2.5 | 100/75/160/0 | options 100 | dev ''"},
    {"status --settings good.conf --ratio 4 --max-speed 7",
     "status | ratio 4 | 7/75/160/0 | options 100 | dev ''"},
    {"move 10 --settings good.conf", "move 25 | ratio 2.5 | 100/75/160/0 | options 100 | dev ''"},
    // A sequence: one request, every step checked before anything runs.
    {"run seq.run --simulator",
     "move 150; wait 0.5s; status; move -30 rel nowait; jog -500 1s; zero; stop; watch 0.2s csv; list | ratio 15 | "
     "180/75/160/50 | options 000 | dev '' sim seq"},
    {"--help", "help"},
    {"move --help", "help"},
    {"--version", "version"},
    // Bad input: one line naming it.
    {"", "error: no command given"},
    {"fly", "error: unknown command \"fly\""},
    {"wait 3", "error: unknown command \"wait\""},
    {"status --bogus", "error: Unknown option 'bogus'."},
    {"status --for 3", "error: status: Unknown option 'for'."},
    {"status extra", "error: status takes no argument"},
    {"move", "error: move needs POSITION"},
    {"move abc", "error: the position is not a number: \"abc\""},
    {"move 12,5", "error: the position is not a number: \"12,5\""},
    {"move 1e400", "error: the position is not a number"},
    {"move 71582789", "error: Position out of range. Enter a position from -71582788.27 to 71582788.20."},
    {"move 2e9 --ratio 1", "error: Position out of range. Enter a position from -1073741824.00 to 1073741823.00."},
    {"status --ratio 0.009", "error: ratio must be at least 0.01, not 0.009"},
    {"status --ratio 0", "error: ratio must be at least 0.01"},
    {"status --ratio -3", "error: ratio must be at least 0.01"},
    {"status --ratio abc", "error: ratio is not a number: \"abc\""},
    {"status --max-speed 256", "error: max-speed must be a whole number from 0 to 255, not \"256\""},
    {"status --idle-percent 101", "error: idle-percent must be a whole number from 0 to 100"},
    {"status --acceleration 1.5", "error: acceleration must be a whole number"},
    {"jog 5000", "error: jog needs --for SECONDS"},
    {"jog 10001 --for 1", "error: the jog speed must be a whole number from -10000 to 10000, not \"10001\""},
    {"jog fast --for 1", "error: the jog speed must be a whole number"},
    {"jog 100 --for 0", "error: --for must be a number of seconds above 0, at most 604800, not \"0\""},
    {"watch --format xml", "error: --format must be csv or jsonl, not \"xml\""},
    {"status --settings missing.conf", "error: cannot read the settings file missing.conf"},
    {"status --settings nokey.conf", "error: nokey.conf line 2: not a key=value line"},
    {"status --settings unknown.conf", "error: unknown.conf line 1: unknown setting \"colour\""},
    {"status --settings range.conf", "error: range.conf line 1: amplitude must be a whole number from 0 to 255"},
    // One reader for every number: the whole text, C locale, no grouping.
    {"move 1,500", "error: the position is not a number: \"1,500\""},
    {"move 1,5", "error: the position is not a number: \"1,5\""},
    {"status --ratio 0,500", "error: ratio is not a number: \"0,500\""},
    {"jog 100 --for 0,500", "error: --for must be a number of seconds above 0, at most 604800, not \"0,500\""},
    {"status --max-speed 1,0", "error: max-speed must be a whole number"},
    {"status --max-speed -1", "error: max-speed must be a whole number from 0 to 255, not \"-1\""},
    {"run grouped.run", "error: grouped.run line 1: the position is not a number: \"1,500\""},
    // Spans have a maximum; a motion the settings cannot make is refused.
    {"jog 100 --for 1e16", "error: --for must be a number of seconds above 0, at most 604800"},
    {"watch --for 604800", "watch 604800s | ratio 15 | 180/75/160/50 | options 000 | dev ''"},
    {"run spans.run", "error: spans.run line 1: wait must be a number of seconds from 0 to 604800"},
    {"move 10 --timeout 0", "error: --timeout must be a number of seconds above 0"},
    {"move 10 --max-speed 0", "error: max-speed 0 cannot move the axis"},
    {"jog 5 --for 1 --amplitude 0", "error: amplitude 0 cannot move the axis"},
    {"home left --amplitude 0", "error: amplitude 0 cannot move the axis"},
    {"jog 5 --for 2 --timeout 1", "error: jog --for 2 can only time out after --timeout 1"},
    {"jog 5 --for 1 --timeout 1", "jog 5 t1 1s | ratio 15 | 180/75/160/50 | options 000 | dev ''"},
    {"status --max-speed 0 --amplitude 0", "status | ratio 15 | 0/75/0/50 | options 000 | dev ''"},
    {"stop --max-speed 0", "stop | ratio 15 | 0/75/160/50 | options 000 | dev ''"},
    // Waiting commands, homing, the doctor.
    {"move 10 --timeout 2.5", "move 150 t2.5 | ratio 15 | 180/75/160/50 | options 000 | dev ''"},
    {"wait-idle --timeout 3", "wait-idle t3 | ratio 15 | 180/75/160/50 | options 000 | dev ''"},
    {"home left", "home left 3000 | ratio 15 | 180/75/160/50 | options 000 | dev ''"},
    {"home right --speed 10000 --timeout 60", "home right 10000 t60 | ratio 15 | 180/75/160/50 | options 000 | dev ''"},
    {"home up", "error: home needs left or right, not \"up\""},
    {"home left --speed 0", "error: --speed must be a whole number from 1 to 10000"},
    {"doctor -d 1 --json", "doctor | ratio 15 | 180/75/160/50 | options 000 | dev '1' json"},
    {"zero --timeout 3", "error: zero: Unknown option 'timeout'."},
    // Options win over the settings file, both ways.
    {"status --settings good.conf --no-reverse-motor --reverse-limit",
     "status | ratio 2.5 | 100/75/160/0 | options 010 | dev ''"},
    {"status --settings commented.conf --no-reverse-limit", "status | ratio 2 | 180/75/160/50 | options 000 | dev ''"},
    {"status --reverse-motor --no-reverse-motor", "error: --reverse-motor and --no-reverse-motor contradict"},
    // Comments after a command; a file without one is refused.
    {"run trailing.run --timeout 9",
     "move 45 t9; wait 1s; home right 500 t20; wait-idle t9 | ratio 15 | 180/75/160/50 | options 000 | dev '' seq"},
    {"run empty.run", "error: the run file empty.run has no command"},
    {"run comments.run", "error: the run file comments.run has no command"},
    {"run doctorline.run", "error: doctorline.run line 2: unknown command \"doctor\""},
    // --help and --version after a command too.
    {"move 10 --version", "version"},
    {"status -d 1 --help", "help"},
    {"run missing.run", "error: cannot read the run file missing.run"},
    {"run", "error: run needs FILE"},
    {"run badline.run", "error: badline.run line 3: the position is not a number: \"abc\""},
    {"run unknowncmd.run", "error: unknowncmd.run line 2: unknown command \"fly\""},
    {"run badopt.run", "error: badopt.run line 1: Unknown option 'for'."},
};

void PrintTo(const Case& c, std::ostream* out) { *out << '"' << c.arguments << '"'; }

class CommandLine : public ::testing::TestWithParam<Case> {};

TEST_P(CommandLine, ReadsAsExpected)
{
    QStringList arguments{QStringLiteral("kvx340ctl")};
    for (const QString& word : QString::fromUtf8(GetParam().arguments).split(QLatin1Char(' '), Qt::SkipEmptyParts))
        arguments << QString(word).replace(QLatin1Char('~'), QLatin1Char(' '));
    const QString got = describe(parseCommandLine(arguments, fakeRead));
    const QString expected = QString::fromUtf8(GetParam().expected);
    if (expected.startsWith(QLatin1String("error: ")))
        EXPECT_TRUE(got.startsWith(expected)) << got.toStdString();
    else
        EXPECT_EQ(got.toStdString(), expected.toStdString());
}

// The usage line names the program, not the path it was started by; a
// command's own options come before the general ones.
TEST(CommandLineHelp, NamesTheProgramAndListsTheCommandsOwnOptionsFirst)
{
    const Parsed help = parseCommandLine({QStringLiteral("/build/app/kvx340ctl"), QStringLiteral("move"),
                                          QStringLiteral("--help")});
    ASSERT_EQ(help.kind, Parsed::Kind::Help);
    EXPECT_TRUE(help.text.startsWith(QLatin1String("Usage: kvx340ctl "))) << help.text.toStdString();
    EXPECT_FALSE(help.text.contains(QLatin1String("/build/")));
    EXPECT_LT(help.text.indexOf(QLatin1String("--no-wait")), help.text.indexOf(QLatin1String("--device")));
    const Parsed general = parseCommandLine({QStringLiteral("/build/app/kvx340ctl"), QStringLiteral("--help")});
    EXPECT_TRUE(general.text.startsWith(QLatin1String("Usage: kvx340ctl "))) << general.text.toStdString();
    EXPECT_TRUE(general.text.contains(QLatin1String("  7    home found no switch")));
}

INSTANTIATE_TEST_SUITE_P(Table, CommandLine, ::testing::ValuesIn(Cases),
                         [](const ::testing::TestParamInfo<Case>& info) { return std::to_string(info.index); });

} // namespace
