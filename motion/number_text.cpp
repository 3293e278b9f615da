#include "number_text.h"

#include <charconv>
#include <cmath>
#include <string>

namespace kvx {
namespace {

bool isSkipped(QChar c) { return c == u' ' || c == u'\t' || c == u'\n'; }

// The text without its skipped characters, as ASCII; anything else becomes
// a character that no number can continue with.
std::string compact(QStringView text)
{
    std::string out;
    out.reserve(static_cast<size_t>(text.size()));
    for (QChar c : text) {
        if (isSkipped(c))
            continue;
        out.push_back(c.unicode() < 128 ? static_cast<char>(c.unicode()) : '\x7f');
    }
    return out;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

int radixDigit(char c, int radix)
{
    int d = -1;
    if (isDigit(c))
        d = c - '0';
    else if (c >= 'a' && c <= 'f')
        d = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
        d = c - 'A' + 10;
    return d < radix ? d : -1;
}

std::optional<double> radixInteger(const std::string& s, size_t i, int radix)
{
    double value = 0;
    for (int d; i < s.size() && (d = radixDigit(s[i], radix)) >= 0; ++i)
        value = value * radix + d;
    if (!std::isfinite(value))
        return std::nullopt;
    return value;
}

long long saturatingExponent(const std::string& digits, bool negative)
{
    long long e = 0;
    for (char c : digits)
        e = e > 100000000 ? e : e * 10 + (c - '0');
    return negative ? -e : e;
}

} // namespace

std::optional<double> leadingNumber(QStringView text)
{
    const std::string s = compact(text);
    size_t i = 0;
    if (s.size() >= 2 && s[0] == '&') {
        const char kind = s[1];
        if (kind == 'H' || kind == 'h')
            return radixInteger(s, 2, 16);
        if (kind == 'O' || kind == 'o')
            return radixInteger(s, 2, 8);
        return 0.0;
    }

    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-'))
        negative = s[i++] == '-';

    std::string intDigits, fracDigits;
    while (i < s.size() && isDigit(s[i]))
        intDigits.push_back(s[i++]);
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && isDigit(s[i]))
            fracDigits.push_back(s[i++]);
    }
    if (intDigits.empty() && fracDigits.empty())
        return 0.0;

    std::string expDigits;
    bool expNegative = false;
    if (i < s.size() && (s[i] == 'E' || s[i] == 'e' || s[i] == 'D' || s[i] == 'd')) {
        size_t j = i + 1;
        bool sign = false;
        if (j < s.size() && (s[j] == '+' || s[j] == '-')) {
            expNegative = s[j] == '-';
            sign = true;
            ++j;
        }
        while (j < s.size() && isDigit(s[j]))
            expDigits.push_back(s[j++]);
        if (expDigits.empty() && sign)
            expNegative = false;
    }

    std::string canonical = (intDigits.empty() ? "0" : intDigits) + "." + fracDigits + "e" +
                            (expNegative ? "-" : "") + (expDigits.empty() ? "0" : expDigits);
    double value = 0;
    const auto [end, error] = std::from_chars(canonical.data(), canonical.data() + canonical.size(), value);
    (void)end;
    if (error == std::errc::result_out_of_range) {
        // Too large or too small for a double: tell the two apart by the
        // decimal magnitude of the first significant digit.
        const auto firstInt = intDigits.find_first_not_of('0');
        long long magnitude;
        if (firstInt != std::string::npos)
            magnitude = static_cast<long long>(intDigits.size() - firstInt) - 1;
        else
            magnitude = -static_cast<long long>(fracDigits.find_first_not_of('0')) - 1;
        if (magnitude + saturatingExponent(expDigits, expNegative) > 0)
            return std::nullopt;
        value = 0;
    }
    return negative ? -value : value;
}

QString generalForm(double value)
{
    if (value == 0)
        return QStringLiteral("0");
    return QString::number(value, 'G', 15);
}

QString signBlankForm(double value)
{
    QString digits = generalForm(std::fabs(value));
    if (digits.startsWith(QLatin1String("0.")))
        digits.remove(0, 1);
    return (value < 0 ? QStringLiteral("-") : QStringLiteral(" ")) + digits;
}

QString formatPosition(double value)
{
    QString text = QString::number(value, 'f', 2);
    // A value that rounds to zero is shown without a sign.
    if (text == QLatin1String("-0.00"))
        text.remove(0, 1);
    return text;
}

QString formatReciprocal(double value)
{
    return QString::number(value, 'f', 10);
}

} // namespace kvx
