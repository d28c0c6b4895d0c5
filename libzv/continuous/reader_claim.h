// Who may read a continuous stream. Normally any thread (one at a time, as the caller arranges);
// while a recorder records the stream, only the recorder's thread, since a second reader would
// take samples the recording then lacks. A claim is refused while a read is in progress on
// another thread, for the same reason.
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

    // A read of the stream starts on the calling thread: false with the error stored when the
    // stream is claimed and the thread does not read for the claimant. end_read ends it.
    bool begin_read();
    void end_read();

    // Marks the calling thread as reading for `owner` (a recorder's thread, for its life).
    static void read_for(const void *owner);

  private:
    mutable std::mutex mutex_;
    const void *owner_ = nullptr;
    int reads_ = 0; // reads in progress
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
