#include "controller_choice.h"

#include <QRegularExpression>
#include <algorithm>

namespace kvx::ctl {
namespace {

// "N" for "#N" always; for plain digits only when the caller says so.
std::optional<uint32_t> number(const QString& text, bool plainDigits)
{
    static const QRegularExpression digits(QStringLiteral("^#?[0-9]+$"));
    if (!digits.match(text).hasMatch() || (!plainDigits && !text.startsWith(QLatin1Char('#'))))
        return std::nullopt;
    bool ok = false;
    const uint32_t value = text.mid(text.startsWith(QLatin1Char('#')) ? 1 : 0).toUInt(&ok);
    return ok ? std::optional<uint32_t>(value) : std::optional<uint32_t>(UINT32_MAX);
}

QString listing(const QStringList& products, const QList<uint32_t>& devices)
{
    QStringList lines;
    for (const uint32_t device : devices)
        lines << QStringLiteral("  -d '#%1'   %2").arg(device).arg(products[int(device)]);
    return lines.join(QLatin1Char('\n'));
}

} // namespace

ControllerChoice chooseController(const QStringList& products, const QString& wanted)
{
    if (products.isEmpty())
        return {std::nullopt, QStringLiteral("no controller attached")};
    QList<uint32_t> all;
    for (int i = 0; i < products.size(); ++i)
        all << uint32_t(i);
    if (wanted.isEmpty()) {
        if (products.size() == 1)
            return {0u, {}};
        return {std::nullopt, QStringLiteral("several controllers attached; choose one with -d:\n") + listing(products, all)};
    }
    QList<uint32_t> fits;
    for (const uint32_t device : all)
        if (products[int(device)] == wanted)
            fits << device;
    const auto numbered = number(wanted, fits.isEmpty());
    if (numbered) {
        if (*numbered >= uint32_t(products.size()))
            return {std::nullopt, QStringLiteral("no controller number %1").arg(wanted)};
        if (!fits.contains(*numbered))
            fits << *numbered;
    }
    if (fits.isEmpty())
        return {std::nullopt, QStringLiteral("no controller \"%1\"").arg(wanted)};
    if (fits.size() > 1) {
        std::sort(fits.begin(), fits.end());
        return {std::nullopt, QStringLiteral("\"%1\" could mean %2 controllers; choose one by number:\n")
                                  .arg(wanted).arg(fits.size()) + listing(products, fits)};
    }
    return {fits.first(), {}};
}

} // namespace kvx::ctl
