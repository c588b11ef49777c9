// TTalvixBand: the band object that puts the toolbar window into a browser window. It
// keeps its site's focus, window and command interfaces and the browser, creates the
// toolbar window when the host asks for its window, reports its size, takes part in the
// host's keyboard-focus protocol, and adds three items to the band's context menu.
#pragma once

#include "band/com_object.h"
#include "band/window_hook.h"
#include "platform/com/com_ptr.h"
#include "platform/com/shell_interfaces.h"
#include "platform/com/web_browser.h"
#include "toolbar/fetchora_form.h"

#include <QPointer>

#include <cstdint>

namespace fetchora {

// {3F5A62E2-51F2-11D3-A075-CC7364CAE42A}
inline constexpr com::CLSID CLSID_TalvixBand = {
    0x3F5A62E2, 0x51F2, 0x11D3, {0xA0, 0x75, 0xCC, 0x73, 0x64, 0xCA, 0xE4, 0x2A}};

class TTalvixBand final : public TComObject,
                          public com::IDeskBand,
                          public com::IObjectWithSite,
                          public com::IInputObject,
                          public com::IContextMenu,
                          public com::IPersistStreamInit {
public:
    explicit TTalvixBand(com::IUnknown* outer = nullptr);
    ~TTalvixBand() override;

    // IUnknown of every interface.
    com::HRESULT QueryInterface(const com::IID& iid, void** object) override;
    com::ULONG AddRef() override;
    com::ULONG Release() override;

    // IOleWindow, IDockingWindow, IDeskBand.
    com::HRESULT GetWindow(com::HWND* window) override;
    com::HRESULT ContextSensitiveHelp(com::BOOL enterMode) override;
    com::HRESULT ShowDW(com::BOOL show) override;
    com::HRESULT CloseDW(com::DWORD reserved) override;
    com::HRESULT ResizeBorderDW(const com::RECT* border, com::IUnknown* site,
                                com::BOOL reserved) override;
    com::HRESULT GetBandInfo(com::DWORD bandId, com::DWORD viewMode,
                             com::DESKBANDINFO* info) override;

    // IObjectWithSite.
    com::HRESULT SetSite(com::IUnknown* site) override;
    com::HRESULT GetSite(const com::IID& iid, void** site) override;

    // IInputObject.
    com::HRESULT UIActivateIO(com::BOOL activate, com::MSG* message) override;
    com::HRESULT HasFocusIO() override;
    com::HRESULT TranslateAcceleratorIO(com::MSG* message) override;

    // IContextMenu.
    com::HRESULT QueryContextMenu(com::HMENU menu, com::UINT index, com::UINT firstId,
                                  com::UINT lastId, com::UINT flags) override;
    com::HRESULT InvokeCommand(com::CMINVOKECOMMANDINFO* info) override;
    com::HRESULT GetCommandString(std::uintptr_t command, com::UINT type, com::UINT* reserved,
                                  char* name, com::UINT size) override;

    // IPersist, IPersistStreamInit.
    com::HRESULT GetClassID(com::CLSID* classId) override;
    com::HRESULT IsDirty() override;
    com::HRESULT Load(com::IStream* stream) override;
    com::HRESULT Save(com::IStream* stream, com::BOOL clearDirty) override;
    com::HRESULT GetSizeMax(com::ULARGE_INTEGER* size) override;
    com::HRESULT InitNew() override;

    // Tells the site that the band gained or lost the keyboard focus.
    void FocusChange(bool focused);
    // Placed in front of the toolbar window's procedure: a click on a child control
    // gives the band the focus; every message then goes on to SavedWindowProc.
    bool ToolbarWindowProc(const com::MSG& message);

    // The toolbar window, or null before GetWindow and after CloseDW.
    TFetchoraForm* toolbarForm() const { return ToolbarForm.data(); }

private:
    // Creates and hooks the toolbar window when the band holds none.
    void createToolbarForm();
    // Unhooks the toolbar window and destroys it, at once or, while an event loop runs,
    // when control returns to the loop; the band holds no window afterwards.
    void disposeToolbarForm();

    std::int32_t MenuItemCount = 0;
    bool HasFocus = false;
    TWindowHook::WindowProc SavedWindowProc;
    com::HWND ParentWindow = nullptr;
    com::ComPtr<com::IInputObjectSite> Site;
    com::ComPtr<com::IOleCommandTarget> CommandTarget;
    QPointer<TFetchoraForm> ToolbarForm;
    com::ComPtr<com::IWebBrowser2> WebBrowser;
};

// The band's title in the host's band list.
inline constexpr const char16_t* kBandTitle = u"Pullmarq";

} // namespace fetchora
