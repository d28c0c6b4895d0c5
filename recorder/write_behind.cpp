#include "recorder/write_behind.h"

#include <fcntl.h>
#include <sys/stat.h>

namespace zv::recording {

void WriteBehind::after_flush(int fd) {
    struct stat st {};
    if (fd < 0 || fstat(fd, &st) != 0) return;
    if (sent_ > dropped_) {
        const off64_t length = off64_t(sent_ - dropped_);
        sync_file_range(fd, off64_t(dropped_), length,
                        SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE |
                            SYNC_FILE_RANGE_WAIT_AFTER);
        posix_fadvise(fd, off64_t(dropped_), length, POSIX_FADV_DONTNEED);
        dropped_ = sent_;
    }
    const uint64_t size = uint64_t(st.st_size);
    if (size > sent_) {
        sync_file_range(fd, off64_t(sent_), off64_t(size - sent_), SYNC_FILE_RANGE_WRITE);
        sent_ = size;
    }
}

} // namespace zv::recording
