// The browser band interfaces with their methods in slot order and their real IIDs:
// docking windows and desk bands with their band-information record, the site and
// keyboard-focus protocol, and the context menu with its invocation record. Also the
// browser application service and the desk band component category.
#pragma once

#include "platform/com/ole_interfaces.h"
#include "platform/com/window_messages.h"
#include "platform/resources/menu.h"

#include <cstdint>

namespace fetchora::com {

// A menu handle of the platform's loaded menus; QueryContextMenu inserts into it with
// resources::InsertMenu and a host reads the items back and shows them.
using HMENU = resources::HMENU;

// {0002DF05-0000-0000-C000-000000000046}: the browser application service, asked of a
// site's service provider for the browser's IWebBrowser2.
inline constexpr GUID SID_SWebBrowserApp = {
    0x0002DF05, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
// {00021492-0000-0000-C000-000000000046}: the component category of desk bands.
inline constexpr GUID CATID_DeskBand = {
    0x00021492, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// {012DD920-7B26-11D0-8CA9-00A0C92DBFE8}
inline constexpr IID IID_IDockingWindow = {
    0x012DD920, 0x7B26, 0x11D0, {0x8C, 0xA9, 0x00, 0xA0, 0xC9, 0x2D, 0xBF, 0xE8}};

class IDockingWindow : public IOleWindow {
public:
    // Slot 5.
    virtual HRESULT ShowDW(BOOL show) = 0;
    // Slot 6.
    virtual HRESULT CloseDW(DWORD reserved) = 0;
    // Slot 7.
    virtual HRESULT ResizeBorderDW(const RECT* border, IUnknown* site, BOOL reserved) = 0;

protected:
    ~IDockingWindow() = default;
};

// Members of DESKBANDINFO that GetBandInfo is asked for (dwMask).
inline constexpr DWORD DBIM_MINSIZE = 0x0001;
inline constexpr DWORD DBIM_MAXSIZE = 0x0002;
inline constexpr DWORD DBIM_INTEGRAL = 0x0004;
inline constexpr DWORD DBIM_ACTUAL = 0x0008;
inline constexpr DWORD DBIM_TITLE = 0x0010;
inline constexpr DWORD DBIM_MODEFLAGS = 0x0020;
inline constexpr DWORD DBIM_BKCOLOR = 0x0040;

// Band modes (dwModeFlags).
inline constexpr DWORD DBIMF_NORMAL = 0x0000;
inline constexpr DWORD DBIMF_FIXED = 0x0001;
inline constexpr DWORD DBIMF_FIXEDBMP = 0x0004;
inline constexpr DWORD DBIMF_VARIABLEHEIGHT = 0x0008;
inline constexpr DWORD DBIMF_UNDELETEABLE = 0x0010;
inline constexpr DWORD DBIMF_DEBOSSED = 0x0020;
inline constexpr DWORD DBIMF_BKCOLOR = 0x0040;

// View modes of GetBandInfo.
inline constexpr DWORD DBIF_VIEWMODE_NORMAL = 0x0000;
inline constexpr DWORD DBIF_VIEWMODE_VERTICAL = 0x0001;
inline constexpr DWORD DBIF_VIEWMODE_FLOATING = 0x0002;
inline constexpr DWORD DBIF_VIEWMODE_TRANSPARENT = 0x0004;

// The band-information record: the host sets dwMask to the members it wants, the band
// fills them (a size of -1 means no limit) and may clear bits it does not supply.
struct DESKBANDINFO {
    DWORD dwMask = 0;
    POINTL ptMinSize;
    POINTL ptMaxSize;
    POINTL ptIntegral;
    POINTL ptActual;
    char16_t wszTitle[256] = {};
    DWORD dwModeFlags = 0;
    COLORREF crBkgnd = 0;
};

// {EB0FE172-1A3A-11D0-89B3-00A0C90A90AC}
inline constexpr IID IID_IDeskBand = {
    0xEB0FE172, 0x1A3A, 0x11D0, {0x89, 0xB3, 0x00, 0xA0, 0xC9, 0x0A, 0x90, 0xAC}};

class IDeskBand : public IDockingWindow {
public:
    // Slot 8.
    virtual HRESULT GetBandInfo(DWORD bandId, DWORD viewMode, DESKBANDINFO* info) = 0;

protected:
    ~IDeskBand() = default;
};

// {FC4801A3-2BA9-11CF-A229-00AA003D7352}
inline constexpr IID IID_IObjectWithSite = {
    0xFC4801A3, 0x2BA9, 0x11CF, {0xA2, 0x29, 0x00, 0xAA, 0x00, 0x3D, 0x73, 0x52}};

class IObjectWithSite : public IUnknown {
public:
    // Slot 3: site is the host's object for this one, or null when the host lets go.
    virtual HRESULT SetSite(IUnknown* site) = 0;
    // Slot 4.
    virtual HRESULT GetSite(const IID& iid, void** site) = 0;

protected:
    ~IObjectWithSite() = default;
};

// {68284FAA-6A48-11D0-8C78-00C04FD918B4}
inline constexpr IID IID_IInputObject = {
    0x68284FAA, 0x6A48, 0x11D0, {0x8C, 0x78, 0x00, 0xC0, 0x4F, 0xD9, 0x18, 0xB4}};

class IInputObject : public IUnknown {
public:
    // Slot 3: activate != 0 gives the object the keyboard focus; message is the one that
    // caused it, or null.
    virtual HRESULT UIActivateIO(BOOL activate, MSG* message) = 0;
    // Slot 4: S_OK when the object holds the focus, S_FALSE otherwise.
    virtual HRESULT HasFocusIO() = 0;
    // Slot 5: S_OK when the object took the key message, S_FALSE to leave it to the host.
    virtual HRESULT TranslateAcceleratorIO(MSG* message) = 0;

protected:
    ~IInputObject() = default;
};

// {F1DB8392-7331-11D0-8C99-00A0C92DBFE8}
inline constexpr IID IID_IInputObjectSite = {
    0xF1DB8392, 0x7331, 0x11D0, {0x8C, 0x99, 0x00, 0xA0, 0xC9, 0x2D, 0xBF, 0xE8}};

class IInputObjectSite : public IUnknown {
public:
    // Slot 3: the object object gained (focus != 0) or lost the keyboard focus.
    virtual HRESULT OnFocusChangeIS(IUnknown* object, BOOL focus) = 0;

protected:
    ~IInputObjectSite() = default;
};

// Flags of QueryContextMenu.
inline constexpr UINT CMF_NORMAL = 0x0000;
inline constexpr UINT CMF_DEFAULTONLY = 0x0001;
inline constexpr UINT CMF_VERBSONLY = 0x0002;
inline constexpr UINT CMF_EXPLORE = 0x0004;

// Kinds of GetCommandString.
inline constexpr UINT GCS_VERBA = 0x0000;
inline constexpr UINT GCS_HELPTEXTA = 0x0001;
inline constexpr UINT GCS_VALIDATEA = 0x0002;

// The invocation record of IContextMenu::InvokeCommand. lpVerb is either a verb string
// or a command offset from the first id in its low 16 bits with the upper bits zero
// (commandVerb makes one).
struct CMINVOKECOMMANDINFO {
    DWORD cbSize = sizeof(CMINVOKECOMMANDINFO);
    DWORD fMask = 0;
    HWND hwnd = nullptr;
    const char* lpVerb = nullptr;
    const char* lpParameters = nullptr;
    const char* lpDirectory = nullptr;
    int nShow = 0;
    DWORD dwHotKey = 0;
    void* hIcon = nullptr;
};

// The verb of a command given by its offset, as MAKEINTRESOURCE writes it.
inline const char* commandVerb(std::uint16_t offset) {
    // NOLINTNEXTLINE(performance-no-int-to-ptr): the verb is a number in a pointer's place
    return reinterpret_cast<const char*>(static_cast<std::uintptr_t>(offset));
}
// True when verb is a command offset rather than a string (its upper bits are zero).
inline bool isCommandVerb(const char* verb) {
    return (reinterpret_cast<std::uintptr_t>(verb) >> 16) == 0;
}
inline std::uint16_t commandOffset(const char* verb) {
    return static_cast<std::uint16_t>(reinterpret_cast<std::uintptr_t>(verb) & 0xFFFF);
}

// {000214E4-0000-0000-C000-000000000046}
inline constexpr IID IID_IContextMenu = {
    0x000214E4, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

class IContextMenu : public IUnknown {
public:
    // Slot 3: inserts the object's items into menu at position index with command ids
    // from firstId to lastId; a success code whose value is the number of ids used.
    virtual HRESULT QueryContextMenu(HMENU menu, UINT index, UINT firstId, UINT lastId,
                                     UINT flags) = 0;
    // Slot 4.
    virtual HRESULT InvokeCommand(CMINVOKECOMMANDINFO* info) = 0;
    // Slot 5.
    virtual HRESULT GetCommandString(std::uintptr_t command, UINT type, UINT* reserved, char* name,
                                     UINT size) = 0;

protected:
    ~IContextMenu() = default;
};

} // namespace fetchora::com
