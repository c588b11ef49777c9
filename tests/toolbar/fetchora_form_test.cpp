// The toolbar window: start-up, the polling of the queue file, the status texts and the
// run started from its buttons.
#include "toolbar/fetchora_form.h"
#include "toolbar/status_panel.h"
#include "toolbar/transfer_run.h"

#include "dialogs/download_options_form.h"
#include "platform/qt/desktop.h"

#include "platform/registry.h"
#include "queue/download_list.h"
#include "support/loopback_server.h"
#include "support/sandbox.h"
#include "util/settings.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/time.h>

namespace fetchora {
namespace {

using testing::Exchange;
using testing::LoopbackServer;
using testing::Sandbox;
using testing::ScriptedDesktop;

// Gives the file a modification time of its own, so the two-second stamps differ.
void touch(const std::string& path, time_t seconds) {
    const timeval times[2] = {{seconds, 0}, {seconds, 0}};
    ASSERT_EQ(::utimes(path.c_str(), times), 0);
}

std::string status(const TFetchoraForm& form) {
    return form.ProgLabel->text().toStdString();
}

class FetchoraFormTest : public ::testing::Test {
protected:
    Sandbox sandbox_;
    ScriptedDesktop desktop_;
    std::string listFile_ = sandbox_.libraryPath("downloads.txt");
};

TEST_F(FetchoraFormTest, ShowsTheRowOfButtonsAndLoadingUntilTheFirstTick) {
    TFetchoraForm form;
    const std::pair<const char*, const char*> buttons[] = {
        {"ToolButton9", "Select files to download"},
        {"StartBtn", "Start"},
        {"StopBtn", "Stop"},
        {"EditBtn", "Edit file list"},
        {"ToolButton6", "Settings"},
        {"HelpBtn", "Help"}};
    for (const auto& [name, caption] : buttons) {
        auto* button = form.findChild<QToolButton*>(QString::fromUtf8(name));
        ASSERT_NE(button, nullptr) << name;
        EXPECT_EQ(button->text().toStdString(), caption);
        EXPECT_TRUE(button->toolTip().isEmpty()) << "hints are never shown";
    }
    EXPECT_EQ(status(form), "Loading...");
    EXPECT_TRUE(form.Timer1->isActive());
    EXPECT_EQ(form.Timer1->interval(), 2000);
    EXPECT_EQ(form.listFile(), listFile_);
}

TEST_F(FetchoraFormTest, StartUpCreatesTheQueueFileAndStoresTheDefaults) {
    TFetchoraForm form;
    EXPECT_EQ(Sandbox::readFile(listFile_), "");
    EXPECT_EQ(settingsKeyPath(), "Software\\Fetchora");
    EXPECT_EQ(readSettingText("Types", "other"), "jpg,jpeg,avi,mpg,mpeg,mp3,wmv,exe,zip,rar,pdf");
    EXPECT_EQ(readSettingText("Sound", "other"), "Y");
    EXPECT_TRUE(desktop_.messages.empty());
}

TEST_F(FetchoraFormTest, TickFollowsChangedUnchangedAndDeletedQueueFile) {
    TFetchoraForm form;
    form.Timer1Timer();
    EXPECT_EQ(status(form), "Press Select files or drag link here");

    Sandbox::writeFile(listFile_,
                       "http://h/a.zip\ta.zip\t0\t10\r\nhttp://h/b.zip\tb.zip\t0\t20\r\n");
    touch(listFile_, 1700000000);
    form.Timer1Timer();
    EXPECT_EQ(status(form), "2 file(s) ready - press Start");
    EXPECT_EQ(form.downloads().count(), 2);

    // Same stamp: the new content is not noticed.
    Sandbox::writeFile(listFile_, "http://h/a.zip\ta.zip\t0\t10\r\n");
    touch(listFile_, 1700000000);
    form.SetStatusText("unchanged");
    form.Timer1Timer();
    EXPECT_EQ(status(form), "unchanged");

    touch(listFile_, 1700000010);
    form.Timer1Timer();
    EXPECT_EQ(status(form), "1 file(s) ready - press Start");

    // A deleted file stops polling and shows the error once.
    ASSERT_EQ(std::remove(listFile_.c_str()), 0);
    form.Timer1Timer();
    EXPECT_FALSE(form.Timer1->isActive());
    ASSERT_EQ(desktop_.messages.size(), 1u);
    EXPECT_EQ(desktop_.messages[0].title, "Error");
    EXPECT_NE(desktop_.messages[0].text.find("Cannot open file \"" + listFile_ + "\""),
              std::string::npos);
}

TEST_F(FetchoraFormTest, DamagedQueueAtStartUpKeepsTheEntriesBeforeItAndReportsTheError) {
    Sandbox::writeFile(listFile_,
                       "http://h/a.zip\ta.zip\t0\t10\r\nbroken\r\nhttp://h/c.zip\tc.zip\t0\t5\r\n");
    TFetchoraForm form;
    EXPECT_EQ(form.downloads().count(), 1);
    ASSERT_EQ(desktop_.messages.size(), 1u);
    EXPECT_EQ(desktop_.messages[0].text, "List index out of bounds (1)");
    EXPECT_EQ(status(form), "Loading...");
}

TEST_F(FetchoraFormTest, StartAsksForTheFolderAndRunsTheQueueInTheStatusField) {
    LoopbackServer server;
    const std::string folder = sandbox_.path("out");
    ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
    Sandbox::writeFile(listFile_, server.url("/a.bin") + "\ta.bin\t0\t1536\r\n");
    server.script({Exchange::reply("HTTP/1.0 200 OK\r\nContent-Length: 1536\r\n\r\n" +
                                   std::string(1536, 'a'))});
    TFetchoraForm form;
    form.Timer1Timer();

    bool accept = false;
    std::string fileLabel;
    const ui::ModalHook previous = ui::setModalHook([&](QDialog& dialog) {
        auto* options = dynamic_cast<TDownloadOptionsForm*>(&dialog);
        if (options == nullptr || !accept)
            return static_cast<int>(QDialog::Rejected);
        fileLabel = options->FileLabel->text().toStdString();
        options->DestEdit->setText(QString::fromStdString(folder));
        options->Button1Click();
        return options->result();
    });
    form.StartBtn->click(); // rejected: no run
    EXPECT_TRUE(server.requests().empty());

    accept = true;
    std::vector<QColor> colours;
    QObject::connect(&form, &TFetchoraForm::statusTextChanged, [&](const QString&) {
        colours.push_back(form.Panel->palette().color(QPalette::Window));
    });
    form.StartBtn->click();
    ui::setModalHook(previous);

    EXPECT_EQ(fileLabel, "1 files - 1.5 KB");
    EXPECT_EQ(Sandbox::readFile(folder + "/a.bin"), std::string(1536, 'a'));
    ASSERT_FALSE(colours.empty());
    EXPECT_EQ(colours.front(), TFetchoraForm::runningColour());
    EXPECT_EQ(form.Panel->palette().color(QPalette::Window), TFetchoraForm::idleColour());
    EXPECT_EQ(status(form), "Download complete");
    EXPECT_EQ(desktop_.beeps, 1);
    EXPECT_TRUE(form.Timer1->isActive());
    EXPECT_FALSE(form.transferRun().running());

    form.StopBtn->click();
    EXPECT_EQ(desktop_.texts(), std::vector<std::string>{
                                    "Download process is not running. Press Start to download."});
    // The next tick sees the saved, empty queue.
    touch(listFile_, 1700000020);
    form.Timer1Timer();
    EXPECT_EQ(status(form), "Press Select files or drag link here");
}

} // namespace
} // namespace fetchora
