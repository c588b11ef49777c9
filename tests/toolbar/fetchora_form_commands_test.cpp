// The toolbar window's Settings, Help and Select files commands, with and without the
// browser that holds the band, and the help page installed beside the program.
#include "toolbar/fetchora_form.h"

#include "dialogs/download_settings_form.h"
#include "platform/com/web_browser.h"
#include "platform/qt/desktop.h"
#include "queue/download_list.h"
#include "support/sandbox.h"
#include "util/library_path.h"

#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QPointer>
#include <QToolButton>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <sys/stat.h>

namespace fetchora {
namespace {

using testing::Sandbox;
using testing::ScriptedDesktop;

// A browser that shows one page and records where it is sent.
class FakeBrowser final : public com::IWebBrowser2 {
public:
    com::HRESULT QueryInterface(const com::IID&, void** object) override {
        *object = nullptr;
        return com::E_NOINTERFACE;
    }
    com::ULONG AddRef() override { return 1; }
    com::ULONG Release() override { return 1; }
    com::HRESULT LocationURL(std::string& url) override {
        url = page;
        return com::S_OK;
    }
    com::HRESULT Navigate(const std::string& url) override {
        navigated.push_back(url);
        return com::S_OK;
    }

    std::string page;
    std::vector<std::string> navigated;
};

class FetchoraFormCommandsTest : public ::testing::Test {
protected:
    // Puts a help page where the toolbar looks for it.
    std::string installHelpPage() {
        ::mkdir(sandbox_.libraryPath("help").c_str(), 0755);
        const std::string page = sandbox_.libraryPath("help/index.html");
        Sandbox::writeFile(page, "<html></html>");
        return page;
    }

    void SetUp() override {
        previousGallery_ =
            TFetchoraForm::gallery().install([this](TDownloadList&, const std::string& url) {
                galleries_.push_back(url);
                return true;
            });
    }
    void TearDown() override {
        TFetchoraForm::gallery().install(previousGallery_);
        ui::setModalHook(previousModal_);
    }

    // Answers the page address dialog: records what it offered, types text (unless
    // null) and presses OK, or Cancel when accept is false.
    void answerAddress(const char* text, bool accept = true) {
        ui::ModalHook previous = ui::setModalHook([this, text, accept](QDialog& dialog) {
            auto* edit = dialog.findChild<QLineEdit*>(QStringLiteral("AddressEdit"));
            offered_.push_back(edit != nullptr ? edit->text().toStdString() : "<no edit>");
            if (edit != nullptr && text != nullptr)
                edit->setText(QString::fromUtf8(text));
            return accept ? QDialog::Accepted : QDialog::Rejected;
        });
        if (!previousModalSaved_) {
            previousModal_ = previous;
            previousModalSaved_ = true;
        }
    }

    Sandbox sandbox_;
    ScriptedDesktop desktop_;
    TFetchoraForm form_;
    std::vector<std::string> galleries_;
    std::vector<std::string> offered_;
    TFetchoraForm::GalleryHook::Function previousGallery_;
    ui::ModalHook previousModal_;
    bool previousModalSaved_ = false;
};

TEST_F(FetchoraFormCommandsTest, SettingsShowsTheOptionsDialogOwnedByTheWindowAndFreesIt) {
    QPointer<QDialog> shown;
    previousModal_ = ui::setModalHook([&](QDialog& dialog) {
        shown = &dialog;
        EXPECT_NE(dynamic_cast<TDownloadSettingsForm*>(&dialog), nullptr);
        EXPECT_EQ(dialog.parentWidget(), &form_);
        return static_cast<int>(QDialog::Rejected);
    });
    previousModalSaved_ = true;
    form_.ToolButton6->click();
    EXPECT_TRUE(desktop_.messages.empty());
    EXPECT_TRUE(shown.isNull()) << "the dialog is freed when it closes";
}

TEST_F(FetchoraFormCommandsTest, HelpWithoutABrowserOpensTheInstalledPageOnTheDesktop) {
    const std::string page = installHelpPage();
    form_.HelpBtn->click();
    EXPECT_EQ(desktop_.openedAddresses, std::vector<std::string>{"file://" + page});
    EXPECT_TRUE(desktop_.messages.empty());
}

TEST_F(FetchoraFormCommandsTest, HelpWithABrowserShowsThePageInIt) {
    const std::string page = installHelpPage();
    FakeBrowser browser;
    form_.WebBrowser = &browser;
    form_.HelpBtn->click();
    form_.WebBrowser = nullptr;
    EXPECT_EQ(browser.navigated, std::vector<std::string>{"file://" + page});
    EXPECT_TRUE(desktop_.openedAddresses.empty());
}

TEST_F(FetchoraFormCommandsTest, HelpSaysSoWhenThePageIsMissing) {
    form_.HelpBtn->click();
    EXPECT_TRUE(desktop_.openedAddresses.empty());
    ASSERT_EQ(desktop_.messages.size(), 1u);
    EXPECT_EQ(desktop_.messages[0].title, "Error");
    EXPECT_NE(desktop_.messages[0].text.find(sandbox_.libraryPath("help/index.html")),
              std::string::npos)
        << desktop_.messages[0].text;
}

TEST_F(FetchoraFormCommandsTest, SelectFilesWithoutABrowserAsksOfferingAnAddressOnTheClipboard) {
    QGuiApplication::clipboard()->setText(QStringLiteral("  http://example.org/Page.html\n"));
    answerAddress(nullptr);
    form_.ToolButton9->click();
    // Text that is not one web address is not offered.
    QGuiApplication::clipboard()->setText(QStringLiteral("see http://example.org/"));
    answerAddress(" http://other.example/list.html ");
    form_.ToolButton9->click();
    QGuiApplication::clipboard()->setText(QStringLiteral("ftp://example.org/file.zip"));
    answerAddress("http://never.example/", false);
    form_.ToolButton9->click();
    EXPECT_EQ(offered_, (std::vector<std::string>{"http://example.org/Page.html", "", ""}));
    EXPECT_EQ(galleries_, (std::vector<std::string>{"http://example.org/Page.html",
                                                    "http://other.example/list.html"}));
    EXPECT_TRUE(desktop_.messages.empty());
}

TEST_F(FetchoraFormCommandsTest, SelectFilesWithNoAddressSaysUnableToLoad) {
    QGuiApplication::clipboard()->clear();
    answerAddress("");
    form_.ToolButton9->click();
    FakeBrowser browser;
    form_.WebBrowser = &browser;
    form_.ToolButton9->click();
    browser.page = "http://shown.example/";
    form_.ToolButton9->click();
    form_.WebBrowser = nullptr;
    EXPECT_EQ(offered_.size(), 1u) << "with a browser nothing is asked";
    EXPECT_EQ(desktop_.texts(),
              (std::vector<std::string>{"Unable to load URL.", "Unable to load URL."}));
    EXPECT_EQ(galleries_, std::vector<std::string>{"http://shown.example/"});
}

// The build puts the help page into the folder "help" beside the programs that hold the
// toolbar, this test's program among them, where the toolbar looks for it.
TEST(ShippedHelpPage, LiesWhereTheToolbarLooksForIt) {
    const std::string page = helpPagePath();
    EXPECT_EQ(page, pathInLibraryFolder("help/index.html"));
    const std::string text = Sandbox::readFile(page);
    EXPECT_NE(text.find("<title>Fetchora help</title>"), std::string::npos) << page;
    for (const char* topic : {"downloads.txt", "servers.txt", "HKEY_CURRENT_USER.reg",
                              "fetchora --add", "Test connection", "Stop"})
        EXPECT_NE(text.find(topic), std::string::npos) << topic;
}

} // namespace
} // namespace fetchora
