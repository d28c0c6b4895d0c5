// Who may read and start a continuous stream. Normally any thread (one at a time, as the caller
// arranges); while a recorder records the stream, only a thread acting for the recorder, since a
// second reader would take samples the recording then lacks and a restart would replace the
// acquisition under it. A claim is refused while a read is in progress on another thread, for
// the same reason.
#pragma once

#include <mutex>

namespace zv {

class ReaderClaim {
  public:
    // Makes `owner` the stream's only reader. False with the error stored when the stream is
    // claimed already or a read of it is in progress.
    bool claim(const void *owner);
    // Ends owner's claim (nothing when it holds none).
    void release(const void *owner);
    bool claimed() const;

    // Whether the calling thread may read or start the stream: nobody claims it, or the thread
    // acts for the claimant. False with the error stored otherwise.
    bool allows_caller() const;
    // A read of the stream starts on the calling thread: false with the error stored when
    // allows_caller() is false. end_read ends it.
    bool begin_read();
    void end_read();

  private:
    mutable std::mutex mutex_;
    const void *owner_ = nullptr;
    int reads_ = 0; // reads in progress
};

// Marks the calling thread as acting for a claimant while it lives (the thread that starts a
// recording, for the start; the recorder's thread, for its life).
class ActingFor {
  public:
    explicit ActingFor(const void *owner);
    ~ActingFor();
    ActingFor(const ActingFor &) = delete;
    ActingFor &operator=(const ActingFor &) = delete;

  private:
    const void *previous_;
};

// begin_read and end_read around one read: `allowed` says whether the read may go on.
class ClaimedRead {
  public:
    explicit ClaimedRead(ReaderClaim &claim) : claim_(claim), allowed(claim.begin_read()) {}
    ~ClaimedRead() {
        if (allowed) claim_.end_read();
    }
    ClaimedRead(const ClaimedRead &) = delete;
    ClaimedRead &operator=(const ClaimedRead &) = delete;

  private:
    ReaderClaim &claim_;

  public:
    const bool allowed;
};

} // namespace zv
