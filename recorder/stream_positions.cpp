#include "recorder/stream_positions.h"

#include <algorithm>
#include <cstring>

namespace zv::recording {

namespace {

uint64_t clamp(uint64_t value, uint64_t low, uint64_t high) {
    return std::min(std::max(value, low), high);
}

// The stored index of the sample at `position`, when `lost` samples were lost before it.
uint64_t stored_index(uint64_t position, uint64_t lost) {
    return position > lost ? position - lost : 0;
}

} // namespace

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

    // Lost samples counted up to each listed gap, so changes can be placed among them.
    std::vector<uint64_t> lost_through(listed.size());
    for (size_t i = 0; i < listed.size(); ++i) {
        lost_ += listed[i].lost;
        lost_through[i] = lost_;
        gaps.push_back(GapRow{clamp(stored_index(listed[i].index, lost_), stored, end),
                              listed[i].lost, listed[i].kind});
    }

    const size_t first_change = changes.size();
    const uint64_t lost_before = lost_ - listed_lost;
    for (uint32_t c = 0; block.changes && c < block.nchanges; ++c) {
        const zv_setting_change &change = block.changes[c];
        // Past the gaps before it; a change at a missing position goes to the sample after the
        // gap.
        uint64_t index = stored_index(change.index, lost_before);
        for (size_t i = 0; i < listed.size(); ++i) {
            if (listed[i].index <= change.index) {
                index = stored_index(change.index, lost_through[i]);
            } else {
                if (listed[i].index - listed[i].lost <= change.index)
                    index = stored_index(listed[i].index, lost_through[i]);
                break;
            }
        }
        ChangeRow row{};
        row.index = clamp(index, stored, end);
        std::memcpy(row.name, change.name, sizeof row.name);
        row.name[sizeof row.name - 1] = '\0';
        row.value = change.value;
        changes.push_back(row);
    }
    std::stable_sort(changes.begin() + long(first_change), changes.end(),
                     [](const ChangeRow &a, const ChangeRow &b) { return a.index < b.index; });
}

} // namespace zv::recording
