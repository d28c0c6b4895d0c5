// The recording reader: opens a recording read-only (also while it is written, or after its writer
// was killed, through HDF5's single-writer / multiple-reader mode), checks it against the layout
// and reads its attributes, tables and any range of stored samples, as values or as optical power.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "recorder/header_attributes.h"
#include "recorder/recording_layout.h"

namespace zv::recording {

class RecordingReader {
  public:
    // Throws RecordingError: file_error (missing, unreadable, damaged or truncated),
    // not_a_recording (not HDF5, or HDF5 without a zv recording in it).
    explicit RecordingReader(const std::string &path);
    ~RecordingReader();
    RecordingReader(const RecordingReader &) = delete;
    RecordingReader &operator=(const RecordingReader &) = delete;

    const std::string &path() const;
    int kind() const;  // ZV_RECORDING_RAW or ZV_RECORDING_FLOAT32
    int state() const; // ZV_RECORDING_CLOSED, _WRITING or _UNCLOSED, when it was opened
    uint64_t length() const;
    const Header &header() const;
    const std::vector<AttributeValue> &attributes() const;
    const std::vector<GapRow> &gaps() const;
    const std::vector<ChangeRow> &changes() const;

    // Takes in the samples and table rows flushed since; returns the new length.
    uint64_t refresh();

    // Stored samples [start, start + count) of the recording's kind (uint16 or float). A range
    // outside the recording throws RecordingError outside_recording.
    void read(uint64_t start, uint64_t count, void *out);
    // Their optical power in W x 10^units (see zv_recording_read_power).
    void read_power(uint64_t start, uint64_t count, int32_t units, float *out);

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace zv::recording
