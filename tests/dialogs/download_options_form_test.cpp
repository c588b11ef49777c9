// The destination folder dialog: accepting, creating and browsing for the folder.
#include "dialogs/download_options_form.h"

#include "support/sandbox.h"
#include "util/settings.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace fetchora {
namespace {

using testing::Sandbox;
using testing::ScriptedDesktop;

class DownloadOptionsFormTest : public ::testing::Test {
protected:
    void SetUp() override { setSettingsKeyPath("Software\\Fetchora"); }

    Sandbox sandbox;
    ScriptedDesktop desktop;
    TDownloadOptionsForm form;

    void type(const std::string& text) { form.DestEdit->setText(QString::fromStdString(text)); }
    std::string folderSetting() { return readSettingText("Folder", "unset"); }
};

TEST_F(DownloadOptionsFormTest, OkWithAnExistingFolderStoresItAndCloses) {
    type(sandbox.root());
    form.Button1Click();
    EXPECT_EQ(form.result(), QDialog::Accepted);
    EXPECT_EQ(folderSetting(), sandbox.root());
    EXPECT_TRUE(desktop.messages.empty());
}

TEST_F(DownloadOptionsFormTest, MissingFolderIsCreatedOnceThenReportedAsExisting) {
    const std::string folder = sandbox.path("new");
    type(folder);
    form.Button1Click();
    EXPECT_NE(form.result(), QDialog::Accepted);
    form.CreateLabelClick();
    form.CreateLabelClick();
    EXPECT_EQ(desktop.texts(),
              (std::vector<std::string>{folder + " does not exist. Press create this folder.",
                                        folder + " created.", folder + " exists."}));
    struct stat st {};
    EXPECT_EQ(::stat(folder.c_str(), &st), 0);
    // Cancel does not undo what Create this folder stored.
    form.reject();
    EXPECT_EQ(folderSetting(), folder);
}

TEST_F(DownloadOptionsFormTest, CreatesOnlyOneLevelAndTreatsEmptyTextAsMissing) {
    const std::string deep = sandbox.path("a/b");
    type(deep);
    form.CreateLabelClick();
    type("");
    form.CreateLabelClick();
    form.Button1Click();
    EXPECT_EQ(desktop.texts(),
              (std::vector<std::string>{"Unable to create " + deep + ". Change folder.",
                                        "Unable to create . Change folder.",
                                        " does not exist. Press create this folder."}));
    EXPECT_EQ(folderSetting(), "unset");
}

TEST_F(DownloadOptionsFormTest, BrowseFillsTheEditOnlyWhenAFolderWasPicked) {
    type("/kept");
    desktop.folders.push_back(std::nullopt);
    form.BrowseBtnClick();
    EXPECT_EQ(form.DestEdit->text().toStdString(), "/kept");
    desktop.folders.push_back(sandbox.root());
    form.BrowseBtnClick();
    EXPECT_EQ(form.DestEdit->text().toStdString(), sandbox.root());
}

} // namespace
} // namespace fetchora
