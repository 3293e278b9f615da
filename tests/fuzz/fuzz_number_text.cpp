// Whatever the operator types: the leading-number reader and the number
// forms written back must never crash, and must agree with each other.
#include "number_text.h"

#include <QRegularExpression>
#include <cmath>
#include <cstdlib>

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

bool sameWithin15Digits(double a, double b)
{
    return a == b || std::fabs(a - b) <= 1e-14 * std::fmax(std::fabs(a), std::fabs(b));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const auto value = kvx::leadingNumber(text);
    if (!value)
        return 0;
    check(std::isfinite(*value));

    static const QRegularExpression fixed2(QStringLiteral("^-?[0-9]+\\.[0-9]{2}$"));
    static const QRegularExpression fixed10(QStringLiteral("^-?[0-9]+\\.[0-9]{10}$"));
    check(fixed2.match(kvx::formatPosition(*value)).hasMatch());
    check(fixed10.match(kvx::formatReciprocal(*value)).hasMatch());

    // What is written back is read again by the next step: it must read as the same number.
    const QString general = kvx::generalForm(*value);
    const auto reread = kvx::leadingNumber(general);
    check(reread && sameWithin15Digits(*reread, *value));
    const QString signBlank = kvx::signBlankForm(*value);
    check(signBlank.startsWith(u' ') || signBlank.startsWith(u'-'));
    const auto rereadSignBlank = kvx::leadingNumber(signBlank);
    check(rereadSignBlank && sameWithin15Digits(*rereadSignBlank, *value));
    return 0;
}
