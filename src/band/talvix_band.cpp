// The band object's interfaces: window, site, focus, context menu and persistence.
#include "band/talvix_band.h"

#include "platform/qt/desktop.h"
#include "toolbar/fetchora_form.h"

#include <QThread>

#include <algorithm>

namespace fetchora {

using namespace com;

namespace {

// OnFocusChangeIS's TRUE, with all bits set.
constexpr BOOL kFocusTrue = -1;

// The title fits 10 characters and its terminating zero.
constexpr size_t kTitleRoom = 11;

} // namespace

TTalvixBand::TTalvixBand(IUnknown* outer) : TComObject(outer) {
    addInterface(IID_IDeskBand, static_cast<IDeskBand*>(this));
    addInterface(IID_IObjectWithSite, static_cast<IObjectWithSite*>(this));
    addInterface(IID_IInputObject, static_cast<IInputObject*>(this));
    addInterface(IID_IContextMenu, static_cast<IContextMenu*>(this));
    addInterface(IID_IPersistStreamInit, static_cast<IPersistStreamInit*>(this));
    addInterface(IID_IPersist, static_cast<IPersistStreamInit*>(this));
}

TTalvixBand::~TTalvixBand() {
    disposeToolbarForm();
}

HRESULT TTalvixBand::QueryInterface(const IID& iid, void** object) {
    return TComObject::QueryInterface(iid, object);
}

ULONG TTalvixBand::AddRef() {
    return TComObject::AddRef();
}

ULONG TTalvixBand::Release() {
    return TComObject::Release();
}

HRESULT TTalvixBand::GetWindow(HWND* window) {
    if (window == nullptr)
        return E_POINTER;
    *window = nullptr;
    try {
        createToolbarForm();
    } catch (...) {
        // No error leaves a COM call; the host sees that there is no window.
        return E_FAIL;
    }
    *window = ToolbarForm.data();
    return S_OK;
}

void TTalvixBand::createToolbarForm() {
    if (ToolbarForm.isNull()) {
        // The library has its own copy of the desktop hooks: in a real host nobody else
        // sets them, and a test has set its scripted ones already.
        ui::installDesktopUi();
        auto* form = new TFetchoraForm(ParentWindow);
        ToolbarForm = form;
        form->WebBrowser = WebBrowser.get();
        if (TWindowHook* hook = TWindowHook::install(
                form, [this](const MSG& message) { return ToolbarWindowProc(message); }))
            SavedWindowProc = hook->savedWindowProc();
        if (ParentWindow != nullptr)
            form->show();
    }
}

HRESULT TTalvixBand::ContextSensitiveHelp(BOOL) {
    return E_NOTIMPL;
}

HRESULT TTalvixBand::ShowDW(BOOL show) {
    HasFocus = show != 0;
    FocusChange(HasFocus);
    return S_OK;
}

HRESULT TTalvixBand::CloseDW(DWORD) {
    disposeToolbarForm();
    return S_OK;
}

void TTalvixBand::disposeToolbarForm() {
    TFetchoraForm* form = ToolbarForm.data();
    ToolbarForm = nullptr;
    SavedWindowProc = nullptr;
    if (form == nullptr)
        return;
    // The hook calls this band, which may be going.
    if (TWindowHook* hook = TWindowHook::of(form))
        hook->disable();
    // While an event loop runs, a handler of the window may be on the stack, waiting
    // for a request or a dialog in a nested loop (the host closes the band while a
    // download runs): the window then leaves its parent at once and is destroyed when
    // control returns to the loop. Without a running loop it is destroyed now. Its
    // destruction withdraws its drop registration and releases its browser.
    if (QThread::currentThread()->loopLevel() > 0) {
        form->hide();
        form->setParent(nullptr);
        form->deleteLater();
    } else {
        delete form;
    }
}

HRESULT TTalvixBand::ResizeBorderDW(const RECT*, IUnknown*, BOOL) {
    return E_NOTIMPL;
}

HRESULT TTalvixBand::GetBandInfo(DWORD, DWORD, DESKBANDINFO* info) {
    if (info == nullptr)
        return E_POINTER;
    if ((info->dwMask & DBIM_MINSIZE) != 0)
        info->ptMinSize = {22, 22};
    if ((info->dwMask & DBIM_MAXSIZE) != 0)
        info->ptMaxSize = {-1, -1};
    if ((info->dwMask & DBIM_INTEGRAL) != 0)
        info->ptIntegral = {1, 1};
    if ((info->dwMask & DBIM_ACTUAL) != 0) {
        if (!ToolbarForm.isNull()) {
            info->ptActual = {ToolbarForm->width(), ToolbarForm->height()};
        } else {
            // Without a window there is no size to report: the member is not supplied.
            info->dwMask &= ~DBIM_ACTUAL;
        }
    }
    if ((info->dwMask & DBIM_TITLE) != 0) {
        const std::u16string_view title(kBandTitle);
        const size_t length = std::min(title.size(), kTitleRoom - 1);
        std::copy_n(title.begin(), length, info->wszTitle);
        info->wszTitle[length] = u'\0';
    }
    if ((info->dwMask & DBIM_MODEFLAGS) != 0)
        info->dwModeFlags = DBIMF_NORMAL;
    // The host paints the band with its own background.
    info->dwMask &= ~DBIM_BKCOLOR;
    return S_OK;
}

HRESULT TTalvixBand::SetSite(IUnknown* site) {
    if (site == nullptr)
        return S_OK; // the references stay until the band goes
    // A site may lack any of the three; the band then works without what is missing.
    Site.reset();
    site->QueryInterface(IID_IInputObjectSite, Site.putVoid());
    ParentWindow = nullptr;
    ComPtr<IOleWindow> oleWindow;
    if (SUCCEEDED(site->QueryInterface(IID_IOleWindow, oleWindow.putVoid())) && oleWindow) {
        HWND parent = nullptr;
        if (SUCCEEDED(oleWindow->GetWindow(&parent)))
            ParentWindow = parent;
    }
    CommandTarget.reset();
    site->QueryInterface(IID_IOleCommandTarget, CommandTarget.putVoid());

    WebBrowser.reset();
    if (CommandTarget) {
        auto provider = CommandTarget.as<IServiceProvider>(IID_IServiceProvider);
        if (provider) {
            IWebBrowser2* browser = nullptr;
            provider->QueryService(SID_SWebBrowserApp, IID_IWebBrowser2,
                                   reinterpret_cast<void**>(&browser));
            WebBrowser = ComPtr<IWebBrowser2>::adopt(browser);
        }
    }
    return S_OK;
}

HRESULT TTalvixBand::GetSite(const IID& iid, void** site) {
    if (site == nullptr)
        return E_POINTER;
    *site = nullptr;
    if (!Site)
        return E_FAIL;
    return Site->QueryInterface(iid, site);
}

HRESULT TTalvixBand::UIActivateIO(BOOL activate, MSG*) {
    HasFocus = activate != 0;
    // Before the host asked for the window there is nothing to give the focus to.
    if (HasFocus && !ToolbarForm.isNull())
        ToolbarForm->setFocus(Qt::OtherFocusReason);
    return S_OK;
}

HRESULT TTalvixBand::HasFocusIO() {
    return HasFocus ? S_OK : S_FALSE;
}

HRESULT TTalvixBand::TranslateAcceleratorIO(MSG* message) {
    if (message == nullptr)
        return S_FALSE;
    // Tab goes back to the host, which moves the focus on.
    if (message->wParam == VK_TAB)
        return S_FALSE;
    TranslateMessage(message);
    DispatchMessage(message);
    return S_OK;
}

HRESULT TTalvixBand::QueryContextMenu(HMENU menu, UINT index, UINT firstId, UINT, UINT) {
    // Each item goes in front of the one before, so the menu reads in the reverse order.
    resources::InsertMenu(menu, index, resources::MF_BYPOSITION | resources::MF_STRING, firstId + 2,
                          "About...");
    resources::InsertMenu(menu, index, resources::MF_BYPOSITION | resources::MF_STRING, firstId + 1,
                          "IE and Talvix");
    resources::InsertMenu(menu, index, resources::MF_BYPOSITION | resources::MF_STRING, firstId,
                          "Update Bandinfo");
    MenuItemCount = 3;
    return MenuItemCount;
}

HRESULT TTalvixBand::InvokeCommand(CMINVOKECOMMANDINFO* info) {
    if (info == nullptr || !isCommandVerb(info->lpVerb))
        return E_FAIL;
    if (static_cast<std::int32_t>(commandOffset(info->lpVerb)) > MenuItemCount - 1)
        return E_FAIL;
    return S_OK; // none of the items does anything
}

HRESULT TTalvixBand::GetCommandString(std::uintptr_t, UINT, UINT*, char*, UINT) {
    return S_OK;
}

HRESULT TTalvixBand::GetClassID(CLSID* classId) {
    if (classId == nullptr)
        return E_POINTER;
    *classId = CLSID_TalvixBand;
    return S_OK;
}

HRESULT TTalvixBand::IsDirty() {
    return S_FALSE;
}

HRESULT TTalvixBand::Load(IStream*) {
    return S_OK;
}

HRESULT TTalvixBand::Save(IStream*, BOOL) {
    return S_OK;
}

HRESULT TTalvixBand::GetSizeMax(ULARGE_INTEGER*) {
    return E_NOTIMPL;
}

HRESULT TTalvixBand::InitNew() {
    return E_NOTIMPL;
}

void TTalvixBand::FocusChange(bool focused) {
    if (Site)
        Site->OnFocusChangeIS(static_cast<IDeskBand*>(this), focused ? kFocusTrue : 0);
}

bool TTalvixBand::ToolbarWindowProc(const MSG& message) {
    if (message.message == WM_PARENTNOTIFY) {
        HasFocus = true;
        FocusChange(true);
    }
    return SavedWindowProc ? SavedWindowProc(message) : false;
}

} // namespace fetchora
