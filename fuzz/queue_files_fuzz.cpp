// Fuzzes the loaders of the queue file and the credential file: the input is read as
// either file, what was loaded is saved and read back, and the round trip must keep the
// entries (the queue only losing URLs that repeat one another without regard to case).
#include "platform/errors.h"
#include "platform/text.h"
#include "queue/credentials.h"
#include "queue/download_list.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using fetchora::TDownloadList;
using fetchora::TPasswordList;

void check(bool condition, const char* what) {
    if (condition)
        return;
    std::fprintf(stderr, "queue_files_fuzz: %s\n", what);
    std::abort();
}

// One scratch folder for the whole run, removed when the process ends. It goes to memory
// where it can: replacing a file on a disk waits for the disk, at every run.
class ScratchFolder final {
public:
    ScratchFolder() {
        struct stat shm {};
        const bool inMemory =
            stat("/dev/shm", &shm) == 0 && S_ISDIR(shm.st_mode) && access("/dev/shm", W_OK) == 0;
        std::string pattern =
            std::string(inMemory ? "/dev/shm" : "/tmp") + "/fetchora-queue-fuzz-XXXXXX";
        char* name = pattern.data();
        if (mkdtemp(name) == nullptr) {
            std::perror("queue_files_fuzz: mkdtemp");
            std::abort();
        }
        path_ = name;
    }
    ~ScratchFolder() {
        for (const char* file : kFiles)
            (void)unlink((path_ + "/" + file).c_str());
        (void)rmdir(path_.c_str());
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    std::string file(const char* name) const { return path_ + "/" + name; }

    static constexpr const char* kFiles[] = {"input.txt", "downloads.txt", "again.txt",
                                             "servers.txt", "built.txt"};

private:
    std::string path_;
};

const ScratchFolder& scratch() {
    static const ScratchFolder folder;
    return folder;
}

void writeInput(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    check(static_cast<bool>(out), "cannot write the input file");
}

std::string readBack(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct QueueEntry {
    std::string url;
    std::string fileName;
    int64_t downloaded;
    int64_t fileSize;
    bool operator==(const QueueEntry&) const = default;
};

std::vector<QueueEntry> queueEntries(const TDownloadList& list) {
    std::vector<QueueEntry> entries;
    for (int i = 0; i < list.count(); ++i) {
        const fetchora::TDownload& d = list[i];
        entries.push_back({d.URL, d.FileName, d.Downloaded, d.FileSize});
    }
    return entries;
}

bool freeOfLineBytes(const std::string& s) {
    return s.find_first_of("\t\r\n") == std::string::npos;
}

void fuzzQueue(const std::string& input) {
    TDownloadList list;
    try {
        list.LoadFromFile(input);
    } catch (const fetchora::Error&) {
        // The lines before the damaged one stay loaded; they go through the same round trip.
    }
    const std::vector<QueueEntry> loaded = queueEntries(list);
    for (const QueueEntry& e : loaded)
        check(freeOfLineBytes(e.url) && freeOfLineBytes(e.fileName),
              "a loaded field holds a TAB or a line break");

    const std::string saved = scratch().file("downloads.txt");
    list.SaveToFile(saved);
    const std::vector<QueueEntry> kept = queueEntries(list);

    // What is kept is what was loaded, in the same order, less some repeated URLs.
    size_t next = 0;
    for (const QueueEntry& e : kept) {
        while (next < loaded.size() && !(loaded[next] == e))
            ++next;
        check(next < loaded.size(), "the saved queue holds an entry out of order or not loaded");
        ++next;
    }
    for (const QueueEntry& e : loaded) {
        const bool represented = std::any_of(kept.begin(), kept.end(), [&](const QueueEntry& k) {
            return fetchora::text::ansiSameText(k.url, e.url);
        });
        check(represented, "the save dropped a URL that no kept entry repeats");
    }
    std::set<std::string> folded;
    for (const QueueEntry& e : kept)
        check(folded.insert(fetchora::text::ansiLowerCase(e.url)).second,
              "two URLs equal without regard to case survived the save");

    TDownloadList reloaded;
    try {
        reloaded.LoadFromFile(saved);
    } catch (const fetchora::Error&) {
        check(false, "a saved queue does not load");
    }
    check(queueEntries(reloaded) == kept, "a saved queue reloads to other entries");

    // A second save of what was read back writes the very same file.
    const std::string again = scratch().file("again.txt");
    reloaded.SaveToFile(again);
    check(readBack(again) == readBack(saved), "saving the reloaded queue changed the file");
}

struct Credential {
    std::string server;
    std::string userName;
    std::string password;
    bool operator==(const Credential&) const = default;
};

std::vector<Credential> credentials(const TPasswordList& list) {
    std::vector<Credential> entries;
    for (int i = 0; i < list.count(); ++i)
        entries.push_back({list[i].Server, list[i].UserName, list[i].Password});
    return entries;
}

// Saves list to path and checks that it reads back the same, given fields that the line
// format can hold.
void checkCredentialRoundTrip(const TPasswordList& list, const std::string& path) {
    const std::vector<Credential> before = credentials(list);
    list.SaveToFile(path);
    const bool representable = std::all_of(before.begin(), before.end(), [](const Credential& c) {
        return freeOfLineBytes(c.server) && freeOfLineBytes(c.userName) &&
               freeOfLineBytes(c.password);
    });
    TPasswordList reloaded;
    try {
        reloaded.LoadFromFile(path);
    } catch (const fetchora::Error&) {
        check(!representable, "a saved credential list does not load");
        return;
    }
    if (representable)
        check(credentials(reloaded) == before, "a saved credential list reloads to other entries");

    // Loading a file that is not there keeps what the list holds.
    const std::vector<Credential> held = credentials(reloaded);
    reloaded.LoadFromFile(scratch().file("missing.txt"));
    check(credentials(reloaded) == held, "loading a missing file changed the list");
}

void fuzzCredentials(const std::string& input, const std::string& bytes) {
    TPasswordList list;
    try {
        list.LoadFromFile(input);
    } catch (const fetchora::Error&) {
        // The damaged line's entry stays, half filled, and is saved like the others.
    }
    checkCredentialRoundTrip(list, scratch().file("servers.txt"));

    // Entries made in code may hold any byte: the input, cut at NUL bytes, gives the
    // fields in threes.
    TPasswordList built;
    std::vector<std::string> pieces;
    size_t start = 0;
    for (;;) {
        const size_t nul = bytes.find('\0', start);
        pieces.push_back(bytes.substr(start, nul == std::string::npos ? nul : nul - start));
        if (nul == std::string::npos)
            break;
        start = nul + 1;
    }
    for (size_t i = 0; i + 2 < pieces.size(); i += 3) {
        fetchora::TPassword& entry = built.Add();
        entry.Server = pieces[i];
        entry.UserName = pieces[i + 1];
        entry.Password = pieces[i + 2];
    }
    checkCredentialRoundTrip(built, scratch().file("built.txt"));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::string input = scratch().file("input.txt");
    writeInput(input, bytes);
    fuzzQueue(input);
    fuzzCredentials(input, bytes);
    return 0;
}
