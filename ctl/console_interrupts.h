// Ctrl+C, SIGTERM and a closed console or terminal, as one Qt signal carrying
// the exit status for it (128 plus the signal's number, as shells report it).
// POSIX: through TerminationSignals. Windows: the console's control events;
// for a closing console, Windows ends the process once the handler returns,
// so the handler waits (a few seconds at most) until the program has ended.
#pragma once

#include <QObject>

namespace kvx::ctl {

namespace InterruptStatus {
inline constexpr int Hangup = 129;
inline constexpr int Interrupt = 130;
inline constexpr int Terminate = 143;
} // namespace InterruptStatus

class ConsoleInterrupts : public QObject {
    Q_OBJECT
public:
    explicit ConsoleInterrupts(QObject* parent = nullptr);
    ~ConsoleInterrupts() override;

    // The program is done with the controller: a waiting console handler
    // may return.
    void programEnded();

signals:
    void interrupted(int exitStatus);
};

} // namespace kvx::ctl
