#include "ctl_output.h"

#include "number_text.h"
#include "status_words.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace kvx::ctl {
namespace {

struct Indicator {
    StatusElement element;
    const char* word; // in text; in camelCase, the JSON and CSV key
    const char* alert;
    const char* normal;
};

// In the panel's order of its indicators. The two option bits are named
// after the options they report, not after the panel's short captions:
// "Reverse" is the limit switches', not the motor's.
constexpr Indicator Indicators[] = {
    {StatusElement::LeftLimit, "Left limit", "switch active", "clear"},
    {StatusElement::RightLimit, "Right limit", "switch active", "clear"},
    {StatusElement::Busy, "Busy", "busy", "idle"},
    {StatusElement::MaxSpeed, "Max speed", "reached", "not reached"},
    {StatusElement::Reverse, "Reverse limit switch", "on", "off"},
    {StatusElement::ActiveHigh, "Limit switch active high", "on", "off"},
};

bool isSet(const Reading& reading, const Indicator& indicator) { return isAlert(reading.alerts, indicator.element); }

QString key(const Indicator& indicator)
{
    const QStringList words = QString::fromLatin1(indicator.word).split(QLatin1Char(' '));
    QString key = words.first().toLower();
    for (const QString& word : words.mid(1))
        key += word.left(1).toUpper() + word.mid(1).toLower();
    return key;
}

QString words(const Reading& reading, const Indicator& indicator)
{
    return QStringLiteral("%1: %2").arg(QLatin1String(indicator.word),
                                         QLatin1String(isSet(reading, indicator) ? indicator.alert : indicator.normal));
}

QString compact(const QJsonObject& object)
{
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

// The position as the panel shows it, and as a number for scripts.
double shownUnits(const Reading& reading) { return formatPosition(reading.units()).toDouble(); }

void addReading(QJsonObject& object, const Reading& reading)
{
    object.insert(QStringLiteral("position"), shownUnits(reading));
    object.insert(QStringLiteral("steps"), static_cast<double>(reading.steps));
    for (const Indicator& indicator : Indicators)
        object.insert(key(indicator), isSet(reading, indicator));
}

} // namespace

QString listText(const QStringList& products, bool json)
{
    if (json) {
        QJsonArray controllers;
        for (int i = 0; i < products.size(); ++i)
            controllers.append(QJsonObject{{QStringLiteral("number"), i}, {QStringLiteral("product"), products[i]}});
        return compact({{QStringLiteral("controllers"), controllers}}) + QLatin1Char('\n');
    }
    QString text;
    for (int i = 0; i < products.size(); ++i)
        text += QStringLiteral("%1 %2\n").arg(i).arg(products[i]);
    return text;
}

QJsonObject statusObject(const Reading& reading)
{
    QJsonObject object{{QStringLiteral("command"), QStringLiteral("status")}};
    addReading(object, reading);
    return object;
}

QJsonObject commandObject(const char* command, const Reading& reading, const MoveOutcome* move)
{
    QJsonObject object{{QStringLiteral("command"), QLatin1String(command)}};
    addReading(object, reading);
    if (move) {
        object.insert(QStringLiteral("target"), formatPosition(move->targetUnits).toDouble());
        if (move->waited)
            object.insert(QStringLiteral("reached"), move->reached);
    }
    return object;
}

QJsonObject homeObject(const Reading& reading, bool left, double foundUnits)
{
    QJsonObject object{{QStringLiteral("command"), QStringLiteral("home")},
                       {QStringLiteral("switch"), left ? QStringLiteral("left") : QStringLiteral("right")}};
    addReading(object, reading);
    object.insert(QStringLiteral("found"), formatPosition(foundUnits).toDouble());
    return object;
}

QJsonObject readingObject(const Reading& reading)
{
    QJsonObject object;
    addReading(object, reading);
    return object;
}

QString statusText(const Reading& reading, bool json)
{
    if (json)
        return compact(statusObject(reading)) + QLatin1Char('\n');
    QString text = QStringLiteral("Position: %1\n").arg(formatPosition(reading.units()));
    for (const Indicator& indicator : Indicators)
        text += words(reading, indicator) + QLatin1Char('\n');
    return text;
}

QString commandText(const char* command, const Reading& reading, const MoveOutcome* move, bool json)
{
    if (json)
        return compact(commandObject(command, reading, move)) + QLatin1Char('\n');
    QString text = QStringLiteral("Position: %1").arg(formatPosition(reading.units()));
    if (move && !move->waited)
        text += QStringLiteral(" (moving to %1)").arg(formatPosition(move->targetUnits));
    else if (move && !move->reached)
        text += QStringLiteral(" (target %1 not reached)").arg(formatPosition(move->targetUnits));
    return text + QLatin1Char('\n');
}

QString homeText(const Reading& reading, bool left, double foundUnits, bool json)
{
    const QString side = left ? QStringLiteral("left") : QStringLiteral("right");
    if (json)
        return compact(homeObject(reading, left, foundUnits)) + QLatin1Char('\n');
    return QStringLiteral("Position: %1 (origin where the %2 switch cleared, at %3)\n")
        .arg(formatPosition(reading.units()), side, formatPosition(foundUnits));
}

QString watchHeader(WatchFormat format)
{
    if (format != WatchFormat::Csv)
        return {};
    QString text = QStringLiteral("ms,position");
    for (const Indicator& indicator : Indicators)
        text += QLatin1Char(',') + key(indicator);
    return text + QLatin1Char('\n');
}

QString watchLine(WatchFormat format, qint64 milliseconds, const Reading& reading)
{
    if (format == WatchFormat::Jsonl) {
        QJsonObject object{{QStringLiteral("ms"), milliseconds}};
        addReading(object, reading);
        return compact(object) + QLatin1Char('\n');
    }
    const QString position = formatPosition(reading.units());
    QString text = format == WatchFormat::Csv ? QStringLiteral("%1,%2").arg(milliseconds).arg(position)
                                              : QStringLiteral("%1 ms  %2").arg(milliseconds, 7).arg(position, 12);
    for (const Indicator& indicator : Indicators) {
        const bool set = isSet(reading, indicator);
        if (format == WatchFormat::Csv)
            text += set ? QStringLiteral(",1") : QStringLiteral(",0");
        else if (set)
            text += QStringLiteral("  ") + QLatin1String(indicator.word);
    }
    return text + QLatin1Char('\n');
}

} // namespace kvx::ctl
