// The real kvx340ctl on the simulator's library, started as a script
// starts it: its output, exit status or signal, and the simulator's call log.
#pragma once

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

namespace kvx::ctltest {

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
inline bool stopBeforeClose(const QStringList& calls)
{
    const qsizetype close = calls.lastIndexOf(QStringLiteral("SI_Close 0"));
    for (qsizetype i = close - 1; i >= 0; --i)
        if (calls[i].startsWith(QLatin1String("SI_Write 0 command ")))
            return (calls[i].mid(19, 2).toInt(nullptr, 16) & 0x02) != 0;
    return false;
}

} // namespace kvx::ctltest
