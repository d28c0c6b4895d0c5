#include "acquisition_memory.h"

#include <cstdint>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace zv {

void advise_huge_pages(void *begin, size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    const auto start = reinterpret_cast<uintptr_t>(begin);
    if (bytes > UINTPTR_MAX - start) return;
    const uintptr_t first = (start + kHugePageSize - 1) & ~uintptr_t(kHugePageSize - 1);
    const uintptr_t last = (start + bytes) & ~uintptr_t(kHugePageSize - 1);
    if (last > first) madvise(reinterpret_cast<void *>(first), last - first, MADV_HUGEPAGE);
#else
    (void)begin;
    (void)bytes;
#endif
}

} // namespace zv
