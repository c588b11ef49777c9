// Whole-file text input and output, and the size of a file.
#pragma once

#include <cstdint>
#include <string>

namespace fetchora {

// The file's bytes unchanged; StreamError "Cannot open file "%s". %s" when it cannot be
// opened.
std::string readWholeFile(const std::string& path);

// Creates or replaces the file with the text, atomically; InOutError on failure.
void writeWholeFile(const std::string& text, const std::string& path);

// Size of the first directory entry matching path (any attributes), 0 when none.
int64_t fileSize(const std::string& path);

} // namespace fetchora
