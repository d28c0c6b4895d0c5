// The recorder: one continuous stream written to a recording on a thread of its own.
//
// The recorder claims the stream as its only reader (a second reader would take samples the
// recording then lacks), opens the file, starts the stream when it is not running, and reads it
// on its thread with a short time-out, appending every block with its gaps and setting changes
// to the writer. Disk latency stalls only that thread: the stream's ring holds the samples
// meanwhile, and a disk too slow for the stream shows as overflow gaps, counted and written
// like any other. What the writer holds reaches the file every half second, also while blocks
// pause.
//
// The recording ends after `nsamples` stored samples (exactly), after `seconds` of stream time,
// when stop() is called, when the stream is stopped or fails, or when the file cannot be written
// (disk full, write error). It then closes the file, stops the stream if the recorder started it
// (a stream that was running already is left running) and gives up its claim. A failure is kept
// with a message naming the file and the cause, for wait() and stop() to store as the calling
// thread's last error. wait(), stop() and the counts may be called from several threads at once;
// once the recording has ended, the recorder no longer touches its stream (which may then be
// freed before it).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "recorder/recorded_stream.h"
#include "recorder/recording_writer.h"

namespace zv::recording {

struct RecorderOptions {
    uint64_t nsamples = 0;     // stored samples to record; 0: no limit
    double seconds = 0;        // stream time to record from the first sample read; 0: no limit
    double buffer_seconds = 1; // ring of a stream the recorder starts
    bool overwrite = false;
    WriterOptions writer;
    // Called on the recorder's thread before each block is appended (a test slows the writer).
    std::function<void()> before_append;
};

class Recorder {
  public:
    // Starts recording stream to path. Null with the calling thread's error stored when the
    // options are invalid, the stream is claimed or being read, the file cannot be created, or
    // the stream cannot start; nothing is then left behind (no file, the stream as it was).
    static std::unique_ptr<Recorder> start(std::unique_ptr<RecordedStream> stream,
                                           const std::string &path, const RecorderOptions &options);
    // Stops the recording if it runs.
    ~Recorder();
    Recorder(const Recorder &) = delete;
    Recorder &operator=(const Recorder &) = delete;

    // Waits up to timeout_ms (negative: without limit) for the recording to end, answering the
    // interrupt check on the calling thread. Returns 0 once it ended well, its failure once it
    // failed, ZV_ERROR_TIMEOUT while it still runs, ZV_ERROR_INTERRUPTED when interrupted (the
    // recording goes on). The error is stored as the calling thread's.
    int wait(int32_t timeout_ms);
    // Ends the recording and waits for the file to be closed; returns as wait does once ended.
    int stop();
    bool running() const { return !finished_.load(); }
    uint64_t samples() const { return samples_.load(); }
    uint64_t lost() const { return lost_.load(); }
    const std::string &path() const { return path_; }

  private:
    Recorder(std::unique_ptr<RecordedStream> stream, const std::string &path,
             const RecorderOptions &options);
    void run();
    // Reads and appends until the recording ends; returns its failure (0: none) with message.
    // Touches the stream only through reads (its device may be closed under it meanwhile).
    int record(std::string &message);
    int outcome();

    std::unique_ptr<RecordedStream> stream_;
    const std::string path_;
    const RecorderOptions options_;
    std::unique_ptr<RecordingWriter> writer_;
    bool started_stream_ = false;
    uint64_t read_size_ = 0;
    uint64_t span_ = 0; // the seconds as stream positions; 0: no limit

    std::atomic<bool> stop_requested_{false};
    std::atomic<bool> finished_{false};
    std::atomic<uint64_t> samples_{0};
    std::atomic<uint64_t> lost_{0};
    // The outcome, set once before finished_.
    std::mutex mutex_;
    std::condition_variable ended_;
    int status_ = 0;
    std::string message_;
    std::mutex join_mutex_;
    std::thread thread_;
};

} // namespace zv::recording
