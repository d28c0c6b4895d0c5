#include "e2e/guest/attached.h"

namespace zve2e {

bool unprogrammed(const Detector &detector) {
    return detector.product == 0x007F;
}

const char *expected_serial(const Detector &detector) {
    return unprogrammed(detector) ? "unknown" : detector.serial;
}

const char *serial_piece(const Detector &detector) {
    return unprogrammed(detector) ? "nknow" : detector.serial + 6;
}

int collect_raw(Attached &a, std::vector<uint16_t> &samples) {
    ++a.collections;
    return zv_get_raw_data(a.dev, samples.data(), samples.size());
}

int collect_triggered(Attached &a, std::vector<uint16_t> &samples, ZV_TRIGGER_MODE_t mode) {
    ++a.collections;
    return zv_get_raw_data_triggered(a.dev, samples.data(), samples.size(), mode);
}

int collect_per_trigger(Attached &a, std::vector<uint16_t> &samples, ZV_TRIGGER_MODE_t mode,
                        uint64_t samples_per_trigger) {
    ++a.collections;
    return zv_get_raw_data_per_trigger(a.dev, samples.data(), samples.size(), mode,
                                       samples_per_trigger);
}

int collect_with_sink(Attached &a, zv_sample_sink sink, void *user) {
    ++a.collections;
    return zv_collect(a.dev, sink, user);
}

} // namespace zve2e
