// Collections through the libusb backend's isochronous transfers: plain, triggered on port S,
// bursts each waiting for its own trigger, a trigger on the end of a port T pulse, and a stream
// with a data-loss marker seen through a sample sink.
#include "e2e/guest/port_record.h"
#include "e2e/guest/samples.h"
#include "e2e/guest/steps.h"

namespace zve2e {

namespace {

// The square wave on port S: high for 25 of every 100 samples.
constexpr uint32_t kWavePeriod = 100;
constexpr uint32_t kWaveHigh = 25;
constexpr size_t kTriggeredSamples = 1000;
constexpr size_t kBursts = 8;
constexpr size_t kBurstSamples = 30;
constexpr size_t kUnwrittenTail = 7;
constexpr uint16_t kUntouched = 0xBEEF; // never streamed: the port bits of the ramp are clear
// The pulse on port T outlasts the start of a collection (the first transfers are discarded).
constexpr uint32_t kPulseSamples = 200000;
constexpr size_t kAfterPulseSamples = 2000;

std::string failed(int status) {
    return format("status %d, %s", status, last_error().c_str());
}

bool start_square_wave(Report &report, zv_device *dev) {
    const int status = zv_port_pwm(dev, ZV_PORT_S, clocks_for_samples(dev, kWaveHigh),
                                   clocks_for_samples(dev, kWavePeriod));
    return report.check(status == 0, "square wave on port S", failed(status));
}

// Runs of 25 high and 75 low samples, starting high (the last run may be cut short).
bool square_wave_from_rise(const BitRuns &runs) {
    if (!runs.first_level || runs.lengths.size() < 2) return false;
    for (size_t k = 0; k < runs.lengths.size(); ++k) {
        const size_t expected = k % 2 == 0 ? kWaveHigh : kWavePeriod - kWaveHigh;
        const bool last = k + 1 == runs.lengths.size();
        if (last ? runs.lengths[k] > expected : runs.lengths[k] != expected) return false;
    }
    return true;
}

struct SinkRecord {
    size_t calls = 0;
    size_t samples = 0;
    size_t inner_breaks = 0; // within packets
    size_t joins_broken = 0; // between packets without the lost flag
    size_t lost_flags = 0;
    uint32_t lost_gap = 0; // ramp steps across the packet flagged as after a loss
    size_t calls_after_loss = 0;
    bool have_last = false;
    uint16_t last = 0;
};

constexpr size_t kCallsAfterLoss = 32;
constexpr size_t kMaxCalls = 2000;

int record_packet(const uint16_t *samples, int count, int data_lost, void *user) {
    SinkRecord &r = *static_cast<SinkRecord *>(user);
    ++r.calls;
    if (count > 0) {
        r.inner_breaks += ramp_breaks(samples, size_t(count)).size();
        if (r.have_last) {
            const uint32_t gap = ramp_distance(r.last, samples[0]);
            if (data_lost)
                r.lost_gap = gap;
            else if (gap != 1)
                ++r.joins_broken;
        }
        r.have_last = true;
        r.last = samples[count - 1];
        r.samples += size_t(count);
    }
    if (data_lost) ++r.lost_flags;
    if (r.lost_flags > 0) ++r.calls_after_loss;
    return r.calls_after_loss < kCallsAfterLoss && r.calls < kMaxCalls;
}

} // namespace

void check_plain_collection(Report &report, Attached &a, size_t nsamples) {
    std::vector<uint16_t> s(nsamples, kUntouched);
    const int status = collect_raw(a, s);
    const std::vector<size_t> breaks = ramp_breaks(s.data(), s.size());
    const size_t port_bits = bit_mismatches(s.data(), s.size(), kPortSBit, false) +
                             bit_mismatches(s.data(), s.size(), kPortTBit, false);
    report.check(status == 0 && breaks.empty() && port_bits == 0,
                 format("%zu samples collected without a gap", nsamples).c_str(),
                 status != 0 ? failed(status)
                             : describe_breaks(breaks, s.data()) +
                                   format(", %zu port bits set", port_bits));
}

void check_triggered_collection(Report &report, Attached &a) {
    if (!start_square_wave(report, a.dev)) return;
    std::vector<uint16_t> s(kTriggeredSamples, kUntouched);
    const int status = collect_triggered(a, s, ZV_TRIGGER_S_UP);
    const BitRuns runs = bit_runs(s.data(), s.size(), kPortSBit);
    const size_t breaks = ramp_breaks(s.data(), s.size()).size();
    report.check(status == 0 && square_wave_from_rise(runs) && breaks == 0,
                 "collection triggered on a rising edge of port S",
                 status != 0 ? failed(status)
                             : describe(runs) + format(", %zu ramp breaks", breaks));
    zv_port_read(a.dev, ZV_PORT_S);
}

void check_burst_collection(Report &report, Attached &a) {
    if (!start_square_wave(report, a.dev)) return;
    std::vector<uint16_t> s(kBursts * kBurstSamples + kUnwrittenTail, kUntouched);
    const int status = collect_per_trigger(a, s, ZV_TRIGGER_S_DOWN, uint64_t(kBurstSamples));
    size_t bad_bursts = 0, bad_spacing = 0, tail_written = 0;
    for (size_t b = 0; b < kBursts; ++b) {
        const uint16_t *burst = s.data() + b * kBurstSamples;
        if (!ramp_breaks(burst, kBurstSamples).empty() ||
            bit_mismatches(burst, kBurstSamples, kPortSBit, false) != 0)
            ++bad_bursts;
        if (b > 0 && ramp_distance(burst[-int(kBurstSamples)], burst[0]) != kWavePeriod)
            ++bad_spacing;
    }
    for (size_t i = kBursts * kBurstSamples; i < s.size(); ++i)
        if (s[i] != kUntouched) ++tail_written;
    report.check(status == 0 && bad_bursts == 0 && bad_spacing == 0 && tail_written == 0,
                 "bursts each starting at their own falling edge of port S",
                 status != 0 ? failed(status)
                             : format("%zu bursts broken, %zu spaced wrongly, %zu samples "
                                      "written past the bursts",
                                      bad_bursts, bad_spacing, tail_written));
    zv_port_read(a.dev, ZV_PORT_S);
}

void check_pulse_trigger(Report &report, Attached &a) {
    const int pulse = zv_port_pulse(a.dev, ZV_PORT_T, clocks_for_samples(a.dev, kPulseSamples));
    const PortState t = port_state(a.dev, ZV_PORT_T);
    report.check(pulse == 0 && t.mode == 5, "pulse on port T", describe(t));
    std::vector<uint16_t> s(kAfterPulseSamples, kUntouched);
    const int status = collect_triggered(a, s, ZV_TRIGGER_T_DOWN);
    const size_t high = bit_mismatches(s.data(), s.size(), kPortTBit, false);
    const size_t breaks = ramp_breaks(s.data(), s.size()).size();
    report.check(status == 0 && high == 0 && breaks == 0,
                 "collection triggered by the end of the pulse",
                 status != 0 ? failed(status)
                             : format("%zu samples with T high, %zu ramp breaks", high, breaks));
    zv_port_read(a.dev, ZV_PORT_T);
}

void check_data_loss(Report &report, Attached &a) {
    report.check(a.collections + 1 == a.detector->data_loss.collection,
                 "collection count in step with the server",
                 format("this is collection %u", a.collections + 1));
    SinkRecord r;
    const int status = collect_with_sink(a, record_packet, &r);
    report.check(status == 0, "collection with a sample sink", failed(status));
    report.check(r.lost_flags == 1 && r.lost_gap == kMarkerPacketSamples + 1,
                 "the data-loss marker is recognised and its packet dropped",
                 format("%zu packets flagged, %u ramp steps across the loss (the marker packet "
                        "held %u samples)",
                        r.lost_flags, r.lost_gap, kMarkerPacketSamples));
    report.check(r.inner_breaks == 0 && r.joins_broken == 0, "every other sample in order",
                 format("%zu calls, %zu samples, %zu breaks within packets, %zu between", r.calls,
                        r.samples, r.inner_breaks, r.joins_broken));
}

} // namespace zve2e
