// The toolbar window's drop path: a dropped file is probed and queued, a refused probe
// queues nothing, other links and empty drops go to the gallery or say why not, and a
// drop while a run waits in its request leaves the run and its queue alone.
#include "toolbar/fetchora_form.h"
#include "toolbar/transfer_run.h"

#include "band/url_drop_target.h"
#include "dialogs/download_options_form.h"
#include "platform/com/web_browser.h"
#include "platform/ole/mime_data_object.h"
#include "platform/qt/desktop.h"
#include "queue/download_list.h"
#include "support/loopback_server.h"
#include "support/sandbox.h"
#include "util/settings.h"

#include <QLineEdit>
#include <QToolButton>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace fetchora {
namespace {

using testing::Exchange;
using testing::LoopbackServer;
using testing::Sandbox;
using testing::ScriptedDesktop;

// The browser as the band hands it over: the page it shows.
class FakeBrowser final : public com::IWebBrowser2 {
public:
    explicit FakeBrowser(std::string page) : page_(std::move(page)) {}
    com::HRESULT QueryInterface(const com::IID&, void**) override { return com::E_NOINTERFACE; }
    com::ULONG AddRef() override { return 1; }
    com::ULONG Release() override { return 1; }
    com::HRESULT LocationURL(std::string& url) override {
        url = page_;
        return com::S_OK;
    }
    com::HRESULT Navigate(const std::string&) override { return com::S_OK; }

private:
    std::string page_;
};

class FetchoraFormDropTest : public ::testing::Test {
protected:
    FetchoraFormDropTest() {
        previousGallery_ =
            TFetchoraForm::gallery().install([this](TDownloadList& queue, const std::string& url) {
                galleries_.push_back(url);
                queue.Add(std::make_unique<TDownload>()).URL = "http://gallery/added.jpg";
                return true;
            });
    }
    ~FetchoraFormDropTest() override { TFetchoraForm::gallery().install(previousGallery_); }

    // Drops data with text (or without) on the window's drop target.
    static com::HRESULT drop(TFetchoraForm& form, std::optional<std::string> text) {
        ole::MimeDataObject* data = ole::MimeDataObject::create(std::move(text));
        ole::DWORD effect = ole::DROPEFFECT_COPY | ole::DROPEFFECT_LINK;
        const com::HRESULT result = form.URLDropTarget1->Drop(data, 0, {}, &effect);
        data->Release();
        return result;
    }

    Sandbox sandbox_;
    ScriptedDesktop desktop_;
    std::string listFile_ = sandbox_.libraryPath("downloads.txt");
    std::vector<std::string> galleries_;
    TFetchoraForm::GalleryHook::Function previousGallery_;
};

TEST_F(FetchoraFormDropTest, DroppedFileOfAnAcceptedTypeIsProbedQueuedAndSaved) {
    LoopbackServer server;
    server.script({Exchange::reply("HTTP/1.0 200 OK\r\nContent-Length: 1234\r\n\r\n"),
                   Exchange::reply("HTTP/1.0 404 Not Found\r\n\r\n")});
    TFetchoraForm form;
    EXPECT_TRUE(form.acceptDrops()) << "the window is registered at creation";

    EXPECT_EQ(drop(form, server.url("/files/movie.avi")), com::S_OK);
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0].rfind("HEAD /files/movie.avi HTTP/1.0\r\n", 0), 0u);
    ASSERT_EQ(form.downloads().count(), 1);
    EXPECT_EQ(form.downloads()[0].FileSize, 1234);
    EXPECT_EQ(Sandbox::readFile(listFile_),
              server.url("/files/movie.avi") + "\tmovie.avi\t0\t1234\r\n");

    // A refused probe queues nothing and shows nothing; the queue is saved all the same.
    Sandbox::writeFile(listFile_, "");
    EXPECT_EQ(drop(form, server.url("/gone.zip")), com::S_OK);
    EXPECT_EQ(server.requests().size(), 2u);
    EXPECT_EQ(form.downloads().count(), 1);
    EXPECT_EQ(Sandbox::readFile(listFile_),
              server.url("/files/movie.avi") + "\tmovie.avi\t0\t1234\r\n");
    EXPECT_TRUE(desktop_.messages.empty());
    EXPECT_TRUE(galleries_.empty());
}

TEST_F(FetchoraFormDropTest, ADropNeverSavesTheReadPartOfADamagedQueueFile) {
    // The entries after the damaged line are only in the file; a save of what was read
    // would lose them.
    LoopbackServer server;
    server.script({Exchange::reply("HTTP/1.0 200 OK\r\nContent-Length: 1234\r\n\r\n")});
    const std::string damaged = "http://a/1.zip\t1.zip\t0\t10\r\nno tab here\r\n"
                                "http://a/3.zip\t3.zip\t0\t30\r\n";
    Sandbox::writeFile(listFile_, damaged);
    TFetchoraForm form; // start-up reports the damaged line
    desktop_.messages.clear();
    drop(form, server.url("/movie.avi"));
    EXPECT_EQ(Sandbox::readFile(listFile_), damaged);
    ASSERT_EQ(desktop_.messages.size(), 1u);
    EXPECT_NE(desktop_.messages[0].text.find("is damaged, so it was not changed"),
              std::string::npos)
        << desktop_.messages[0].text;
}

TEST_F(FetchoraFormDropTest, InsideAHostWithOleTheWindowRegistersAndRevokesItself) {
    // The browser initialises OLE before any band: the component leaves the window alone.
    ASSERT_EQ(ole::OleInitialize(), com::S_OK);
    {
        TFetchoraForm form;
        EXPECT_EQ(form.URLDropTarget1->registeredWindow(), nullptr);
        EXPECT_TRUE(form.acceptDrops());
        EXPECT_EQ(ole::RegisterDragDrop(&form, form.URLDropTarget1.get()),
                  ole::DRAGDROP_E_ALREADYREGISTERED);
        form.FormDestroy();
        EXPECT_FALSE(form.acceptDrops());
    }
    ole::OleUninitialize();
}

TEST_F(FetchoraFormDropTest, OtherLinksOpenTheGalleryAndTheTypesFallBackToTheShortList) {
    TFetchoraForm form;
    drop(form, "http://example.org/page.html");
    EXPECT_EQ(galleries_, std::vector<std::string>{"http://example.org/page.html"});
    EXPECT_NE(Sandbox::readFile(listFile_).find("http://gallery/added.jpg"), std::string::npos)
        << "the queue is saved after the gallery";

    // Types gone missing since start-up: the drop's shorter list, without zip, applies
    // and is stored.
    writeSettingText(settings::kTypes, "");
    Sandbox::writeFile(sandbox_.path("registry/HKEY_CURRENT_USER.reg"), "REGEDIT4\r\n\r\n");
    drop(form, "http://example.org/a.zip");
    EXPECT_EQ(galleries_.back(), "http://example.org/a.zip");
    EXPECT_EQ(readSettingText(settings::kTypes, "x"), "jpg,jpeg,avi,mpg,mpeg,mp3,wmv");
}

TEST_F(FetchoraFormDropTest, DropWithoutTextUsesThePageShownOrSaysItCannot) {
    TFetchoraForm form;
    EXPECT_EQ(drop(form, std::nullopt), ole::DV_E_FORMATETC);
    EXPECT_EQ(desktop_.texts(), std::vector<std::string>{"Unable to load URL."});

    FakeBrowser emptyPage("");
    form.WebBrowser = &emptyPage;
    drop(form, std::nullopt);
    EXPECT_EQ(desktop_.texts().size(), 2u);

    // A link dropped before is not taken for this drop's.
    FakeBrowser browser("http://example.org/gallery/");
    drop(form, "http://example.org/other/");
    form.WebBrowser = &browser;
    drop(form, std::nullopt);
    EXPECT_EQ(galleries_, (std::vector<std::string>{"http://example.org/other/",
                                                    "http://example.org/gallery/"}));
    EXPECT_EQ(desktop_.texts().size(), 2u);
    // The window holds a reference to its browser; the browsers here go before it.
    form.WebBrowser = nullptr;
}

TEST_F(FetchoraFormDropTest, DropWhileARunWaitsLeavesTheRunAndSaysTheLinkWasNotQueued) {
    LoopbackServer server;
    const std::string folder = sandbox_.path("out");
    ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
    Sandbox::writeFile(listFile_, server.url("/a.bin") + "\ta.bin\t0\t3000\r\n");
    server.script({Exchange::pieces(
        {"HTTP/1.0 200 OK\r\nContent-Length: 3000\r\n\r\n" + std::string(1000, 'a'),
         std::string(2000, 'b')},
        300)});
    writeSettingText(settings::kFolder, folder);
    TFetchoraForm form;
    form.Timer1Timer();

    const ui::ModalHook previous = ui::setModalHook([&](QDialog& dialog) {
        auto* options = dynamic_cast<TDownloadOptionsForm*>(&dialog);
        if (options == nullptr)
            return static_cast<int>(QDialog::Rejected);
        options->DestEdit->setText(QString::fromStdString(folder));
        options->Button1Click();
        return options->result();
    });
    bool dropped = false;
    std::string queueDuringDrop;
    QObject::connect(&form, &TFetchoraForm::statusTextChanged, [&](const QString& text) {
        if (dropped || !text.startsWith(QStringLiteral("Downloading")))
            return;
        dropped = true;
        drop(form, server.url("/b.zip"));
        queueDuringDrop = Sandbox::readFile(listFile_);
    });
    form.StartBtn->click();
    ui::setModalHook(previous);

    ASSERT_TRUE(dropped);
    EXPECT_EQ(queueDuringDrop, server.url("/a.bin") + "\ta.bin\t0\t3000\r\n")
        << "the drop leaves the run's queue file alone";
    EXPECT_EQ(server.requests().size(), 1u) << "no probe while the run holds the client";
    EXPECT_EQ(Sandbox::readFile(folder + "/a.bin"),
              std::string(1000, 'a') + std::string(2000, 'b'));
    EXPECT_EQ(Sandbox::readFile(listFile_), "");
    const std::vector<std::string> texts = desktop_.texts();
    ASSERT_FALSE(texts.empty());
    EXPECT_EQ(texts.front(), "The link was not queued: a download is in progress. Drop it again "
                             "when it has ended.");
}

} // namespace
} // namespace fetchora
