// The file-system calls the system makes: file age in the DOS packed form, the size of a
// directory entry, deletion, single-level folder creation, and atomic whole-file writes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace fetchora::files {

// The modification time of a file as a DOS packed local date and time (two-second
// resolution, date in the high 16 bits), or -1 when the file does not exist.
int fileAge(const std::string& path);

// The size of the directory entry at path, whatever its kind (files, folders, hidden
// files), or 0 when nothing is there.
int64_t directoryEntrySize(const std::string& path);

bool fileExists(const std::string& path);      // a regular file (or a link to one)
bool entryExists(const std::string& path);     // anything at all, a dangling link included
bool directoryExists(const std::string& path); // a folder (or a link to one)

// Reads the whole file into bytes. Returns 0, or the errno value of the failure (the
// content read so far is then discarded).
int readFile(const std::string& path, std::string& bytes);

// Deletes a file; false when it could not be deleted.
bool deleteFile(const std::string& path);

// Creates one folder whose parent must exist; false on failure (errno is kept).
bool createDirectory(const std::string& path);

// Replaces the file with the bytes: written to a temporary file in the same folder and
// renamed over the old one, so readers see either the old or the new content, never a
// part. Throws InOutError with the system's message on failure. mode is used for a
// file that does not exist yet; an existing file keeps its permissions.
void replaceFile(const std::string& path, const std::string& bytes, unsigned mode = 0666);
// The same with the new content given as pieces, written one after the other.
void replaceFile(const std::string& path, std::initializer_list<std::string_view> pieces,
                 unsigned mode = 0666);

// A new file being written in a folder, which takes its final name in one step when
// committed (replacing what is there, as replaceFile does, or only a free name) and is
// gone otherwise. Lets a large content be built on disk instead of in memory without
// anyone seeing a part of it. The file is made with the permissions of a new file (0666
// less the umask).
//
// Where the file system allows it the file has no name at all until it is committed
// (O_TMPFILE): nobody sees it, and a process that is killed leaves nothing behind. Else,
// or when asked, it is written under the temporary name ".<target>.fetchora-XXXXXX"
// beside the target and holds a lock while it lives, so that one left behind by a
// process that was killed can be told from one being written (removeStaleTempFiles).
class TempFile final {
public:
    enum class Naming {
        Anonymous, // without a name until committed where the file system allows it
        Named      // always under a temporary name
    };

    // Creates the file for target (a name in folder); InOutError when it cannot.
    TempFile(const std::string& folder, const std::string& target,
             Naming naming = Naming::Anonymous);
    ~TempFile();
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    // The path the file is written for changes (a download that took a free name):
    // errors name the new one.
    void setTarget(const std::string& path) { target_ = path; }

    int descriptor() const { return fd_; }
    // The temporary name; empty while the file has none.
    const std::string& name() const { return name_; }
    // Writes bytes at offset (the file grows as needed); InOutError on failure.
    void writeAt(int64_t offset, const char* bytes, size_t count);
    // Reads up to count bytes at offset; returns how many were read.
    size_t readAt(int64_t offset, char* bytes, size_t count) const;
    void truncate(int64_t size);
    int64_t size() const;
    // Appends the whole content of the file at path, its holes kept as holes:
    // StreamError when it cannot be opened or read, InOutError when this file cannot be
    // written.
    void appendFile(const std::string& path);
    // Renames the file over path (keeping path's permissions when it exists); InOutError
    // on failure.
    void commit(const std::string& path, unsigned mode = 0666);
    // Renames the file to path unless something is there already: false (and the file
    // stays as it is) in that case; InOutError on any other failure.
    bool commitNew(const std::string& path, unsigned mode = 0666);

private:
    // Gives the file the permissions the file at path has, or mode less the umask when
    // there is none there, with as few calls as the file needs.
    void setMode(const std::string& path, unsigned mode);
    void appendFrom(int in, const std::string& path);
    // Copies count bytes at from of in (the file at path) to base + from of this file.
    void copyRange(int in, const std::string& path, int64_t from, int64_t count, int64_t base);
    // Gives the file mode less the umask unless it has that already.
    void setNewMode(unsigned mode);
    void close(const std::string& path);
    // Gives the file without a name the name path when nothing is there; 0, or the errno
    // value of the failure (EEXIST when the name is taken).
    int linkAnonymous(const std::string& path) const;

    std::string name_;
    // The path the file is written for, named in error messages.
    std::string target_;
    int fd_ = -1;
};

// The temporary name TempFile gives a file written for target, without its six random
// characters: ".<target>.fetchora-".
std::string tempFilePrefix(const std::string& target);

// Removes the temporary files in folder that a TempFile left behind (its process ended
// without removing it) and returns how many. Files still being written, and every other
// file of the folder, stay. A folder that cannot be read is left alone.
int removeStaleTempFiles(const std::string& folder);

} // namespace fetchora::files
