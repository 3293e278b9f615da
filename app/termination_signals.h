// SIGTERM, SIGINT and SIGHUP (a logout, kill, Ctrl+C in the terminal) must
// end the program the way the operator's own ways out do, closing the
// controller when it is open. A signal handler may do next to nothing, so it
// only wakes the event loop through a socket pair; the ending itself runs
// there, one handler at a time like every other event.
#pragma once

#include <QObject>

class QSocketNotifier;

namespace kvx {

class TerminationSignals : public QObject {
    Q_OBJECT
public:
    // Catches the three signals for as long as it lives; one at a time.
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;

signals:
    void received(int signalNumber);

private:
    void readSignal();

    QSocketNotifier* notifier_ = nullptr;
};

} // namespace kvx
