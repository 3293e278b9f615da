#include "doctor_report.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>

namespace kvx::ctl {
namespace {

QString verdictWord(Verdict verdict)
{
    switch (verdict) {
    case Verdict::Ok:
        return QStringLiteral("ok");
    case Verdict::Problem:
        return QStringLiteral("problem");
    case Verdict::Skipped:
        return QStringLiteral("skipped");
    }
    return {};
}

} // namespace

bool anyProblem(const Findings& findings)
{
    return std::any_of(findings.begin(), findings.end(),
                       [](const Finding& finding) { return finding.verdict == Verdict::Problem; });
}

QString doctorText(const Findings& findings)
{
    QString text;
    for (const Finding& finding : findings) {
        // Problems stand out in a long paste; the column keeps checks aligned.
        const QString word = finding.verdict == Verdict::Problem ? QStringLiteral("PROBLEM") : verdictWord(finding.verdict);
        text += word.leftJustified(8) + finding.check + QStringLiteral(": ") + finding.text;
        if (!finding.fix.isEmpty())
            text += QStringLiteral(" Fix: ") + finding.fix;
        text += QLatin1Char('\n');
    }
    return text;
}

QString doctorJson(const Findings& findings)
{
    QJsonArray checks;
    for (const Finding& finding : findings) {
        QJsonObject check{{QStringLiteral("check"), finding.check},
                          {QStringLiteral("result"), verdictWord(finding.verdict)},
                          {QStringLiteral("text"), finding.text}};
        if (!finding.fix.isEmpty())
            check.insert(QStringLiteral("fix"), finding.fix);
        checks.append(check);
    }
    const QJsonObject report{{QStringLiteral("command"), QStringLiteral("doctor")},
                             {QStringLiteral("passed"), !anyProblem(findings)},
                             {QStringLiteral("checks"), checks}};
    return QString::fromUtf8(QJsonDocument(report).toJson(QJsonDocument::Compact)) + QLatin1Char('\n');
}

} // namespace kvx::ctl
