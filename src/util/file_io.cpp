// Whole-file reads and writes and file sizes over the platform's file calls, raising the
// system's stream errors.
#include "util/file_io.h"

#include "platform/errors.h"
#include "platform/files.h"

namespace fetchora {

std::string readWholeFile(const std::string& path) {
    std::string bytes;
    const int error = files::readFile(path, bytes);
    if (error != 0)
        throw StreamError(path, systemErrorMessage(error));
    return bytes;
}

void writeWholeFile(const std::string& text, const std::string& path) {
    files::replaceFile(path, text);
}

int64_t fileSize(const std::string& path) {
    return files::directoryEntrySize(path);
}

} // namespace fetchora
