// Stream positions to stored-sample indices. A continuous stream numbers its samples from the start
// with the lost ones counted ("position"), so position / sample rate is time; a recording stores
// only the samples that arrived, so each gap and setting change is filed under the index of the
// stored sample it comes before. A gap at position q that lost L samples means positions q to
// q + L - 1 are missing and the sample at q + L is the first after it.
#pragma once

#include <cstdint>
#include <vector>

#include "libzv/libzv.h"
#include "recorder/recording_layout.h"

namespace zv::recording {

class StreamPositions {
  public:
    // Files the gaps and changes of a block whose first sample will be stored at index `stored`
    // (the number of samples stored before it), appending one row each to gaps and changes. Rows
    // come out in order of index, each between stored and stored + block.count. Samples the
    // block reports lost beyond its gap list become one gap of unknown kind before its first
    // sample.
    void file_block(const zv_block &block, uint64_t stored, std::vector<GapRow> &gaps,
                    std::vector<ChangeRow> &changes);

    // Samples lost in all the blocks so far.
    uint64_t lost() const { return lost_; }

  private:
    uint64_t lost_ = 0;
};

} // namespace zv::recording
