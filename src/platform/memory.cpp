// Memory hints on Linux: transparent huge pages through madvise.
#include "platform/memory.h"

#include <cstdint>
#include <sys/mman.h>

namespace fetchora::platform {

void adviseSequentialFill(void* data, std::size_t size) {
    constexpr std::uintptr_t kHugePage = 2 * 1024 * 1024;
    const auto begin = reinterpret_cast<std::uintptr_t>(data);
    const std::uintptr_t first = (begin + kHugePage - 1) & ~(kHugePage - 1);
    const std::uintptr_t last = (begin + size) & ~(kHugePage - 1);
    if (last <= first)
        return;
#ifdef MADV_HUGEPAGE
    madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#endif
}

} // namespace fetchora::platform
