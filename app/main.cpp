// The program. Both editions are built from this file and differ only in the
// USB library they bind: the vendor's, or the simulated controllers.
#include "program.h"
#include "program_icon.h"
#include "termination_signals.h"
#include "usb_library.h"
#ifdef KVX_SIMULATOR_EDITION
#include "simulator_location.h"
#endif

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    // The name alone: a display name would be appended to every window title.
    QApplication::setApplicationName(QStringLiteral("KVX-340"));
    QApplication::setWindowIcon(kvx::programIcon());

#ifdef KVX_SIMULATOR_EDITION
    kvx::UsbLibrary link(kvx::simulatorLibraryPath(QCoreApplication::applicationDirPath()),
                         QStringLiteral("kvx340sim"), kvx::LibrarySource::Simulator);
#else
    kvx::UsbLibrary link(QStringLiteral("SiUSBXp"));
#endif

    kvx::Program program(link);
    kvx::TerminationSignals termination;
    QObject::connect(&termination, &kvx::TerminationSignals::received, [&program] { program.endOnSignal(); });
    if (!program.start())
        return program.exitCode();
    return app.exec();
}
