#include "e2e/server/configuration_layout.h"

namespace zve2e {

namespace {
constexpr uint8_t kInterfaceType = 4;
constexpr uint8_t kEndpointType = 5;
constexpr uint8_t kCompanionType = 48;
constexpr size_t kEndpointIntervalOffset = 6;
} // namespace

ConfigurationLayout configuration_layout(const std::vector<uint8_t> &c) {
    ConfigurationLayout layout;
    InterfaceEntry current{0, 0, 0, 0, 0};
    for (size_t at = 0; at + 2 <= c.size();) {
        const size_t length = c[at];
        if (length < 2 || at + length > c.size()) break;
        const uint8_t type = c[at + 1];
        if (type == kInterfaceType && length >= 9) {
            current = {c[at + 2], c[at + 3], c[at + 5], c[at + 6], c[at + 7]};
            layout.interfaces.push_back(current);
        } else if (type == kEndpointType && length >= 7) {
            layout.endpoints.push_back({current.number, current.alt, c[at + 2], c[at + 3],
                                        uint16_t(c[at + 4] | c[at + 5] << 8), c[at + 6], false, 0,
                                        0, at});
        } else if (type == kCompanionType && length >= 6 && !layout.endpoints.empty()) {
            EndpointEntry &e = layout.endpoints.back();
            e.has_companion = true;
            e.max_burst = c[at + 2];
            e.companion_attributes = c[at + 3];
        }
        at += length;
    }
    return layout;
}

bool set_endpoint_interval(std::vector<uint8_t> &configuration, uint8_t address, uint8_t interval) {
    bool found = false;
    for (const EndpointEntry &e : configuration_layout(configuration).endpoints) {
        if (e.address != address) continue;
        configuration[e.offset + kEndpointIntervalOffset] = interval;
        found = true;
    }
    return found;
}

} // namespace zve2e
