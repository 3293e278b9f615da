#include "ratio.h"

#include "number_text.h"

namespace kvx {

AppliedRatio applyRatio(QStringView ratioEntry)
{
    double ratio = leadingNumber(ratioEntry).value_or(0);
    if (ratio < MinimumRatio)
        ratio = 1;
    return {ratio, signBlankForm(ratio), formatReciprocal(1 / ratio)};
}

QString plainNumberOrOne(QStringView text)
{
    const double value = leadingNumber(text).value_or(0);
    return value == 0 ? QStringLiteral("1") : generalForm(value);
}

} // namespace kvx
