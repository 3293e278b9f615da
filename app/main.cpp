// The program. Both editions are built from this file and differ only in the
// USB library they bind: the hardware's transport, or the simulated controllers'.
#include "program.h"
#include "program_icon.h"
#include "usb_library_choice.h"

#include <QApplication>

#ifndef Q_OS_WIN
#include "termination_signals.h"
#endif

int main(int argc, char** argv)
{
    kvx::restrictLibrarySearch();
    QApplication app(argc, argv);
    // The name alone: a display name would be appended to every window title.
    QApplication::setApplicationName(QStringLiteral("KVX-340"));
    QApplication::setWindowIcon(kvx::programIcon());

#ifdef KVX_SIMULATOR_EDITION
    const auto link = kvx::simulatorUsbLibrary(QCoreApplication::applicationDirPath());
#else
    const auto link = kvx::hardwareUsbLibrary(QCoreApplication::applicationDirPath());
#endif

    kvx::Program program(*link);
    program.followSessionEnd();
#ifndef Q_OS_WIN
    kvx::TerminationSignals termination;
    QObject::connect(&termination, &kvx::TerminationSignals::received, [&program] { program.endOnSignal(); });
#endif
    if (!program.start())
        return program.exitCode();
    return app.exec();
}
