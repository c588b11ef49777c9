// The site a host gives its band: the interfaces it answers, the browser service, focus
// notes, and a site or browser that outlives its window.
#include "host/band_site.h"

#include "host/browser_page.h"
#include "platform/com/com_ptr.h"

#include <QWidget>

#include <gtest/gtest.h>

namespace fetchora::host {
namespace {

using namespace fetchora::com;

class FakePage final : public BrowserPage {
public:
    std::string currentAddress() const override { return address; }
    void showAddress(const std::string& to) override { shown.push_back(to); }
    std::string address = "http://127.0.0.1/page.html";
    std::vector<std::string> shown;
};

class BandSiteTest : public ::testing::Test {
protected:
    QWidget window;
    FakePage page;
    std::vector<bool> focusNotes;
    ComPtr<BandSite> site = ComPtr<BandSite>::adopt(
        BandSite::create(&window, &page, [this](bool focused) { focusNotes.push_back(focused); }));

    ComPtr<IWebBrowser2> browser() {
        const auto services = site.as<IServiceProvider>(IID_IServiceProvider);
        ComPtr<IWebBrowser2> result;
        EXPECT_EQ(services->QueryService(SID_SWebBrowserApp, IID_IWebBrowser2, result.putVoid()),
                  S_OK);
        return result;
    }
};

TEST_F(BandSiteTest, AnswersTheInterfacesOfABandSiteAndNoOthers) {
    for (const IID& iid : {IID_IUnknown, IID_IInputObjectSite, IID_IOleWindow,
                           IID_IOleCommandTarget, IID_IServiceProvider}) {
        void* object = nullptr;
        EXPECT_EQ(site->QueryInterface(iid, &object), S_OK) << guidToString(iid);
        ASSERT_NE(object, nullptr);
        static_cast<IUnknown*>(object)->Release();
    }
    void* object = &window;
    EXPECT_EQ(site->QueryInterface(IID_IDeskBand, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);

    // The same object behind every interface: the identity that COM promises.
    const auto viaWindow = site.as<IOleWindow>(IID_IOleWindow);
    const auto unknownOfWindow = viaWindow.as<IUnknown>(IID_IUnknown);
    const auto unknownOfSite = site.as<IUnknown>(IID_IUnknown);
    EXPECT_EQ(unknownOfWindow.get(), unknownOfSite.get());

    HWND parent = nullptr;
    EXPECT_EQ(viaWindow->GetWindow(&parent), S_OK);
    EXPECT_EQ(parent, &window);
}

TEST_F(BandSiteTest, BrowserServiceShowsAndNavigatesThisWindowsPage) {
    const auto web = browser();
    ASSERT_TRUE(web);
    std::string url = "stale";
    EXPECT_EQ(web->LocationURL(url), S_OK);
    EXPECT_EQ(url, page.address);
    EXPECT_EQ(web->Navigate("file:///tmp/help/index.html"), S_OK);
    EXPECT_EQ(page.shown, std::vector<std::string>{"file:///tmp/help/index.html"});
    EXPECT_EQ(web->Navigate(""), E_INVALIDARG);

    // Another service, or another interface of the browser service, is refused with a
    // null result.
    const auto services = site.as<IServiceProvider>(IID_IServiceProvider);
    void* object = &window;
    EXPECT_EQ(services->QueryService(IID_IWebBrowser2, IID_IWebBrowser2, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
    object = &window;
    EXPECT_EQ(services->QueryService(SID_SWebBrowserApp, IID_IOleWindow, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
}

TEST_F(BandSiteTest, NotesTheBandsFocusChanges) {
    EXPECT_FALSE(site->bandHasFocus());
    site->OnFocusChangeIS(nullptr, -1);
    EXPECT_TRUE(site->bandHasFocus());
    site->OnFocusChangeIS(nullptr, 0);
    EXPECT_FALSE(site->bandHasFocus());
    EXPECT_EQ(focusNotes, (std::vector<bool>{true, false}));
}

TEST_F(BandSiteTest, ReferencesHeldPastTheWindowAnswerFailureInsteadOfTouchingIt) {
    // A band that keeps its site and browser after the window closed must not reach
    // the window or its page.
    const auto web = browser();
    const auto oleWindow = site.as<IOleWindow>(IID_IOleWindow);
    site->detach();
    site.reset();
    std::string url = "stale";
    EXPECT_EQ(web->LocationURL(url), E_FAIL);
    EXPECT_TRUE(url.empty());
    EXPECT_EQ(web->Navigate("http://example.org/"), E_FAIL);
    EXPECT_TRUE(page.shown.empty());
    HWND parent = &window;
    EXPECT_EQ(oleWindow->GetWindow(&parent), E_FAIL);
    EXPECT_EQ(parent, nullptr);
    const auto focusSite = oleWindow.as<IInputObjectSite>(IID_IInputObjectSite);
    EXPECT_EQ(focusSite->OnFocusChangeIS(nullptr, 1), S_OK);
    EXPECT_TRUE(focusNotes.empty());
}

} // namespace
} // namespace fetchora::host
