// Walks the program through the selection dialog and one absolute move on
// the simulated controllers, saving what each window shows.
//   kvx340-screenshots OUTPUT_DIR
#include "frm_main.h"
#include "frm_select.h"
#include "program.h"
#include "program_icon.h"
#include "usb_library.h"

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <cstdio>

namespace {

bool save(QWidget* window, const QDir& dir, const QString& name)
{
    const QString path = dir.filePath(name);
    const bool ok = window->grab().save(path);
    std::printf("%s %s\n", ok ? "wrote" : "could not write", qPrintable(path));
    return ok;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("KVX-340"));
    QApplication::setWindowIcon(kvx::programIcon());
    const QDir out(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("."));
    QDir().mkpath(out.path());

    kvx::UsbLibrary link(QStringLiteral(SIM_LIBRARY_PATH));
    kvx::Program program(link);
    if (!program.start())
        return 1;
    QTest::qWait(300);
    bool ok = save(program.selectWindow(), out, QStringLiteral("select.png"));

    QTest::mouseClick(program.selectWindow()->cmdOK, Qt::LeftButton);
    kvx::frmMain* panel = program.panelWindow();
    if (!panel)
        return 1;
    QTest::qWait(200);
    panel->Text2->setText(QStringLiteral("12.5"));
    QTest::mousePress(panel->Go, Qt::LeftButton);
    QTest::qWait(100);
    QTest::mouseRelease(panel->Go, Qt::LeftButton);
    for (int waited = 0; waited < 5000 && panel->Text1->text() != QLatin1String("12.53"); waited += 30)
        QTest::qWait(30);
    QTest::qWait(100);
    ok = save(panel, out, QStringLiteral("panel.png")) && ok;

    QTest::mouseClick(panel->cmdExit, Qt::LeftButton);
    return ok ? 0 : 1;
}
