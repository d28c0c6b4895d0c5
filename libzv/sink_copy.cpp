#include "sink_copy.h"

#include <algorithm>
#include <cstring>

#include "acquisition_console.h"

namespace zv {

int copy_sink(const uint16_t *samples, int count, int data_lost, void *user) {
    auto &record = *static_cast<CopySinkRecord *>(user);
    if (data_lost) console::data_loss_warning();
    const uint64_t n = count > 0 ? static_cast<uint64_t>(count) : 0;
    const uint64_t c = std::min(n, record.remaining);
    if (c > 0) std::memcpy(record.write, samples, c * sizeof(uint16_t));
    record.write += c;
    record.remaining -= c;
    return record.remaining > 0;
}

} // namespace zv
