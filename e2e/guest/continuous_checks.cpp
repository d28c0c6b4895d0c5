// A continuous raw stream through the kernel's USB stack for longer than twenty seconds, every
// sample checked against the ramp across reads; then the detector is unplugged under it: the read
// fails with the USB error within a second, after the samples before it, and the stream and the
// dead handle close cleanly.
#include <chrono>
#include <string>

#include "e2e/guest/samples.h"
#include "e2e/guest/steps.h"

namespace zve2e {

namespace {

// A read of a tenth of a second at the high-speed detector's rate.
constexpr size_t kReadSamples = 50000;
constexpr int32_t kReadTimeoutMs = 5000;
constexpr double kMinimumSeconds = 20;
constexpr double kMaxSecondsToNotice = 1;

} // namespace

void check_continuous_read(Report &report, Attached &a) {
    report.check(a.collections + 1 == a.detector->unplug.collection,
                 "collection count in step with the server",
                 format("this is collection %u", a.collections + 1));
    zv_raw_stream *stream = zv_raw_stream_open(a.dev, false);
    if (!report.check(stream != nullptr, "raw stream opened", last_error())) return;
    ++a.collections;
    if (!report.check(zv_raw_stream_start(stream, 1.0) == 0, "raw stream started", last_error())) {
        zv_raw_stream_close(stream);
        return;
    }
    std::vector<uint16_t> samples(kReadSamples);
    uint64_t read = 0, breaks = 0, misplaced = 0, lost = 0;
    std::string where; // the first breaks: stream position and the step found there
    bool have_last = false;
    uint16_t last = 0;
    const auto start = std::chrono::steady_clock::now();
    auto last_good = start;
    int status = 0;
    zv_block block{};
    while (status == 0) {
        status = zv_raw_stream_read(stream, samples.data(), nullptr, samples.size(), kReadTimeoutMs,
                                    &block);
        if (status != 0) break;
        last_good = std::chrono::steady_clock::now();
        // Continuity within the read, and from the previous read's last sample.
        for (size_t at : ramp_breaks(samples.data(), block.count)) {
            if (++breaks <= 4)
                where += format(" at %llu (+%u)", (unsigned long long)(block.index + at + 1),
                                ramp_distance(samples[at], samples[at + 1]));
        }
        if (have_last && ramp_distance(last, samples[0]) != (1 + block.lost) % kRampLength) {
            if (++breaks <= 4)
                where += format(" at %llu (+%u, between reads)", (unsigned long long)block.index,
                                ramp_distance(last, samples[0]));
        }
        if (block.index != read + lost + block.lost) ++misplaced;
        lost += block.lost;
        read += block.count;
        last = samples[block.count - 1];
        have_last = true;
    }
    const double streamed = std::chrono::duration<double>(last_good - start).count();
    const double noticed = seconds_since(last_good);
    report.check(streamed >= kMinimumSeconds, "streamed for twenty seconds before the unplug",
                 format("%.1f s, %llu samples", streamed, (unsigned long long)read));
    report.check(breaks == 0 && misplaced == 0 && lost == 0,
                 "every sample continues the ramp, read after read",
                 format("%llu breaks, %llu misplaced blocks, %llu samples lost",
                        (unsigned long long)breaks, (unsigned long long)misplaced,
                        (unsigned long long)lost) +
                     where);
    report.check(status == ZV_ERROR_USB, "the unplug ends the read with the USB error",
                 format("status %d, %s", status, last_error().c_str()));
    report.check(noticed < kMaxSecondsToNotice, "the unplug is noticed within a second",
                 format("%.2f s", noticed));
    report.check(!zv_raw_stream_running(stream), "the stream no longer runs", "");
    zv_raw_stream_close(stream);
    zv_close(a.dev);
    a.dev = nullptr;
    report.note("the stream and the dead handle closed");
}

} // namespace zve2e
