// Hints to the operating system about how the system's large blocks of memory are used:
// asking for large pages where a block is written through once from end to end.
#pragma once

#include <cstddef>

namespace fetchora::memory {

// The granularity of the large pages the hint asks for.
inline constexpr size_t kLargePageSize = size_t{2} << 20;

// Asks that the whole large pages inside [start, start + length) be backed by large
// pages, so that filling the block takes one page fault per large page instead of one
// per small page. Only a hint: nothing changes where the system does not offer it.
// Returns whether the hint was given.
bool adviseLargePages(void* start, size_t length);

} // namespace fetchora::memory
