// Arbitrary packets of samples through the checks the acquisition engine makes on them: the
// data-loss marker test, the trigger search and the triggered and plain sinks. However the
// stream is cut into packets, the sinks must write exactly what one sample-by-sample reading of
// the trigger rules gives, and never more than the caller's buffer holds.
//
// Input: trigger mode, burst length and count, then packets (length, data-lost flag, samples).
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "libzv/data_loss_marker.h"
#include "libzv/sink_copy.h"
#include "libzv/sink_trigger.h"
#include "libzv/trigger_detector.h"

namespace {

constexpr int kMarkerSpacing = 5120;

void check(bool condition) {
    if (!condition) std::abort();
}

bool marker_reference(const std::vector<uint16_t> &p) {
    for (long at = long(p.size()) - kMarkerSpacing; at > 0; at -= kMarkerSpacing) {
        bool all = true;
        for (int k = 0; k < 16 && all; ++k)
            all = p[size_t(at) + 2 * k] == 0xFFF3 && p[size_t(at) + 2 * k + 1] == 0x0003;
        if (all) return true;
    }
    return false;
}

// The trigger rules read one sample at a time: what a triggered collection of `bursts` bursts of
// `length` samples keeps from `stream`.
std::vector<uint16_t> triggered_reference(const std::vector<uint16_t> &stream, unsigned mode,
                                          uint64_t bursts, uint64_t length) {
    struct Condition {
        int bit, level;
        bool armed;
    };
    static const Condition kConditions[] = {{14, 1, false}, {14, 0, false}, {14, 1, true},
                                            {14, 0, true},  {15, 1, false}, {15, 0, false},
                                            {15, 1, true},  {15, 0, true}};
    std::vector<uint16_t> kept;
    bool triggered = false, armed = false;
    auto configure = [&] {
        triggered = armed = mode == 0;
        if (mode != 0) armed = kConditions[mode - 1].armed;
    };
    configure();
    uint64_t remaining = length;
    for (uint16_t s : stream) {
        if (bursts == 0) break;
        if (!triggered) {
            const Condition &c = kConditions[mode - 1];
            const int level = (s >> c.bit) & 1;
            if (!armed) {
                armed = level != c.level; // the arming sample is consumed
                continue;
            }
            if (level != c.level) continue;
            triggered = true;
        }
        kept.push_back(s);
        if (--remaining == 0) {
            remaining = length;
            --bursts;
            configure();
        }
    }
    return kept;
}

struct Packet {
    std::vector<uint16_t> samples;
    int data_lost;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzedDataProvider in(data, size);
    const unsigned mode = in.ConsumeIntegralInRange<unsigned>(0, 9);
    const uint64_t length = in.ConsumeIntegralInRange<uint64_t>(1, 3000);
    const uint64_t bursts = in.ConsumeIntegralInRange<uint64_t>(1, 4);
    std::vector<Packet> packets;
    std::vector<uint16_t> stream;
    while (in.remaining_bytes() > 0 && packets.size() < 64) {
        const size_t n = in.ConsumeIntegralInRange<size_t>(0, 12000);
        const int lost = in.ConsumeBool() ? 1 : 0;
        Packet p{std::vector<uint16_t>(n), lost};
        // Long packets repeat the input's words, so that markers and long runs are reachable.
        const std::vector<uint8_t> bytes = in.ConsumeBytes<uint8_t>(std::min<size_t>(2 * n, 256));
        for (size_t i = 0; i < n && !bytes.empty(); ++i)
            p.samples[i] =
                uint16_t(bytes[(2 * i) % bytes.size()] | bytes[(2 * i + 1) % bytes.size()] << 8);
        // The engine hands no marker packet to a sink.
        const bool marker = zv::is_data_loss_marker(p.samples.data(), int(n));
        check(marker == marker_reference(p.samples));
        if (marker) continue;
        stream.insert(stream.end(), p.samples.begin(), p.samples.end());
        packets.push_back(std::move(p));
    }

    // Plain collection of a few samples less than the stream holds.
    const uint64_t wanted = stream.size() > 0 ? stream.size() - stream.size() / 3 : 0;
    std::unique_ptr<uint16_t[]> plain(new uint16_t[wanted]);
    zv::CopySinkRecord copy{plain.get(), wanted};
    for (const Packet &p : packets)
        if (!zv::copy_sink(p.samples.data(), int(p.samples.size()), p.data_lost, &copy)) break;
    check(copy.remaining == 0 || wanted == 0);
    check(std::equal(plain.get(), plain.get() + wanted, stream.begin()));

    zv::TriggerSinkRecord record{};
    if (zv::trigger_configure(record.trigger, ZV_TRIGGER_MODE_t(mode)) != 0) {
        check(mode > 8);
        return 0;
    }
    const uint64_t places = bursts * length;
    std::unique_ptr<uint16_t[]> buffer(new uint16_t[places]);
    record.write = buffer.get();
    record.remaining = length;
    record.bursts = bursts;
    record.burst_length = length;
    bool stopped = false;
    for (const Packet &p : packets) {
        if (!zv::trigger_sink(p.samples.data(), int(p.samples.size()), p.data_lost, &record)) {
            stopped = true;
            break;
        }
    }
    const std::vector<uint16_t> expected = triggered_reference(stream, mode, bursts, length);
    const uint64_t written = uint64_t(record.write - buffer.get());
    check(written == expected.size());
    check(std::equal(expected.begin(), expected.end(), buffer.get()));
    check(stopped == (written == places));
    return 0;
}
