// kvx340ctl doctor: for the operator with real hardware and a problem. Runs
// every check from the bus to one exchange and says, one line each, what it
// found and what to do, so that a field problem becomes a report.
#pragma once

#include <QtGlobal>

#ifndef Q_OS_WIN
#include "doctor_usb_nodes.h"
#endif

#include "exit_status.h"

#include <QString>
#include <QTextStream>
#include <chrono>

namespace kvx::ctl {

inline constexpr int DoctorFoundProblem = ExitStatus::DoctorFoundProblem;

struct DoctorRequest {
    bool json = false;
    QString device; // empty: every controller; else a number or a product string
    bool simulator = false;
    QString appDir; // where the program lives: the library is found from there
};

// Where doctor looks; tests point it elsewhere.
struct DoctorEnvironment {
#ifndef Q_OS_WIN
    UsbPaths usb;
#endif
    std::chrono::milliseconds periodSpan{1000};
};

// Runs every check, prints one line each (or one JSON object with json),
// returns 0 when every check passes, DoctorFoundProblem otherwise. Never
// moves the axis: the only frame sent is that of `status`.
int runDoctor(const DoctorRequest& request, QTextStream& out, QTextStream& err,
              const DoctorEnvironment& environment = {});

} // namespace kvx::ctl
