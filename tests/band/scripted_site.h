// A host's site for a band, scripted for tests: it answers the focus, window and command
// interfaces and, through its service provider, a browser, each of which a case may
// withhold, counts its references and records the focus changes the band reports.
#pragma once

#include "platform/com/shell_interfaces.h"
#include "platform/com/web_browser.h"

#include <QWidget>

#include <string>
#include <vector>

namespace fetchora::testing {

// A browser showing one page; it counts the references held on it.
class CountedBrowser final : public com::IWebBrowser2 {
public:
    com::HRESULT QueryInterface(const com::IID& iid, void** object) override {
        *object = nullptr;
        if (iid != com::IID_IUnknown && iid != com::IID_IWebBrowser2)
            return com::E_NOINTERFACE;
        *object = static_cast<com::IWebBrowser2*>(this);
        AddRef();
        return com::S_OK;
    }
    com::ULONG AddRef() override { return static_cast<com::ULONG>(++refs); }
    com::ULONG Release() override { return static_cast<com::ULONG>(--refs); }
    com::HRESULT LocationURL(std::string& url) override {
        url = "http://example.test/page.html";
        return com::S_OK;
    }
    com::HRESULT Navigate(const std::string&) override { return com::S_OK; }

    int refs = 0;
};

struct SiteParts {
    bool inputObjectSite = true;
    bool oleWindow = true;
    bool commandTarget = true;
    bool browser = true; // the service provider answers the browser service
};

class ScriptedSite final : public com::IInputObjectSite,
                           public com::IOleWindow,
                           public com::IOleCommandTarget,
                           public com::IServiceProvider {
public:
    explicit ScriptedSite(SiteParts parts = {}) : parts_(parts) {}

    com::HRESULT QueryInterface(const com::IID& iid, void** object) override {
        *object = nullptr;
        if (iid == com::IID_IUnknown)
            *object = static_cast<com::IInputObjectSite*>(this);
        else if (iid == com::IID_IInputObjectSite && parts_.inputObjectSite)
            *object = static_cast<com::IInputObjectSite*>(this);
        else if (iid == com::IID_IOleWindow && parts_.oleWindow)
            *object = static_cast<com::IOleWindow*>(this);
        else if (iid == com::IID_IOleCommandTarget && parts_.commandTarget)
            *object = static_cast<com::IOleCommandTarget*>(this);
        else if (iid == com::IID_IServiceProvider && parts_.commandTarget)
            *object = static_cast<com::IServiceProvider*>(this);
        if (*object == nullptr)
            return com::E_NOINTERFACE;
        AddRef();
        return com::S_OK;
    }
    com::ULONG AddRef() override { return static_cast<com::ULONG>(++refs); }
    com::ULONG Release() override { return static_cast<com::ULONG>(--refs); }

    com::HRESULT OnFocusChangeIS(com::IUnknown* object, com::BOOL focus) override {
        focusObjects.push_back(object);
        focusChanges.push_back(focus);
        return com::S_OK;
    }
    com::HRESULT GetWindow(com::HWND* window) override {
        *window = &parent;
        return com::S_OK;
    }
    com::HRESULT ContextSensitiveHelp(com::BOOL) override { return com::E_NOTIMPL; }
    com::HRESULT QueryStatus(const com::GUID*, com::ULONG, com::OLECMD*,
                             com::OLECMDTEXT*) override {
        return com::OLECMDERR_E_UNKNOWNGROUP;
    }
    com::HRESULT Exec(const com::GUID*, com::DWORD, com::DWORD, com::VARIANT*,
                      com::VARIANT*) override {
        return com::OLECMDERR_E_UNKNOWNGROUP;
    }
    com::HRESULT QueryService(const com::GUID& service, const com::IID& iid,
                              void** object) override {
        *object = nullptr;
        if (!parts_.browser || service != com::SID_SWebBrowserApp)
            return com::E_NOINTERFACE;
        return browser.QueryInterface(iid, object);
    }

    QWidget parent;
    CountedBrowser browser;
    int refs = 0;
    std::vector<com::BOOL> focusChanges;
    std::vector<com::IUnknown*> focusObjects;

private:
    SiteParts parts_;
};

} // namespace fetchora::testing
