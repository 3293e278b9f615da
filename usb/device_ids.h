// Which USB devices the library takes for controllers: vendor and product id
// pairs, by default the device family's factory-set 10C4:EA61. A controller
// that carries a product id of its own is named in KVX340_USB_IDS.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace kvx::usb {

struct DeviceId {
    uint16_t vendor = 0;
    uint16_t product = 0;
    bool operator==(const DeviceId&) const = default;
};

inline constexpr DeviceId FactoryDeviceId{0x10C4, 0xEA61};
inline constexpr const char* DeviceIdsVariable = "KVX340_USB_IDS";

// "10c4:ea61,10c4:8a5e": pairs of hexadecimal ids, comma-separated, blanks
// around them ignored. Nothing when the text is malformed or lists nothing.
std::optional<std::vector<DeviceId>> parseDeviceIds(std::string_view text);

// The list in force: the variable's when it is set and well-formed, else
// the factory id. A malformed value is reported on standard error, once.
std::vector<DeviceId> deviceIdsFromEnvironment();

} // namespace kvx::usb
