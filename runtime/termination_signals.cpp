#include "termination_signals.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kvx {
namespace {

constexpr int Caught[] = {SIGTERM, SIGINT, SIGHUP};
constexpr int CaughtCount = sizeof Caught / sizeof Caught[0];

// [0] is written by the handler, [1] read by the event loop.
int wakeSockets[2] = {-1, -1};

// What each signal did before; restored on the way out. Only the signals
// actually caught are restored: one inherited as ignored is never touched.
struct sigaction previous[CaughtCount];
bool caught[CaughtCount] = {};

extern "C" void wakeEventLoop(int signalNumber)
{
    const int savedErrno = errno;
    const unsigned char number = static_cast<unsigned char>(signalNumber);
    // Never blocks: the event loop may sit in a USB call while a burst comes
    // in. A full socket already holds a wake-up, so a dropped byte loses nothing.
    [[maybe_unused]] const ssize_t written = ::write(wakeSockets[0], &number, 1);
    errno = savedErrno;
}

bool makeNonBlocking(int socket)
{
    const int flags = ::fcntl(socket, F_GETFL);
    return flags != -1 && ::fcntl(socket, F_SETFL, flags | O_NONBLOCK) == 0;
}

bool openWakeSockets()
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, wakeSockets) == 0
        && makeNonBlocking(wakeSockets[0]) && makeNonBlocking(wakeSockets[1]))
        return true;
    for (int& socket : wakeSockets) {
        if (socket != -1)
            ::close(socket);
        socket = -1;
    }
    return false;
}

void catchSignals()
{
    struct sigaction action = {};
    action.sa_handler = wakeEventLoop;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int i = 0; i < CaughtCount; ++i) {
        // As other programs do: started under nohup, or in the background by
        // a shell without job control, the signal stays ignored.
        caught[i] = sigaction(Caught[i], nullptr, &previous[i]) == 0 && previous[i].sa_handler != SIG_IGN
                    && sigaction(Caught[i], &action, nullptr) == 0;
    }
}

void restoreSignals()
{
    for (int i = 0; i < CaughtCount; ++i) {
        if (caught[i])
            sigaction(Caught[i], &previous[i], nullptr);
        caught[i] = false;
    }
}

} // namespace

TerminationSignals::TerminationSignals(QObject* parent) : QObject(parent)
{
    if (!openWakeSockets())
        return; // without the pair the signals keep their action: by default the program ends at once
    notifier_ = new QSocketNotifier(wakeSockets[1], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &TerminationSignals::readSignal);
    catchSignals();
}

TerminationSignals::~TerminationSignals()
{
    if (!notifier_)
        return;
    restoreSignals();
    // The notifier must not outlive the socket it watches.
    delete notifier_;
    notifier_ = nullptr;
    ::close(wakeSockets[0]);
    ::close(wakeSockets[1]);
    wakeSockets[0] = wakeSockets[1] = -1;
}

void endBySignal(int signalNumber)
{
    ::signal(signalNumber, SIG_DFL);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signalNumber);
    sigprocmask(SIG_UNBLOCK, &only, nullptr);
    ::raise(signalNumber);
}

bool takeBrokenPipesAsErrors()
{
    struct sigaction before = {};
    if (sigaction(SIGPIPE, nullptr, &before) != 0)
        return false;
    ::signal(SIGPIPE, SIG_IGN);
    return before.sa_handler == SIG_DFL;
}

void TerminationSignals::readSignal()
{
    // A burst is one request to end: everything waiting is read, one signal
    // reported.
    unsigned char numbers[64];
    ssize_t count = 0;
    int last = 0;
    while ((count = ::read(wakeSockets[1], numbers, sizeof numbers)) > 0)
        last = numbers[count - 1];
    if (last != 0)
        emit received(last);
}

} // namespace kvx
