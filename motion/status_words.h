// The panel's six status elements in words: each one's name and state, for
// a screen reader and for an operator who cannot tell red from green.
#pragma once

#include "exchange.h"

#include <QString>

namespace kvx {

enum class StatusElement { LeftLimit, RightLimit, Reverse, MaxSpeed, Busy, ActiveHigh };

// The element's name as the operator knows it: "Left limit", "Busy", ...
QString statusName(StatusElement element);

// Name and state, e.g. "Left limit: switch active" or "Busy: idle".
QString statusWords(StatusElement element, bool alert);

bool isAlert(const IndicatorAlerts& alerts, StatusElement element);

// Whether a change is spoken as it happens: the switches, Busy and Max
// Speed follow the axis; Reverse and Act Hi follow the options chosen.
bool isSpokenOnChange(StatusElement element);

} // namespace kvx
