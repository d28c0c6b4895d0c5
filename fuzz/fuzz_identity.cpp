// The identity block as a detector answers it (any length, any bytes), the product name composed
// from it, and everything the library derives from it: identity accessors, the device summary,
// stored calibrations (the automatic type with an arbitrary gain-mode answer) and the
// photodiode's responsivity at an arbitrary wavelength.
//
// Input: a flags byte (bit 0: the unprogrammed detector, whose identity is not read), the length
// of the gain-mode answer (0 to 3) and its bytes, 8 bytes of a wavelength (a double, any bits),
// then the identity answer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "libzv/device_record.h"
#include "libzv/identity.h"
#include "libzv/libzv.h"
#include "sim/simulator.h"

namespace {

constexpr uint8_t kIdentityRequest = 0x30;
constexpr uint8_t kFeatureRead = 0xCD;
constexpr int kCalibrationTypes = 11;

std::shared_ptr<zvsim::SimulatedDetector> detector;
zv_device *dev = nullptr;

void check(bool condition) {
    if (!condition) std::abort();
}

bool terminated(const char *text, size_t size) {
    return strnlen(text, size) < size;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    detector = zvsim::attach(zvsim::DetectorConfig());
    dev = new zv_device();
    dev->transport =
        std::make_unique<zvusb::CCyDriverDevice>(nullptr, zvusb::kInterfaceClassSecondary, true);
    check(dev->transport->is_open());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 2) return 0;
    const bool unprogrammed = data[0] & 1;
    size_t at = 1;
    const size_t gain_length = data[at++] & 3;
    if (size < at + gain_length + sizeof(double)) return 0;
    const std::vector<uint8_t> gain(data + at, data + at + gain_length);
    at += gain_length;
    double wavelength;
    std::memcpy(&wavelength, data + at, sizeof wavelength);
    at += sizeof wavelength;
    const std::vector<uint8_t> identity(data + at, data + size);

    detector->clear_faults();
    detector->respond(kIdentityRequest, identity);
    detector->respond(kFeatureRead, gain, zvsim::RequestFaults::kUntilCleared);
    if (!zv::load_identity(*dev, !unprogrammed)) return 0;

    check(terminated(dev->product, sizeof dev->product));
    check(terminated(dev->serial, sizeof dev->serial));
    check(std::strncmp(dev->product, "HLM25 ", 6) == 0);
    check(std::strcmp(zv_get_serial(dev), dev->serial) == 0);
    const zv_device_info info = zv::summarize(*dev);
    check(terminated(info.product, sizeof info.product));
    check(terminated(info.serial, sizeof info.serial));
    // A rate of 0 is no rate: reported as not set, like the not-set value itself.
    const uint32_t rate = dev->identity.samplerate;
    check(zv_get_samplerate(dev) == (rate == 0 ? ZV_SAMPLERATE_NOT_SET : rate));
    check(zv_get_adcbits(dev) == dev->identity.adcbits);
    zv_get_fwversion(dev);
    zv_get_usb_speed(dev);

    zv_get_peak_responsivity(dev);
    zv_get_rel_responsivity(dev, wavelength);
    for (int type = 0; type <= kCalibrationTypes; ++type) {
        zv_get_calibration(dev, ZV_CALIBRATION_TYPE_t(type));
        zv_get_rel_calibration(dev, ZV_CALIBRATION_TYPE_t(type), wavelength);
    }
    return 0;
}
