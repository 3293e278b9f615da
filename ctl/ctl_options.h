// Reads kvx340ctl's command line, its settings file and its run files into a
// Request, or into the one line that says what was wrong.
#pragma once

#include "ctl_request.h"

#include <QStringList>
#include <functional>
#include <optional>

namespace kvx::ctl {

struct Parsed {
    enum class Kind { Run, Help, Version, Error } kind = Kind::Error;
    Request request;
    QString text; // Help: the help text; Error: the line naming what was wrong
};

// Reads a file by name ("-" for standard input); false when it cannot be read.
using FileReader = std::function<bool(const QString& name, QByteArray& contents)>;

// Every number kvx340ctl reads, from arguments, options and files: the whole
// text one finite number in the C locale, without group separators, so that
// "1,500" is refused rather than read as 1 or 1500.
std::optional<double> readNumber(const QString& text);

bool readFileOrStdin(const QString& name, QByteArray& contents);

// One command with its own options, as a line of a run file ("move", "5",
// "--relative"), under the settings given: empty, or the refusal the command
// line gives for it.
QString readCommand(const QStringList& words, const Settings& settings, Step& step);

// One setting by its option's name ("max-speed", "ratio", ...): empty, or
// the refusal.
QString changeSetting(Settings& settings, const QString& key, const QString& value);

// arguments[0] is the program's name, as in QCoreApplication::arguments().
Parsed parseCommandLine(const QStringList& arguments, const FileReader& readFile = readFileOrStdin);

} // namespace kvx::ctl
