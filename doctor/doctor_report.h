// What doctor found: one finding per check (and per device), printed as one
// line each for people, or as one JSON object for scripts and bug reports.
#pragma once

#include <QString>
#include <vector>

namespace kvx::ctl {

enum class Verdict { Ok, Problem, Skipped };

struct Finding {
    QString check; // "devices", "udev rule", "permission", "driver", "library", "exchange"
    Verdict verdict = Verdict::Ok;
    QString text;
    QString fix; // what to do about a problem, when something can be done
};

using Findings = std::vector<Finding>;

bool anyProblem(const Findings& findings);
QString doctorText(const Findings& findings);
QString doctorJson(const Findings& findings);

} // namespace kvx::ctl
