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

} // namespace

QString statusName(StatusElement element) { return QLatin1String(wordsOf(element).name); }

QString statusWords(StatusElement element, bool alert)
{
    const Words words = wordsOf(element);
    return statusName(element) + QStringLiteral(": ") + QLatin1String(alert ? words.alert : words.clear);
}

bool isAlert(const IndicatorAlerts& alerts, StatusElement element)
{
    switch (element) {
    case StatusElement::LeftLimit: return alerts.Shape3;
    case StatusElement::RightLimit: return alerts.Shape4;
    case StatusElement::Reverse: return alerts.Command6;
    case StatusElement::MaxSpeed: return alerts.Label3;
    case StatusElement::Busy: return alerts.Shape2;
    case StatusElement::ActiveHigh: return alerts.Command3;
    }
    return false;
}

bool isSpokenOnChange(StatusElement element)
{
    return element != StatusElement::Reverse && element != StatusElement::ActiveHigh;
}

} // namespace kvx
