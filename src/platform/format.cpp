// printf-style formatting into a std::string.
#include "platform/format.h"

#include <cstdarg>
#include <cstdio>

namespace fetchora {

std::string format(const char* pattern, ...) {
    va_list args;
    va_start(args, pattern);
    va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(nullptr, 0, pattern, copy);
    va_end(copy);
    std::string result;
    if (length > 0) {
        result.resize(static_cast<size_t>(length));
        std::vsnprintf(result.data(), result.size() + 1, pattern, args);
    }
    va_end(args);
    return result;
}

} // namespace fetchora
