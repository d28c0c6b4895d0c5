// The raw collection functions: plain collection into a caller's buffer, and triggered
// collection of one burst or of repeated bursts that each wait for their own trigger.
#include <cstdint>
#include <optional>

#include "acquisition_memory.h"
#include "c_boundary.h"
#include "errors.h"
#include "libzv.h"
#include "sink_copy.h"
#include "sink_trigger.h"

namespace {

// The collection writes every place of the destination: huge pages spare it most page faults.
void advise_destination(uint16_t *buffer, uint64_t samples) {
    if (samples <= SIZE_MAX / sizeof(uint16_t))
        zv::advise_huge_pages(buffer, size_t(samples) * sizeof(uint16_t));
}

// Checks shared by every collection function, in order: the function's result when it ends
// here (a count of 0 is done at once, without touching the device), nothing to go on.
std::optional<int> check_request(zv_device *dev, const uint16_t *buffer, uint64_t nsamples) {
    if (dev == nullptr) return zv::set_error(zv::Error::invalid_device);
    if (nsamples == 0) return 0;
    if (buffer == nullptr) return zv::set_error(zv::Error::null_buffer);
    return std::nullopt;
}

int collect_bursts(zv_device *dev, uint16_t *buffer, ZV_TRIGGER_MODE_t mode, uint64_t bursts,
                   uint64_t burst_length, int32_t timeout_ms) {
    zv::TriggerSinkRecord record{buffer, burst_length, bursts, burst_length,
                                 zv_trigger_state{0, 0, 14, 1, ZV_TRIGGER_NONE}};
    record.timeout_ms = timeout_ms;
    if (int status = zv::trigger_configure(record.trigger, mode)) return status;
    // No whole burst fits the buffer: there is nothing to collect.
    if (bursts == 0) return 0;
    advise_destination(buffer, bursts * burst_length);
    const int status = zv_collect(dev, zv::trigger_sink, &record);
    if (status == 0 && record.timed_out) return zv::set_error(zv::Error::trigger_timed_out);
    return status;
}

} // namespace

extern "C" {

int zv_get_raw_data(zv_device *dev, uint16_t *buffer, uint64_t nsamples) {
    return zv::c_status([&] {
        if (auto done = check_request(dev, buffer, nsamples)) return *done;
        advise_destination(buffer, nsamples);
        zv::CopySinkRecord record{buffer, nsamples};
        return zv_collect(dev, zv::copy_sink, &record);
    });
}

int zv_get_raw_data_triggered(zv_device *dev, uint16_t *buffer, uint64_t nsamples,
                              ZV_TRIGGER_MODE_t mode) {
    return zv_get_raw_data_triggered_timeout(dev, buffer, nsamples, mode, -1);
}

int zv_get_raw_data_per_trigger(zv_device *dev, uint16_t *buffer, uint64_t nsamples,
                                ZV_TRIGGER_MODE_t mode, uint64_t samples_per_trigger) {
    return zv_get_raw_data_per_trigger_timeout(dev, buffer, nsamples, mode, samples_per_trigger,
                                               -1);
}

int zv_get_raw_data_triggered_timeout(zv_device *dev, uint16_t *buffer, uint64_t nsamples,
                                      ZV_TRIGGER_MODE_t mode, int32_t timeout_ms) {
    return zv::c_status([&] {
        if (auto done = check_request(dev, buffer, nsamples)) return *done;
        return collect_bursts(dev, buffer, mode, 1, nsamples, timeout_ms);
    });
}

int zv_get_raw_data_per_trigger_timeout(zv_device *dev, uint16_t *buffer, uint64_t nsamples,
                                        ZV_TRIGGER_MODE_t mode, uint64_t samples_per_trigger,
                                        int32_t timeout_ms) {
    return zv::c_status([&] {
        if (auto done = check_request(dev, buffer, nsamples)) return *done;
        if (samples_per_trigger == 0) return zv::set_error(zv::Error::zero_samples_per_trigger);
        return collect_bursts(dev, buffer, mode, nsamples / samples_per_trigger,
                              samples_per_trigger, timeout_ms);
    });
}

} // extern "C"
