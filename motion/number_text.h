// How the operator's typed numbers are read and how numbers are written
// back. The point is the decimal separator everywhere, whatever the locale:
// the reader accepts only the point, so a comma written by one step would be
// misread by the next.
#pragma once

#include <QString>
#include <QStringView>
#include <optional>

namespace kvx {

// The leading number of a text: blanks, tabs and line feeds anywhere are
// skipped; then a sign, digits with at most one point and an exponent (E or
// D), or &H / &O for a hexadecimal or octal integer. Reading stops at the
// first character that cannot continue the number; no number reads as 0.
// Empty when the number lies beyond the double range.
std::optional<double> leadingNumber(QStringView text);

// Up to 15 significant digits, no trailing zeros, no leading blank, a zero
// before the point: 0.5 -> "0.5", 15 -> "15", 1e15 -> "1E+15".
QString generalForm(double value);

// A blank (or minus sign), then the digits, no zero before the point:
// 15 -> " 15", 0.5 -> " .5", -0.5 -> "-.5".
QString signBlankForm(double value);

// "########0.00": two decimals, no grouping, all integer digits.
QString formatPosition(double value);

// "#0.0000000000": ten decimals, no grouping.
QString formatReciprocal(double value);

} // namespace kvx
