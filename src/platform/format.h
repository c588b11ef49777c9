// printf-style formatting into a std::string, for the system's message and file formats
// ("%s\t%s\t%d\t%d", "%5.5d_%s", "* %s [%s]").
#pragma once

#include <string>

namespace fetchora {

std::string format(const char* pattern, ...) __attribute__((format(printf, 1, 2)));

} // namespace fetchora
