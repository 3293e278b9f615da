// Shows the control panel on a scripted controller and saves a picture of
// it: show_panel <png> [status byte]. Run it under xvfb-run.
#include "frm_main.h"
#include "recording_end.h"
#include "scripted_link.h"

#include <QApplication>
#include <QTimer>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("KVX-340"));
    if (argc < 2)
        return 2;
    const QString file = QString::fromLocal8Bit(argv[1]);
    const int statusByte = argc > 2 ? QByteArray(argv[2]).toInt() : -1;

    kvx::MotionState state;
    state.Demultiplication = 15;
    state.AxisCaption = QStringLiteral("X");
    kvx::test::ScriptedLink link;
    link.lastStatus = kvx::encodeStatusFrame({1875, static_cast<uint8_t>(std::max(statusByte, 0)), 1875});
    kvx::test::RecordingEnd end;
    kvx::frmMain panel(state, link, end);
    panel.show();
    if (statusByte < 0)
        panel.Timer1->stop(); // the look before the first status frame

    QTimer::singleShot(500, &app, [&] {
        const bool saved = panel.grab().save(file);
        QApplication::exit(saved ? 0 : 1);
    });
    return app.exec();
}
