// File versions from stat and fstat, the versioned whole-file read, and the test whether
// a version is old enough to be told apart from any later change.
#include "platform/file_version.h"

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fetchora::files {

namespace {

// How far a file time may lag behind the real time: one tick of the kernel's coarse
// clock is at most 10 ms; more is kept as a margin.
constexpr std::int64_t kFineTickNanoseconds = 50'000'000;
// Times without a nanosecond part come from a file system that keeps whole seconds (or
// two, as FAT does).
constexpr std::int64_t kCoarseTickNanoseconds = 2'000'000'000;
constexpr std::int64_t kNanosecondsPerSecond = 1'000'000'000;

FileVersion versionFrom(const struct stat& status) {
    FileVersion version;
    version.device = static_cast<std::uint64_t>(status.st_dev);
    version.inode = static_cast<std::uint64_t>(status.st_ino);
    version.size = static_cast<std::int64_t>(status.st_size);
    version.modifiedSeconds = static_cast<std::int64_t>(status.st_mtim.tv_sec);
    version.modifiedNanoseconds = static_cast<std::int64_t>(status.st_mtim.tv_nsec);
    version.changedSeconds = static_cast<std::int64_t>(status.st_ctim.tv_sec);
    version.changedNanoseconds = static_cast<std::int64_t>(status.st_ctim.tv_nsec);
    return version;
}

std::int64_t nanoseconds(std::int64_t seconds, std::int64_t fraction) {
    return seconds * kNanosecondsPerSecond + fraction;
}

} // namespace

int versionOf(const std::string& path, FileVersion& version) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0)
        return errno;
    version = versionFrom(status);
    return 0;
}

std::optional<FileVersion> versionOf(const std::string& path) {
    FileVersion version;
    if (versionOf(path, version) != 0)
        return std::nullopt;
    return version;
}

int readVersionedFile(const std::string& path, std::string& bytes, FileVersion& version) {
    bytes.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    int error = 0;
    struct stat status {};
    if (::fstat(fd, &status) != 0) {
        error = errno;
    } else {
        version = versionFrom(status);
        bytes.resize(static_cast<size_t>(std::max<off_t>(status.st_size, 0)));
        size_t done = 0;
        for (;;) {
            if (done == bytes.size())
                bytes.resize(done + 4096); // the file grew since fstat
            const ssize_t got = ::read(fd, bytes.data() + done, bytes.size() - done);
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0) {
                error = errno;
                break;
            }
            if (got == 0)
                break;
            done += static_cast<size_t>(got);
        }
        bytes.resize(done);
    }
    ::close(fd);
    if (error != 0)
        bytes.clear();
    return error;
}

bool isSettled(const FileVersion& version) {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const std::int64_t latest =
        std::max(nanoseconds(version.modifiedSeconds, version.modifiedNanoseconds),
                 nanoseconds(version.changedSeconds, version.changedNanoseconds));
    const bool wholeSeconds = version.modifiedNanoseconds == 0 || version.changedNanoseconds == 0;
    const std::int64_t tick = wholeSeconds ? kCoarseTickNanoseconds : kFineTickNanoseconds;
    return latest + tick < nanoseconds(now.tv_sec, now.tv_nsec);
}

} // namespace fetchora::files
