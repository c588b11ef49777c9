// The library's own file, found through the dynamic loader, and the paths beside it.
#include "util/library_path.h"

#include <climits>
#include <dlfcn.h>
#include <unistd.h>

namespace fetchora {

namespace {

std::string& folderOverride() {
    static std::string folder;
    return folder;
}

std::string folderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

std::string programPath() {
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}

// The module's path as the loader and the file system tell it: asked once, since the
// paths of the queue and credential files are asked for with every request.
std::string findLibraryFileName() {
    Dl_info info{};
    // The address of this very function tells which module holds the code.
    if (::dladdr(reinterpret_cast<void*>(&findLibraryFileName), &info) != 0 &&
        info.dli_fname != nullptr && info.dli_fname[0] == '/') {
        char resolved[PATH_MAX];
        if (::realpath(info.dli_fname, resolved) != nullptr)
            return resolved;
        return info.dli_fname;
    }
    return programPath();
}

} // namespace

std::string libraryFileName() {
    static const std::string name = findLibraryFileName();
    return name;
}

std::string pathInLibraryFolder(const std::string& name) {
    const std::string& forced = folderOverride();
    const std::string folder = forced.empty() ? folderOf(libraryFileName()) : forced;
    return folder + "/" + name;
}

void setLibraryFolderOverride(const std::string& folder) {
    folderOverride() = folder;
}

} // namespace fetchora
