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

    Sandbox sandbox_;
    ScriptedDesktop desktop_;
    TDownloadOptionsForm form_;

    void type(const std::string& text) { form_.DestEdit->setText(QString::fromStdString(text)); }
    std::string folderSetting() { return readSettingText("Folder", "unset"); }
};

TEST_F(DownloadOptionsFormTest, OkWithAnExistingFolderStoresItAndCloses) {
    type(sandbox_.root());
    form_.Button1Click();
    EXPECT_EQ(form_.result(), QDialog::Accepted);
    EXPECT_EQ(folderSetting(), sandbox_.root());
    EXPECT_TRUE(desktop_.messages.empty());
}

TEST_F(DownloadOptionsFormTest, MissingFolderIsCreatedOnceThenReportedAsExisting) {
    const std::string folder = sandbox_.path("new");
    type(folder);
    form_.Button1Click();
    EXPECT_NE(form_.result(), QDialog::Accepted);
    form_.CreateLabelClick();
    form_.CreateLabelClick();
    EXPECT_EQ(desktop_.texts(),
              (std::vector<std::string>{folder + " does not exist. Press create this folder.",
                                        folder + " created.", folder + " exists."}));
    struct stat st {};
    EXPECT_EQ(::stat(folder.c_str(), &st), 0);
    // Cancel does not undo what Create this folder stored.
    form_.reject();
    EXPECT_EQ(folderSetting(), folder);
}

TEST_F(DownloadOptionsFormTest, CreatesOnlyOneLevelAndTreatsEmptyTextAsMissing) {
    const std::string deep = sandbox_.path("a/b");
    type(deep);
    form_.CreateLabelClick();
    type("");
    form_.CreateLabelClick();
    form_.Button1Click();
    EXPECT_EQ(desktop_.texts(),
              (std::vector<std::string>{"Unable to create " + deep + ". Change folder.",
                                        "Unable to create . Change folder.",
                                        " does not exist. Press create this folder."}));
    EXPECT_EQ(folderSetting(), "unset");
}

TEST_F(DownloadOptionsFormTest, BrowseFillsTheEditOnlyWhenAFolderWasPicked) {
    type("/kept");
    desktop_.folders.push_back(std::nullopt);
    form_.BrowseBtnClick();
    EXPECT_EQ(form_.DestEdit->text().toStdString(), "/kept");
    desktop_.folders.push_back(sandbox_.root());
    form_.BrowseBtnClick();
    EXPECT_EQ(form_.DestEdit->text().toStdString(), sandbox_.root());
}

} // namespace
} // namespace fetchora
