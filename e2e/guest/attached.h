// One of the test's detectors as the guest holds it: its table entry, its open handle, and the
// number of collections run on it since it was plugged in, which places the events its server
// stages (data loss, unplug). Every collection goes through these wrappers so the count stays
// true.
#pragma once

#include <cstdint>
#include <vector>

#include "e2e/detectors.h"
#include "libzv/libzv.h"

namespace zve2e {

struct Attached {
    const Detector *detector = nullptr;
    zv_device *dev = nullptr;
    uint32_t collections = 0;
};

// The detector's serial as the library reports it ("unknown" for the unprogrammed one).
const char *expected_serial(const Detector &detector);
bool unprogrammed(const Detector &detector);
// A piece of the serial that only this detector's serial contains.
const char *serial_piece(const Detector &detector);

// Plain, triggered and burst collections into `samples` (sized by the caller); return the status.
int collect_raw(Attached &a, std::vector<uint16_t> &samples);
int collect_triggered(Attached &a, std::vector<uint16_t> &samples, ZV_TRIGGER_MODE_t mode);
int collect_per_trigger(Attached &a, std::vector<uint16_t> &samples, ZV_TRIGGER_MODE_t mode,
                        uint64_t samples_per_trigger);
int collect_with_sink(Attached &a, zv_sample_sink sink, void *user);

} // namespace zve2e
