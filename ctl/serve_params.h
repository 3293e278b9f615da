// serve's methods and their named parameters, read with the command line's
// own rules: the same names, ranges, number rule and refusals.
#pragma once

#include "drive_step.h"

#include <QJsonObject>
#include <QString>

namespace kvx::ctl {

enum class ServeMethod { Status, Motion, WaitIdle, Set, Subscribe, Unsubscribe, Close, Unknown };

ServeMethod serveMethod(const QString& name);

// status, the motions and wait-idle: the step, or the refusal.
QString readServeStep(const QString& method, const QJsonObject& params, const Settings& settings, Step& step);

// set: the four sliders, any of them; the settings then in force, or the
// refusal (settings unchanged).
QString readServeSet(const QJsonObject& params, Settings& settings);

// Methods without parameters refuse any.
QString refuseParameters(const QString& method, const QJsonObject& params);

// The settings as serve reports them, by the command line's option names.
QJsonObject settingsObject(const Settings& settings);

} // namespace kvx::ctl
