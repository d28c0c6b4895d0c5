#include "recorder/stream_positions.h"

#include <algorithm>
#include <cstring>

namespace zv::recording {

void StreamPositions::file_block(const zv_block &block, uint64_t stored, std::vector<GapRow> &gaps,
                                 std::vector<ChangeRow> &changes) {
    const uint64_t end = stored + block.count;
    std::vector<zv_gap> listed(block.gaps, block.gaps + (block.gaps ? block.ngaps : 0));
    std::stable_sort(listed.begin(), listed.end(),
                     [](const zv_gap &a, const zv_gap &b) { return a.index < b.index; });
    uint64_t listed_lost = 0;
    for (const zv_gap &gap : listed)
        listed_lost += gap.lost;
    if (block.lost > listed_lost) {
        const uint64_t unknown = block.lost - listed_lost;
        lost_ += unknown;
        gaps.push_back(GapRow{stored, unknown, 0});
    }

    // The stored index of stream position p: the samples of the block delivered before p, which
    // are its distance from the block's first sample less the missing positions in between. A
    // position inside a gap goes to the first sample after the gap.
    const auto stored_at = [&](uint64_t p) {
        if (p <= block.index) return stored;
        uint64_t missing = 0;
        for (const zv_gap &gap : listed)
            if (gap.index >= block.index && p > gap.index)
                missing += std::min(gap.lost, p - gap.index);
        const uint64_t delivered = p - block.index - std::min(missing, p - block.index);
        return std::min(stored + delivered, end);
    };

    for (const zv_gap &gap : listed) {
        lost_ += gap.lost;
        gaps.push_back(GapRow{stored_at(gap.index), gap.lost, gap.kind});
    }

    const size_t first_change = changes.size();
    for (uint32_t c = 0; block.changes && c < block.nchanges; ++c) {
        const zv_setting_change &change = block.changes[c];
        ChangeRow row{};
        row.index = stored_at(change.index);
        std::memcpy(row.name, change.name, sizeof row.name);
        row.name[sizeof row.name - 1] = '\0';
        row.value = change.value;
        changes.push_back(row);
    }
    std::stable_sort(changes.begin() + long(first_change), changes.end(),
                     [](const ChangeRow &a, const ChangeRow &b) { return a.index < b.index; });
}

} // namespace zv::recording
