// kvx340ctl: the axis driven from scripts, on the panel's own frames.
#include "console_interrupts.h"
#include "ctl_options.h"
#include "ctl_session.h"
#include "usb_library_choice.h"

#include <QCoreApplication>
#include <QTextStream>
#include <cstdio>

int main(int argc, char** argv)
{
    kvx::restrictLibrarySearch();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kvx340ctl"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KVX_VERSION));
    QTextStream out(stdout);
    QTextStream err(stderr);

    // Everything is read and checked before any library is loaded.
    const kvx::ctl::Parsed parsed = kvx::ctl::parseCommandLine(QCoreApplication::arguments());
    switch (parsed.kind) {
    case kvx::ctl::Parsed::Kind::Help:
        out << parsed.text;
        return kvx::ctl::ExitStatus::Done;
    case kvx::ctl::Parsed::Kind::Version:
        out << "kvx340ctl " << QCoreApplication::applicationVersion() << '\n';
        return kvx::ctl::ExitStatus::Done;
    case kvx::ctl::Parsed::Kind::Error:
        err << "kvx340ctl: " << parsed.text << '\n';
        return kvx::ctl::ExitStatus::Usage;
    case kvx::ctl::Parsed::Kind::Run:
        break;
    }

    const auto link = parsed.request.simulator ? kvx::simulatorUsbLibrary(QCoreApplication::applicationDirPath())
                                               : kvx::hardwareUsbLibrary(QCoreApplication::applicationDirPath());
    kvx::ctl::ConsoleInterrupts interrupts;
    kvx::ctl::Session session(*link, parsed.request, out, err);
    QObject::connect(&interrupts, &kvx::ctl::ConsoleInterrupts::interrupted, &session,
                     &kvx::ctl::Session::interrupt);
    QObject::connect(&session, &kvx::ctl::Session::finished, &app, [&interrupts](int status) {
        interrupts.programEnded();
        QCoreApplication::exit(status);
    });
    if (!session.start())
        return session.exitStatus();
    return app.exec();
}
