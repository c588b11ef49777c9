// The download queue: TDownload, one queued file with its size and received count, and
// TDownloadList, the owning list with its file downloads.txt (one line per entry,
// "URL TAB FileName TAB Downloaded TAB FileSize", CR LF).
#pragma once

#include "util/owning_list.h"

#include <cstdint>
#include <memory>
#include <string>

namespace fetchora {

class THttpClient;

class TDownload final {
public:
    // The file's address, trimmed of blanks and control characters.
    std::string URL;
    // The name under which the file is written in the destination folder.
    std::string FileName;
    // Size in bytes from the probe; -1 until probed. 64 bits: files of 2 GB and more.
    int64_t FileSize = -1;
    // Bytes received so far, those of a partial file included; -1 until probed.
    int64_t Downloaded = -1;
    // Why the probe failed, "message [URL]"; not stored in the file.
    std::string ErrorText;
    // Position key that survives the sort by URL when the queue is saved.
    int Order = 0;

    // Fills this entry for the address text with one HEAD request through client. False
    // (with ErrorText set) when the request fails or the size is not positive; never
    // throws.
    bool Probe(const std::string& text, THttpClient& client);
};

class TDownloadList final : public TOwningList<TDownload> {
public:
    // Sets entry's Order to the number of entries before it and appends it.
    TDownload& Add(std::unique_ptr<TDownload> entry);

    // The sum of FileSize over the entries.
    int64_t TotalSize() const;
    // Sets each entry's Order to its index.
    void Renumber();
    // True when no two FileName values are equal without regard to case.
    bool NamesUnique() const;
    // Gives every entry's FileName the prefix "%5.5d_" of its index.
    void PrefixNames();

    // Replaces the entries with the lines of the file. A line without a TAB stops the
    // load with ListError (index 0 for an empty line, 1 otherwise); the entries before it
    // stay loaded. StreamError for a file that cannot be opened.
    void LoadFromFile(const std::string& path);

    // Sorts by URL with case folded, drops a later entry whose URL equals its
    // neighbour's without regard to case (so every spelling of one address but one goes),
    // sorts by Order and replaces the file with one line per entry.
    void SaveToFile(const std::string& path);
};

// False for a FileName that would leave the destination folder: empty, ".", "..", or
// holding "/" or a NUL byte.
bool isSafeFileName(const std::string& name);

} // namespace fetchora
