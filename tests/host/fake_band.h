// The script of the fake toolbar band library that the host's tests load: what each call
// answers and the calls the band received, reached through the library's exported
// fakeBandScript().
#pragma once

#include "platform/com/shell_interfaces.h"
#include "platform/com/web_browser.h"

#include <string>
#include <vector>

namespace fetchora::testing {

struct FakeBandScript {
    // Answers of the band's calls.
    com::HRESULT getClassObject = com::S_OK;
    com::HRESULT registerServer = com::S_OK;
    com::HRESULT setSite = com::S_OK;
    com::HRESULT getWindow = com::S_OK;
    com::HRESULT getBandInfo = com::S_OK;
    com::HRESULT showDW = com::S_OK;
    com::HRESULT invokeCommand = com::S_OK;
    // The band's window size, as GetBandInfo reports it.
    int width = 300;
    int height = 40;
    // GetBandInfo fills the whole title record, without a terminating zero, and asks for
    // a variable height.
    bool fullTitle = false;

    // What happened: one line per call ("SetSite", "SetSite null", "GetWindow",
    // "GetBandInfo 0x7f", "ShowDW 1", "CloseDW", "QueryContextMenu 0 1",
    // "InvokeCommand 2", "TranslateAcceleratorIO 256 9", "DllRegisterServer").
    std::vector<std::string> calls;
    // Band objects alive.
    int objects = 0;
    // The page address the band's browser reported when the band got its site.
    std::string pageAtSite;
    // The band's browser, kept until the band goes.
    com::IWebBrowser2* browser = nullptr;

    void reset() { *this = FakeBandScript(); }
};

// The exported function's name and type.
inline constexpr const char* kFakeBandScriptSymbol = "fakeBandScript";
using FakeBandScriptFunction = FakeBandScript* (*)();

// The class the fake library serves: {6D0C0F11-3B7A-4C55-9E2B-0A1B2C3D4E5F}.
inline constexpr com::CLSID kFakeBandClass = {
    0x6D0C0F11, 0x3B7A, 0x4C55, {0x9E, 0x2B, 0x0A, 0x1B, 0x2C, 0x3D, 0x4E, 0x5F}};

} // namespace fetchora::testing
