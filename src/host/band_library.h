// The toolbar bands registered in the registry and the libraries that serve them: reads
// the browser's toolbar list, loads each band's library with the dynamic loader and
// creates band objects through its class factory. On a first start without a registered
// band it registers the library installed beside the program.
#pragma once

#include "platform/com/com.h"

#include <map>
#include <string>
#include <vector>

namespace fetchora::com {
class IDeskBand;
}

namespace fetchora::host {

// One band of the toolbar list: its class and the library that serves it.
struct RegisteredBand {
    com::CLSID clsid;
    std::string library;
};

class BandLibrary final {
public:
    BandLibrary() = default;
    ~BandLibrary();
    BandLibrary(const BandLibrary&) = delete;
    BandLibrary& operator=(const BandLibrary&) = delete;

    // The bands of HKEY_LOCAL_MACHINE "SOFTWARE\Microsoft\Internet Explorer\Toolbar",
    // each with the library of its class's InprocServer32 key. A band whose class has no
    // library, or whose name is not a class identifier, is left out and a line in
    // problems says why.
    static std::vector<RegisteredBand> registeredBands(std::vector<std::string>& problems);

    // Where an installed program finds its band library: beside itself, then in
    // ../lib/fetchora/. Empty when neither holds one.
    static std::string installedLibrary(const std::string& programFolder);

    // Registers the library as fetchora-regsvr does, through its DllRegisterServer.
    // Empty on success, else what went wrong.
    static std::string registerLibrary(const std::string& path);

    // A new band object of the class, asked for IDeskBand; its library is loaded on first
    // use and stays loaded. On failure *band is null and the result says what failed.
    std::string createBand(const RegisteredBand& band, com::IDeskBand** result);

    // Asks each loaded library whether it can be unloaded now; the libraries that answer
    // otherwise are named in the result (a band or factory reference that was not given
    // back). The libraries stay mapped until the process ends.
    std::vector<std::string> librariesInUse();

private:
    static std::vector<RegisteredBand> readToolbarList(std::vector<std::string>& problems);

    struct Module {
        void* handle = nullptr;
        com::HRESULT (*getClassObject)(const com::CLSID&, const com::IID&, void**) = nullptr;
        com::HRESULT (*canUnloadNow)() = nullptr;
    };
    // The module of path, loading it when needed; null and a reason when it cannot.
    const Module* module(const std::string& path, std::string& problem);

    std::map<std::string, Module> modules_;
};

// The text of a result code for messages: "0x80004005 (E_FAIL)".
std::string describeResult(com::HRESULT result);

} // namespace fetchora::host
