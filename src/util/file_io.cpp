#include "util/file_io.h"

#include "platform/errors.h"
#include "platform/files.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace fetchora {

std::string readWholeFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw StreamError(path, systemErrorMessage(errno));
    std::string result;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n == 0)
            break;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            const int error = errno;
            ::close(fd);
            throw InOutError(path + ": " + systemErrorMessage(error));
        }
        result.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    return result;
}

void writeWholeFile(const std::string& text, const std::string& path) {
    files::replaceFile(path, text);
}

int fileSize(const std::string& path) {
    return files::directoryEntrySize(path);
}

} // namespace fetchora
