// Hints to the operating system about how the system uses large blocks of memory.
#pragma once

#include <cstddef>

namespace fetchora::platform {

// Asks for large pages behind a big buffer that is about to be filled from start to end,
// so that filling it costs fewer page faults. Only a hint: nothing happens where the
// system does not offer it.
void adviseSequentialFill(void* data, std::size_t size);

} // namespace fetchora::platform
