// File age in the DOS packed form, directory-entry sizes, the atomic whole-file replace,
// and the temporary file that is committed over a file or beside it and, when its process
// ended without it, is found stale.
#include "platform/files.h"

#include "platform/errors.h"
#include "support/sandbox.h"

#include <gtest/gtest.h>

#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fetchora::files {
namespace {

using testing::Sandbox;

// Sets the file's modification time to the given local time.
void setLocalTime(const std::string& path, int year, int month, int day, int hour, int minute,
                  int second) {
    std::tm local{};
    local.tm_year = year - 1900;
    local.tm_mon = month - 1;
    local.tm_mday = day;
    local.tm_hour = hour;
    local.tm_min = minute;
    local.tm_sec = second;
    local.tm_isdst = -1;
    const timespec times[2] = {{std::mktime(&local), 0}, {std::mktime(&local), 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

std::vector<std::string> entries(const std::string& folder) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.c_str());
    while (const dirent* e = ::readdir(dir)) {
        const std::string name = e->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    ::closedir(dir);
    return names;
}

TEST(FileAge, IsTheDosPackedLocalTimeWithTwoSecondSteps) {
    Sandbox sandbox;
    const std::string path = sandbox.path("downloads.txt");
    EXPECT_EQ(fileAge(path), -1);
    EXPECT_EQ(fileAge(sandbox.root()), -1) << "a folder has no file age";

    Sandbox::writeFile(path, "x");
    setLocalTime(path, 2021, 3, 4, 5, 6, 7);
    const int expected =
        static_cast<int>(((41u << 9 | 3u << 5 | 4u) << 16) | (5u << 11 | 6u << 5 | 3u));
    EXPECT_EQ(fileAge(path), expected);
    setLocalTime(path, 2021, 3, 4, 5, 6, 6);
    EXPECT_EQ(fileAge(path), expected) << "06 and 07 seconds are one step";
    setLocalTime(path, 2021, 3, 4, 5, 6, 8);
    EXPECT_EQ(fileAge(path), expected + 1);
    setLocalTime(path, 2030, 12, 31, 23, 59, 59);
    EXPECT_EQ(fileAge(path),
              static_cast<int>(((50u << 9 | 12u << 5 | 31u) << 16) | (23u << 11 | 59u << 5 | 29u)));

    // Rewriting the file gives it a new age.
    setLocalTime(path, 2021, 3, 4, 5, 6, 7);
    replaceFile(path, "y");
    EXPECT_NE(fileAge(path), expected);
    EXPECT_GT(fileAge(path), 0);
    deleteFile(path);
    EXPECT_EQ(fileAge(path), -1);
}

TEST(DirectoryEntrySize, CountsAnyKindOfEntryAndZeroForNothing) {
    Sandbox sandbox;
    Sandbox::writeFile(sandbox.path("five.bin"), "12345");
    Sandbox::writeFile(sandbox.path(".hidden"), "123");
    ::chmod(sandbox.path("five.bin").c_str(), 0400);
    EXPECT_EQ(directoryEntrySize(sandbox.path("five.bin")), 5);
    EXPECT_EQ(directoryEntrySize(sandbox.path(".hidden")), 3);
    EXPECT_EQ(directoryEntrySize(sandbox.path("missing")), 0);
    EXPECT_EQ(directoryEntrySize(sandbox.root()), 0);
    Sandbox::writeFile(sandbox.path("empty"), "");
    EXPECT_EQ(directoryEntrySize(sandbox.path("empty")), 0);
    EXPECT_TRUE(fileExists(sandbox.path("empty")));
    EXPECT_FALSE(fileExists(sandbox.root()));
    EXPECT_TRUE(directoryExists(sandbox.root()));
}

TEST(ReplaceFile, KeepsPermissionsAndLeavesNoTemporaryFile) {
    Sandbox sandbox;
    const std::string folder = sandbox.path("data");
    ASSERT_TRUE(createDirectory(folder));
    EXPECT_FALSE(createDirectory(folder)) << "already there";
    EXPECT_FALSE(createDirectory(sandbox.path("no/such")));
    const std::string path = folder + "/servers.txt";

    replaceFile(path, "first\r\n", 0600);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ::chmod(path.c_str(), 0640);
    replaceFile(path, std::string("second\0", 7));
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_EQ(Sandbox::readFile(path), std::string("second\0", 7));
    EXPECT_EQ(entries(folder), std::vector<std::string>{"servers.txt"});

    EXPECT_THROW(replaceFile(sandbox.path("no/such/file"), "x"), InOutError);
    EXPECT_EQ(entries(folder), std::vector<std::string>{"servers.txt"});
    EXPECT_TRUE(deleteFile(path));
    EXPECT_FALSE(deleteFile(path));
}

TEST(TempFile, ReplacesTheFileOnlyWhenCommittedAndKeepsItsPermissions) {
    Sandbox sandbox;
    const std::string folder = sandbox.path("out");
    ASSERT_TRUE(createDirectory(folder));
    const std::string path = folder + "/movie.zip";
    Sandbox::writeFile(path, "partial");
    {
        TempFile abandoned(folder, "movie.zip");
        abandoned.writeAt(0, "other", 5);
    }
    EXPECT_EQ(Sandbox::readFile(path), "partial");
    EXPECT_EQ(entries(folder), std::vector<std::string>{"movie.zip"});

    // The file has no name until it is committed (the sandbox's file system allows
    // that), or a temporary one beside the target.
    for (const TempFile::Naming naming : {TempFile::Naming::Anonymous, TempFile::Naming::Named}) {
        const bool named = naming == TempFile::Naming::Named;
        SCOPED_TRACE(named ? "named" : "anonymous");
        Sandbox::writeFile(path, "partial");
        ::chmod(path.c_str(), 0640);
        ::unlink((folder + "/movie (1).zip").c_str());
        TempFile file(folder, "movie.zip", naming);
        if (named)
            EXPECT_EQ(file.name().rfind(folder + "/.movie.zip.fetchora-", 0), 0u) << file.name();
        else
            EXPECT_EQ(entries(folder), std::vector<std::string>{"movie.zip"});
        file.appendFile(path);
        file.writeAt(file.size(), " and the rest", 13);
        char head[7] = {};
        EXPECT_EQ(file.readAt(0, head, sizeof head), sizeof head);
        EXPECT_EQ(std::string(head, sizeof head), "partial");
        file.truncate(11);
        EXPECT_EQ(Sandbox::readFile(path), "partial") << "nothing is seen before the commit";
        file.commit(path);
        EXPECT_EQ(Sandbox::readFile(path), "partial and");
        struct stat st {};
        ASSERT_EQ(::stat(path.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0640u);
        EXPECT_EQ(entries(folder), std::vector<std::string>{"movie.zip"});
        EXPECT_THROW(TempFile(sandbox.path("no/such"), "movie.zip", naming), InOutError);

        // A new file never replaces what is at its name.
        TempFile fresh(folder, "movie.zip", naming);
        fresh.writeAt(0, "fresh", 5);
        EXPECT_FALSE(fresh.commitNew(path));
        EXPECT_EQ(Sandbox::readFile(path), "partial and");
        EXPECT_TRUE(fresh.commitNew(folder + "/movie (1).zip"));
        EXPECT_EQ(Sandbox::readFile(folder + "/movie (1).zip"), "fresh");
        EXPECT_EQ(entries(folder).size(), 2u);
    }
}

TEST(TempFile, CopiesOnlyTheDataOfASparsePartialFileAndMakesNewFilesWithTheUsualMode) {
    Sandbox sandbox;
    const std::string folder = sandbox.path("out");
    ASSERT_TRUE(createDirectory(folder));
    // A partial file of 5 GB that holds a few bytes at each end, and holes between.
    const std::string path = folder + "/big.iso";
    const int64_t length = 5368709120LL;
    Sandbox::writeFile(path, "head");
    ASSERT_EQ(::truncate(path.c_str(), length), 0);
    {
        const int fd = ::open(path.c_str(), O_WRONLY);
        ASSERT_EQ(::pwrite(fd, "tail", 4, length - 4), 4);
        ::close(fd);
    }
    EXPECT_EQ(directoryEntrySize(path), length);

    TempFile file(folder, "big.iso");
    file.appendFile(path);
    EXPECT_EQ(file.size(), length);
    char bytes[4] = {};
    EXPECT_EQ(file.readAt(0, bytes, 4), 4u);
    EXPECT_EQ(std::string(bytes, 4), "head");
    EXPECT_EQ(file.readAt(length - 4, bytes, 4), 4u);
    EXPECT_EQ(std::string(bytes, 4), "tail");
    struct stat st {};
    ASSERT_EQ(::fstat(file.descriptor(), &st), 0);
    EXPECT_LT(st.st_blocks * 512, 64 << 20) << "the holes were written as zeros";

    // A file from nothing gets what any new file gets: 0666 less the umask.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    TempFile fresh(folder, "new.bin");
    ASSERT_TRUE(fresh.commitNew(folder + "/new.bin"));
    ASSERT_EQ(::stat((folder + "/new.bin").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0666u & ~mask);
}

TEST(TempFile, OnlyTheLeftOversOfEndedProcessesAreStale) {
    Sandbox sandbox;
    const std::string folder = sandbox.path("out");
    ASSERT_TRUE(createDirectory(folder));
    // A process killed while it wrote leaves its temporary file behind, unless the file
    // had no name yet.
    for (const TempFile::Naming naming : {TempFile::Naming::Named, TempFile::Naming::Anonymous}) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            auto* left = new TempFile(folder, "movie.zip", naming);
            left->writeAt(0, "bytes", 5);
            ::_exit(0);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
    }
    ASSERT_EQ(entries(folder).size(), 1u);
    TempFile live(folder, "movie.zip", TempFile::Naming::Named);
    const std::vector<std::string> others = {".hidden", "movie.zip", "x.fetchora-abcdef",
                                             ".movie.zip.fetchora-abc", "..fetchora-abcdef"};
    for (const std::string& name : others)
        Sandbox::writeFile(folder + "/" + name, "mine");
    ASSERT_EQ(entries(folder).size(), others.size() + 2);

    EXPECT_EQ(removeStaleTempFiles(folder), 1);
    EXPECT_EQ(entries(folder).size(), others.size() + 1);
    for (const std::string& name : others)
        EXPECT_EQ(Sandbox::readFile(folder + "/" + name), "mine") << name;
    live.writeAt(0, "still mine", 10);
    live.commit(folder + "/movie.zip");
    EXPECT_EQ(Sandbox::readFile(folder + "/movie.zip"), "still mine");
    EXPECT_EQ(removeStaleTempFiles(sandbox.path("no/such")), 0);
}

} // namespace
} // namespace fetchora::files
