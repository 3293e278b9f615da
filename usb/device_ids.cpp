#include "device_ids.h"

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <set>
#include <string>

namespace kvx::usb {
namespace {

std::string_view trimmed(std::string_view text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::optional<uint16_t> hexId(std::string_view text)
{
    if (text.empty() || text.size() > 4)
        return std::nullopt;
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
    if (error != std::errc{} || end != text.data() + text.size())
        return std::nullopt;
    return static_cast<uint16_t>(value);
}

} // namespace

std::optional<std::vector<DeviceId>> parseDeviceIds(std::string_view text)
{
    std::vector<DeviceId> ids;
    while (true) {
        const auto comma = text.find(',');
        const std::string_view item = trimmed(text.substr(0, comma));
        const auto colon = item.find(':');
        if (colon == std::string_view::npos)
            return std::nullopt;
        const auto vendor = hexId(item.substr(0, colon));
        const auto product = hexId(item.substr(colon + 1));
        if (!vendor || !product)
            return std::nullopt;
        ids.push_back({*vendor, *product});
        if (comma == std::string_view::npos)
            return ids;
        text.remove_prefix(comma + 1);
    }
}

std::vector<DeviceId> deviceIdsFromEnvironment()
{
    const char* value = std::getenv(DeviceIdsVariable);
    if (!value)
        return {FactoryDeviceId};
    if (auto ids = parseDeviceIds(value))
        return *ids;
    // Once per value: the program lists the controllers once, but a test or
    // a long-lived caller may list again and again.
    static std::mutex mutex;
    static std::set<std::string> reported;
    std::lock_guard lock(mutex);
    if (reported.insert(value).second)
        std::fprintf(stderr, "%s=\"%s\" is not a list like 10c4:ea61,10c4:8a5e and is ignored.\n",
                     DeviceIdsVariable, value);
    return {FactoryDeviceId};
}

} // namespace kvx::usb
