// Whole-file input and output and the size of a file.
#include "util/file_io.h"

#include "platform/errors.h"
#include "support/sandbox.h"

#include <gtest/gtest.h>

#include <string>

namespace fetchora {
namespace {

using testing::Sandbox;

TEST(WholeFile, WritesAndReadsEveryByteUnchanged) {
    Sandbox sandbox;
    const std::string path = sandbox.libraryPath("downloads.txt");
    std::string bytes("http://x/a.zip\tA.zip\t10\t0\t1\r\n", 29);
    bytes += std::string("\0\xFF\r\n\n\r", 6);
    writeWholeFile(bytes, path);
    EXPECT_EQ(Sandbox::readFile(path), bytes) << "no line break added, nothing translated";
    EXPECT_EQ(readWholeFile(path), bytes);
    EXPECT_EQ(fileSize(path), static_cast<int>(bytes.size()));

    writeWholeFile("short", path);
    EXPECT_EQ(readWholeFile(path), "short") << "the old content is gone";
    writeWholeFile("", path);
    EXPECT_EQ(readWholeFile(path), "");
    EXPECT_EQ(fileSize(path), 0);
    EXPECT_EQ(fileSize(sandbox.libraryPath("missing.txt")), 0);
}

TEST(WholeFile, ReportsFilesThatCannotBeOpenedOrWritten) {
    Sandbox sandbox;
    const std::string missing = sandbox.libraryPath("missing.txt");
    try {
        readWholeFile(missing);
        FAIL() << "no error";
    } catch (const StreamError& error) {
        EXPECT_EQ(std::string(error.what()),
                  "Cannot open file \"" + missing + "\". No such file or directory");
    }
    EXPECT_THROW(writeWholeFile("x", sandbox.path("no/folder/file.txt")), InOutError);
}

} // namespace
} // namespace fetchora
