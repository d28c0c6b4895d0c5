// The interfaces and endpoints a configuration descriptor announces, as the usbredir protocol
// reports them to its peer, and where each endpoint descriptor sits in the bytes (to change its
// service interval).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zve2e {

struct InterfaceEntry {
    uint8_t number;
    uint8_t alt;
    uint8_t interface_class;
    uint8_t subclass;
    uint8_t protocol;
};

struct EndpointEntry {
    uint8_t interface;
    uint8_t alt;
    uint8_t address;
    uint8_t attributes;
    uint16_t w_max_packet_size;
    uint8_t interval;
    bool has_companion;
    uint8_t max_burst;
    uint8_t companion_attributes;
    size_t offset; // of the endpoint descriptor within the configuration bytes
};

struct ConfigurationLayout {
    std::vector<InterfaceEntry> interfaces; // every alternate setting
    std::vector<EndpointEntry> endpoints;
};

// Walks the descriptors of a configuration; stops at the first one that does not fit.
ConfigurationLayout configuration_layout(const std::vector<uint8_t> &configuration);

// Sets bInterval of every endpoint descriptor with `address`; false when there is none.
bool set_endpoint_interval(std::vector<uint8_t> &configuration, uint8_t address, uint8_t interval);

} // namespace zve2e
