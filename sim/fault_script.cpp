#include "fault_script.h"

#include "axis_model.h"

#include <charconv>
#include <cmath>
#include <optional>

namespace kvx::sim {

namespace {

constexpr uint64_t MaxExchange = 1000000000ull;
constexpr double MaxSeconds = 1.0e7;

std::string_view trimmed(std::string_view text)
{
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos)
        return {};
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

std::vector<std::string_view> split(std::string_view text, char separator)
{
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    while (start <= text.size()) {
        const auto end = text.find(separator, start);
        const auto stop = end == std::string_view::npos ? text.size() : end;
        parts.push_back(trimmed(text.substr(start, stop - start)));
        start = stop + 1;
    }
    return parts;
}

std::optional<FaultKind> faultKindNamed(std::string_view name)
{
    if (name == "fail-write")
        return FaultKind::FailWrite;
    if (name == "short-write")
        return FaultKind::ShortWrite;
    if (name == "fail-read")
        return FaultKind::FailRead;
    if (name == "short-read")
        return FaultKind::ShortRead;
    if (name == "read-timeout")
        return FaultKind::ReadTimeout;
    if (name == "unplug")
        return FaultKind::Unplug;
    return std::nullopt;
}

// "12" (an exchange) or "t=2.5s" / "t=2.5" (seconds after the open).
std::optional<TimedFault> faultMoment(FaultKind kind, std::string_view when)
{
    TimedFault fault;
    fault.kind = kind;
    if (when.starts_with("t=")) {
        when.remove_prefix(2);
        if (when.ends_with('s'))
            when.remove_suffix(1);
        double seconds = 0;
        const auto [end, error] = std::from_chars(when.data(), when.data() + when.size(), seconds);
        if (error != std::errc() || end != when.data() + when.size() || !std::isfinite(seconds) || seconds < 0
            || seconds > MaxSeconds)
            return std::nullopt;
        fault.atTime = true;
        fault.seconds = seconds;
        return fault;
    }
    uint64_t exchange = 0;
    const auto [end, error] = std::from_chars(when.data(), when.data() + when.size(), exchange);
    if (error != std::errc() || end != when.data() + when.size() || exchange < 1 || exchange > MaxExchange)
        return std::nullopt;
    fault.exchange = exchange;
    return fault;
}

std::optional<std::vector<std::string>> productList(std::string_view names)
{
    std::vector<std::string> products;
    for (const auto name : split(names, ','))
        if (!name.empty() && products.size() < MaxProducts)
            products.emplace_back(name);
    if (products.empty())
        return std::nullopt;
    return products;
}

} // namespace

FaultScript parseFaultScript(std::string_view text)
{
    FaultScript script;
    bool noDevices = false;
    for (const auto item : split(text, ';')) {
        if (item == "count-fails") {
            script.countFails = true;
        } else if (item == "open-fails") {
            script.openFails = true;
        } else if (item == "no-devices") {
            noDevices = true;
        } else if (item == "switches-active-high") {
            script.switchesActiveHigh = true;
        } else if (item.starts_with("start-at=")) {
            // Inside the switches only: a switch the axis stands beyond
            // would never clear.
            const auto number = trimmed(item.substr(9));
            int64_t steps = 0;
            const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), steps);
            if (error == std::errc() && end == number.data() + number.size()
                && std::abs(static_cast<double>(steps)) < AxisConstants::TravelLimit)
                script.startAt = steps;
        } else if (item.starts_with("products=")) {
            if (auto products = productList(item.substr(9)))
                script.products = std::move(*products);
        } else if (const auto at = item.find('@'); at != std::string_view::npos) {
            const auto kind = faultKindNamed(trimmed(item.substr(0, at)));
            const auto fault = kind ? faultMoment(*kind, trimmed(item.substr(at + 1))) : std::nullopt;
            if (fault)
                script.faults.push_back(*fault);
        }
    }
    if (noDevices)
        script.products.clear();
    return script;
}

} // namespace kvx::sim
