// What kvx340ctl prints: plain text for people, JSON for scripts.
#pragma once

#include "drive_step.h"
#include "reading.h"

#include <QString>
#include <QStringList>

namespace kvx::ctl {

QString listText(const QStringList& products, bool json);
QString statusText(const Reading& reading, bool json);

// move, jog, stop, zero: the final position; a move also its target and
// whether it was reached (or, not waited for, that it started).
struct MoveOutcome {
    double targetUnits = 0;
    bool reached = false;
    bool waited = true;
};
QString commandText(const char* command, const Reading& reading, const MoveOutcome* move, bool json);

// home: the reading after ZERO, and where the switch cleared before it.
QString homeText(const Reading& reading, bool left, double foundUnits, bool json);

// watch: the header line (csv only, else empty) and one line per exchange.
QString watchHeader(WatchFormat format);
QString watchLine(WatchFormat format, qint64 milliseconds, const Reading& reading);

} // namespace kvx::ctl
