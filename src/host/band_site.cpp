// The site object and the browser object that a host gives its bands.
#include "host/band_site.h"

#include "host/browser_page.h"

#include <utility>

namespace fetchora::host {

using namespace fetchora::com;

PageBrowser* PageBrowser::create(BrowserPage* page) {
    return new PageBrowser(page);
}

HRESULT PageBrowser::QueryInterface(const IID& iid, void** object) {
    if (object == nullptr)
        return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IWebBrowser2) {
        *object = static_cast<IWebBrowser2*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG PageBrowser::AddRef() {
    return ++count_;
}

ULONG PageBrowser::Release() {
    const ULONG left = --count_;
    if (left == 0)
        delete this;
    return left;
}

HRESULT PageBrowser::LocationURL(std::string& url) {
    url.clear();
    if (page_ == nullptr)
        return E_FAIL;
    url = page_->currentAddress();
    return S_OK;
}

HRESULT PageBrowser::Navigate(const std::string& url) {
    if (page_ == nullptr)
        return E_FAIL;
    if (url.empty())
        return E_INVALIDARG;
    page_->showAddress(url);
    return S_OK;
}

BandSite* BandSite::create(HWND window, BrowserPage* page, FocusHandler onFocus) {
    return new BandSite(window, page, std::move(onFocus));
}

BandSite::BandSite(HWND window, BrowserPage* page, FocusHandler onFocus)
    : window_(window), browser_(PageBrowser::create(page)), onFocus_(std::move(onFocus)) {}

BandSite::~BandSite() {
    browser_->Release();
}

HRESULT BandSite::QueryInterface(const IID& iid, void** object) {
    if (object == nullptr)
        return E_POINTER;
    *object = nullptr;
    if (iid == IID_IUnknown || iid == IID_IInputObjectSite)
        *object = static_cast<IInputObjectSite*>(this);
    else if (iid == IID_IOleWindow)
        *object = static_cast<IOleWindow*>(this);
    else if (iid == IID_IOleCommandTarget)
        *object = static_cast<IOleCommandTarget*>(this);
    else if (iid == IID_IServiceProvider)
        *object = static_cast<IServiceProvider*>(this);
    else
        return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

ULONG BandSite::AddRef() {
    return ++count_;
}

ULONG BandSite::Release() {
    const ULONG left = --count_;
    if (left == 0)
        delete this;
    return left;
}

HRESULT BandSite::OnFocusChangeIS(IUnknown* /*object*/, BOOL focus) {
    bandHasFocus_ = focus != 0;
    if (onFocus_)
        onFocus_(bandHasFocus_);
    return S_OK;
}

HRESULT BandSite::GetWindow(HWND* window) {
    if (window == nullptr)
        return E_POINTER;
    *window = window_;
    return window_ != nullptr ? S_OK : E_FAIL;
}

HRESULT BandSite::ContextSensitiveHelp(BOOL /*enterMode*/) {
    return E_NOTIMPL;
}

HRESULT BandSite::QueryStatus(const GUID* group, ULONG count, OLECMD* commands, OLECMDTEXT* text) {
    if (group != nullptr)
        return OLECMDERR_E_UNKNOWNGROUP;
    if (count > 0 && commands == nullptr)
        return E_POINTER;
    for (ULONG i = 0; i < count; ++i)
        commands[i].cmdf = 0; // not supported
    if (text != nullptr)
        text->cwActual = 0;
    return S_OK;
}

HRESULT BandSite::Exec(const GUID* group, DWORD /*commandId*/, DWORD /*options*/, VARIANT* /*in*/,
                       VARIANT* /*out*/) {
    return group != nullptr ? OLECMDERR_E_UNKNOWNGROUP : OLECMDERR_E_NOTSUPPORTED;
}

HRESULT BandSite::QueryService(const GUID& service, const IID& iid, void** object) {
    if (object == nullptr)
        return E_POINTER;
    *object = nullptr;
    if (service != SID_SWebBrowserApp)
        return E_NOINTERFACE;
    return browser_->QueryInterface(iid, object);
}

void BandSite::detach() {
    window_ = nullptr;
    onFocus_ = nullptr;
    browser_->detach();
}

} // namespace fetchora::host
