#include "status_words.h"

namespace kvx {
namespace {

struct Words {
    const char* name;
    const char* alert;
    const char* clear;
};

Words wordsOf(StatusElement element)
{
    switch (element) {
    case StatusElement::LeftLimit: return {"Left limit", "switch active", "clear"};
    case StatusElement::RightLimit: return {"Right limit", "switch active", "clear"};
    case StatusElement::Reverse: return {"Reverse", "on", "off"};
    case StatusElement::MaxSpeed: return {"Max Speed", "reached", "not reached"};
    case StatusElement::Busy: return {"Busy", "busy", "idle"};
    case StatusElement::ActiveHigh: return {"Act Hi", "on", "off"};
    }
    return {"", "", ""};
}

// Works on a const record too, where it gives a const flag.
template <typename Alerts>
auto& alertOf(Alerts& alerts, StatusElement element)
{
    switch (element) {
    case StatusElement::LeftLimit: return alerts.Shape3;
    case StatusElement::RightLimit: return alerts.Shape4;
    case StatusElement::Reverse: return alerts.Command6;
    case StatusElement::MaxSpeed: return alerts.Label3;
    case StatusElement::Busy: return alerts.Shape2;
    case StatusElement::ActiveHigh: break;
    }
    return alerts.Command3;
}

} // namespace

QString statusName(StatusElement element) { return QLatin1String(wordsOf(element).name); }

QString statusWords(StatusElement element, bool alert)
{
    const Words words = wordsOf(element);
    return statusName(element) + QStringLiteral(": ") + QLatin1String(alert ? words.alert : words.clear);
}

bool isAlert(const IndicatorAlerts& alerts, StatusElement element)
{
    return alertOf(alerts, element);
}

StatusAnnouncer::StatusAnnouncer()
{
    told_.Shape3 = told_.Shape4 = told_.Shape2 = true;
}

QString StatusAnnouncer::words(StatusElement element) const { return statusWords(element, isAlert(told_, element)); }

std::vector<StatusElement> StatusAnnouncer::update(const IndicatorAlerts& alerts)
{
    std::vector<StatusElement> changed;
    for (StatusElement element : StatusElements) {
        bool& told = alertOf(told_, element);
        if (told != isAlert(alerts, element)) {
            told = !told;
            changed.push_back(element);
        }
    }
    return changed;
}

} // namespace kvx
