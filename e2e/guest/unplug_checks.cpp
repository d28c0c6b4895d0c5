// The detector unplugged in the middle of a collection: the collection ends with an error
// instead of hanging, what arrived before is intact, the dead handle fails cleanly and closes,
// the other detector carries on, and the detector is found again when it comes back.
#include <chrono>
#include <cstring>
#include <unistd.h>

#include "e2e/guest/samples.h"
#include "e2e/guest/steps.h"

namespace zve2e {

namespace {

constexpr uint16_t kUntouched = 0xBEEF;
constexpr uint32_t kCollectionSeconds = 10; // far longer than the server waits to unplug
constexpr double kMaxSecondsToNotice = 5;
constexpr int kReplugSeconds = 20;
constexpr useconds_t kPollMicros = 250000;
constexpr size_t kSamplesAfterReplug = 20000;

} // namespace

void check_unplug(Report &report, Attached &a, Attached &other) {
    report.check(a.collections + 1 == a.detector->unplug.collection,
                 "collection count in step with the server",
                 format("this is collection %u", a.collections + 1));
    std::vector<uint16_t> s(size_t(a.detector->samplerate) * kCollectionSeconds, kUntouched);
    auto start = std::chrono::steady_clock::now();
    const int status = collect_raw(a, s);
    const double took = seconds_since(start);
    report.check(status == ZV_ERROR_USB && zv_get_error() == ZV_ERROR_USB,
                 "the collection ends with a USB error",
                 format("status %d, %s after %.2f s", status, last_error().c_str(), took));
    report.check(took < kMaxSecondsToNotice, "the unplug is noticed promptly",
                 format("%.2f s", took));
    size_t arrived = 0;
    while (arrived < s.size() && s[arrived] != kUntouched)
        ++arrived;
    const std::vector<size_t> breaks = ramp_breaks(s.data(), arrived);
    report.check(arrived > 0 && breaks.empty(), "samples before the unplug are intact",
                 format("%zu samples, ", arrived) + describe_breaks(breaks, s.data()));

    start = std::chrono::steady_clock::now();
    const int again = zv_get_raw_data(a.dev, s.data(), 1000);
    report.check(
        again != 0 && seconds_since(start) < kMaxSecondsToNotice, "the dead handle fails promptly",
        format("status %d, %s after %.2f s", again, last_error().c_str(), seconds_since(start)));
    const int feature = zv_read_feature(a.dev, ZV_FEATURE_ADCCLOCK);
    report.check(feature == -1 && zv_get_error() == 32, "requests to the dead handle fail",
                 format("read %d, %s", feature, last_error().c_str()));
    // Closing it used to abort the program inside libusb (see the README).
    zv_close(a.dev);
    a.dev = nullptr;
    report.note("the dead handle closed");

    const int still = zv_read_feature(other.dev, ZV_FEATURE_ADCCLOCK);
    report.check(still == 1, format("%s carries on", other.detector->name).c_str(),
                 format("feature reads %d", still));

    start = std::chrono::steady_clock::now();
    for (int tries = 0; !a.dev && tries < kReplugSeconds * 4; ++tries) {
        a.dev = zv_open_serial(serial_piece(*a.detector));
        if (!a.dev) usleep(kPollMicros);
    }
    if (!report.check(a.dev != nullptr, "found again after being plugged back in",
                      format("after %.1f s", seconds_since(start))))
        return;
    a.collections = 0;
    check_plain_collection(report, a, kSamplesAfterReplug);
}

} // namespace zve2e
