// kvx340ctl's commands and options as the parser and the help know them:
// each command's name, argument, summary and own options.
#pragma once

#include "drive_step.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QList>
#include <QStringList>
#include <vector>

namespace kvx::ctl {

struct CommandEntry {
    const char* name;
    Command command;
    const char* syntax;
    const char* summary;
    QStringList options; // names of the command's own options
};

const std::vector<CommandEntry>& commandTable();
const CommandEntry* findCommand(const QString& name);
// run, doctor and serve stand alone; wait only in a run file.
bool runsInAFile(const CommandEntry& command);

QList<QCommandLineOption> globalOptions();
QCommandLineOption commandOption(const QString& name);
QStringList allCommandOptionNames();
void addCommandOptions(QCommandLineParser& parser, const QStringList& names);

// "-5" is a position or a speed, not an option: such arguments go after
// "--", where the parser takes them as they are. Values of options stay.
QStringList protectNegativeNumbers(const QStringList& arguments);

// The parser's help, its usage line naming the program rather than the path
// it was started by; and the general help with the commands and statuses.
QString helpText(const QCommandLineParser& parser);
QString generalHelp(const QCommandLineParser& parser);

} // namespace kvx::ctl
