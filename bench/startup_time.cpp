// Start-up inside the process: from main() to the selection dialog's first
// paint, the way the simulator edition starts (application, library bound
// by file, Program::start(), event loop). Prints the milestones in ms:
//   startup_time        (run it several times; scripts/bench takes the median)
#include "frm_select.h"
#include "program.h"
#include "program_icon.h"
#include "usb_library.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QTimer>
#include <cstdio>

namespace {

// Notes the first paint of the dialog or of any of its controls.
class FirstPaint : public QObject {
public:
    explicit FirstPaint(const QElapsedTimer& clock) : clock_(clock) {}
    qint64 paintedNs = -1;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (paintedNs < 0 && event->type() == QEvent::Paint) {
            auto* widget = qobject_cast<QWidget*>(watched);
            if (widget && qobject_cast<kvx::frmSelect*>(widget->window())) {
                paintedNs = clock_.nsecsElapsed();
                QTimer::singleShot(0, qApp, &QCoreApplication::quit);
            }
        }
        return false;
    }

private:
    const QElapsedTimer& clock_;
};

double ms(qint64 ns) { return ns / 1e6; }

} // namespace

int main(int argc, char** argv)
{
    QElapsedTimer clock;
    clock.start();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("KVX-340"));
    QApplication::setWindowIcon(kvx::programIcon());
    const qint64 applicationNs = clock.nsecsElapsed();

    kvx::UsbLibrary link(QStringLiteral(SIM_LIBRARY_PATH), QStringLiteral("kvx340sim"));
    kvx::Program program(link);
    FirstPaint watcher(clock);
    app.installEventFilter(&watcher);
    if (!program.start()) {
        std::fprintf(stderr, "the program ended at start-up\n");
        return 1;
    }
    const qint64 startedNs = clock.nsecsElapsed();
    QTimer::singleShot(10000, &app, &QCoreApplication::quit);
    app.exec();
    if (watcher.paintedNs < 0) {
        std::fprintf(stderr, "the dialog was not painted within 10 s\n");
        return 1;
    }
    std::printf("application %.2f ms, dialog loaded and shown %.2f ms, first paint %.2f ms\n", ms(applicationNs),
                ms(startedNs), ms(watcher.paintedNs));
    return 0;
}
