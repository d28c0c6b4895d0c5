// The recording writer: creates a recording file (recording_layout.h) and appends blocks of samples
// with their description, in HDF5's single-writer / multiple-reader mode.
//
// Samples are gathered into whole HDF5 chunks and each full chunk is written once, straight from
// the caller's memory when a block holds whole chunks. A flush (at least every flush_interval
// while blocks arrive, and on close) also writes the partly filled chunk and the new table rows and
// makes them visible to readers; a process killed at any moment leaves a file holding everything
// up to its last flush. Behind each flush, the pages written go to the disk and leave the page
// cache (write_behind.h). A failed write, or a write that would leave less than the disk reserve
// free, stops the writer for good: it writes what it holds where it can, closes the file, and
// every later call throws the same RecordingError, which names the file and the cause.
//
// One thread drives a writer. HDF5's own error printing should be off on that thread (QuietHdf5).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "libzv/libzv.h"

namespace zv::recording {

struct WriterOptions {
    // Samples per HDF5 chunk; 0 chooses a quarter of a second of samples, from 16 Ki to 1 Mi.
    uint64_t chunk_samples = 0;
    // Seconds between flushes while blocks arrive.
    double flush_interval = 0.5;
    // Bytes of the disk left free; 0 keeps one chunk and 2 MiB (room to close the file cleanly).
    uint64_t disk_reserve = 0;
};

class RecordingWriter {
  public:
    // Creates the file; throws RecordingError (file exists without overwrite, a writer is writing
    // it, the folder cannot be written, ...). kind: ZV_RECORDING_RAW or ZV_RECORDING_FLOAT32.
    RecordingWriter(const std::string &path, const zv_recording_info &info, int kind,
                    bool overwrite, const WriterOptions &options = {});
    // Closes the file if close() was not called, ignoring failures.
    ~RecordingWriter();
    RecordingWriter(const RecordingWriter &) = delete;
    RecordingWriter &operator=(const RecordingWriter &) = delete;

    // Appends block.count samples of the writer's kind (uint16 or float) and files the block's gaps
    // and changes; flushes when one is due.
    void append(const void *samples, const zv_block &block);
    void flush();
    // Flushes when flush_interval has passed since the last flush; true when it flushed. A
    // writer waiting for samples calls it so that what it holds never waits longer.
    bool flush_if_due();
    // Flushes and closes the file; throws the writer's failure, if it had one.
    void close();

    uint64_t samples() const; // stored so far (appended, flushed or not)
    uint64_t lost() const;    // reported lost by the blocks so far
    uint64_t chunk_samples() const;
    int kind() const;
    const std::string &path() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace zv::recording
