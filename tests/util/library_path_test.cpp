// The library folder: the folder of the module holding the code, or a test's own folder.
#include "util/library_path.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace fetchora {
namespace {

std::string programPath() {
    char resolved[PATH_MAX];
    return ::realpath("/proc/self/exe", resolved) != nullptr ? resolved : "";
}

TEST(LibraryPath, IsTheProgramsFolderWhenLinkedIntoAProgram) {
    const std::string program = programPath();
    ASSERT_FALSE(program.empty());
    EXPECT_EQ(libraryFileName(), program);
    const std::string folder = program.substr(0, program.rfind('/'));
    // The current folder does not matter.
    char* cwd = ::getcwd(nullptr, 0);
    ASSERT_EQ(::chdir("/"), 0);
    EXPECT_EQ(pathInLibraryFolder("downloads.txt"), folder + "/downloads.txt");
    ASSERT_EQ(::chdir(cwd), 0);
    std::free(cwd);
}

TEST(LibraryPath, OverrideGivesATestItsOwnFolderUntilCleared) {
    const std::string normal = pathInLibraryFolder("servers.txt");
    setLibraryFolderOverride("/tmp/case-1");
    EXPECT_EQ(pathInLibraryFolder("servers.txt"), "/tmp/case-1/servers.txt");
    setLibraryFolderOverride("/tmp/case-2");
    EXPECT_EQ(pathInLibraryFolder("contains.txt"), "/tmp/case-2/contains.txt");
    setLibraryFolderOverride("");
    EXPECT_EQ(pathInLibraryFolder("servers.txt"), normal);
}

} // namespace
} // namespace fetchora
