// Fetchora.so as a host and fetchora-regsvr use it: loaded with dlopen, its class
// object makes a band, and the registration tool registers and unregisters it.
#include "band/scripted_site.h"
#include "band/server_exports.h"
#include "platform/com/com_ptr.h"
#include "platform/registry.h"
#include "support/sandbox.h"

#include <dlfcn.h>

#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace fetchora {
namespace {

using namespace com;
using namespace registry;
using testing::Sandbox;

const std::string kClsid = "{3F5A62E2-51F2-11D3-A075-CC7364CAE42A}";

struct RunResult {
    int status = -1;
    std::string output;
};

// Runs a shell command and collects its standard output and exit status.
RunResult run(const std::string& command) {
    RunResult result;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr)
        return result;
    std::array<char, 256> buffer{};
    while (std::fgets(buffer.data(), buffer.size(), pipe) != nullptr)
        result.output += buffer.data();
    const int status = ::pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::string quoted(const std::string& text) {
    return "'" + text + "'";
}

std::optional<std::string> readValue(HKEY root, const std::string& key, const std::string& name) {
    HKEY handle = nullptr;
    if (RegOpenKeyEx(root, key, KEY_READ, &handle) != ERROR_SUCCESS)
        return std::nullopt;
    std::string data;
    const LONG result = RegQueryValueEx(handle, name, nullptr, &data);
    RegCloseKey(handle);
    if (result != ERROR_SUCCESS)
        return std::nullopt;
    return data;
}

TEST(BandModuleTest, MakesABandThroughTheLoadedLibrarysClassObject) {
    void* library = ::dlopen(FETCHORA_MODULE, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << ::dlerror();
    auto getClassObject =
        reinterpret_cast<DllGetClassObjectProc>(::dlsym(library, "DllGetClassObject"));
    auto canUnloadNow = reinterpret_cast<DllCanUnloadNowProc>(::dlsym(library, "DllCanUnloadNow"));
    ASSERT_NE(getClassObject, nullptr);
    ASSERT_NE(canUnloadNow, nullptr);
    EXPECT_NE(::dlsym(library, "DllRegisterServer"), nullptr);
    EXPECT_NE(::dlsym(library, "DllUnregisterServer"), nullptr);

    const CLSID clsid = *guidFromString(kClsid);
    {
        ComPtr<IClassFactory> factory;
        ASSERT_EQ(getClassObject(clsid, IID_IClassFactory, factory.putVoid()), S_OK);
        ComPtr<IDeskBand> band;
        ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDeskBand, band.putVoid()), S_OK);
        EXPECT_EQ(canUnloadNow(), S_FALSE);

        testing::ScriptedSite site;
        auto withSite = band.as<IObjectWithSite>(IID_IObjectWithSite);
        ASSERT_TRUE(withSite);
        EXPECT_EQ(withSite->SetSite(static_cast<IInputObjectSite*>(&site)), S_OK);
        DESKBANDINFO info;
        info.dwMask = DBIM_TITLE | DBIM_MINSIZE;
        EXPECT_EQ(band->GetBandInfo(0, 0, &info), S_OK);
        EXPECT_EQ(std::u16string(info.wszTitle), u"Pullmarq");
        EXPECT_EQ(info.ptMinSize.x, 22);
        // The host's menu takes the band's items although each module has its own copy
        // of the menu calls.
        const resources::UniqueMenu menu(resources::CreatePopupMenu());
        auto contextMenu = band.as<IContextMenu>(IID_IContextMenu);
        EXPECT_EQ(contextMenu->QueryContextMenu(menu.get(), 0, 1, 100, CMF_NORMAL), 3);
        ASSERT_EQ(resources::GetMenuItemCount(menu.get()), 3);
        EXPECT_EQ(resources::GetMenuString(menu.get(), 0, resources::MF_BYPOSITION),
                  "Update Bandinfo");
        contextMenu.reset();
        withSite.reset();
        band.reset();
        EXPECT_EQ(site.refs, 0);
        EXPECT_EQ(site.browser.refs, 0);
    }
    EXPECT_EQ(canUnloadNow(), S_OK);
    ::dlclose(library);
}

TEST(BandModuleTest, RegistersAndUnregistersWithTheRegistrationTool) {
    Sandbox sandbox;
    // The tool's process chooses its hive folder from XDG_CONFIG_HOME.
    const std::string config = sandbox.path("config");
    setHiveFolder(config + "/fetchora/registry");
    const std::string tool =
        "XDG_CONFIG_HOME=" + quoted(config) + " " + quoted(FETCHORA_REGSVR) + " ";
    char resolved[PATH_MAX];
    ASSERT_NE(::realpath(FETCHORA_MODULE, resolved), nullptr);

    const RunResult registered = run(tool + quoted(FETCHORA_MODULE));
    EXPECT_EQ(registered.status, 0) << registered.output;
    EXPECT_NE(registered.output.find("succeeded"), std::string::npos) << registered.output;
    EXPECT_EQ(readValue(HKEY_CLASSES_ROOT, "CLSID\\" + kClsid + "\\InprocServer32", ""),
              std::string(resolved));
    EXPECT_EQ(
        readValue(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Internet Explorer\\Toolbar", kClsid),
        "");

    const RunResult unregistered = run(tool + "/u " + quoted(FETCHORA_MODULE));
    EXPECT_EQ(unregistered.status, 0) << unregistered.output;
    EXPECT_EQ(readValue(HKEY_CLASSES_ROOT, "CLSID\\" + kClsid, ""), std::nullopt);
    EXPECT_EQ(
        readValue(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Internet Explorer\\Toolbar", kClsid),
        std::nullopt);

    // A library that cannot be loaded is a failure, and says so.
    const RunResult missing = run(tool + quoted(sandbox.path("missing.so")));
    EXPECT_NE(missing.status, 0);
    EXPECT_NE(missing.output.find("Cannot load"), std::string::npos) << missing.output;
}

} // namespace
} // namespace fetchora
