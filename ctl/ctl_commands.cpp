#include "ctl_commands.h"

#include "exit_status.h"

#include <QRegularExpression>

namespace kvx::ctl {
namespace {

const QString ExitStatuses = QLatin1String(ExitStatusHelp);

} // namespace


const std::vector<CommandEntry>& commandTable()
{
    static const std::vector<CommandEntry> table = {
        {"list", Command::List, "", "List the attached controllers: number and product string.", {}},
        {"status", Command::Status, "", "One exchange; print the position and the six status indicators.", {}},
        {"move", Command::Move, "POSITION",
         "Move to POSITION (or by it, with --relative), in the operator's units, as GO or R pressed "
         "with the mouse; wait until the controller is idle and print the final position.",
         {QStringLiteral("relative"), QStringLiteral("no-wait"), QStringLiteral("timeout")}},
        {"jog", Command::Jog, "SPEED",
         "Jog at SPEED (-10000 to 10000, the jog slider's scale) for --for SECONDS, then STOP and "
         "wait until idle.",
         {QStringLiteral("for"), QStringLiteral("timeout")}},
        {"stop", Command::Stop, "", "STOP, held until the controller reports idle.", {QStringLiteral("timeout")}},
        {"zero", Command::Zero, "", "ZERO (define origin), held for three exchanges.", {}},
        {"wait-idle", Command::WaitIdle, "",
         "Keep exchanging until the controller reports idle, as after move --no-wait.",
         {QStringLiteral("timeout")}},
        {"home", Command::Home, "left|right",
         "Jog toward that limit switch until it reports active, STOP, leave the switch slowly until it "
         "clears, STOP, then ZERO there; print the position where the switch cleared.",
         {QStringLiteral("speed"), QStringLiteral("timeout")}},
        {"watch", Command::Watch, "",
         "Print one line per exchange (every 30 ms): milliseconds since the start, the position, the "
         "six status bits; until --for SECONDS have passed or the program is interrupted.",
         {QStringLiteral("for"), QStringLiteral("format")}},
        {"doctor", Command::Doctor, "",
         "Check the controllers, their device files, driver and library, one line each with the fix; "
         "one status exchange with each, never a motion.",
         {}},
        {"run", Command::Status, "FILE",
         "Run the commands of FILE (- for standard input), one per line, on one open controller; "
         "also `wait SECONDS`, and # comments.",
         {QStringLiteral("timeout")}},
        {"serve", Command::Serve, "",
         "Hold the controller open and take JSON-RPC 2.0 requests, one a line, on standard input; answers "
         "and readings, one JSON object a line, on standard output. STOP and the close however it ends. "
         "kvx340ctl(1) describes the methods.",
         {}},
        {"wait", Command::Wait, "SECONDS", "In a run file only: keep exchanging for SECONDS.", {}},
    };
    return table;
}

bool runsInAFile(const CommandEntry& command)
{
    return command.name != QLatin1String("run") && command.command != Command::Doctor
           && command.command != Command::Serve;
}

const CommandEntry* findCommand(const QString& name)
{
    for (const CommandEntry& command : commandTable())
        if (name == QLatin1String(command.name))
            return &command;
    return nullptr;
}

QList<QCommandLineOption> globalOptions()
{
    return {
        {{QStringLiteral("d"), QStringLiteral("device")},
         QStringLiteral("The controller: its number, or its product string."), QStringLiteral("N|TEXT")},
        {QStringLiteral("simulator"), QStringLiteral("Drive the simulated controllers, as kvx340-sim does.")},
        {QStringLiteral("json"), QStringLiteral("Print JSON: one object per command, JSON lines for watch.")},
        {QStringLiteral("settings"), QStringLiteral("Read settings (key=value lines) from FILE; options win."),
         QStringLiteral("FILE")},
        {QStringLiteral("ratio"), QStringLiteral("Gear ratio, motor steps per unit (at least 0.01; 15)."),
         QStringLiteral("RATIO")},
        {QStringLiteral("reverse-motor"), QStringLiteral("Reverse Motor Direction.")},
        {QStringLiteral("no-reverse-motor"), QStringLiteral("Not so, whatever the settings file says.")},
        {QStringLiteral("reverse-limit"), QStringLiteral("Reverse Limit Switch.")},
        {QStringLiteral("no-reverse-limit"), QStringLiteral("Not so, whatever the settings file says.")},
        {QStringLiteral("limit-active-high"), QStringLiteral("Limit Switch Active on HI.")},
        {QStringLiteral("no-limit-active-high"), QStringLiteral("Not so, whatever the settings file says.")},
        {QStringLiteral("max-speed"), QStringLiteral("Maximal speed, 0 to 255 (180)."), QStringLiteral("N")},
        {QStringLiteral("acceleration"), QStringLiteral("Acceleration/deceleration, 0 to 255 (75)."),
         QStringLiteral("N")},
        {QStringLiteral("amplitude"), QStringLiteral("Motor current amplitude, 0 to 255 (160)."),
         QStringLiteral("N")},
        {QStringLiteral("idle-percent"), QStringLiteral("% of amplitude when idle, 0 to 100 (50)."),
         QStringLiteral("N")},
    };
}

QCommandLineOption commandOption(const QString& name)
{
    if (name == QLatin1String("relative"))
        return {name, QStringLiteral("POSITION is a distance from where the axis stands (R).")};
    if (name == QLatin1String("no-wait"))
        return {name, QStringLiteral("Return once the move has started.")};
    if (name == QLatin1String("for"))
        return {name, QStringLiteral("How long, in seconds (at most 604800, a week)."), QStringLiteral("SECONDS")};
    if (name == QLatin1String("timeout"))
        return {name,
                QStringLiteral("Give up waiting for the axis after SECONDS (at most 604800): STOP, the close, "
                               "exit status 6 (7 for home, whose default is 300)."),
                QStringLiteral("SECONDS")};
    if (name == QLatin1String("speed"))
        return {name, QStringLiteral("The seek speed, 1 to 10000 on the jog slider's scale (3000)."),
                QStringLiteral("N")};
    return {name, QStringLiteral("Output format: csv or jsonl (text by default)."), QStringLiteral("csv|jsonl")};
}

QStringList allCommandOptionNames()
{
    QStringList names;
    for (const CommandEntry& command : commandTable())
        for (const QString& name : command.options)
            if (!names.contains(name))
                names << name;
    return names;
}

// Whether an argument is an option that takes the next one as its value.
bool takesValue(const QString& argument)
{
    QList<QCommandLineOption> options = globalOptions();
    for (const QString& name : allCommandOptionNames())
        options << commandOption(name);
    for (const QCommandLineOption& option : options)
        if (!option.valueName().isEmpty())
            for (const QString& name : option.names())
                if (argument == (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name)
                    return true;
    return false;
}

QStringList protectNegativeNumbers(const QStringList& arguments)
{
    static const QRegularExpression negative(QStringLiteral("^-[0-9.]"));
    QStringList kept, numbers;
    bool rest = false;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (rest) {
            numbers << argument;
            continue;
        }
        if (argument == QLatin1String("--")) {
            rest = true;
            continue;
        }
        if (i > 0 && negative.match(argument).hasMatch() && !takesValue(arguments[i - 1]))
            numbers << argument;
        else
            kept << argument;
    }
    if (!numbers.isEmpty())
        kept << QStringLiteral("--") << numbers;
    return kept;
}

void addCommandOptions(QCommandLineParser& parser, const QStringList& names)
{
    for (const QString& name : names)
        parser.addOption(commandOption(name));
}

QString helpText(const QCommandLineParser& parser)
{
    static const QRegularExpression usage(QStringLiteral("^Usage: \\S+"));
    return parser.helpText().replace(usage, QStringLiteral("Usage: kvx340ctl"));
}

QString generalHelp(const QCommandLineParser& parser)
{
    QString text = helpText(parser);
    text += QStringLiteral("\nCommands:\n");
    for (const CommandEntry& command : commandTable())
        if (command.command != Command::Wait)
            text += QStringLiteral("  %1 %2\n      %3\n")
                        .arg(QLatin1String(command.name), QLatin1String(command.syntax), QLatin1String(command.summary));
    text += QStringLiteral("\n`kvx340ctl COMMAND --help` describes one command.\n\n") + ExitStatuses;
    return text;
}

} // namespace kvx::ctl
