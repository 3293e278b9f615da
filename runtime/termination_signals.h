// SIGTERM, SIGINT and SIGHUP (a logout, kill, Ctrl+C in the terminal) must
// end the program the way the operator's own ways out do, closing the
// controller when it is open. A signal handler may do next to nothing, so it
// only wakes the event loop through a socket pair; the ending itself runs
// there, one handler at a time like every other event. A burst of signals
// is one request to end.
#pragma once

#include <QObject>

class QSocketNotifier;

namespace kvx {

class TerminationSignals : public QObject {
    Q_OBJECT
public:
    // Catches the three signals for as long as it lives, except those it
    // finds ignored (nohup, a background job), and then gives each back the
    // action it had. Only one may live at a time.
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;

signals:
    void received(int signalNumber);

private:
    void readSignal();

    QSocketNotifier* notifier_ = nullptr;
};

// Ends the program by the signal, given back its default action: shells,
// make and Python then see an interrupted child and stop what they run,
// which an exit status of 128 + N does not do. Returns only if the signal
// did not end the program.
void endBySignal(int signalNumber);

// A write to a closed pipe fails with EPIPE from now on instead of killing
// the program on the spot, before it could stop the axis. True when SIGPIPE
// was at its default action, so that the program should end by it.
bool takeBrokenPipesAsErrors();

} // namespace kvx
