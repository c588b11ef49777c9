// The band object against a scripted site: its site and browser references, the
// toolbar window it creates and hooks, its band information, the keyboard-focus
// protocol and the context menu.
#include "band/talvix_band.h"

#include "band/scripted_site.h"
#include "support/sandbox.h"
#include "toolbar/fetchora_form.h"

#include <QEventLoop>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace fetchora {
namespace {

using namespace com;
using testing::Sandbox;
using testing::ScriptedDesktop;
using testing::ScriptedSite;
using testing::SiteParts;

// Counts the key presses that reach a widget.
class KeyCounter final : public QObject {
public:
    int presses = 0;
    int lastKey = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::KeyPress) {
            ++presses;
            lastKey = static_cast<QKeyEvent*>(event)->key();
        }
        return false;
    }
};

class TalvixBandTest : public ::testing::Test {
protected:
    TalvixBandTest() {
        band_ = new TTalvixBand;
        band_->QueryInterface(IID_IDeskBand, deskBand_.putVoid());
    }

    template <typename T> ComPtr<T> as(const IID& iid) { return deskBand_.as<T>(iid); }

    // Sites the band and asks for its window.
    TFetchoraForm* siteAndShow(ScriptedSite& site) {
        as<IObjectWithSite>(IID_IObjectWithSite)->SetSite(static_cast<IInputObjectSite*>(&site));
        HWND window = nullptr;
        EXPECT_EQ(deskBand_->GetWindow(&window), S_OK);
        return band_->toolbarForm();
    }

    // The site outlives the band, as a host's does.
    ScriptedSite& makeSite(SiteParts parts = {}) { return site_.emplace(parts); }

    Sandbox sandbox_;
    ScriptedDesktop desktop_;
    std::optional<ScriptedSite> site_;
    TTalvixBand* band_;
    ComPtr<IDeskBand> deskBand_;
};

TEST_F(TalvixBandTest, KeepsTheSiteAndTheBrowserUntilItsLastRelease) {
    ScriptedSite& site = makeSite();
    auto withSite = as<IObjectWithSite>(IID_IObjectWithSite);
    void* found = &site;
    EXPECT_EQ(withSite->GetSite(IID_IOleWindow, &found), E_FAIL);
    EXPECT_EQ(found, nullptr);

    ASSERT_EQ(withSite->SetSite(static_cast<IInputObjectSite*>(&site)), S_OK);
    EXPECT_EQ(withSite->GetSite(IID_IOleWindow, &found), S_OK);
    EXPECT_EQ(found, static_cast<IOleWindow*>(&site));
    static_cast<IOleWindow*>(found)->Release();
    EXPECT_EQ(withSite->GetSite(IID_IWebBrowser2, &found), E_NOINTERFACE);

    // Letting go of the site changes nothing.
    EXPECT_EQ(withSite->SetSite(nullptr), S_OK);
    EXPECT_EQ(withSite->GetSite(IID_IOleWindow, &found), S_OK);
    static_cast<IOleWindow*>(found)->Release();
    EXPECT_EQ(site.refs, 2); // Site and CommandTarget
    EXPECT_EQ(site.browser.refs, 1);

    HWND window = nullptr;
    ASSERT_EQ(deskBand_->GetWindow(&window), S_OK);
    EXPECT_EQ(band_->toolbarForm()->WebBrowser.get(), &site.browser);
    EXPECT_EQ(site.browser.refs, 2); // the window holds its own

    withSite.reset();
    deskBand_.reset(); // the last reference
    EXPECT_EQ(site.refs, 0);
    EXPECT_EQ(site.browser.refs, 0);
}

TEST_F(TalvixBandTest, WorksWithASiteLackingEveryInterface) {
    ScriptedSite& site = makeSite(SiteParts{false, false, false, false});
    auto withSite = as<IObjectWithSite>(IID_IObjectWithSite);
    EXPECT_EQ(withSite->SetSite(static_cast<IInputObjectSite*>(&site)), S_OK);
    void* found = nullptr;
    EXPECT_EQ(withSite->GetSite(IID_IUnknown, &found), E_FAIL);

    HWND window = nullptr;
    ASSERT_EQ(deskBand_->GetWindow(&window), S_OK);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->parentWidget(), nullptr);
    EXPECT_EQ(band_->toolbarForm()->WebBrowser, nullptr);
    EXPECT_EQ(deskBand_->ShowDW(1), S_OK);
    EXPECT_EQ(as<IInputObject>(IID_IInputObject)->HasFocusIO(), S_OK);
    EXPECT_EQ(site.refs, 0);
}

TEST_F(TalvixBandTest, CreatesAndHooksItsWindowOnceUntilClosed) {
    ScriptedSite& site = makeSite();
    TFetchoraForm* form = siteAndShow(site);
    ASSERT_NE(form, nullptr);
    EXPECT_EQ(form->parentWidget(), &site.parent);
    HWND again = nullptr;
    EXPECT_EQ(deskBand_->GetWindow(&again), S_OK);
    EXPECT_EQ(again, form);
    EXPECT_EQ(form->findChildren<TWindowHook*>().size(), 1);
    EXPECT_EQ(site.parent.findChildren<TFetchoraForm*>().size(), 1);

    EXPECT_EQ(deskBand_->CloseDW(0), S_OK);
    EXPECT_EQ(band_->toolbarForm(), nullptr);
    EXPECT_TRUE(site.parent.findChildren<TFetchoraForm*>().isEmpty());
    EXPECT_EQ(site.browser.refs, 1); // the closed window gave its reference back

    ASSERT_EQ(deskBand_->GetWindow(&again), S_OK);
    EXPECT_EQ(site.parent.findChildren<TFetchoraForm*>().size(), 1);
    EXPECT_EQ(again->findChildren<TWindowHook*>().size(), 1);
}

TEST_F(TalvixBandTest, ClosedFromANestedLoopTheWindowOutlivesTheHandlerOnTheStack) {
    // The host closes the band while a handler of the window waits in a nested loop,
    // as a download does while it pumps messages.
    ScriptedSite& site = makeSite();
    TFetchoraForm* form = siteAndShow(site);
    QPointer<TFetchoraForm> watched(form);
    bool aliveAfterClose = false;
    QObject::connect(form->StopBtn, &QToolButton::clicked, form, [&] {
        QEventLoop loop;
        QTimer::singleShot(0, &loop, [&] {
            deskBand_->CloseDW(0);
            deskBand_.reset();
            loop.quit();
        });
        loop.exec();
        aliveAfterClose = !watched.isNull() && form->StopBtn->isEnabled();
    });
    form->StopBtn->click();
    EXPECT_TRUE(aliveAfterClose);
    EXPECT_TRUE(site.parent.findChildren<TFetchoraForm*>().isEmpty());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(watched.isNull());
    EXPECT_EQ(site.browser.refs, 0);
}

TEST_F(TalvixBandTest, ReportsOnlyTheBandInformationAskedFor) {
    DESKBANDINFO titleOnly;
    titleOnly.dwMask = DBIM_TITLE | DBIM_BKCOLOR;
    titleOnly.ptMinSize = {7, 7};
    ASSERT_EQ(deskBand_->GetBandInfo(0, DBIF_VIEWMODE_NORMAL, &titleOnly), S_OK);
    EXPECT_EQ(titleOnly.dwMask, DBIM_TITLE);
    EXPECT_EQ(std::u16string(titleOnly.wszTitle), u"Pullmarq");
    EXPECT_EQ(titleOnly.ptMinSize.x, 7);

    // Before the window exists its size is not supplied.
    DESKBANDINFO early;
    early.dwMask = DBIM_ACTUAL | DBIM_MINSIZE;
    ASSERT_EQ(deskBand_->GetBandInfo(0, 0, &early), S_OK);
    EXPECT_EQ(early.dwMask, DBIM_MINSIZE);

    ScriptedSite& site = makeSite();
    TFetchoraForm* form = siteAndShow(site);
    form->resize(500, 30);
    DESKBANDINFO all;
    all.dwMask = 0x7F;
    all.dwModeFlags = 0xFF;
    ASSERT_EQ(deskBand_->GetBandInfo(1, DBIF_VIEWMODE_VERTICAL, &all), S_OK);
    EXPECT_EQ(all.dwMask, 0x3Fu);
    EXPECT_EQ(all.ptMinSize.x, 22);
    EXPECT_EQ(all.ptMinSize.y, 22);
    EXPECT_EQ(all.ptMaxSize.x, -1);
    EXPECT_EQ(all.ptMaxSize.y, -1);
    EXPECT_EQ(all.ptIntegral.x, 1);
    EXPECT_EQ(all.ptIntegral.y, 1);
    EXPECT_EQ(all.ptActual.x, 500);
    EXPECT_EQ(all.ptActual.y, 30);
    EXPECT_EQ(all.dwModeFlags, DBIMF_NORMAL);
    EXPECT_EQ(std::u16string(all.wszTitle), u"Pullmarq");
}

TEST_F(TalvixBandTest, FollowsTheFocusThroughShowActivationAndClicks) {
    ScriptedSite& site = makeSite();
    auto input = as<IInputObject>(IID_IInputObject);
    // Activation before the window exists only records the focus.
    EXPECT_EQ(input->UIActivateIO(1, nullptr), S_OK);
    EXPECT_EQ(input->HasFocusIO(), S_OK);

    TFetchoraForm* form = siteAndShow(site);
    EXPECT_EQ(deskBand_->ShowDW(0), S_OK);
    EXPECT_EQ(input->HasFocusIO(), S_FALSE);
    EXPECT_EQ(deskBand_->ShowDW(1), S_OK);
    EXPECT_EQ(input->HasFocusIO(), S_OK);
    EXPECT_EQ(input->UIActivateIO(0, nullptr), S_OK);
    EXPECT_EQ(input->HasFocusIO(), S_FALSE);
    ASSERT_EQ(site.focusChanges.size(), 2u);
    EXPECT_EQ(site.focusChanges[0], 0);
    EXPECT_EQ(site.focusChanges[1], -1);
    EXPECT_EQ(site.focusObjects[1], static_cast<IDeskBand*>(band_));

    // A click on a button of the row gives the band the focus and still reaches the
    // button.
    form->show();
    QToolButton* stop = form->StopBtn;
    ASSERT_NE(stop, nullptr);
    int clicks = 0;
    QObject::connect(stop, &QToolButton::clicked, [&clicks] { ++clicks; });
    QTest::mouseClick(stop, Qt::LeftButton);
    EXPECT_EQ(input->HasFocusIO(), S_OK);
    EXPECT_EQ(site.focusChanges.back(), -1);
    EXPECT_EQ(clicks, 1);

    // So does a click on a control added after the window was hooked.
    input->UIActivateIO(0, nullptr);
    auto* later = new QPushButton(QStringLiteral("Later"), form->ToolBar1);
    later->show();
    QTest::mouseClick(later, Qt::LeftButton);
    EXPECT_EQ(input->HasFocusIO(), S_OK);
}

TEST_F(TalvixBandTest, LeavesTabToTheHostAndDispatchesOtherKeys) {
    ScriptedSite& site = makeSite();
    TFetchoraForm* form = siteAndShow(site);
    KeyCounter counter;
    form->installEventFilter(&counter);
    auto input = as<IInputObject>(IID_IInputObject);

    MSG tab;
    tab.hwnd = form;
    tab.message = WM_KEYDOWN;
    tab.wParam = VK_TAB;
    EXPECT_EQ(input->TranslateAcceleratorIO(&tab), S_FALSE);
    EXPECT_EQ(counter.presses, 0);

    MSG key = tab;
    key.wParam = 'A';
    EXPECT_EQ(input->TranslateAcceleratorIO(&key), S_OK);
    EXPECT_EQ(counter.presses, 1);
    EXPECT_EQ(counter.lastKey, Qt::Key_A);
    EXPECT_EQ(input->TranslateAcceleratorIO(nullptr), S_FALSE);
}

TEST_F(TalvixBandTest, AddsThreeContextMenuItemsThatDoNothing) {
    auto menu = as<IContextMenu>(IID_IContextMenu);
    CMINVOKECOMMANDINFO info;
    for (std::uint16_t command = 0; command < 3; ++command) {
        info.lpVerb = commandVerb(command);
        EXPECT_EQ(menu->InvokeCommand(&info), E_FAIL) << "before any menu, command " << command;
    }

    resources::UniqueMenu popup(resources::CreatePopupMenu());
    resources::InsertMenu(popup.get(), 0, resources::MF_BYPOSITION, 7, "Close");
    EXPECT_EQ(menu->QueryContextMenu(popup.get(), 0, 100, 200, CMF_NORMAL), 3);
    ASSERT_EQ(resources::GetMenuItemCount(popup.get()), 4);
    const char* texts[] = {"Update Bandinfo", "IE and Talvix", "About...", "Close"};
    const unsigned ids[] = {100, 101, 102, 7};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(resources::GetMenuString(popup.get(), i, resources::MF_BYPOSITION), texts[i]);
        EXPECT_EQ(resources::GetMenuItemID(popup.get(), i), ids[i]);
    }

    for (std::uint16_t command = 0; command < 3; ++command) {
        info.lpVerb = commandVerb(command);
        EXPECT_EQ(menu->InvokeCommand(&info), S_OK) << "command " << command;
    }
    info.lpVerb = commandVerb(3);
    EXPECT_EQ(menu->InvokeCommand(&info), E_FAIL);
    info.lpVerb = "open";
    EXPECT_EQ(menu->InvokeCommand(&info), E_FAIL);
    char name[8] = "keep";
    EXPECT_EQ(menu->GetCommandString(0, GCS_VERBA, nullptr, name, sizeof name), S_OK);
    EXPECT_STREQ(name, "keep");
}

TEST_F(TalvixBandTest, AnswersItsInterfaceTableAndNoOther) {
    void* found = nullptr;
    for (const IID& iid :
         {IID_IUnknown, IID_IDeskBand, IID_IObjectWithSite, IID_IInputObject, IID_IContextMenu,
          IID_IPersistStreamInit, IID_IPersist, IID_ISupportErrorInfo}) {
        ASSERT_EQ(deskBand_->QueryInterface(iid, &found), S_OK) << guidToString(iid);
        static_cast<IUnknown*>(found)->Release();
    }
    for (const IID& iid : {IID_IDockingWindow, IID_IOleWindow, IID_IPersistStream}) {
        EXPECT_EQ(deskBand_->QueryInterface(iid, &found), E_NOINTERFACE) << guidToString(iid);
        EXPECT_EQ(found, nullptr);
    }
    auto errors = as<ISupportErrorInfo>(IID_ISupportErrorInfo);
    EXPECT_EQ(errors->InterfaceSupportsErrorInfo(IID_IContextMenu), S_OK);
    EXPECT_EQ(errors->InterfaceSupportsErrorInfo(IID_IOleWindow), S_FALSE);

    auto persist = as<IPersistStreamInit>(IID_IPersistStreamInit);
    CLSID classId;
    EXPECT_EQ(persist->GetClassID(&classId), S_OK);
    EXPECT_EQ(classId, CLSID_TalvixBand);
    EXPECT_EQ(persist->IsDirty(), S_FALSE);
    EXPECT_EQ(persist->GetSizeMax(nullptr), E_NOTIMPL);
}

} // namespace
} // namespace fetchora
