// What a screen reader is told about the panel's six status elements: each
// one's state in words, and which of them changed since it was last told.
// The tick sets every look 30 times a second; only a change is told again.
#pragma once

#include "exchange.h"

#include <QString>
#include <array>
#include <vector>

namespace kvx {

enum class StatusElement { LeftLimit, RightLimit, Reverse, MaxSpeed, Busy, ActiveHigh };

inline constexpr std::array<StatusElement, 6> StatusElements{
    StatusElement::LeftLimit, StatusElement::RightLimit, StatusElement::Reverse,
    StatusElement::MaxSpeed,  StatusElement::Busy,       StatusElement::ActiveHigh};

// The element's name as the operator knows it: "Left limit", "Busy", ...
QString statusName(StatusElement element);

// Name and state, e.g. "Left limit: switch active" or "Busy: idle".
QString statusWords(StatusElement element, bool alert);

bool isAlert(const IndicatorAlerts& alerts, StatusElement element);

class StatusAnnouncer {
public:
    // Starts from the panel's first look: the three lamps red, the rest plain.
    StatusAnnouncer();

    // The words currently told for the element.
    QString words(StatusElement element) const;

    // Takes one tick's alerts and returns the elements whose state differs
    // from what was last told; from then on their new state counts as told.
    std::vector<StatusElement> update(const IndicatorAlerts& alerts);

private:
    IndicatorAlerts told_;
};

} // namespace kvx
