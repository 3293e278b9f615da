// Shows the selection dialog with two scripted controllers and saves what
// the screen shows of it. Run under Xvfb:  xvfb-run -a select_screenshot out.png
#include "frm_select.h"
#include "recording_end.h"
#include "scripted_link.h"

#include <QApplication>
#include <QScreen>
#include <QTimer>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("KVX-340"));
    const QString output = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("select.png");

    kvx::MotionState state;
    kvx::test::ScriptedLink link;
    link.products = {"KVX-340 Axis A", "KVX-340 Axis B"};
    kvx::test::RecordingEnd end;
    kvx::frmSelect dialog(state, link, end);
    dialog.loadAndShow();
    dialog.activateWindow();

    QTimer::singleShot(800, [&] {
        const QRect frame = dialog.frameGeometry();
        const QPixmap shot = dialog.screen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
        app.exit(shot.save(output) ? 0 : 1);
    });
    return app.exec();
}
