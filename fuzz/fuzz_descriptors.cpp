// The descriptor parsers over arbitrary bytes: device, configuration (with and without SuperSpeed
// companions) and BOS descriptors. A table they accept must agree with the bytes it came from.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "usb/cy_endpoint.h"
#include "usb/descriptor_parser.h"

using namespace zvusb;

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    DeviceDescriptor device;
    if (parse_device_descriptor(data, size, &device))
        check(device.bLength == kDeviceDescriptorSize && size >= kDeviceDescriptorSize);

    for (bool companions : {false, true}) {
        ConfigurationDescriptor configuration;
        if (!parse_configuration_descriptor(data, size, companions, &configuration)) continue;
        check(configuration.wTotalLength <= size);
        check(configuration.interfaces.size() <= kMaxInterfacesPerConfiguration);
        for (const InterfaceDescriptor &interface : configuration.interfaces) {
            check(interface.endpoints.size() == interface.bNumEndpoints);
            check(interface.endpoints.size() <= kMaxEndpointsPerInterface);
            for (const EndpointDescriptor &endpoint : interface.endpoints) {
                check(companions || !endpoint.has_companion);
                // Endpoint objects are built from every parsed descriptor.
                CCyIsocEndPoint built(nullptr, endpoint);
                check(built.max_packet_size <= max_packet_size_of(endpoint));
            }
        }
    }

    BosDescriptor bos;
    if (parse_bos_descriptor(data, size, &bos)) check(bos.present && size >= kBosHeaderSize);
    return 0;
}
