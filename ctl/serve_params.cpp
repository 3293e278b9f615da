#include "serve_params.h"

#include "ctl_options.h"
#include "rpc_message.h"

namespace kvx::ctl {
namespace {

// The names a method takes, each with the command line's option (or, for
// the empty option, the command's argument).
struct Parameter {
    const char* name;
    const char* option; // "" for the command's argument
    bool flag;          // a JSON true or false, given as a bare option
};

struct MethodEntry {
    const char* name;
    ServeMethod method;
    std::vector<Parameter> parameters;
    const char* required; // nullptr when none is
};

const std::vector<MethodEntry>& methods()
{
    static const std::vector<MethodEntry> table = {
        {"status", ServeMethod::Status, {}, nullptr},
        {"move", ServeMethod::Motion,
         {{"position", "", false}, {"relative", "relative", true}, {"timeout", "timeout", false}}, "position"},
        {"jog", ServeMethod::Motion, {{"speed", "", false}, {"seconds", "for", false}}, "speed"},
        {"stop", ServeMethod::Motion, {{"timeout", "timeout", false}}, nullptr},
        {"zero", ServeMethod::Motion, {}, nullptr},
        {"home", ServeMethod::Motion, {{"side", "", false}, {"speed", "speed", false}, {"timeout", "timeout", false}},
         "side"},
        {"wait-idle", ServeMethod::WaitIdle, {{"timeout", "timeout", false}}, nullptr},
        {"set", ServeMethod::Set, {}, nullptr},
        {"subscribe", ServeMethod::Subscribe, {}, nullptr},
        {"unsubscribe", ServeMethod::Unsubscribe, {}, nullptr},
        {"close", ServeMethod::Close, {}, nullptr},
    };
    return table;
}

const MethodEntry* find(const QString& name)
{
    for (const MethodEntry& entry : methods())
        if (name == QLatin1String(entry.name))
            return &entry;
    return nullptr;
}

const char* const Sliders[] = {"max-speed", "acceleration", "amplitude", "idle-percent"};

} // namespace

ServeMethod serveMethod(const QString& name)
{
    const MethodEntry* entry = find(name);
    return entry ? entry->method : ServeMethod::Unknown;
}

QString refuseParameters(const QString& method, const QJsonObject& params)
{
    const MethodEntry* entry = find(method);
    for (auto it = params.begin(); it != params.end(); ++it) {
        bool known = false;
        for (const Parameter& parameter : entry->parameters)
            known = known || it.key() == QLatin1String(parameter.name);
        if (!known)
            return QStringLiteral("%1 takes no parameter \"%2\"").arg(method, it.key());
    }
    return {};
}

QString readServeStep(const QString& method, const QJsonObject& params, const Settings& settings, Step& step)
{
    const MethodEntry* entry = find(method);
    const QString unknown = refuseParameters(method, params);
    if (!unknown.isEmpty())
        return unknown;
    if (entry->required && !params.contains(QLatin1String(entry->required)))
        return QStringLiteral("%1 needs \"%2\"").arg(method, QLatin1String(entry->required));
    QStringList words{method};
    for (const Parameter& parameter : entry->parameters) {
        const QJsonValue value = params.value(QLatin1String(parameter.name));
        if (value.isUndefined())
            continue;
        if (parameter.flag) {
            if (!value.isBool())
                return QStringLiteral("%1 must be true or false").arg(QLatin1String(parameter.name));
            if (value.toBool())
                words << QStringLiteral("--") + QLatin1String(parameter.option);
            continue;
        }
        const std::optional<QString> word = parameterWord(value);
        if (!word)
            return QStringLiteral("%1 must be a number or a string").arg(QLatin1String(parameter.name));
        if (*parameter.option)
            words << QStringLiteral("--") + QLatin1String(parameter.option) << *word;
        else
            words << *word;
    }
    // A jog without an end runs until stop or another motion; the command
    // line's jog always has one.
    const bool endless = method == QLatin1String("jog") && !params.contains(QLatin1String("seconds"));
    if (endless)
        words << QStringLiteral("--for") << QStringLiteral("1");
    const QString refusal = readCommand(words, settings, step);
    if (endless)
        step.seconds = -1;
    return refusal;
}

QString readServeSet(const QJsonObject& params, Settings& settings)
{
    if (params.isEmpty())
        return QStringLiteral("set needs at least one of max-speed, acceleration, amplitude, idle-percent");
    Settings changed = settings;
    for (auto it = params.begin(); it != params.end(); ++it) {
        bool known = false;
        for (const char* slider : Sliders)
            known = known || it.key() == QLatin1String(slider);
        if (!known)
            return QStringLiteral("set takes no parameter \"%1\"").arg(it.key());
        const std::optional<QString> word = parameterWord(it.value());
        if (!word)
            return QStringLiteral("%1 must be a number or a string").arg(it.key());
        const QString refusal = changeSetting(changed, it.key(), *word);
        if (!refusal.isEmpty())
            return refusal;
    }
    settings = changed;
    return {};
}

QJsonObject settingsObject(const Settings& settings)
{
    const SliderValues& s = settings.sliders;
    return {{QStringLiteral("ratio"), settings.demultiplication},
            {QStringLiteral("reverse-motor"), settings.reverseMotor},
            {QStringLiteral("reverse-limit"), settings.reverseLimit},
            {QStringLiteral("limit-active-high"), settings.limitActiveHigh},
            {QStringLiteral("max-speed"), s.Slider2},
            {QStringLiteral("acceleration"), s.Slider3},
            {QStringLiteral("amplitude"), s.Slider4},
            {QStringLiteral("idle-percent"), s.Slider5}};
}

} // namespace kvx::ctl
