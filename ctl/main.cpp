// kvx340ctl: the axis driven from scripts, on the panel's own frames.
#include "console_interrupts.h"
#include "ctl_options.h"
#include "ctl_session.h"
#include "doctor.h"
#include "serve_session.h"
#include "usb_library_choice.h"

#include <QCoreApplication>
#include <QTextStream>
#include <cstdio>

#include <cerrno>
#ifndef Q_OS_WIN
#include "termination_signals.h"
#include <csignal>
#endif

namespace {

#ifndef Q_OS_WIN
bool endByBrokenPipe = false;
#endif

// Output that went nowhere: with SIGPIPE at its default when the program
// started, a vanished reader ends it by SIGPIPE, as every command ends then.
int endAfterOutputFailure(int error)
{
#ifndef Q_OS_WIN
    if (error == EPIPE && endByBrokenPipe)
        kvx::endBySignal(SIGPIPE);
#else
    Q_UNUSED(error);
#endif
    return kvx::ctl::ExitStatus::OutputFailed;
}

int printed(QTextStream& stream, int status)
{
    stream.flush();
    const int error = errno;
    return stream.status() == QTextStream::Ok ? status : endAfterOutputFailure(error);
}

// Runs a session to its end, on the event loop, with Ctrl+C, SIGTERM and a
// closed console as its interruptions; then ends as the session says: by
// the signal that interrupted it, by SIGPIPE, or with its exit status.
template <typename SessionType> int runToTheEnd(QCoreApplication& app, SessionType& session)
{
    int signalNumber = 0;
    int status = kvx::ctl::ExitStatus::Done;
    {
        kvx::ctl::ConsoleInterrupts interrupts;
        QObject::connect(&interrupts, &kvx::ctl::ConsoleInterrupts::interrupted, &session, [&](int exitStatus) {
            if (!session.ended() && signalNumber == 0)
                signalNumber = exitStatus - 128;
            session.interrupt(exitStatus);
        });
        QObject::connect(&session, &SessionType::finished, &app, [&interrupts](int exitStatus) {
            interrupts.programEnded();
            QCoreApplication::exit(exitStatus);
        });
        status = session.start() ? app.exec() : session.exitStatus();
        if (session.exitStatus() != 128 + signalNumber)
            signalNumber = 0;
        // The handlers go with `interrupts`: the signals have their old
        // actions back before the program ends by one of them.
    }
#ifndef Q_OS_WIN
    if (signalNumber != 0)
        kvx::endBySignal(signalNumber);
#else
    Q_UNUSED(signalNumber);
#endif
    if (session.outputFailed())
        endAfterOutputFailure(session.outputError());
    return status;
}

} // namespace

int main(int argc, char** argv)
{
    using namespace kvx::ctl;
    kvx::restrictLibrarySearch();
#ifndef Q_OS_WIN
    endByBrokenPipe = kvx::takeBrokenPipesAsErrors();
#endif
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kvx340ctl"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KVX_VERSION));
    QTextStream out(stdout);
    QTextStream err(stderr);

    // Everything is read and checked before any library is loaded.
    const Parsed parsed = parseCommandLine(QCoreApplication::arguments());
    switch (parsed.kind) {
    case Parsed::Kind::Help:
        out << parsed.text;
        return printed(out, ExitStatus::Done);
    case Parsed::Kind::Version:
        out << "kvx340ctl " << QCoreApplication::applicationVersion() << '\n';
        return printed(out, ExitStatus::Done);
    case Parsed::Kind::Error:
        err << "kvx340ctl: " << parsed.text << '\n';
        return printed(err, ExitStatus::Usage);
    case Parsed::Kind::Run:
        break;
    }

    const Request& request = parsed.request;
    const QString appDir = QCoreApplication::applicationDirPath();
    if (request.steps.front().command == Command::Doctor) {
        DoctorRequest doctor;
        doctor.json = request.json;
        doctor.device = request.device;
        doctor.simulator = request.simulator;
        doctor.appDir = appDir;
        return printed(out, runDoctor(doctor, out, err));
    }

    const auto link = request.simulator ? kvx::simulatorUsbLibrary(appDir) : kvx::hardwareUsbLibrary(appDir);
    if (request.steps.front().command == Command::Serve) {
        ServeSession session(*link, request, err);
        return runToTheEnd(app, session);
    }
    Session session(*link, request, out, err);
    return runToTheEnd(app, session);
}
