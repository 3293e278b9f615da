// What kvx340ctl is asked to do, once its command line, settings file and
// run file have been read and checked: nothing here can be out of range.
#pragma once

#include "drive_step.h"

#include <QString>
#include <vector>

namespace kvx::ctl {

struct Request {
    bool simulator = false;
    bool json = false;
    QString device; // empty: the only one attached
    Settings settings;
    std::vector<Step> steps;
    bool sequence = false; // from `run`: the steps share one open controller
};

} // namespace kvx::ctl
