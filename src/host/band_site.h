// The host's side of a docked band: the site object that a band is given with SetSite,
// and the browser object it reaches through the site's service provider. The site answers
// IInputObjectSite, IOleWindow, IOleCommandTarget and IServiceProvider; the browser object
// answers IWebBrowser2 for one browser window.
#pragma once

#include "platform/com/shell_interfaces.h"
#include "platform/com/web_browser.h"

#include <atomic>
#include <functional>

namespace fetchora::host {

class BrowserPage;

// IWebBrowser2 over a browser window: LocationURL is the page shown in it, Navigate shows
// an address in it. After detach (the window is going) both answer E_FAIL.
class PageBrowser final : public com::IWebBrowser2 {
public:
    // A new object with one reference, which the caller holds.
    static PageBrowser* create(BrowserPage* page);

    com::HRESULT QueryInterface(const com::IID& iid, void** object) override;
    com::ULONG AddRef() override;
    com::ULONG Release() override;
    com::HRESULT LocationURL(std::string& url) override;
    com::HRESULT Navigate(const std::string& url) override;

    void detach() { page_ = nullptr; }

private:
    explicit PageBrowser(BrowserPage* page) : page_(page) {}
    ~PageBrowser() = default;

    std::atomic<com::ULONG> count_{1};
    BrowserPage* page_;
};

class BandSite final : public com::IInputObjectSite,
                       public com::IOleWindow,
                       public com::IOleCommandTarget,
                       public com::IServiceProvider {
public:
    // Told when the band reports that it gained (true) or lost the keyboard focus.
    using FocusHandler = std::function<void(bool focused)>;

    // A new site with one reference, which the caller holds: window is the parent of the
    // band's window, page the browser window the band's browser object shows.
    static BandSite* create(com::HWND window, BrowserPage* page, FocusHandler onFocus);

    // IUnknown, shared by the four interfaces.
    com::HRESULT QueryInterface(const com::IID& iid, void** object) override;
    com::ULONG AddRef() override;
    com::ULONG Release() override;

    // IInputObjectSite.
    com::HRESULT OnFocusChangeIS(com::IUnknown* object, com::BOOL focus) override;
    // IOleWindow.
    com::HRESULT GetWindow(com::HWND* window) override;
    com::HRESULT ContextSensitiveHelp(com::BOOL enterMode) override;
    // IOleCommandTarget: the host offers no commands.
    com::HRESULT QueryStatus(const com::GUID* group, com::ULONG count, com::OLECMD* commands,
                             com::OLECMDTEXT* text) override;
    com::HRESULT Exec(const com::GUID* group, com::DWORD commandId, com::DWORD options,
                      com::VARIANT* in, com::VARIANT* out) override;
    // IServiceProvider: the browser application service gives IWebBrowser2.
    com::HRESULT QueryService(const com::GUID& service, const com::IID& iid,
                              void** object) override;

    // Whether the band last said it holds the keyboard focus.
    bool bandHasFocus() const { return bandHasFocus_; }

    // The window is going: from now on the site has no window and its browser object no
    // page, whatever references the band still holds.
    void detach();

private:
    BandSite(com::HWND window, BrowserPage* page, FocusHandler onFocus);
    ~BandSite();

    std::atomic<com::ULONG> count_{1};
    com::HWND window_;
    PageBrowser* browser_;
    FocusHandler onFocus_;
    bool bandHasFocus_ = false;
};

} // namespace fetchora::host
