// The USB library's side of doctor: which file was loaded, and an open, the
// exchange of `status` and the close on each controller chosen. Never moves
// the axis: the only frame sent is the panel's with the enable bit alone.
#pragma once

#include "doctor_report.h"
#include "simulator_location.h"
#include "usb_link.h"

#include <QStringList>
#include <chrono>

namespace kvx::ctl {

// Loads the library as the program will, and names the file the loader
// actually took, with any of the nine functions it lacks.
Finding libraryFinding(const LibraryChoice& choice);

struct ExchangeCheck {
    QString device; // empty: every controller; else a product string or a number
    QStringList heldElsewhere; // product strings whose interface another program claimed
    std::chrono::milliseconds span{1000}; // how long the panel's period is kept
};

Findings exchangeFindings(UsbLink& link, const ExchangeCheck& check);

} // namespace kvx::ctl
