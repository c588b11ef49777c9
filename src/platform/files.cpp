// The file-system calls over POSIX: DOS packed file ages, directory entry sizes, whole
// reads, atomic replacement through a temporary file, and the run's temporary file.
#include "platform/files.h"

#include "platform/errors.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <random>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fetchora::files {

namespace {

std::string folderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

[[noreturn]] void fail(const std::string& path, int error) {
    throw InOutError(path + ": " + systemErrorMessage(error));
}

// The process's umask, read once: reading it means setting it twice, and nothing in the
// system changes it.
unsigned currentUmask() {
    static const unsigned mask = [] {
        const mode_t m = ::umask(0);
        ::umask(m);
        return static_cast<unsigned>(m);
    }();
    return mask;
}

// The permissions a file made with mode gets.
mode_t newFileMode(unsigned mode) {
    return static_cast<mode_t>(mode & 07777 & ~currentUmask());
}

} // namespace

int fileAge(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode))
        return -1;
    std::tm local{};
    const time_t seconds = st.st_mtim.tv_sec;
    if (localtime_r(&seconds, &local) == nullptr)
        return -1;
    const int year = local.tm_year + 1900;
    if (year < 1980)
        return -1;
    const unsigned date = (static_cast<unsigned>(year - 1980) << 9) |
                          (static_cast<unsigned>(local.tm_mon + 1) << 5) |
                          static_cast<unsigned>(local.tm_mday);
    const unsigned time = (static_cast<unsigned>(local.tm_hour) << 11) |
                          (static_cast<unsigned>(local.tm_min) << 5) |
                          static_cast<unsigned>(local.tm_sec / 2);
    return static_cast<int>((date << 16) | time);
}

int64_t directoryEntrySize(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        return 0;
    if (S_ISDIR(st.st_mode))
        return 0;
    return static_cast<int64_t>(st.st_size);
}

bool fileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool entryExists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

bool directoryExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

int readFile(const std::string& path, std::string& bytes) {
    bytes.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && st.st_size > 0)
        bytes.reserve(static_cast<size_t>(st.st_size));
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
            bytes.clear();
            return error;
        }
        bytes.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    return 0;
}

bool deleteFile(const std::string& path) {
    return ::unlink(path.c_str()) == 0;
}

bool createDirectory(const std::string& path) {
    return ::mkdir(path.c_str(), 0777) == 0;
}

void replaceFile(const std::string& path, const std::string& bytes, unsigned mode) {
    replaceFile(path, {std::string_view(bytes)}, mode);
}

void replaceFile(const std::string& path, std::initializer_list<std::string_view> pieces,
                 unsigned mode) {
    std::string temp = folderOf(path) + "/.fetchora-XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0)
        fail(path, errno);
    struct stat existing {};
    const mode_t wanted =
        ::stat(path.c_str(), &existing) == 0 ? (existing.st_mode & 07777) : newFileMode(mode);
    ::fchmod(fd, wanted);
    for (const std::string_view bytes : pieces) {
        size_t written = 0;
        while (written < bytes.size()) {
            const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                const int error = errno;
                ::close(fd);
                ::unlink(temp.c_str());
                fail(path, error);
            }
            written += static_cast<size_t>(n);
        }
    }
    if (::close(fd) != 0) {
        const int error = errno;
        ::unlink(temp.c_str());
        fail(path, error);
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        const int error = errno;
        ::unlink(temp.c_str());
        fail(path, error);
    }
}

namespace {

constexpr const char* kTempMarker = ".fetchora-";
constexpr size_t kRandomLength = 6; // the random end of a temporary name
constexpr size_t kNameMax = 255;

// True for a name that TempFile gives: ".<target>.fetchora-" and six characters.
bool isTempFileName(const std::string& name) {
    const size_t marker = std::char_traits<char>::length(kTempMarker);
    if (name.size() < 1 + 1 + marker + kRandomLength || name[0] != '.')
        return false;
    const size_t at = name.size() - kRandomLength - marker;
    if (name.compare(at, marker, kTempMarker) != 0)
        return false;
    for (size_t i = name.size() - kRandomLength; i < name.size(); ++i) {
        const auto c = static_cast<unsigned char>(name[i]);
        if (!std::isalnum(c))
            return false;
    }
    return true;
}

// Takes the lock that marks a temporary file as being written; false when someone else
// holds it.
bool lockTempFile(int fd) {
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EINTR)
            return false;
    }
    return true;
}

// Six letters and digits for a temporary name.
std::string randomSuffix() {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    static std::mt19937_64 generator{std::random_device{}()};
    std::uniform_int_distribution<size_t> pick(0, sizeof kAlphabet - 2);
    std::string suffix(kRandomLength, 'X');
    for (char& c : suffix)
        c = kAlphabet[pick(generator)];
    return suffix;
}

// The last part of a path.
std::string baseName(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Whether a file made without a name can be given one later by everyone: through its
// entry in /proc when the kernel refuses to link the open file directly.
bool anonymousFilesCanBeNamed() {
    static const bool usable = ::access("/proc/self/fd", X_OK) == 0;
    return usable;
}

} // namespace

std::string tempFilePrefix(const std::string& target) {
    // Within the longest name a folder entry can have.
    const size_t room = kNameMax - 1 - std::char_traits<char>::length(kTempMarker) - kRandomLength;
    return "." + target.substr(0, room) + kTempMarker;
}

int removeStaleTempFiles(const std::string& folder) {
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr)
        return 0;
    int removed = 0;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (!isTempFileName(name))
            continue;
        const std::string path = folder + "/" + name;
        const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            continue;
        // Only a regular file that nobody holds, still under this name.
        struct stat opened {};
        struct stat named {};
        if (::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) && lockTempFile(fd) &&
            ::lstat(path.c_str(), &named) == 0 && named.st_ino == opened.st_ino &&
            named.st_dev == opened.st_dev && ::unlink(path.c_str()) == 0)
            ++removed;
        ::close(fd);
    }
    ::closedir(dir);
    return removed;
}

TempFile::TempFile(const std::string& folder, const std::string& target, Naming naming)
    : target_(folder + "/" + target) {
    // Made with the permissions of a new file, so that a download from nothing needs no
    // change of mode when it takes its name.
    if (naming == Naming::Anonymous && anonymousFilesCanBeNamed()) {
        fd_ = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
        if (fd_ >= 0)
            return;
        // A file system without files that have no name: a temporary name instead.
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
            fail(target_, errno);
    }
    // A stale-file sweep may take the new file for a left-over one between its creation
    // and its lock; then it is gone, and another is made.
    const std::string prefix = folder + "/" + tempFilePrefix(target);
    for (;;) {
        name_ = prefix + randomSuffix();
        fd_ = ::open(name_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (fd_ < 0) {
            if (errno == EEXIST)
                continue;
            fail(target_, errno);
        }
        struct stat st {};
        if (lockTempFile(fd_) && ::fstat(fd_, &st) == 0 && st.st_nlink > 0)
            return;
        ::close(fd_);
        fd_ = -1;
    }
}

TempFile::~TempFile() {
    if (fd_ >= 0) {
        ::close(fd_);
        if (!name_.empty())
            ::unlink(name_.c_str());
    }
}

void TempFile::writeAt(int64_t offset, const char* bytes, size_t count) {
    size_t written = 0;
    while (written < count) {
        const ssize_t n = ::pwrite(fd_, bytes + written, count - written,
                                   static_cast<off_t>(offset + static_cast<int64_t>(written)));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            fail(target_, errno);
        }
        written += static_cast<size_t>(n);
    }
}

size_t TempFile::readAt(int64_t offset, char* bytes, size_t count) const {
    size_t got = 0;
    while (got < count) {
        const ssize_t n = ::pread(fd_, bytes + got, count - got,
                                  static_cast<off_t>(offset + static_cast<int64_t>(got)));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            fail(target_, errno);
        if (n == 0)
            break;
        got += static_cast<size_t>(n);
    }
    return got;
}

void TempFile::truncate(int64_t size) {
    if (::ftruncate(fd_, static_cast<off_t>(size)) != 0)
        fail(target_, errno);
}

int64_t TempFile::size() const {
    struct stat st {};
    if (::fstat(fd_, &st) != 0)
        fail(target_, errno);
    return static_cast<int64_t>(st.st_size);
}

void TempFile::appendFile(const std::string& path) {
    const int in = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        throw StreamError(path, systemErrorMessage(errno));
    try {
        appendFrom(in, path);
    } catch (...) {
        ::close(in);
        throw;
    }
    ::close(in);
}

void TempFile::appendFrom(int in, const std::string& path) {
    struct stat st {};
    if (::fstat(in, &st) != 0)
        throw StreamError(path, systemErrorMessage(errno));
    const int64_t base = size();
    if (!S_ISREG(st.st_mode) || st.st_size == 0) {
        // A file that tells no size (a device, a file of the kernel) is read to its end.
        copyRange(in, path, 0, INT64_MAX, base);
        return;
    }
    const auto length = static_cast<int64_t>(st.st_size);
    // Only the parts that hold data are copied, by the kernel where it can (a file system
    // that shares blocks copies nothing); holes stay holes, so a large sparse partial
    // file costs what its data costs. A file system that cannot tell holes has one part.
    for (int64_t at = 0; at < length;) {
        off_t data = ::lseek(in, static_cast<off_t>(at), SEEK_DATA);
        if (data < 0 && errno == ENXIO)
            break; // the rest is a hole
        if (data < 0)
            data = static_cast<off_t>(at);
        off_t hole = ::lseek(in, data, SEEK_HOLE);
        if (hole < 0 || hole > length)
            hole = static_cast<off_t>(length);
        copyRange(in, path, data, hole - data, base);
        at = hole;
    }
    if (size() < base + length)
        truncate(base + length);
}

void TempFile::copyRange(int in, const std::string& path, int64_t from, int64_t count,
                         int64_t base) {
    auto inAt = static_cast<off_t>(from);
    auto outAt = static_cast<off_t>(base + from);
    while (count > 0) {
        const ssize_t n = ::copy_file_range(in, &inAt, fd_, &outAt, static_cast<size_t>(count), 0);
        if (n > 0) {
            count -= n;
            continue;
        }
        if (n == 0)
            return; // the file ended early
        if (errno == EINTR)
            continue;
        if (errno == ENOSPC || errno == EFBIG || errno == EDQUOT)
            fail(target_, errno);
        if (errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP &&
            errno != EBADF)
            throw StreamError(path, systemErrorMessage(errno));
        break; // no copy in the kernel between these two: by hand
    }
    char buffer[65536];
    while (count > 0) {
        const ssize_t n =
            ::pread(in, buffer, static_cast<size_t>(std::min<int64_t>(count, sizeof buffer)), inAt);
        if (n == 0)
            return;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throw StreamError(path, systemErrorMessage(errno));
        }
        writeAt(outAt, buffer, static_cast<size_t>(n));
        inAt += n;
        outAt += n;
        count -= n;
    }
}

void TempFile::setMode(const std::string& path, unsigned mode) {
    // The file was made with the permissions of a new file; only another mode, or the
    // permissions of a file it replaces, need a change.
    const mode_t made = newFileMode(0666);
    struct stat existing {};
    const mode_t wanted =
        ::stat(path.c_str(), &existing) == 0 ? (existing.st_mode & 07777) : newFileMode(mode);
    if (wanted != made)
        ::fchmod(fd_, wanted);
}

void TempFile::setNewMode(unsigned mode) {
    if (newFileMode(mode) != newFileMode(0666))
        ::fchmod(fd_, newFileMode(mode));
}

void TempFile::close(const std::string& path) {
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) {
        const int error = errno;
        if (!name_.empty())
            ::unlink(name_.c_str());
        fail(path, error);
    }
}

int TempFile::linkAnonymous(const std::string& path) const {
    // Linking the open file itself needs a privilege on older kernels, which refuse it
    // with ENOENT; its entry in /proc then serves, as it does for everyone.
    static std::atomic<bool> directRefused{false};
    if (!directRefused.load(std::memory_order_relaxed)) {
        if (::linkat(fd_, "", AT_FDCWD, path.c_str(), AT_EMPTY_PATH) == 0)
            return 0;
        if (errno != ENOENT && errno != EPERM)
            return errno;
        directRefused.store(true, std::memory_order_relaxed);
    }
    const std::string self = "/proc/self/fd/" + std::to_string(fd_);
    if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0)
        return 0;
    return errno;
}

void TempFile::commit(const std::string& path, unsigned mode) {
    if (name_.empty()) {
        // A file without a name replaces another in one step only by a rename: it takes a
        // temporary name beside path first, with the lock that tells a sweep of stale
        // files that it is being written.
        lockTempFile(fd_);
        const std::string prefix = folderOf(path) + "/" + tempFilePrefix(baseName(path));
        for (;;) {
            const std::string name = prefix + randomSuffix();
            const int error = linkAnonymous(name);
            if (error == 0) {
                name_ = name;
                break;
            }
            if (error != EEXIST)
                fail(path, error);
        }
    }
    setMode(path, mode);
    close(path);
    if (::rename(name_.c_str(), path.c_str()) != 0) {
        const int error = errno;
        ::unlink(name_.c_str());
        fail(path, error);
    }
}

bool TempFile::commitNew(const std::string& path, unsigned mode) {
    // The name is free (or the call fails): the file takes the mode of a new file.
    setNewMode(mode);
    if (name_.empty()) {
        const int error = linkAnonymous(path);
        if (error == EEXIST)
            return false;
        if (error != 0)
            fail(path, error);
        close(path);
        return true;
    }
    // A hard link gives the file its name only when the name is free; the temporary
    // name then goes. A file system without hard links gets a check and a rename.
    if (::link(name_.c_str(), path.c_str()) != 0) {
        const int error = errno;
        if (error == EEXIST)
            return false;
        if (error != EPERM && error != ENOTSUP && error != EOPNOTSUPP)
            fail(path, error);
        struct stat st {};
        if (::lstat(path.c_str(), &st) == 0)
            return false;
        commit(path, mode);
        return true;
    }
    ::unlink(name_.c_str());
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0)
        fail(path, errno);
    return true;
}

} // namespace fetchora::files
