// The version of a file: its identity and change marks (device, inode, size,
// modification and change times to the nanosecond), so that what was read from a file
// can be kept until the file changes: a reader compares the version of the file now with
// the version it read.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace fetchora::files {

struct FileVersion {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t size = 0;
    std::int64_t modifiedSeconds = 0;
    std::int64_t modifiedNanoseconds = 0;
    std::int64_t changedSeconds = 0;
    std::int64_t changedNanoseconds = 0;

    bool operator==(const FileVersion&) const = default;
};

// The version of the file at path now. Returns 0, or the errno value of the failure.
int versionOf(const std::string& path, FileVersion& version);
// The same without the reason: nothing when there is no file (or it cannot be examined),
// which equals any other absence.
std::optional<FileVersion> versionOf(const std::string& path);

// Reads the whole file and the version of the very file it read (taken from the open file,
// so a replacement of the file meanwhile cannot mix the two). Returns 0, or the errno
// value of the failure (bytes are then empty).
int readVersionedFile(const std::string& path, std::string& bytes, FileVersion& version);

// Whether any later change of the file is sure to give it another version. File systems
// take file times from a clock that advances in ticks of some milliseconds (whole
// seconds on some), so a second change in the same tick as the one versioned, of the same
// size and in place, could leave the times as they were. A version whose times lie more
// than a tick in the past when it was taken cannot be met again by a later change.
bool isSettled(const FileVersion& version);

} // namespace fetchora::files
