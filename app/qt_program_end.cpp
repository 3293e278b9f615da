#include "qt_program_end.h"

#include "program_message.h"

#include <QCoreApplication>
#include <QThread>
#include <cstdio>

namespace kvx {

void QtProgramEnd::abortWith(const QString& message)
{
    // Set before the box opens: ticks and handlers that reach us while it is
    // open must already return at once.
    ending_ = true;
    messageOpen_ = true;
    // Also on the standard error stream, where a terminal, the journal or a
    // log keeps it: the box is gone once it is closed.
    std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
    std::fflush(stderr);
    showProgramMessage(message);
    messageOpen_ = false;
    finish(1);
}

void QtProgramEnd::closeMessage()
{
    // Leaves every event loop, the message box's included.
    if (messageOpen_)
        QCoreApplication::exit(1);
}

void QtProgramEnd::endNow()
{
    ending_ = true;
    finish(0);
}

void QtProgramEnd::finish(int code)
{
    exitCode_ = code;
    // Leaves the event loop if one runs. Before it runs, the caller sees
    // isEnding() and never enters it; exiting then would also make every
    // later modal box return at once.
    if (QThread::currentThread()->loopLevel() > 0)
        QCoreApplication::exit(code);
}

} // namespace kvx
