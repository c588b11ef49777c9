// A toolbar band library for the host's tests: one band class with a widget for a window,
// each call answering as the test's script says and recorded there. Like a real band it
// has its own copy of the menu calls, which fill the menu its host made.
#include "fake_band.h"

#include <QWidget>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <iterator>

using namespace fetchora::com;
using fetchora::testing::FakeBandScript;
using fetchora::testing::kFakeBandClass;

namespace {

FakeBandScript& script() {
    static FakeBandScript instance;
    return instance;
}

std::atomic<LONG> serverLocks{0};

class FakeBand final : public IDeskBand,
                       public IObjectWithSite,
                       public IInputObject,
                       public IContextMenu {
public:
    FakeBand() { ++script().objects; }

    HRESULT QueryInterface(const IID& iid, void** object) override {
        *object = nullptr;
        if (iid == IID_IUnknown || iid == IID_IDeskBand || iid == IID_IOleWindow ||
            iid == IID_IDockingWindow)
            *object = static_cast<IDeskBand*>(this);
        else if (iid == IID_IObjectWithSite)
            *object = static_cast<IObjectWithSite*>(this);
        else if (iid == IID_IInputObject)
            *object = static_cast<IInputObject*>(this);
        else if (iid == IID_IContextMenu)
            *object = static_cast<IContextMenu*>(this);
        else
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return ++count_; }
    ULONG Release() override {
        const ULONG left = --count_;
        if (left == 0)
            delete this;
        return left;
    }

    HRESULT GetWindow(HWND* window) override {
        script().calls.emplace_back("GetWindow");
        *window = nullptr;
        if (FAILED(script().getWindow))
            return script().getWindow;
        if (window_ == nullptr) {
            window_ = new QWidget(parent_);
            window_->setObjectName(QStringLiteral("fakeBandWindow"));
            window_->resize(script().width, script().height);
            window_->setFocusPolicy(Qt::StrongFocus);
        }
        *window = window_;
        return S_OK;
    }
    HRESULT ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
    HRESULT ShowDW(BOOL show) override {
        script().calls.push_back("ShowDW " + std::to_string(show));
        return script().showDW;
    }
    HRESULT CloseDW(DWORD) override {
        script().calls.emplace_back("CloseDW");
        delete window_;
        window_ = nullptr;
        return S_OK;
    }
    HRESULT ResizeBorderDW(const RECT*, IUnknown*, BOOL) override { return E_NOTIMPL; }
    HRESULT GetBandInfo(DWORD, DWORD, DESKBANDINFO* info) override {
        char mask[16];
        std::snprintf(mask, sizeof mask, "0x%x", info->dwMask);
        script().calls.push_back(std::string("GetBandInfo ") + mask);
        info->ptMinSize = {22, 22};
        info->ptMaxSize = {-1, -1};
        info->ptIntegral = {1, 1};
        info->ptActual = {script().width, script().height};
        const char16_t title[] = u"Fake";
        std::copy(std::begin(title), std::end(title), info->wszTitle);
        info->dwModeFlags = DBIMF_NORMAL;
        if (script().fullTitle) {
            std::fill(std::begin(info->wszTitle), std::end(info->wszTitle), u'x');
            info->dwModeFlags = DBIMF_VARIABLEHEIGHT;
        }
        info->dwMask &= ~DBIM_BKCOLOR;
        return script().getBandInfo;
    }

    HRESULT SetSite(IUnknown* site) override {
        script().calls.emplace_back(site != nullptr ? "SetSite" : "SetSite null");
        if (site == nullptr || FAILED(script().setSite))
            return script().setSite;
        IOleWindow* window = nullptr;
        if (SUCCEEDED(site->QueryInterface(IID_IOleWindow, reinterpret_cast<void**>(&window)))) {
            window->GetWindow(&parent_);
            window->Release();
        }
        IServiceProvider* services = nullptr;
        if (SUCCEEDED(
                site->QueryInterface(IID_IServiceProvider, reinterpret_cast<void**>(&services)))) {
            void* browser = nullptr;
            services->QueryService(SID_SWebBrowserApp, IID_IWebBrowser2, &browser);
            services->Release();
            if (script().browser != nullptr)
                script().browser->Release();
            script().browser = static_cast<IWebBrowser2*>(browser);
            if (script().browser != nullptr)
                script().browser->LocationURL(script().pageAtSite);
        }
        return S_OK;
    }
    HRESULT GetSite(const IID&, void** site) override {
        *site = nullptr;
        return E_FAIL;
    }

    HRESULT UIActivateIO(BOOL, MSG*) override { return S_OK; }
    HRESULT HasFocusIO() override { return S_FALSE; }
    HRESULT TranslateAcceleratorIO(MSG* message) override {
        script().calls.push_back("TranslateAcceleratorIO " + std::to_string(message->message) +
                                 " " + std::to_string(message->wParam));
        return message->wParam == VK_TAB ? S_FALSE : S_OK;
    }

    HRESULT QueryContextMenu(HMENU menu, UINT index, UINT firstId, UINT, UINT) override {
        script().calls.push_back("QueryContextMenu " + std::to_string(index) + " " +
                                 std::to_string(firstId));
        using namespace fetchora::resources;
        InsertMenu(menu, index, MF_BYPOSITION | MF_STRING, firstId + 1, "Second");
        InsertMenu(menu, index, MF_BYPOSITION | MF_STRING, firstId, "First");
        return 2;
    }
    HRESULT InvokeCommand(CMINVOKECOMMANDINFO* info) override {
        script().calls.push_back("InvokeCommand " + std::to_string(commandOffset(info->lpVerb)));
        return script().invokeCommand;
    }
    HRESULT GetCommandString(std::uintptr_t, UINT, UINT*, char*, UINT) override { return S_OK; }

private:
    ~FakeBand() {
        delete window_;
        if (script().browser != nullptr)
            script().browser->Release();
        script().browser = nullptr;
        --script().objects;
    }

    ULONG count_ = 0;
    HWND parent_ = nullptr;
    QWidget* window_ = nullptr;
};

class FakeFactory final : public IClassFactory {
public:
    HRESULT QueryInterface(const IID& iid, void** object) override {
        *object = nullptr;
        if (iid != IID_IUnknown && iid != IID_IClassFactory)
            return E_NOINTERFACE;
        *object = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return ++serverLocks; }
    ULONG Release() override { return --serverLocks; }
    HRESULT CreateInstance(IUnknown* outer, const IID& iid, void** object) override {
        *object = nullptr;
        if (outer != nullptr)
            return CLASS_E_NOAGGREGATION;
        auto* band = new FakeBand;
        band->AddRef();
        const HRESULT result = band->QueryInterface(iid, object);
        band->Release();
        return result;
    }
    HRESULT LockServer(BOOL lock) override {
        lock != 0 ? ++serverLocks : --serverLocks;
        return S_OK;
    }
};

FakeFactory factory;

} // namespace

extern "C" {

__attribute__((visibility("default"))) FakeBandScript* fakeBandScript() {
    return &script();
}

__attribute__((visibility("default"))) HRESULT DllGetClassObject(const CLSID& clsid, const IID& iid,
                                                                 void** object) {
    *object = nullptr;
    if (FAILED(script().getClassObject))
        return script().getClassObject;
    if (clsid != kFakeBandClass)
        return CLASS_E_CLASSNOTAVAILABLE;
    return factory.QueryInterface(iid, object);
}

__attribute__((visibility("default"))) HRESULT DllCanUnloadNow() {
    return script().objects == 0 && serverLocks == 0 ? S_OK : S_FALSE;
}

__attribute__((visibility("default"))) HRESULT DllRegisterServer() {
    script().calls.emplace_back("DllRegisterServer");
    return script().registerServer;
}

} // extern "C"
