// The gallery dialog offscreen: its filters and history file, the row menu, Search and
// Add against a loopback server and nginx with their cancels and the commands they hold
// off, and the toolbar window that opens it and saves the queue afterwards.
#include "gallery/download_gallery_form.h"

#include "dialogs/download_options_form.h"
#include "gallery/hyper_link.h"
#include "platform/files.h"
#include "platform/qt/desktop.h"
#include "platform/resources/resource_table.h"
#include "platform/resources/track_popup_menu.h"
#include "platform/ui.h"
#include "queue/download_list.h"
#include "queue/exception_list.h"
#include "queue/progress_form.h"
#include "support/application.h"
#include "support/loopback_server.h"
#include "support/sandbox.h"
#include "toolbar/fetchora_form.h"
#include "util/settings.h"

#include <QClipboard>
#include <QComboBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <cstdlib>
#include <stdexcept>

#include <sys/stat.h>
#include <sys/time.h>

namespace fetchora {
namespace {

using resources::HMENU;
using testing::Exchange;
using testing::LoopbackServer;
using testing::Sandbox;
using testing::ScriptedDesktop;

std::string page(const std::string& body) {
    return "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n" + body;
}
std::string sized(int size) {
    return "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(size) + "\r\n\r\n";
}
const std::string kMissing = "HTTP/1.0 404 Not Found\r\nContent-Length: 0\r\n\r\n";

class DownloadGalleryFormTest : public ::testing::Test {
protected:
    DownloadGalleryFormTest() {
        previousMenu_ = resources::setTrackPopupHook(
            [this](HMENU menu, unsigned flags, QPoint, QWidget* owner) -> unsigned {
                EXPECT_NE(flags & resources::TPM_RETURNCMD, 0u);
                EXPECT_NE(owner, nullptr);
                return resources::findMenuCommand(menu, choice_);
            });
        previousModal_ = ui::setModalHook([this](QDialog& dialog) {
            ++modals_;
            if (duringModal_)
                duringModal_(dialog);
            return static_cast<int>(QDialog::Accepted);
        });
        previousView_ = setExceptionView([this](const std::string& text) {
            shownErrors_.push_back(text);
            ExceptionList().clear();
        });
        ExceptionList().clear();
    }
    ~DownloadGalleryFormTest() override {
        resources::setTrackPopupHook(std::move(previousMenu_));
        ui::setModalHook(std::move(previousModal_));
        setExceptionView(std::move(previousView_));
    }

    // Entries as a scan leaves them, shown as rows.
    static void fill(TDownloadGalleryForm& form,
                     std::initializer_list<std::tuple<int, const char*, const char*>> entries) {
        for (const auto& [kind, description, url] : entries) {
            THyperLink& entry = form.Links->AddLink();
            entry.Kind = kind;
            entry.Description = description;
            entry.URL = url;
        }
        form.ResetBtnClick();
    }
    static void fillSample(TDownloadGalleryForm& form) {
        fill(form, {{kLinkKind, "Get it", "http://h/a.zip"},
                    {kLinkKind, "Next page", "http://h/next.html"},
                    {kImageKind, "[Image]", "http://h/p.jpg"},
                    {kLinkKind, "Big ZIP", "http://h/big.zip"},
                    {kImageKind, "[Image]", "http://h/q.gif"}});
    }
    static std::vector<std::string> urls(const TDownloadGalleryForm& form) {
        std::vector<std::string> shown;
        shown.reserve(static_cast<size_t>(form.FileList->topLevelItemCount()));
        for (int i = 0; i < form.FileList->topLevelItemCount(); ++i)
            shown.push_back(form.FileList->topLevelItem(i)->text(2).toStdString());
        return shown;
    }
    static void apply(TDownloadGalleryForm& form, int show, int where, const char* text) {
        form.ShowCB->setCurrentIndex(show);
        form.WhereCB->setCurrentIndex(where);
        form.ContainsCB->setEditText(QString::fromUtf8(text));
        form.FilterBtnClick();
    }
    void choose(TDownloadGalleryForm& form, const std::string& text) {
        choice_ = text;
        form.FileListMouseDown(Qt::RightButton);
    }
    // Presses the progress dialog's Cancel as soon as the loop waits in its first request.
    static void cancelSoon(TDownloadGalleryForm& form) {
        QTimer::singleShot(0, &form, [&form] {
            if (auto* progress = form.findChild<TProgressForm*>())
                progress->Button1->click();
        });
    }
    std::string history() const { return Sandbox::readFile(historyFile_); }

    Sandbox sandbox_;
    ScriptedDesktop desktop_;
    TDownloadList queue_;
    std::string historyFile_ = sandbox_.libraryPath("contains.txt");
    std::string choice_;
    int modals_ = 0;
    std::function<void(QDialog&)> duringModal_;
    std::vector<std::string> shownErrors_;
    resources::TrackPopupHook previousMenu_;
    ui::ModalHook previousModal_;
    ExceptionView previousView_;
};

TEST_F(DownloadGalleryFormTest, FiltersByKindAndByTextWhereChosen) {
    TDownloadGalleryForm form(queue_);
    fillSample(form);
    EXPECT_EQ(form.FileList->topLevelItemCount(), 5);
    EXPECT_EQ(form.CountLabel->text(), QStringLiteral("5 links selected"));

    apply(form, 2, -1, "");
    EXPECT_EQ(urls(form), (std::vector<std::string>{"http://h/p.jpg", "http://h/q.gif"}));
    EXPECT_EQ(form.CountLabel->text(), QStringLiteral("2 links selected")) << "rows start checked";
    apply(form, 1, 0, "zip");
    EXPECT_EQ(urls(form), (std::vector<std::string>{"http://h/a.zip", "http://h/big.zip"}));
    apply(form, -1, 0, "ZIP");
    EXPECT_TRUE(urls(form).empty()) << "the URL comparison keeps case";
    apply(form, -1, 1, "ZIP");
    EXPECT_EQ(urls(form), std::vector<std::string>{"http://h/big.zip"});
    apply(form, -1, -1, "zip");
    EXPECT_TRUE(urls(form).empty()) << "a text without Where hides everything";
    apply(form, -1, 0, ".*");
    EXPECT_TRUE(urls(form).empty()) << "the text is no pattern";

    form.ResetBtnClick();
    EXPECT_EQ(form.FileList->topLevelItemCount(), 5);
    EXPECT_EQ(form.ShowCB->currentIndex(), -1);
    EXPECT_TRUE(form.ContainsCB->currentText().isEmpty());
}

TEST_F(DownloadGalleryFormTest, HistoryIsWrittenByEveryApplyNewestFirstWithoutCaseDuplicates) {
    LoopbackServer server;
    server.script({Exchange::reply(page("<html>nothing</html>"))});
    {
        TDownloadGalleryForm form(queue_);
        form.SelectFiles(server.url("/"));
        EXPECT_EQ(history(), "jpg\r\n") << "the first opening writes the design-time item";
        EXPECT_EQ(form.windowTitle().toStdString(), server.url("/"));
        apply(form, -1, 0, "zip");
        apply(form, -1, 0, "zip");
        apply(form, -1, 0, "Zip");
        apply(form, -1, 0, "png");
        EXPECT_EQ(history(), "png\r\nzip\r\njpg\r\n");
    }
    Sandbox::writeFile(historyFile_, "avi\r\nmp3\r\n");
    TDownloadGalleryForm form(queue_);
    ASSERT_EQ(form.ContainsCB->count(), 2) << "the file replaces the design-time item";
    EXPECT_EQ(form.ContainsCB->itemText(1), QStringLiteral("mp3"));
    form.Label4Click();
    EXPECT_EQ(form.ContainsCB->count(), 0);
    EXPECT_FALSE(files::fileExists(historyFile_));
    form.Label4Click(); // no file: only the combo box is emptied
    form.ResetBtnClick();
    EXPECT_FALSE(files::fileExists(historyFile_)) << "Reset writes no history";
}

TEST_F(DownloadGalleryFormTest, RowMenuChecksInGroupsAndActsOnTheSelectedRow) {
    TDownloadGalleryForm form(queue_);
    fillSample(form);
    form.FileList->topLevelItem(0)->setCheckState(0, Qt::Unchecked);
    EXPECT_EQ(form.CountLabel->text(), QStringLiteral("4 links selected"))
        << "a check by hand counts at once";

    choose(form, "Uncheck all");
    EXPECT_EQ(form.CountLabel->text(), QStringLiteral("0 links selected"));
    const auto command = [&](resources::GalleryMenuCommand chosen) {
        const resources::TrackPopupHook before = resources::setTrackPopupHook(
            [chosen](HMENU, unsigned, QPoint, QWidget*) { return static_cast<unsigned>(chosen); });
        form.FileListMouseDown(Qt::RightButton);
        resources::setTrackPopupHook(before);
    };
    command(resources::GalleryMenuCommand::CheckImages);
    EXPECT_EQ(form.CountLabel->text(), QStringLiteral("2 links selected"));
    EXPECT_EQ(form.FileList->topLevelItem(0)->checkState(0), Qt::Unchecked) << "links unchanged";

    // Above and Below without a selected row say so and change nothing.
    command(resources::GalleryMenuCommand::CheckAbove);
    command(resources::GalleryMenuCommand::UncheckBelow);
    command(resources::GalleryMenuCommand::View);
    EXPECT_EQ(desktop_.texts(), std::vector<std::string>(3, "Select a file."));
    EXPECT_EQ(form.CountLabel->text(), QStringLiteral("2 links selected"));

    form.FileList->setCurrentItem(form.FileList->topLevelItem(1));
    command(resources::GalleryMenuCommand::CheckAbove);
    EXPECT_EQ(form.CountLabel->text(), QStringLiteral("4 links selected"));
    command(resources::GalleryMenuCommand::UncheckBelow);
    EXPECT_EQ(form.CountLabel->text(), QStringLiteral("1 links selected"));
    command(resources::GalleryMenuCommand::CheckLinks);
    EXPECT_EQ(form.CountLabel->text(), QStringLiteral("3 links selected"));
    command(resources::GalleryMenuCommand::View);
    EXPECT_EQ(desktop_.openedAddresses, std::vector<std::string>{"http://h/next.html"});
    command(resources::GalleryMenuCommand::Copy);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("http://h/next.html"));
}

TEST_F(DownloadGalleryFormTest, OpensOnAPageAndSearchesTheCheckedLinkPagesOnly) {
    LoopbackServer server;
    // The pages link absolutely and with capitals in their paths, which rows and requests
    // keep.
    const auto at = [&](const char* path) { return server.url(path); };
    server.script({
        Exchange::reply(page("<a href='" + at("/One.html") + "'>One</a> <A HREF=\"" +
                             at("/two.html") + "\">Two</a><a href=\"" + at("/skip.html") +
                             "\">Skip</a><img src=\"" + at("/pic.jpg") + "\">")),
        Exchange::reply(page("<a href=\"" + at("/Deep/X.zip") + "\">X</a>")),
        Exchange::reply(
            page("<img src=\"" + at("/y.png") + "\"><a href=\"" + at("/z.zip") + "\">Z</a>")),
    });
    TDownloadGalleryForm form(queue_);
    form.SelectFiles(server.url("/start.html"));
    EXPECT_EQ(form.FileList->topLevelItemCount(), 4);
    EXPECT_EQ(form.CountLabel->text(), QStringLiteral("4 links selected"));
    form.FileList->topLevelItem(2)->setCheckState(0, Qt::Unchecked); // skip.html

    form.ScanBtnClick();
    EXPECT_EQ(desktop_.texts(), std::vector<std::string>{"2 pages searched"});
    ASSERT_EQ(server.requests().size(), 3u) << "the image and the unchecked link are no pages";
    EXPECT_EQ(server.requests()[1].rfind("GET /One.html ", 0), 0u);
    EXPECT_EQ(server.requests()[2].rfind("GET /two.html ", 0), 0u);
    // Each page's links, then its images, in the order found.
    EXPECT_EQ(urls(form), (std::vector<std::string>{server.url("/Deep/X.zip"), server.url("/z.zip"),
                                                    server.url("/y.png")}));
}

TEST_F(DownloadGalleryFormTest, SearchWithoutACheckedLinkSaysSoAndKeepsTheRows) {
    TDownloadGalleryForm form(queue_);
    fillSample(form);
    choose(form, "Uncheck all");
    form.ScanBtnClick();
    EXPECT_EQ(
        desktop_.texts(),
        std::vector<std::string>{
            "No link is checked. Check the links of the pages to search, then press Search."});
    EXPECT_EQ(form.FileList->topLevelItemCount(), 5);
}

TEST_F(DownloadGalleryFormTest, AddProbesTheCheckedRowsAndShowsTheFailuresAtTheEnd) {
    LoopbackServer server;
    server.script({Exchange::reply(sized(1000)), Exchange::reply(kMissing)});
    TDownloadGalleryForm form(queue_);
    fill(form, {{kLinkKind, "A", server.url("/a.zip").c_str()},
                {kLinkKind, "B", server.url("/b.zip").c_str()},
                {kImageKind, "[Image]", server.url("/c.jpg").c_str()}});
    form.FileList->topLevelItem(1)->setCheckState(0, Qt::Unchecked);
    form.AddBtnClick();

    ASSERT_EQ(queue_.count(), 1);
    EXPECT_EQ(queue_.at(0).URL, server.url("/a.zip"));
    EXPECT_EQ(queue_.at(0).FileSize, 1000);
    ASSERT_EQ(server.requests().size(), 2u);
    EXPECT_EQ(server.requests()[1].rfind("HEAD /c.jpg ", 0), 0u);
    ASSERT_EQ(shownErrors_.size(), 1u);
    EXPECT_NE(shownErrors_[0].find(server.url("/c.jpg")), std::string::npos);
    EXPECT_EQ(desktop_.texts(), std::vector<std::string>{"1 files added to download list."});
    EXPECT_EQ(form.FileList->topLevelItemCount(), 3) << "Add leaves the rows";
}

TEST_F(DownloadGalleryFormTest, CancelStopsBothLoopsAndOtherCommandsWaitMeanwhile) {
    LoopbackServer server;
    server.script({Exchange::pieces({sized(10), ""}, 200)});
    TDownloadGalleryForm form(queue_);
    fill(form, {{kLinkKind, "A", server.url("/a.html").c_str()},
                {kLinkKind, "B", server.url("/b.html").c_str()}});

    bool busyMeanwhile = false;
    QTimer::singleShot(0, &form, [&] {
        busyMeanwhile = form.busy() && !form.ScanBtn->isEnabled() && !form.BitBtn3->isEnabled();
        form.ScanBtnClick(); // ignored: it would clear the entries Add works on
        form.reject();       // ignored as well
        form.findChild<TProgressForm*>()->Button1->click();
    });
    form.AddBtnClick();
    EXPECT_TRUE(busyMeanwhile);
    EXPECT_EQ(queue_.count(), 1);
    EXPECT_EQ(desktop_.texts(),
              (std::vector<std::string>{"Add canceled.", "1 files added to download list."}));
    EXPECT_EQ(form.FileList->topLevelItemCount(), 2);
    EXPECT_EQ(form.result(), 0) << "the dialog did not close";
    EXPECT_TRUE(form.ScanBtn->isEnabled());

    server.script(
        {Exchange::pieces({page("<a href=\"" + server.url("/n.html") + "\">N</a>"), ""}, 200),
         Exchange::reply(page("never"))});
    cancelSoon(form);
    form.ScanBtnClick();
    EXPECT_EQ(desktop_.texts().size(), 4u);
    EXPECT_EQ(desktop_.texts()[2], "Search canceled.");
    EXPECT_EQ(desktop_.texts()[3], "1 pages searched");
    EXPECT_EQ(urls(form), std::vector<std::string>{server.url("/n.html")});
}

TEST_F(DownloadGalleryFormTest, AddsTheFilesOfAnNginxPage) {
    const char* port = std::getenv("FETCHORA_NGINX_PORT");
    if (port == nullptr)
        GTEST_SKIP() << "nginx is not running (FETCHORA_NGINX_PORT is unset)";
    const std::string root = std::string("http://127.0.0.1:") + port + "/";
    TDownloadGalleryForm form(queue_);
    form.SelectFiles(root + "index.html");
    ASSERT_EQ(form.FileList->topLevelItemCount(), 1);
    EXPECT_EQ(form.FileList->topLevelItem(0)->text(1), QStringLiteral("small"));
    form.Links->clear();
    fill(form, {{kLinkKind, "small", (root + "small.bin").c_str()},
                {kLinkKind, "medium", (root + "medium.bin").c_str()},
                {kLinkKind, "gone", (root + "gone.bin").c_str()}});
    form.AddBtnClick();
    ASSERT_EQ(queue_.count(), 2);
    EXPECT_EQ(queue_.at(0).FileSize, 1000);
    EXPECT_EQ(queue_.at(1).FileSize, 300000);
    EXPECT_EQ(shownErrors_.size(), 1u);
}

// The toolbar window's side: the queue saved after the dialog, the entries kept when the
// file changed meanwhile, nothing saved after an error.
TEST_F(DownloadGalleryFormTest, ToolbarSavesTheQueueAfterTheGalleryKeepingItsEntries) {
    LoopbackServer server;
    server.script({Exchange::reply(page("<a href=\"" + server.url("/f.zip") + "\">F</a>")),
                   Exchange::reply(sized(5))});
    const std::string listFile = sandbox_.libraryPath("downloads.txt");
    const std::string other = "http://other/o.zip\to.zip\t0\t7\r\n";
    TFetchoraForm toolbar;
    duringModal_ = [&](QDialog& dialog) {
        auto* gallery = dynamic_cast<TDownloadGalleryForm*>(&dialog);
        if (gallery == nullptr)
            return;
        gallery->AddBtnClick();
        // Another window saves the queue while the gallery is still open; the timer
        // ticks meanwhile.
        Sandbox::writeFile(listFile, other);
        ::utimes(listFile.c_str(), nullptr);
        toolbar.Timer1Timer();
        toolbar.Timer1Timer();
    };
    toolbar.OpenGallery(server.url("/page.html"));
    const std::string saved = Sandbox::readFile(listFile);
    EXPECT_NE(saved.find("http://other/o.zip"), std::string::npos);
    EXPECT_NE(saved.find(server.url("/f.zip")), std::string::npos)
        << "the gallery's entry outlives the reload";

    duringModal_ = [&](QDialog&) {
        Sandbox::writeFile(listFile, "");
        throw std::runtime_error("gallery failed");
    };
    server.script({Exchange::reply(page("none"))});
    EXPECT_THROW(toolbar.OpenGallery(server.url("/page.html")), std::runtime_error);
    EXPECT_EQ(Sandbox::readFile(listFile), "") << "nothing saved after an error";
}

TEST_F(DownloadGalleryFormTest, ToolbarKeepsTheGalleryClosedWhileARunHoldsTheQueue) {
    LoopbackServer server;
    const std::string folder = sandbox_.path("out");
    ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
    const std::string listFile = sandbox_.libraryPath("downloads.txt");
    const std::string queued = server.url("/a.bin") + "\ta.bin\t0\t3000\r\n";
    Sandbox::writeFile(listFile, queued);
    server.script({Exchange::pieces(
        {"HTTP/1.0 200 OK\r\nContent-Length: 3000\r\n\r\n" + std::string(1000, 'a'),
         std::string(2000, 'b')},
        300)});
    writeSettingText(settings::kFolder, folder);
    TFetchoraForm toolbar;
    toolbar.Timer1Timer();
    duringModal_ = [&](QDialog& dialog) {
        if (auto* options = dynamic_cast<TDownloadOptionsForm*>(&dialog)) {
            options->DestEdit->setText(QString::fromStdString(folder));
            options->Button1Click();
        }
    };
    std::string queueDuringGallery;
    bool opened = false;
    QObject::connect(&toolbar, &TFetchoraForm::statusTextChanged, [&](const QString& text) {
        if (opened || !text.startsWith(QStringLiteral("Downloading")))
            return;
        opened = true;
        toolbar.OpenGallery(server.url("/page.html"));
        queueDuringGallery = Sandbox::readFile(listFile);
    });
    toolbar.StartBtn->click();

    ASSERT_TRUE(opened);
    EXPECT_EQ(modals_, 1) << "only the destination dialog was shown";
    EXPECT_EQ(queueDuringGallery, queued) << "no save in the middle of the run";
    EXPECT_EQ(server.requests().size(), 1u);
    const std::vector<std::string> texts = desktop_.texts();
    ASSERT_FALSE(texts.empty());
    EXPECT_EQ(texts.front(), "Files cannot be picked from a page while a download is in "
                             "progress. Try again when it has ended.");
}

} // namespace
} // namespace fetchora
