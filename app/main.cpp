// The program. Both editions are built from this file and differ only in the
// USB library they bind: the vendor's, or the simulated controllers.
#include "program.h"
#include "program_icon.h"
#include "simulator_location.h"
#include "usb_library.h"

#include <QApplication>
#include <QSessionManager>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include "termination_signals.h"
#endif

int main(int argc, char** argv)
{
#ifdef Q_OS_WIN
    // Libraries come from the program's folder and the system folder only,
    // never from the current folder or PATH, where a planted SiUSBXp.dll
    // would otherwise run inside the program.
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
#endif
    QApplication app(argc, argv);
    // The name alone: a display name would be appended to every window title.
    QApplication::setApplicationName(QStringLiteral("KVX-340"));
    QApplication::setWindowIcon(kvx::programIcon());

#ifdef KVX_SIMULATOR_EDITION
    kvx::UsbLibrary link(kvx::simulatorLibraryPath(QCoreApplication::applicationDirPath()),
                         QStringLiteral("kvx340sim"), kvx::LibrarySource::Simulator);
#else
    const kvx::LibraryChoice usb = kvx::hardwareLibrary(QCoreApplication::applicationDirPath());
    kvx::UsbLibrary link(usb.name, usb.displayName, usb.source);
#endif

    kvx::Program program(link);
    // The desktop session ends (a logoff, a shutdown): end as a signal does,
    // closing an open controller, before the session takes the program down.
    const auto endWithSession = [&program] {
        if (!program.ended())
            program.endOnSignal();
    };
    QObject::connect(&app, &QGuiApplication::commitDataRequest, endWithSession);
    QObject::connect(&app, &QCoreApplication::aboutToQuit, endWithSession);
#ifndef Q_OS_WIN
    kvx::TerminationSignals termination;
    QObject::connect(&termination, &kvx::TerminationSignals::received, [&program] { program.endOnSignal(); });
#endif
    if (!program.start())
        return program.exitCode();
    return app.exec();
}
