// The toolbar window: start-up, the polling of the queue file and the status texts.
#include "toolbar/fetchora_form.h"
#include "toolbar/status_panel.h"

#include "platform/registry.h"
#include "queue/download_list.h"
#include "support/sandbox.h"
#include "util/settings.h"

#include <QApplication>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include <sys/time.h>

namespace fetchora {
namespace {

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
    Sandbox sandbox;
    ScriptedDesktop desktop;
    std::string listFile = sandbox.libraryPath("downloads.txt");
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
    EXPECT_EQ(form.FListFile, listFile);
}

TEST_F(FetchoraFormTest, StartUpCreatesTheQueueFileAndStoresTheDefaults) {
    TFetchoraForm form;
    EXPECT_EQ(Sandbox::readFile(listFile), "");
    EXPECT_EQ(settingsKeyPath(), "Software\\Fetchora");
    EXPECT_EQ(readSettingText("Types", "other"), "jpg,jpeg,avi,mpg,mpeg,mp3,wmv,exe,zip,rar,pdf");
    EXPECT_EQ(readSettingText("Sound", "other"), "Y");
    EXPECT_TRUE(desktop.messages.empty());
}

TEST_F(FetchoraFormTest, TickFollowsChangedUnchangedAndDeletedQueueFile) {
    TFetchoraForm form;
    form.Timer1Timer();
    EXPECT_EQ(status(form), "Press Select files or drag link here");

    Sandbox::writeFile(listFile,
                       "http://h/a.zip\ta.zip\t0\t10\r\nhttp://h/b.zip\tb.zip\t0\t20\r\n");
    touch(listFile, 1700000000);
    form.Timer1Timer();
    EXPECT_EQ(status(form), "2 file(s) ready - press Start");
    EXPECT_EQ(form.FDownloads->count(), 2);

    // Same stamp: the new content is not noticed.
    Sandbox::writeFile(listFile, "http://h/a.zip\ta.zip\t0\t10\r\n");
    touch(listFile, 1700000000);
    form.SetStatusText("unchanged");
    form.Timer1Timer();
    EXPECT_EQ(status(form), "unchanged");

    touch(listFile, 1700000010);
    form.Timer1Timer();
    EXPECT_EQ(status(form), "1 file(s) ready - press Start");

    // A deleted file stops polling and shows the error once.
    ASSERT_EQ(std::remove(listFile.c_str()), 0);
    form.Timer1Timer();
    EXPECT_FALSE(form.Timer1->isActive());
    ASSERT_EQ(desktop.messages.size(), 1u);
    EXPECT_EQ(desktop.messages[0].title, "Error");
    EXPECT_NE(desktop.messages[0].text.find("Cannot open file \"" + listFile + "\""),
              std::string::npos);
}

TEST_F(FetchoraFormTest, DamagedQueueAtStartUpKeepsTheEntriesBeforeItAndReportsTheError) {
    Sandbox::writeFile(listFile,
                       "http://h/a.zip\ta.zip\t0\t10\r\nbroken\r\nhttp://h/c.zip\tc.zip\t0\t5\r\n");
    TFetchoraForm form;
    ASSERT_TRUE(form.FDownloads);
    EXPECT_EQ(form.FDownloads->count(), 1);
    ASSERT_EQ(desktop.messages.size(), 1u);
    EXPECT_EQ(desktop.messages[0].text, "List index out of bounds (1)");
    EXPECT_EQ(status(form), "Loading...");
}

TEST_F(FetchoraFormTest, RunningStatusShowsTheEntryProgressAndSurvivesAZeroSize) {
    TFetchoraForm form;
    form.Timer1Timer();
    TDownload* current = &form.FDownloads->Add(std::make_unique<TDownload>());
    current->FileSize = 200;
    current->Downloaded = 5; // 2.5 % rounds to the even neighbour
    form.FRunning = true;
    form.FRunTotal = 3;
    form.FCurrent = current;
    form.UpdateStatus();
    EXPECT_EQ(status(form), "Downloading 3 of 3 [2%]");
    current->Downloaded = 7; // 3.5 %
    form.UpdateStatus();
    EXPECT_EQ(status(form), "Downloading 3 of 3 [4%]");
    current->FileSize = 0;
    form.UpdateStatus();
    EXPECT_EQ(status(form), "Downloading 3 of 3 [0%]");
    form.FCurrent = nullptr;
    form.SetStatusText("kept");
    form.UpdateStatus();
    EXPECT_EQ(status(form), "kept");
    form.FRunning = false;
}

} // namespace
} // namespace fetchora
