#include "panel_fonts.h"

#include <QStringList>

namespace kvx {
namespace {

QFont font(const QString& family, double points, Weight weight)
{
    QFont face(family);
    face.setPointSizeF(points);
    face.setBold(weight == Weight::Bold);
    return face;
}

} // namespace

void installFontSubstitutes()
{
    const QStringList similar{QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"),
                              QStringLiteral("DejaVu Sans")};
    if (QFont::substitutes(QStringLiteral("Arial")).isEmpty())
        QFont::insertSubstitutions(QStringLiteral("Arial"), similar);
    if (QFont::substitutes(QStringLiteral("MS Sans Serif")).isEmpty())
        QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"), similar);
}

QFont arial(double points, Weight weight) { return font(QStringLiteral("Arial"), points, weight); }
QFont msSansSerif(double points, Weight weight) { return font(QStringLiteral("MS Sans Serif"), points, weight); }

} // namespace kvx
