// The gear ratio typed by the operator: how an entry is read, corrected and
// written back, and the reciprocal shown beside it.
#pragma once

#include <QString>
#include <QStringView>

namespace kvx {

// Smaller ratios, zero, negative ones and entries without a usable number
// all become 1.
inline constexpr double MinimumRatio = 0.01;

struct AppliedRatio {
    double demultiplication = 1;
    QString ratioText;      // the entry rewritten in the sign-blank form: " 15"
    QString reciprocalText; // 1 / ratio with ten decimals: "0.0666666667"
};

// Reads the leading number of the entry and puts it into force. A number
// beyond the double range counts as no usable number.
AppliedRatio applyRatio(QStringView ratioEntry);

// The plain text of the leading number ("1.0000000000" -> "1", " .5" ->
// "0.5"), or "1" when that number is 0 or beyond the double range.
QString plainNumberOrOne(QStringView text);

} // namespace kvx
