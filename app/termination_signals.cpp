#include "termination_signals.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace kvx {
namespace {

constexpr int Caught[] = {SIGTERM, SIGINT, SIGHUP};

// [0] is written by the handler, [1] read by the event loop.
int wakeSockets[2] = {-1, -1};

extern "C" void wakeEventLoop(int signalNumber)
{
    const int savedErrno = errno;
    const unsigned char number = static_cast<unsigned char>(signalNumber);
    // Nothing to do on failure: a full socket already holds a wake-up.
    [[maybe_unused]] const ssize_t written = ::write(wakeSockets[0], &number, 1);
    errno = savedErrno;
}

void setHandler(void (*handler)(int))
{
    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signalNumber : Caught)
        sigaction(signalNumber, &action, nullptr);
}

} // namespace

TerminationSignals::TerminationSignals(QObject* parent) : QObject(parent)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, wakeSockets) != 0)
        return; // without the pair the signals keep their default: the program ends at once
    notifier_ = new QSocketNotifier(wakeSockets[1], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &TerminationSignals::readSignal);
    setHandler(wakeEventLoop);
}

TerminationSignals::~TerminationSignals()
{
    if (!notifier_)
        return;
    setHandler(SIG_DFL);
    ::close(wakeSockets[0]);
    ::close(wakeSockets[1]);
    wakeSockets[0] = wakeSockets[1] = -1;
}

void TerminationSignals::readSignal()
{
    unsigned char number = 0;
    if (::read(wakeSockets[1], &number, 1) == 1)
        emit received(number);
}

} // namespace kvx
