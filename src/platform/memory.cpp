// Memory hints over madvise.
#include "platform/memory.h"

#include <cstdint>
#include <sys/mman.h>

namespace fetchora::memory {

bool adviseLargePages(void* start, size_t length) {
#ifdef MADV_HUGEPAGE
    const auto first = reinterpret_cast<std::uintptr_t>(start);
    if (length < kLargePageSize || first > UINTPTR_MAX - length)
        return false;
    // Only whole large pages inside the block: the bytes around them may belong to
    // other allocations and keep their small pages.
    const std::uintptr_t begin = (first + kLargePageSize - 1) & ~(kLargePageSize - 1);
    const std::uintptr_t end = (first + length) & ~(kLargePageSize - 1);
    if (begin >= end)
        return false;
    return ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE) == 0;
#else
    (void)start;
    (void)length;
    return false;
#endif
}

} // namespace fetchora::memory
