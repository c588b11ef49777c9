// The toolbar list in the registry, the band libraries behind it and their exported
// server functions.
#include "host/band_library.h"

#include "platform/com/shell_interfaces.h"
#include "platform/registry.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <exception>

namespace fetchora::host {

namespace {

using namespace fetchora::registry;
using com::HRESULT;

constexpr const char* kToolbarKey = R"(SOFTWARE\Microsoft\Internet Explorer\Toolbar)";

// An open registry key that closes itself.
class OpenKey final {
public:
    OpenKey(HKEY root, const std::string& path) {
        if (RegOpenKeyEx(root, path, KEY_READ, &key_) != ERROR_SUCCESS)
            key_ = nullptr;
    }
    ~OpenKey() {
        if (key_ != nullptr)
            RegCloseKey(key_);
    }
    OpenKey(const OpenKey&) = delete;
    OpenKey& operator=(const OpenKey&) = delete;
    HKEY get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

std::string libraryOfClass(const std::string& clsid) {
    const OpenKey key(HKEY_CLASSES_ROOT, "CLSID\\" + clsid + "\\InprocServer32");
    if (key.get() == nullptr)
        return {};
    DWORD type = 0;
    std::string path;
    if (RegQueryValueEx(key.get(), "", &type, &path) != ERROR_SUCCESS)
        return {};
    if (type != REG_SZ && type != REG_EXPAND_SZ)
        return {};
    return path;
}

bool isFile(const std::string& path) {
    return ::access(path.c_str(), R_OK) == 0;
}

std::string loaderError() {
    const char* text = ::dlerror();
    return text != nullptr ? text : "unknown error";
}

template <typename Function> Function exported(void* handle, const char* name) {
    void* symbol = ::dlsym(handle, name);
    // POSIX lets a data pointer from dlsym stand for a function.
    return reinterpret_cast<Function>(symbol);
}

} // namespace

BandLibrary::~BandLibrary() = default;

std::vector<RegisteredBand> BandLibrary::registeredBands(std::vector<std::string>& problems) {
    // A registry file that cannot be read or parsed raises; the browser goes on without
    // bands and says why.
    try {
        return readToolbarList(problems);
    } catch (const std::exception& error) {
        problems.push_back(std::string("The toolbar list cannot be read: ") + error.what());
        return {};
    }
}

std::vector<RegisteredBand> BandLibrary::readToolbarList(std::vector<std::string>& problems) {
    std::vector<RegisteredBand> bands;
    const OpenKey toolbar(HKEY_LOCAL_MACHINE, kToolbarKey);
    if (toolbar.get() == nullptr)
        return bands;
    std::string name;
    for (DWORD index = 0; RegEnumValue(toolbar.get(), index, &name) == ERROR_SUCCESS; ++index) {
        const auto clsid = com::guidFromString(name);
        if (!clsid) {
            problems.push_back("The toolbar entry \"" + name + "\" is not a class identifier.");
            continue;
        }
        std::string library = libraryOfClass(name);
        if (library.empty()) {
            problems.push_back("The toolbar band " + name +
                               " names no library (no InprocServer32 key); register it again.");
            continue;
        }
        bands.push_back({*clsid, std::move(library)});
    }
    return bands;
}

std::string BandLibrary::installedLibrary(const std::string& programFolder) {
    for (const char* place : {"/Fetchora.so", "/../lib/fetchora/Fetchora.so"}) {
        const std::string path = programFolder + place;
        if (isFile(path)) {
            char resolved[PATH_MAX];
            return ::realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : path;
        }
    }
    return {};
}

std::string BandLibrary::registerLibrary(const std::string& path) {
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr)
        return "cannot load " + path + ": " + loaderError();
    using Register = HRESULT (*)();
    const auto registerServer = exported<Register>(handle, "DllRegisterServer");
    if (registerServer == nullptr)
        return path + " has no DllRegisterServer";
    const HRESULT result = registerServer();
    // The library stays loaded: a band created from it later uses this same mapping.
    if (com::FAILED(result))
        return "DllRegisterServer of " + path + " failed with " + describeResult(result);
    return {};
}

const BandLibrary::Module* BandLibrary::module(const std::string& path, std::string& problem) {
    const auto found = modules_.find(path);
    if (found != modules_.end())
        return &found->second;
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        problem = "cannot load " + path + ": " + loaderError();
        return nullptr;
    }
    Module loaded;
    loaded.handle = handle;
    loaded.getClassObject = exported<decltype(loaded.getClassObject)>(handle, "DllGetClassObject");
    loaded.canUnloadNow = exported<decltype(loaded.canUnloadNow)>(handle, "DllCanUnloadNow");
    if (loaded.getClassObject == nullptr) {
        problem = path + " has no DllGetClassObject";
        ::dlclose(handle);
        return nullptr;
    }
    return &modules_.emplace(path, loaded).first->second;
}

std::string BandLibrary::createBand(const RegisteredBand& band, com::IDeskBand** result) {
    *result = nullptr;
    std::string problem;
    const Module* server = module(band.library, problem);
    if (server == nullptr)
        return problem;
    const std::string clsid = com::guidToString(band.clsid);
    void* object = nullptr;
    HRESULT hr = server->getClassObject(band.clsid, com::IID_IClassFactory, &object);
    if (com::FAILED(hr) || object == nullptr)
        return "DllGetClassObject(" + clsid + ") of " + band.library + " failed with " +
               describeResult(hr);
    auto* factory = static_cast<com::IClassFactory*>(object);
    object = nullptr;
    hr = factory->CreateInstance(nullptr, com::IID_IDeskBand, &object);
    factory->Release();
    if (com::FAILED(hr) || object == nullptr)
        return "CreateInstance of the band " + clsid + " failed with " + describeResult(hr);
    *result = static_cast<com::IDeskBand*>(object);
    return {};
}

std::vector<std::string> BandLibrary::librariesInUse() {
    std::vector<std::string> inUse;
    for (const auto& [path, loaded] : modules_) {
        if (loaded.canUnloadNow != nullptr && loaded.canUnloadNow() != com::S_OK)
            inUse.push_back(path);
    }
    return inUse;
}

std::string describeResult(HRESULT result) {
    struct Known {
        HRESULT code;
        const char* name;
    };
    static constexpr Known known[] = {
        {com::S_OK, "S_OK"},
        {com::S_FALSE, "S_FALSE"},
        {com::E_NOTIMPL, "E_NOTIMPL"},
        {com::E_NOINTERFACE, "E_NOINTERFACE"},
        {com::E_POINTER, "E_POINTER"},
        {com::E_FAIL, "E_FAIL"},
        {com::E_UNEXPECTED, "E_UNEXPECTED"},
        {com::E_OUTOFMEMORY, "E_OUTOFMEMORY"},
        {com::E_INVALIDARG, "E_INVALIDARG"},
        {com::CLASS_E_NOAGGREGATION, "CLASS_E_NOAGGREGATION"},
        {com::CLASS_E_CLASSNOTAVAILABLE, "CLASS_E_CLASSNOTAVAILABLE"},
    };
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08X", static_cast<unsigned>(result));
    for (const Known& entry : known) {
        if (entry.code == result)
            return std::string(hex) + " (" + entry.name + ")";
    }
    return hex;
}

} // namespace fetchora::host
