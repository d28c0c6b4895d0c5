// The monotonic wall clock the servers pace their streams by.
#pragma once

#include <ctime>

namespace zve2e {

inline double wall_seconds() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

} // namespace zve2e
