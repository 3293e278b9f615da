// Resident memory of the running panel: the program as the simulator edition
// runs it (library bound by file, dialog, OK, panel on its 30 ms timer),
// sampled at each stage (residentKiB: /proc/self/statm, on Windows the working set).
//   panel_memory [seconds=10] [extra_ticks=100000]
// After the timed run, the tick is called directly extra_ticks more times
// (a shift is about 960,000) to show whether memory grows with ticks.
#include "frm_main.h"
#include "frm_select.h"
#include "program.h"
#include "program_icon.h"
#include "resident_memory.h"
#include "usb_library.h"

#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <cstdio>

using kvx::test::residentKiB;

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("KVX-340"));
    QApplication::setWindowIcon(kvx::programIcon());
    const double seconds = argc > 1 ? std::atof(argv[1]) : 10.0;
    const long extraTicks = argc > 2 ? std::atol(argv[2]) : 100000;
    std::printf("before start-up: %ld KiB\n", residentKiB());

    kvx::UsbLibrary link(QStringLiteral(SIM_LIBRARY_PATH), QStringLiteral("kvx340sim"));
    kvx::Program program(link);
    if (!program.start())
        return 1;
    QTest::qWait(200);
    std::printf("dialog shown: %ld KiB\n", residentKiB());

    QTest::mouseClick(program.selectWindow()->cmdOK, Qt::LeftButton);
    QTest::qWait(200);
    kvx::frmMain* panel = program.panelWindow();
    if (!panel || program.ended())
        return 1;
    std::printf("panel shown: %ld KiB\n", residentKiB());

    int ticks = 0;
    QObject::connect(panel->Timer1, &QTimer::timeout, [&] { ++ticks; });
    QTest::qWait(static_cast<int>(seconds * 1000));
    std::printf("after %.0f s on the timer (%d ticks): %ld KiB\n", seconds, ticks, residentKiB());

    panel->Timer1->stop();
    for (long i = 0; i < extraTicks && !program.ended(); ++i)
        panel->Timer1_Timer();
    std::printf("after %ld more ticks called directly: %ld KiB%s\n", extraTicks, residentKiB(),
                program.ended() ? " (the program ended: a tick failed)" : "");
    return program.ended() ? 1 : 0;
}
