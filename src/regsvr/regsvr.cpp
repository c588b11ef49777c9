// fetchora-regsvr [/u] PATH: loads an in-process server library and calls its
// DllRegisterServer (or, with /u, DllUnregisterServer), prints one line saying how that
// went, and exits with 0 only when the call returned S_OK.
#include "platform/com/com.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

using fetchora::com::HRESULT;

enum ExitCode { Succeeded = 0, Failed = 1, Usage = 2, NotLoaded = 3, NoEntryPoint = 4 };

std::string hex(HRESULT result) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(result));
    return text;
}

std::string describe(HRESULT result) {
    using namespace fetchora::com;
    switch (result) {
    case E_FAIL:
        return "E_FAIL: a step of the registry update failed";
    case E_UNEXPECTED:
        return "E_UNEXPECTED";
    case E_OUTOFMEMORY:
        return "E_OUTOFMEMORY";
    case S_FALSE:
        return "S_FALSE";
    default:
        return "an unexpected result";
    }
}

int usage() {
    std::fprintf(stderr, "Usage: fetchora-regsvr [/u] PATH\n"
                         "Registers (or with /u unregisters) the server library PATH.\n");
    return Usage;
}

} // namespace

int main(int argc, char** argv) {
    bool unregister = false;
    const char* path = nullptr;
    for (int i = 1; i < argc; ++i) {
        const char* argument = argv[i];
        if (std::strcmp(argument, "/u") == 0 || std::strcmp(argument, "/U") == 0 ||
            std::strcmp(argument, "-u") == 0) {
            unregister = true;
        } else if (path == nullptr) {
            path = argument;
        } else {
            return usage();
        }
    }
    if (path == nullptr)
        return usage();

    // The library registers the path it was loaded from: make it whole, so that the
    // registry names the file wherever a host starts.
    std::string fullPath = path;
    if (char* resolved = realpath(path, nullptr)) {
        fullPath = resolved;
        std::free(resolved);
    }
    path = fullPath.c_str();

    void* library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        std::printf("Cannot load %s: %s\n", path, dlerror());
        return NotLoaded;
    }
    const char* entryName = unregister ? "DllUnregisterServer" : "DllRegisterServer";
    using EntryPoint = HRESULT (*)();
    auto* entry = reinterpret_cast<EntryPoint>(dlsym(library, entryName));
    if (entry == nullptr) {
        std::printf("%s has no entry point %s\n", path, entryName);
        return NoEntryPoint;
    }
    const HRESULT result = entry();
    if (result == fetchora::com::S_OK) {
        std::printf("%s in %s succeeded\n", entryName, path);
    } else {
        std::printf("%s in %s failed with %s (%s)\n", entryName, path, hex(result).c_str(),
                    describe(result).c_str());
    }
    // The library stays loaded until the program ends a moment later: unloading it
    // would unload its dependencies too, some of which keep what they allocated on load.
    return result == fetchora::com::S_OK ? Succeeded : Failed;
}
