#include "ctl_options.h"

#include "exit_status.h"
#include "motion_commands.h"
#include "ratio.h"

#include <QCommandLineParser>
#include <QFile>
#include <QLocale>
#include <QRegularExpression>
#include <functional>
#include <cmath>
#include <optional>

namespace kvx::ctl {
namespace {

constexpr int MaxJogSpeed = 10000;

const QString ExitStatuses = QLatin1String(ExitStatusHelp);

// home's seek speed unless --speed says otherwise.
constexpr int DefaultHomeSpeed = 3000;

struct CommandEntry {
    const char* name;
    Command command;
    const char* syntax;
    const char* summary;
    QStringList options; // names of the command's own options
};

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

// run, doctor and serve stand alone; wait only in a run file.
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

// "-5" is a position or a speed, not an option: such arguments go after
// "--", where the parser takes them as they are. Values of options stay.
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

std::optional<int> integer(const QString& text)
{
    const auto value = readNumber(text);
    if (!value || *value != std::trunc(*value) || std::abs(*value) > 1e9)
        return std::nullopt;
    return int(*value);
}

// A span of time in seconds: a number from 0 (or above it) to MaxSeconds.
QString readSeconds(const QString& what, const QString& text, bool zeroAllowed, double& seconds)
{
    const auto value = readNumber(text);
    if (!value || *value < 0 || (*value == 0 && !zeroAllowed) || *value > MaxSeconds)
        return QStringLiteral("%1 must be a number of seconds %2 604800, not \"%3\"")
            .arg(what, zeroAllowed ? QStringLiteral("from 0 to") : QStringLiteral("above 0, at most"), text);
    seconds = *value;
    return {};
}

std::optional<bool> yesNo(const QString& text)
{
    const QString word = text.trimmed().toLower();
    if (word == QLatin1String("1") || word == QLatin1String("true") || word == QLatin1String("yes")
        || word == QLatin1String("on"))
        return true;
    if (word == QLatin1String("0") || word == QLatin1String("false") || word == QLatin1String("no")
        || word == QLatin1String("off"))
        return false;
    return std::nullopt;
}

// Sets one setting; the error text when the key or its value is wrong.
QString applySetting(Settings& settings, const QString& key, const QString& value)
{
    const auto inRange = [&](int& slider, int maximum) -> QString {
        const auto read = integer(value);
        if (!read || *read < 0 || *read > maximum)
            return QStringLiteral("%1 must be a whole number from 0 to %2, not \"%3\"").arg(key).arg(maximum).arg(value);
        slider = *read;
        return {};
    };
    const auto flag = [&](bool& option) -> QString {
        const auto read = yesNo(value);
        if (!read)
            return QStringLiteral("%1 must be yes or no, not \"%2\"").arg(key, value);
        option = *read;
        return {};
    };
    if (key == QLatin1String("ratio")) {
        const auto read = readNumber(value);
        if (!read)
            return QStringLiteral("ratio is not a number: \"%1\"").arg(value);
        if (*read < MinimumRatio)
            return QStringLiteral("ratio must be at least 0.01, not %1").arg(value);
        settings.demultiplication = *read;
        return {};
    }
    if (key == QLatin1String("reverse-motor"))
        return flag(settings.reverseMotor);
    if (key == QLatin1String("reverse-limit"))
        return flag(settings.reverseLimit);
    if (key == QLatin1String("limit-active-high"))
        return flag(settings.limitActiveHigh);
    if (key == QLatin1String("max-speed"))
        return inRange(settings.sliders.Slider2, 255);
    if (key == QLatin1String("acceleration"))
        return inRange(settings.sliders.Slider3, 255);
    if (key == QLatin1String("amplitude"))
        return inRange(settings.sliders.Slider4, 255);
    if (key == QLatin1String("idle-percent"))
        return inRange(settings.sliders.Slider5, 100);
    return QStringLiteral("unknown setting \"%1\"").arg(key);
}

// Reads a file of lines, skipping blank ones and # comments, whole lines or
// after a command; read gets each other line, trimmed, with its number. The
// first error, prefixed with the file's name and the line's number.
QString readLines(const QString& name, const char* what, const FileReader& readFile,
                  const std::function<QString(const QString& line, int number)>& read)
{
    QByteArray contents;
    if (!readFile(name, contents))
        return QStringLiteral("cannot read the %1 file %2").arg(QLatin1String(what), name);
    const QStringList lines = QString::fromUtf8(contents).split(QLatin1Char('\n'));
    for (int i = 0; i < lines.size(); ++i) {
        const QString line = lines[i].section(QLatin1Char('#'), 0, 0).trimmed();
        if (line.isEmpty())
            continue;
        const QString error = read(line, i + 1);
        if (!error.isEmpty())
            return QStringLiteral("%1 line %2: ").arg(name).arg(i + 1) + error;
    }
    return {};
}

QString readSettingsFile(Settings& settings, const QString& name, const FileReader& readFile)
{
    return readLines(name, "settings", readFile, [&settings](const QString& line, int) {
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals < 0)
            return QStringLiteral("not a key=value line");
        return applySetting(settings, line.left(equals).trimmed(), line.mid(equals + 1).trimmed());
    });
}

void addCommandOptions(QCommandLineParser& parser, const QStringList& names)
{
    for (const QString& name : names)
        parser.addOption(commandOption(name));
}

// The step of one command, from its words and its own options.
QString readStep(Step& step, const CommandEntry& command, const QCommandLineParser& parser, const QStringList& words,
                 const Settings& settings)
{
    step.command = command.command;
    const bool wantsArgument = *command.syntax != '\0';
    if (words.size() != (wantsArgument ? 1 : 0))
        return wantsArgument ? QStringLiteral("%1 needs %2").arg(QLatin1String(command.name), QLatin1String(command.syntax))
                             : QStringLiteral("%1 takes no argument").arg(QLatin1String(command.name));
    const QString value = wantsArgument ? words[0] : QString();
    const auto option = [&](const char* name) { return parser.value(QLatin1String(name)); };
    const auto isSet = [&](const char* name) {
        return command.options.contains(QLatin1String(name)) && parser.isSet(QLatin1String(name));
    };
    const auto seconds = [&](bool required) -> QString {
        if (!isSet("for"))
            return required ? QStringLiteral("%1 needs --for SECONDS").arg(QLatin1String(command.name)) : QString();
        return readSeconds(QStringLiteral("--for"), option("for"), false, step.seconds);
    };
    if (isSet("timeout")) {
        const QString error = readSeconds(QStringLiteral("--timeout"), option("timeout"), false, step.timeout);
        if (!error.isEmpty())
            return error;
    }
    switch (command.command) {
    case Command::Move: {
        step.relative = isSet("relative");
        step.noWait = isSet("no-wait");
        const auto typed = readNumber(value);
        if (!typed)
            return QStringLiteral("the position is not a number: \"%1\"").arg(value);
        // The panel's entry rule on the number read here, not on the text.
        const auto entry = readPositionEntry(QString::number(*typed, 'g', 17), settings.demultiplication);
        if (!entry)
            return positionOutOfRangeMessage(settings.demultiplication);
        step.positionText = entry->text;
        step.targetPosition = entry->targetPosition;
        return {};
    }
    case Command::Jog: {
        const auto speed = integer(value);
        if (!speed || *speed < -MaxJogSpeed || *speed > MaxJogSpeed)
            return QStringLiteral("the jog speed must be a whole number from -10000 to 10000, not \"%1\"").arg(value);
        step.jogSpeed = *speed;
        return seconds(true);
    }
    case Command::Home: {
        if (value == QLatin1String("left"))
            step.side = HomeSide::Left;
        else if (value == QLatin1String("right"))
            step.side = HomeSide::Right;
        else
            return QStringLiteral("home needs left or right, not \"%1\"").arg(value);
        step.jogSpeed = DefaultHomeSpeed;
        if (isSet("speed")) {
            const auto speed = integer(option("speed"));
            if (!speed || *speed < 1 || *speed > MaxJogSpeed)
                return QStringLiteral("--speed must be a whole number from 1 to 10000, not \"%1\"").arg(option("speed"));
            step.jogSpeed = *speed;
        }
        return {};
    }
    case Command::Watch:
        if (isSet("format")) {
            const QString format = option("format");
            if (format == QLatin1String("csv"))
                step.format = WatchFormat::Csv;
            else if (format == QLatin1String("jsonl"))
                step.format = WatchFormat::Jsonl;
            else
                return QStringLiteral("--format must be csv or jsonl, not \"%1\"").arg(format);
        }
        return seconds(false);
    case Command::Wait:
        return readSeconds(QStringLiteral("wait"), value, true, step.seconds);
    default:
        return {};
    }
}

// One command and its own options, as a line of a run file has them.
QString readCommandWords(const QStringList& words, const Settings& settings, Step& step)
{
    const CommandEntry* command = findCommand(words[0]);
    if (!command || !runsInAFile(*command))
        return QStringLiteral("unknown command \"%1\"").arg(words[0]);
    QCommandLineParser parser;
    addCommandOptions(parser, command->options);
    if (!parser.parse(protectNegativeNumbers(QStringList{QStringLiteral("run")} + words)))
        return parser.errorText();
    return readStep(step, *command, parser, parser.positionalArguments().mid(1), settings);
}

QString readRunFile(Request& request, const QString& name, const FileReader& readFile)
{
    static const QRegularExpression blanks(QStringLiteral("\\s+"));
    const QString error = readLines(name, "run", readFile, [&request](const QString& line, int number) {
        Step step;
        step.line = number;
        const QString error = readCommandWords(line.split(blanks, Qt::SkipEmptyParts), request.settings, step);
        if (error.isEmpty())
            request.steps.push_back(step);
        return error;
    });
    if (error.isEmpty() && request.steps.empty())
        return QStringLiteral("the run file %1 has no command").arg(name);
    return error;
}

// The parser's help, its usage line naming the program rather than the path
// it was started by.
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

Parsed failed(const QString& text) { return {Parsed::Kind::Error, {}, text}; }

// A motion the settings cannot carry out would wait for good.
QString motionRefusal(const Request& request)
{
    const SliderValues& sliders = request.settings.sliders;
    for (const Step& step : request.steps) {
        if (!movesTheAxis(step.command) || step.command == Command::Stop || step.command == Command::WaitIdle)
            continue;
        if (sliders.Slider2 == 0)
            return QStringLiteral("max-speed 0 cannot move the axis");
        if (sliders.Slider4 == 0)
            return QStringLiteral("amplitude 0 cannot move the axis");
        // Such a jog cannot end but by its time-out.
        if (step.command == Command::Jog && step.timeout >= 0 && step.seconds > step.timeout)
            return QStringLiteral("jog --for %1 can only time out after --timeout %2").arg(step.seconds).arg(step.timeout);
    }
    return {};
}

} // namespace

QString readCommand(const QStringList& words, const Settings& settings, Step& step)
{
    const QString error = readCommandWords(words, settings, step);
    if (!error.isEmpty())
        return error;
    Request request;
    request.settings = settings;
    request.steps.push_back(step);
    return motionRefusal(request);
}

QString changeSetting(Settings& settings, const QString& key, const QString& value)
{
    return applySetting(settings, key, value);
}

std::optional<double> readNumber(const QString& text)
{
    QLocale c = QLocale::c();
    c.setNumberOptions(QLocale::RejectGroupSeparator);
    bool ok = false;
    const double value = c.toDouble(text.trimmed(), &ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

bool readFileOrStdin(const QString& name, QByteArray& contents)
{
    QFile file(name);
    const bool opened = name == QLatin1String("-") ? file.open(stdin, QIODevice::ReadOnly)
                                                   : file.open(QIODevice::ReadOnly);
    if (!opened)
        return false;
    contents = file.readAll();
    return file.error() == QFileDevice::NoError;
}

Parsed parseCommandLine(const QStringList& arguments, const FileReader& readFile)
{
    const QStringList protectedArguments = protectNegativeNumbers(arguments);
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show this help."));
    const QCommandLineOption version(QStringLiteral("version"), QStringLiteral("Show the version."));

    // The options every command takes; each command's own come with its help.
    const auto general = [&](QCommandLineParser& parser) {
        parser.addOptions(globalOptions());
        parser.addOption(help);
        parser.addOption(version);
        parser.setApplicationDescription(QStringLiteral("Drive a KVX-340 stepper motor controller from scripts."));
        parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("What to do; see Commands below."),
                                     QStringLiteral("COMMAND [ARGUMENT]"));
    };

    // First pass: which command, with every option any command knows.
    QCommandLineParser first;
    general(first);
    addCommandOptions(first, allCommandOptionNames());
    if (!first.parse(protectedArguments))
        return failed(first.errorText());
    if (first.isSet(version))
        return {Parsed::Kind::Version, {}, {}};
    if (first.positionalArguments().isEmpty()) {
        if (first.isSet(help)) {
            QCommandLineParser generalOnly;
            general(generalOnly);
            return {Parsed::Kind::Help, {}, generalHelp(generalOnly)};
        }
        return failed(QStringLiteral("no command given; see kvx340ctl --help"));
    }
    const QString name = first.positionalArguments().constFirst();
    const CommandEntry* command = findCommand(name);
    if (!command || command->command == Command::Wait)
        return failed(QStringLiteral("unknown command \"%1\"; see kvx340ctl --help").arg(name));

    // Second pass: the command's own options, listed first in its help.
    QCommandLineParser parser;
    addCommandOptions(parser, command->options);
    parser.addOptions(globalOptions());
    parser.addOption(help);
    parser.addOption(version);
    parser.setApplicationDescription(QLatin1String(command->summary));
    parser.addPositionalArgument(QLatin1String(command->name), QStringLiteral("The command."));
    if (*command->syntax)
        parser.addPositionalArgument(QLatin1String(command->syntax), QStringLiteral("Its argument."));
    if (!parser.parse(protectedArguments))
        return failed(QStringLiteral("%1: %2").arg(name, parser.errorText()));
    if (parser.isSet(help))
        return {Parsed::Kind::Help, {}, helpText(parser) + QLatin1Char('\n') + ExitStatuses};

    Parsed parsed;
    Request& request = parsed.request;
    request.simulator = parser.isSet(QStringLiteral("simulator"));
    request.json = parser.isSet(QStringLiteral("json"));
    request.device = parser.value(QStringLiteral("device"));
    if (parser.isSet(QStringLiteral("settings"))) {
        const QString error = readSettingsFile(request.settings, parser.value(QStringLiteral("settings")), readFile);
        if (!error.isEmpty())
            return failed(error);
    }
    // Options win over the file, in both directions.
    for (const char* key : {"ratio", "max-speed", "acceleration", "amplitude", "idle-percent"}) {
        const QString option = QLatin1String(key);
        if (!parser.isSet(option))
            continue;
        const QString error = applySetting(request.settings, option, parser.value(option));
        if (!error.isEmpty())
            return failed(error);
    }
    for (const char* key : {"reverse-motor", "reverse-limit", "limit-active-high"}) {
        const QString on = QLatin1String(key), off = QStringLiteral("no-") + on;
        if (parser.isSet(on) && parser.isSet(off))
            return failed(QStringLiteral("--%1 and --%2 contradict each other").arg(on, off));
        if (parser.isSet(on) || parser.isSet(off))
            applySetting(request.settings, on, parser.isSet(on) ? QStringLiteral("yes") : QStringLiteral("no"));
    }

    const QStringList words = parser.positionalArguments().mid(1);
    if (command->name == QLatin1String("run")) {
        if (words.size() != 1)
            return failed(QStringLiteral("run needs FILE"));
        request.sequence = true;
        const QString error = readRunFile(request, words[0], readFile);
        if (!error.isEmpty())
            return failed(error);
        // --timeout on the command line: for every line that waits for the
        // axis and names none of its own.
        if (parser.isSet(QStringLiteral("timeout"))) {
            double timeout = -1;
            const QString timeoutError =
                readSeconds(QStringLiteral("--timeout"), parser.value(QStringLiteral("timeout")), false, timeout);
            if (!timeoutError.isEmpty())
                return failed(timeoutError);
            for (Step& step : request.steps)
                if (movesTheAxis(step.command) && step.timeout < 0)
                    step.timeout = timeout;
        }
    } else {
        Step step;
        const QString error = readStep(step, *command, parser, words, request.settings);
        if (!error.isEmpty())
            return failed(error);
        request.steps.push_back(step);
    }
    const QString refusal = motionRefusal(request);
    if (!refusal.isEmpty())
        return failed(refusal);
    parsed.kind = Parsed::Kind::Run;
    return parsed;
}

} // namespace kvx::ctl
