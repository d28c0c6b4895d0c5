#include "recorder/writer_lock.h"

#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "recorder/recording_error.h"

namespace zv::recording {

namespace {

flock whole_file(short type) {
    flock lock{};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 0; // to the end, however far the file grows
    return lock;
}

} // namespace

WriterLock::WriterLock(const std::string &path) {
    fd_ = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd_ < 0)
        throw RecordingError(zv::Error::file_error,
                             "cannot write " + path + ": " + std::strerror(errno));
    flock lock = whole_file(F_WRLCK);
    if (fcntl(fd_, F_OFD_SETLK, &lock) != 0) {
        const int error = errno;
        ::close(fd_);
        fd_ = -1;
        if (error == EAGAIN || error == EACCES)
            throw RecordingError(zv::Error::file_error,
                                 "cannot write " + path +
                                     ": it is being written by another recording");
        throw RecordingError(zv::Error::file_error,
                             "cannot lock " + path + ": " + std::strerror(error));
    }
}

WriterLock::~WriterLock() {
    if (fd_ >= 0) ::close(fd_); // closing the description releases its lock
}

uint64_t WriterLock::free_bytes() const {
    struct statvfs fs {};
    if (fstatvfs(fd_, &fs) != 0) return UINT64_MAX; // unknown: let the write itself tell
    return uint64_t(fs.f_bavail) * uint64_t(fs.f_frsize);
}

bool WriterLock::held(const std::string &path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    flock lock = whole_file(F_WRLCK);
    const bool held = fcntl(fd, F_OFD_GETLK, &lock) == 0 && lock.l_type != F_UNLCK;
    ::close(fd);
    return held;
}

} // namespace zv::recording
