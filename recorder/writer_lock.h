// The mark of a recording being written: an advisory write lock on the whole file, held on an open
// file description of the writer's own (a Linux OFD lock, independent of HDF5's own locking) from
// creation to close. The kernel drops it when the writing process ends, however it ends, so a
// lock found on a file means a writer is writing it now.
#pragma once

#include <cstdint>
#include <string>

namespace zv::recording {

class WriterLock {
  public:
    // Opens the file and takes the lock; throws RecordingError when either fails (another writer
    // holds it: "is being written by another recording").
    explicit WriterLock(const std::string &path);
    ~WriterLock();
    WriterLock(const WriterLock &) = delete;
    WriterLock &operator=(const WriterLock &) = delete;

    // Bytes an ordinary user may still write on the file's filesystem.
    uint64_t free_bytes() const;
    // The lock's own descriptor of the file (for advice on its pages).
    int fd() const { return fd_; }

    // Whether a writer (in any process, this one included) holds the lock of the file at path.
    static bool held(const std::string &path);

  private:
    int fd_ = -1;
};

} // namespace zv::recording
