// What kvx340ctl prints: plain text for people, JSON for scripts.
#pragma once

#include "drive_step.h"
#include "reading.h"

#include <QJsonObject>
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

// The objects of the JSON output, for serve's results.
QJsonObject statusObject(const Reading& reading);
QJsonObject commandObject(const char* command, const Reading& reading, const MoveOutcome* move);
QJsonObject homeObject(const Reading& reading, bool left, double foundUnits);
QJsonObject readingObject(const Reading& reading);

// watch: the header line (csv only, else empty) and one line per exchange.
QString watchHeader(WatchFormat format);
QString watchLine(WatchFormat format, qint64 milliseconds, const Reading& reading);

} // namespace kvx::ctl
