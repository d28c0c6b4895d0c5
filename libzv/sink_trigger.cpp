#include "sink_trigger.h"

#include <algorithm>
#include <cstring>

#include "acquisition_console.h"

namespace zv {

int trigger_sink(const uint16_t *samples, int count, int data_lost, void *user) {
    auto &record = *static_cast<TriggerSinkRecord *>(user);
    int n = std::max(count, 0);
    for (;;) {
        if (data_lost) console::data_loss_warning();
        // Once every burst is complete nothing more may be written.
        if (record.bursts == 0) return 0;
        if (!record.trigger.triggered) {
            if (record.timeout_ms >= 0) {
                const auto now = std::chrono::steady_clock::now();
                if (!record.waiting) {
                    record.deadline = now + std::chrono::milliseconds(record.timeout_ms);
                    record.waiting = true;
                } else if (now > record.deadline) {
                    record.timed_out = true;
                    return 0;
                }
            }
            const int start = trigger_search(record.trigger, samples, n);
            if (start < 0) return 1;
            samples += start;
            n -= start;
        }
        const uint64_t c = std::min(static_cast<uint64_t>(n), record.remaining);
        if (c > 0) std::memcpy(record.write, samples, c * sizeof(uint16_t));
        record.write += c;
        record.remaining -= c;
        if (record.remaining > 0) return 1;

        // The burst is complete: the next one needs a trigger of its own, in its own time.
        record.remaining = record.burst_length;
        record.bursts -= 1;
        record.waiting = false;
        trigger_configure(record.trigger, record.trigger.mode);
        if (record.bursts == 0) return 0;
        if (c == static_cast<uint64_t>(n)) return 1;
        samples += c;
        n -= static_cast<int>(c);
    }
}

} // namespace zv
