#include "console_interrupts.h"

#ifdef Q_OS_WIN
#include <QMetaObject>
#include <windows.h>
#else
#include "termination_signals.h"
#include <csignal>
#endif

namespace kvx::ctl {

#ifdef Q_OS_WIN
namespace {

ConsoleInterrupts* receiver = nullptr;
HANDLE endedEvent = nullptr;
// Windows allows a closing console's handler about 5 s.
constexpr DWORD CloseWaitMs = 4500;

BOOL WINAPI onConsoleEvent(DWORD event)
{
    const bool closing = event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT;
    const int status = event == CTRL_C_EVENT ? InterruptStatus::Interrupt
                       : closing             ? InterruptStatus::Hangup
                                             : InterruptStatus::Terminate;
    // Called on a thread of its own: the ending runs on the event loop.
    QMetaObject::invokeMethod(receiver, [status] { emit receiver->interrupted(status); }, Qt::QueuedConnection);
    if (closing)
        WaitForSingleObject(endedEvent, CloseWaitMs);
    return TRUE;
}

} // namespace

ConsoleInterrupts::ConsoleInterrupts(QObject* parent) : QObject(parent)
{
    receiver = this;
    endedEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

ConsoleInterrupts::~ConsoleInterrupts()
{
    SetConsoleCtrlHandler(onConsoleEvent, FALSE);
    programEnded();
}

void ConsoleInterrupts::programEnded()
{
    if (endedEvent)
        SetEvent(endedEvent);
}

#else

ConsoleInterrupts::ConsoleInterrupts(QObject* parent) : QObject(parent)
{
    auto* termination = new TerminationSignals(this);
    connect(termination, &TerminationSignals::received, this,
            [this](int signalNumber) { emit interrupted(128 + signalNumber); });
}

ConsoleInterrupts::~ConsoleInterrupts() = default;

void ConsoleInterrupts::programEnded() {}

#endif

} // namespace kvx::ctl
