// The host's band handling against a fake band library: the toolbar list in the
// registry, loading and creating the band, docking it, its menu and keys, what a failing
// band leaves behind, and closing it.
#include "host/band_area.h"

#include "fake_band.h"
#include "host/band_library.h"
#include "host/browser_page.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "platform/resources/track_popup_menu.h"
#include "support/sandbox.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QWidget>

#include <cstdlib>
#include <dlfcn.h>
#include <sys/stat.h>

#include <algorithm>

#include <gtest/gtest.h>

namespace fetchora::host {
namespace {

using namespace fetchora::com;
using namespace fetchora::registry;
using fetchora::testing::FakeBandScript;
using fetchora::testing::kFakeBandClass;

const std::string kFakeLibrary = FETCHORA_FAKE_BAND_PATH;
const std::string kBandLibrary = FETCHORA_BAND_LIBRARY_PATH;

class FakePage final : public BrowserPage {
public:
    std::string currentAddress() const override { return address; }
    void showAddress(const std::string& to) override { shown.push_back(to); }
    std::string address = "http://127.0.0.1/list.html";
    std::vector<std::string> shown;
};

void setValue(HKEY root, const std::string& path, const std::string& name,
              const std::string& data) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyEx(root, path, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueEx(key, name, REG_SZ, data), ERROR_SUCCESS);
    RegCloseKey(key);
}

// Registers a band class in the toolbar list, served by library (none: no library key).
void registerBand(const std::string& clsid, const std::string& library) {
    setValue(HKEY_LOCAL_MACHINE, R"(SOFTWARE\Microsoft\Internet Explorer\Toolbar)", clsid, "");
    if (!library.empty())
        setValue(HKEY_CLASSES_ROOT, "CLSID\\" + clsid + "\\InprocServer32", "", library);
}

class BandAreaTest : public ::testing::Test {
protected:
    void SetUp() override {
        void* handle = ::dlopen(kFakeLibrary.c_str(), RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(handle, nullptr) << ::dlerror();
        auto function = reinterpret_cast<fetchora::testing::FakeBandScriptFunction>(
            ::dlsym(handle, fetchora::testing::kFakeBandScriptSymbol));
        ASSERT_NE(function, nullptr);
        script = function();
        script->reset();
    }

    bool called(const std::string& call) const {
        return std::find(script->calls.begin(), script->calls.end(), call) != script->calls.end();
    }

    fetchora::testing::Sandbox sandbox;
    FakeBandScript* script = nullptr;
    FakePage page;
    BandLibrary library;
    QWidget window;
};

TEST_F(BandAreaTest, ToolbarListNamesEachBandsLibraryAndSaysWhatIsWrongWithTheRest) {
    registerBand(guidToString(kFakeBandClass), kFakeLibrary);
    registerBand("{00000000-1111-2222-3333-444444444444}", "");
    registerBand("not a class", "/x.so");
    std::vector<std::string> problems;
    const auto bands = BandLibrary::registeredBands(problems);
    ASSERT_EQ(bands.size(), 1u);
    EXPECT_EQ(bands[0].clsid, kFakeBandClass);
    EXPECT_EQ(bands[0].library, kFakeLibrary);
    ASSERT_EQ(problems.size(), 2u);
    EXPECT_NE(problems[0].find("names no library"), std::string::npos) << problems[0];
    EXPECT_NE(problems[1].find("not a class identifier"), std::string::npos) << problems[1];
}

TEST_F(BandAreaTest, ADamagedToolbarListLeavesTheBrowserWithoutABandAndSaysWhy) {
    registerBand(guidToString(kFakeBandClass), kFakeLibrary);
    fetchora::testing::Sandbox::writeFile(registry::hiveFolder() + "/HKEY_LOCAL_MACHINE.reg",
                                          "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\nbroken\n");
    BandArea area(&library, page, &window);
    area.dock();
    EXPECT_NE(area.message().toStdString().find("The toolbar list cannot be read"),
              std::string::npos)
        << area.message().toStdString();
    EXPECT_TRUE(area.bandWindows().empty());
}

TEST_F(BandAreaTest, CreatingABandSaysWhichStepFailed) {
    IDeskBand* band = nullptr;
    std::string problem = library.createBand({kFakeBandClass, sandbox.path("missing.so")}, &band);
    EXPECT_EQ(band, nullptr);
    EXPECT_NE(problem.find("cannot load " + sandbox.path("missing.so")), std::string::npos)
        << problem;

    const CLSID other = {1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
    problem = library.createBand({other, kFakeLibrary}, &band);
    EXPECT_EQ(band, nullptr);
    EXPECT_NE(problem.find("CLASS_E_CLASSNOTAVAILABLE"), std::string::npos) << problem;

    problem = library.createBand({kFakeBandClass, kFakeLibrary}, &band);
    ASSERT_TRUE(problem.empty()) << problem;
    ASSERT_NE(band, nullptr);
    EXPECT_EQ(script->objects, 1);
    EXPECT_EQ(library.librariesInUse(), std::vector<std::string>{kFakeLibrary});
    band->Release();
    EXPECT_EQ(script->objects, 0);
    EXPECT_TRUE(library.librariesInUse().empty());
}

TEST_F(BandAreaTest, FirstStartRegistersTheLibraryInstalledBesideOrBelowTheProgram) {
    const std::string prefix = sandbox.path("prefix");
    ::mkdir(prefix.c_str(), 0755);
    ::mkdir((prefix + "/bin").c_str(), 0755);
    EXPECT_TRUE(BandLibrary::installedLibrary(prefix + "/bin").empty());
    ::mkdir((prefix + "/lib").c_str(), 0755);
    ::mkdir((prefix + "/lib/fetchora").c_str(), 0755);
    fetchora::testing::Sandbox::writeFile(prefix + "/lib/fetchora/Fetchora.so", "");
    EXPECT_EQ(BandLibrary::installedLibrary(prefix + "/bin"), prefix + "/lib/fetchora/Fetchora.so");
    fetchora::testing::Sandbox::writeFile(prefix + "/bin/Fetchora.so", "");
    EXPECT_EQ(BandLibrary::installedLibrary(prefix + "/bin"), prefix + "/bin/Fetchora.so");

    EXPECT_TRUE(BandLibrary::registerLibrary(kFakeLibrary).empty());
    EXPECT_TRUE(called("DllRegisterServer"));
    script->registerServer = E_FAIL;
    EXPECT_NE(BandLibrary::registerLibrary(kFakeLibrary).find("E_FAIL"), std::string::npos);
}

TEST_F(BandAreaTest, DocksTheBandAtItsSizeAndClosesItInOrder) {
    registerBand(guidToString(kFakeBandClass), kFakeLibrary);
    auto* area = new BandArea(&library, page, &window);
    area->dock();
    EXPECT_TRUE(area->message().isEmpty()) << area->message().toStdString();
    EXPECT_EQ(script->calls,
              (std::vector<std::string>{"SetSite", "GetWindow", "GetBandInfo 0x7f", "ShowDW 1"}));
    // The band reached this window's page through its site when it was sited.
    EXPECT_EQ(script->pageAtSite, page.address);
    ASSERT_EQ(area->bandWindows().size(), 1u);
    QWidget* bandWindow = area->bandWindows()[0];
    EXPECT_EQ(bandWindow->parentWidget(), area);
    EXPECT_EQ(bandWindow->minimumHeight(), 40);
    EXPECT_EQ(bandWindow->maximumHeight(), 40);
    EXPECT_EQ(bandWindow->minimumWidth(), 22);
    const auto* title = area->findChild<QLabel*>(QStringLiteral("bandTitle"));
    ASSERT_NE(title, nullptr);
    EXPECT_EQ(title->text(), QStringLiteral("Fake"));

    // The band's Help shows its page in this window.
    ASSERT_NE(script->browser, nullptr);
    EXPECT_EQ(script->browser->Navigate("file:///help/index.html"), S_OK);
    EXPECT_EQ(page.shown, std::vector<std::string>{"file:///help/index.html"});

    script->calls.clear();
    area->closeBand();
    EXPECT_EQ(script->calls, (std::vector<std::string>{"CloseDW", "SetSite null"}));
    EXPECT_EQ(script->objects, 0);
    EXPECT_TRUE(area->bandWindows().empty());
    EXPECT_TRUE(library.librariesInUse().empty());
}

TEST_F(BandAreaTest, ATitleFillingItsWholeRecordEndsThere) {
    registerBand(guidToString(kFakeBandClass), kFakeLibrary);
    script->fullTitle = true;
    BandArea area(&library, page, &window);
    area.dock();
    const auto* title = area.findChild<QLabel*>(QStringLiteral("bandTitle"));
    ASSERT_NE(title, nullptr);
    EXPECT_EQ(title->text(), QString(256, QLatin1Char('x')));
    // A band of variable height keeps its minimum height only.
    ASSERT_EQ(area.bandWindows().size(), 1u);
    EXPECT_EQ(area.bandWindows()[0]->minimumHeight(), 22);
    EXPECT_GT(area.bandWindows()[0]->maximumHeight(), 40);
}

TEST_F(BandAreaTest, AFailingBandIsClosedReleasedAndReportedOnce) {
    registerBand(guidToString(kFakeBandClass), kFakeLibrary);
    struct Case {
        HRESULT* answer;
        const char* call;
    };
    for (const Case& failing :
         {Case{&script->setSite, "SetSite"}, Case{&script->getWindow, "GetWindow"},
          Case{&script->getBandInfo, "GetBandInfo"}, Case{&script->showDW, "ShowDW"}}) {
        script->reset();
        *failing.answer = E_UNEXPECTED;
        BandArea area(&library, page, &window);
        area.dock();
        area.dock(); // the same failure again is not said twice
        const std::string message = area.message().toStdString();
        EXPECT_NE(message.find(std::string(failing.call) + " returned 0x8000FFFF (E_UNEXPECTED)"),
                  std::string::npos)
            << message;
        EXPECT_EQ(area.message().count(QStringLiteral(" returned ")), 1) << message;
        EXPECT_NE(message.find(BandArea::kNoBandDockedText), std::string::npos) << message;
        EXPECT_TRUE(area.bandWindows().empty()) << failing.call;
        EXPECT_EQ(script->objects, 0) << failing.call;
        // Once the band had a site, it is closed before it goes.
        EXPECT_EQ(called("CloseDW"), std::string(failing.call) != "SetSite") << failing.call;
    }
}

TEST_F(BandAreaTest, WithoutARegisteredBandTheAreaSaysHowToRegisterOne) {
    BandArea area(&library, page, &window);
    area.dock();
    EXPECT_EQ(area.message().toStdString(), BandArea::kNoBandText);
    EXPECT_TRUE(area.bandWindows().empty());
}

TEST_F(BandAreaTest, ContextMenuShowsTheBandsItemsAndInvokesTheChosenOne) {
    registerBand(guidToString(kFakeBandClass), kFakeLibrary);
    BandArea area(&library, page, &window);
    area.dock();
    std::vector<std::string> shown;
    const auto previous = resources::setTrackPopupHook(
        [&shown](resources::HMENU menu, unsigned, QPoint, QWidget*) -> unsigned {
            for (int i = 0; i < resources::GetMenuItemCount(menu); ++i)
                shown.push_back(resources::GetMenuString(menu, static_cast<unsigned>(i),
                                                         resources::MF_BYPOSITION));
            return resources::findMenuCommand(menu, "Second");
        });
    area.showBandMenu(QPoint(5, 5));
    resources::setTrackPopupHook(previous);
    EXPECT_EQ(shown, (std::vector<std::string>{"First", "Second"}));
    EXPECT_TRUE(called("QueryContextMenu 0 1"));
    EXPECT_TRUE(called("InvokeCommand 1"));

    script->invokeCommand = E_FAIL;
    resources::setTrackPopupHook([](resources::HMENU menu, unsigned, QPoint, QWidget*) {
        return resources::findMenuCommand(menu, "First");
    });
    area.showBandMenu(QPoint(5, 5));
    resources::setTrackPopupHook(previous);
    EXPECT_NE(area.message().toStdString().find("InvokeCommand returned 0x80004005 (E_FAIL)"),
              std::string::npos);
}

TEST_F(BandAreaTest, KeysOnTheBandGoToItAndTabLeavesIt) {
    registerBand(guidToString(kFakeBandClass), kFakeLibrary);
    BandArea area(&library, page, &window);
    area.dock();
    int left = 0;
    area.setFocusLeaves([&left] { ++left; });
    ASSERT_EQ(area.bandWindows().size(), 1u);
    QWidget* bandWindow = area.bandWindows()[0];
    script->calls.clear();

    QKeyEvent letter(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, QStringLiteral("a"));
    EXPECT_TRUE(area.forwardKey(bandWindow, letter));
    QKeyEvent tab(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier);
    EXPECT_TRUE(area.forwardKey(bandWindow, tab));
    EXPECT_EQ(left, 1);
    // A key on a widget outside the band stays with the host.
    EXPECT_FALSE(area.forwardKey(&window, letter));
    EXPECT_EQ(script->calls, (std::vector<std::string>{"TranslateAcceleratorIO 256 65",
                                                       "TranslateAcceleratorIO 256 9"}));
}

TEST_F(BandAreaTest, TheRealBandLibraryDocksFillsTheHostsMenuAndCloses) {
    // A copy of its own, so that the band's queue file and registry are this test's:
    // the band keeps its files beside itself and its registry under XDG_CONFIG_HOME.
    const std::string copy = sandbox.path("Fetchora.so");
    fetchora::testing::Sandbox::writeFile(copy, fetchora::testing::Sandbox::readFile(kBandLibrary));
    ::setenv("XDG_CONFIG_HOME", sandbox.path("config").c_str(), 1);
    ASSERT_TRUE(BandLibrary::registerLibrary(copy).empty());
    std::vector<std::string> problems;
    // The band registered itself in its own registry files; the host reads the same ones.
    registry::setHiveFolder(sandbox.path("config") + "/fetchora/registry");
    const auto bands = BandLibrary::registeredBands(problems);
    ASSERT_EQ(bands.size(), 1u);
    EXPECT_EQ(bands[0].library, copy);

    BandArea area(&library, page, &window);
    area.dock();
    EXPECT_TRUE(area.message().isEmpty()) << area.message().toStdString();
    ASSERT_EQ(area.bandWindows().size(), 1u);
    EXPECT_STREQ(area.bandWindows()[0]->metaObject()->className(), "fetchora::TFetchoraForm");
    const auto* title = area.findChild<QLabel*>(QStringLiteral("bandTitle"));
    ASSERT_NE(title, nullptr);
    EXPECT_EQ(title->text(), QStringLiteral("Pullmarq"));
    EXPECT_TRUE(fetchora::files::fileExists(sandbox.path("downloads.txt")));

    // The band fills the menu that the host made, with its own copy of the menu calls.
    std::vector<std::string> shown;
    const auto previous = resources::setTrackPopupHook(
        [&shown](resources::HMENU menu, unsigned, QPoint, QWidget*) -> unsigned {
            for (int i = 0; i < resources::GetMenuItemCount(menu); ++i)
                shown.push_back(resources::GetMenuString(menu, static_cast<unsigned>(i),
                                                         resources::MF_BYPOSITION));
            return 0;
        });
    area.showBandMenu(QPoint(5, 5));
    resources::setTrackPopupHook(previous);
    EXPECT_EQ(shown, (std::vector<std::string>{"Update Bandinfo", "IE and Talvix", "About..."}));

    area.closeBand();
    EXPECT_TRUE(area.bandWindows().empty());
    EXPECT_TRUE(library.librariesInUse().empty());
    ::unsetenv("XDG_CONFIG_HOME");
}

} // namespace
} // namespace fetchora::host
