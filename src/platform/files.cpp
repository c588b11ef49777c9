// The file-system calls over POSIX: DOS packed file ages, directory entry sizes, whole
// reads, atomic replacement through a temporary file, and the run's temporary file.
#include "platform/files.h"

#include "platform/errors.h"

#include <cerrno>
#include <ctime>
#include <fcntl.h>
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

unsigned currentUmask() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
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

int directoryEntrySize(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        return 0;
    if (S_ISDIR(st.st_mode))
        return 0;
    return static_cast<int>(static_cast<uint32_t>(st.st_size));
}

bool fileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
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
    const mode_t wanted = ::stat(path.c_str(), &existing) == 0
                              ? (existing.st_mode & 07777)
                              : static_cast<mode_t>(mode & ~currentUmask());
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

TempFile::TempFile(const std::string& folder) {
    name_ = folder + "/.fetchora-XXXXXX";
    fd_ = ::mkstemp(name_.data());
    if (fd_ < 0)
        fail(folder, errno);
}

TempFile::~TempFile() {
    if (fd_ >= 0) {
        ::close(fd_);
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
            fail(name_, errno);
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
            fail(name_, errno);
        if (n == 0)
            break;
        got += static_cast<size_t>(n);
    }
    return got;
}

void TempFile::truncate(int64_t size) {
    if (::ftruncate(fd_, static_cast<off_t>(size)) != 0)
        fail(name_, errno);
}

int64_t TempFile::size() const {
    struct stat st {};
    if (::fstat(fd_, &st) != 0)
        fail(name_, errno);
    return static_cast<int64_t>(st.st_size);
}

void TempFile::appendFile(const std::string& path) {
    const int in = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        fail(path, errno);
    int64_t at = size();
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(in, buffer, sizeof buffer);
        if (n == 0)
            break;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            const int error = errno;
            ::close(in);
            fail(path, error);
        }
        writeAt(at, buffer, static_cast<size_t>(n));
        at += n;
    }
    ::close(in);
}

void TempFile::commit(const std::string& path, unsigned mode) {
    struct stat existing {};
    const mode_t wanted = ::stat(path.c_str(), &existing) == 0
                              ? (existing.st_mode & 07777)
                              : static_cast<mode_t>(mode & ~currentUmask());
    ::fchmod(fd_, wanted);
    if (::close(fd_) != 0) {
        fd_ = -1;
        const int error = errno;
        ::unlink(name_.c_str());
        fail(path, error);
    }
    fd_ = -1;
    if (::rename(name_.c_str(), path.c_str()) != 0) {
        const int error = errno;
        ::unlink(name_.c_str());
        fail(path, error);
    }
}

} // namespace fetchora::files
