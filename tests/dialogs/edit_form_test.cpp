// The queue editor: its rows, the row menu and its commands, the three list changes as
// the queue file keeps them, and the toolbar window that sees them on its next tick.
#include "dialogs/edit_form.h"

#include "platform/qt/desktop.h"
#include "platform/resources/resource_table.h"
#include "platform/resources/track_popup_menu.h"
#include "platform/ui.h"
#include "queue/download_list.h"
#include "support/sandbox.h"
#include "toolbar/fetchora_form.h"
#include "toolbar/status_panel.h"

#include <QApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QToolButton>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <sys/time.h>

namespace fetchora {
namespace {

using resources::HMENU;
using testing::Sandbox;
using testing::ScriptedDesktop;

// W, X, Y, Z in this order; their addresses sort in another order, which the save must
// not keep.
const char* const kQueue = "http://h/w.zip\tw.zip\t0\t1500\r\n"
                           "http://h/b/x.zip\tx.zip\t0\t20\r\n"
                           "http://h/y.zip\ty.zip\t5\t30\r\n"
                           "http://h/a/z.zip\tz.zip\t0\t40\r\n";

class EditFormTest : public ::testing::Test {
protected:
    EditFormTest() {
        Sandbox::writeFile(listFile_, kQueue);
        previousHook_ = resources::setTrackPopupHook(
            [this](HMENU menu, unsigned flags, QPoint, QWidget* owner) -> unsigned {
                menus_.push_back(GetMenuString(menu, 0, resources::MF_BYPOSITION));
                EXPECT_NE(flags & resources::TPM_RETURNCMD, 0u);
                EXPECT_NE(owner, nullptr);
                return resources::findMenuCommand(menu, choice_);
            });
    }
    ~EditFormTest() override { resources::setTrackPopupHook(std::move(previousHook_)); }

    // Opens the row menu and picks the item that says text.
    void choose(TEditForm& form, const std::string& text) {
        choice_ = text;
        form.FileListMouseDown(Qt::RightButton);
    }

    static void check(TEditForm& form, std::initializer_list<int> rows) {
        for (const int row : rows)
            form.FileList->topLevelItem(row)->setCheckState(0, Qt::Checked);
    }

    static std::vector<std::string> rows(const TEditForm& form) {
        std::vector<std::string> captions;
        captions.reserve(static_cast<size_t>(form.FileList->topLevelItemCount()));
        for (int i = 0; i < form.FileList->topLevelItemCount(); ++i)
            captions.push_back(form.FileList->topLevelItem(i)->text(0).toStdString());
        return captions;
    }

    static int checkedRows(const TEditForm& form) {
        int count = 0;
        for (int i = 0; i < form.FileList->topLevelItemCount(); ++i)
            count += form.FileList->topLevelItem(i)->checkState(0) == Qt::Checked ? 1 : 0;
        return count;
    }

    // The addresses of the queue file, in file order.
    std::vector<std::string> fileOrder() const {
        std::vector<std::string> urls;
        const std::string text = Sandbox::readFile(listFile_);
        for (size_t start = 0; start < text.size();) {
            const size_t end = text.find("\r\n", start);
            const std::string line = text.substr(start, end - start);
            urls.push_back(line.substr(0, line.find('\t')));
            start = end == std::string::npos ? text.size() : end + 2;
        }
        return urls;
    }

    Sandbox sandbox_;
    ScriptedDesktop desktop_;
    std::string listFile_ = sandbox_.libraryPath("downloads.txt");
    std::string choice_;
    std::vector<std::string> menus_;
    resources::TrackPopupHook previousHook_;
};

const std::vector<std::string> kW_X_Y_Z = {"http://h/w.zip", "http://h/b/x.zip", "http://h/y.zip",
                                           "http://h/a/z.zip"};

TEST_F(EditFormTest, ShowsTheQueueInItsOrderUncheckedWithSizes) {
    TEditForm form;
    EXPECT_EQ(form.windowTitle().toStdString(), "Edit File List");
    EXPECT_EQ(form.Label1->text().toStdString(), "The following files are ready to download. ");
    EXPECT_EQ(form.Label3->text().toStdString(), "Right-click for options");
    EXPECT_EQ(form.Button1->text().toStdString(), "Close");
    EXPECT_EQ(form.ListFile, listFile_);
    EXPECT_EQ(rows(form), kW_X_Y_Z);
    EXPECT_EQ(form.FileList->topLevelItem(0)->text(1).toStdString(), "1.5 KB");
    EXPECT_EQ(form.FileList->topLevelItem(1)->text(1).toStdString(), "20 Bytes");
    EXPECT_EQ(checkedRows(form), 0);
    EXPECT_EQ(form.FileList->topLevelItem(0)->checkState(0), Qt::Unchecked) << "a check box";
    form.Button1->click();
    EXPECT_EQ(form.result(), QDialog::Accepted);
    EXPECT_EQ(form.Downloads, nullptr) << "freed when the dialog closes";
}

TEST_F(EditFormTest, MovesCheckedToTopOrBottomKeepingEachGroupsOrder) {
    const std::pair<const char*, std::vector<std::string>> cases[] = {
        {"Move checked to top",
         {"http://h/b/x.zip", "http://h/a/z.zip", "http://h/w.zip", "http://h/y.zip"}},
        {"Move checked to bottom",
         {"http://h/w.zip", "http://h/y.zip", "http://h/b/x.zip", "http://h/a/z.zip"}},
    };
    for (const auto& [command, order] : cases) {
        Sandbox::writeFile(listFile_, kQueue);
        TEditForm form;
        check(form, {1, 3});
        choose(form, command);
        EXPECT_EQ(fileOrder(), order) << command;
        EXPECT_EQ(rows(form), order) << command;
        EXPECT_EQ(checkedRows(form), 0) << command;
        EXPECT_EQ(form.Downloads->at(0).Order, 0);
        EXPECT_EQ(form.Downloads->at(3).Order, 3);
    }
    EXPECT_EQ(menus_, (std::vector<std::string>{"View selected file in browser...",
                                                "View selected file in browser..."}));
    // The counts and sizes travel with their entries.
    EXPECT_NE(Sandbox::readFile(listFile_).find("http://h/y.zip\ty.zip\t5\t30\r\n"),
              std::string::npos);
}

TEST_F(EditFormTest, WithNothingCheckedTheChangesKeepTheOrderAndStillRewriteTheFile) {
    for (const char* command :
         {"Move checked to top", "Move checked to bottom", "Delete checked from list"}) {
        // A count that is not a number reads as 0; a rewritten file says 0.
        Sandbox::writeFile(listFile_, std::string(kQueue) + "http://h/v.zip\tv.zip\tmany\t9\r\n");
        TEditForm form;
        choose(form, command);
        std::vector<std::string> order = kW_X_Y_Z;
        order.emplace_back("http://h/v.zip");
        EXPECT_EQ(fileOrder(), order) << command;
        EXPECT_NE(Sandbox::readFile(listFile_).find("http://h/v.zip\tv.zip\t0\t9\r\n"),
                  std::string::npos)
            << command;
    }
}

TEST_F(EditFormTest, DeletesCheckedRowsAndEveryRowToAnEmptyFile) {
    TEditForm form;
    check(form, {0, 2});
    choose(form, "Delete checked from list");
    EXPECT_EQ(fileOrder(), (std::vector<std::string>{"http://h/b/x.zip", "http://h/a/z.zip"}));
    EXPECT_EQ(form.Downloads->count(), 2);

    choose(form, "Check all");
    EXPECT_EQ(checkedRows(form), 2);
    choose(form, "Uncheck all");
    EXPECT_EQ(checkedRows(form), 0);
    choose(form, "Check all");
    choose(form, "Delete checked from list");
    EXPECT_EQ(Sandbox::readFile(listFile_), "");
    EXPECT_EQ(form.FileList->topLevelItemCount(), 0);
    EXPECT_TRUE(desktop_.messages.empty());
}

TEST_F(EditFormTest, ViewOpensTheSelectedAddressOrAsksForASelection) {
    TEditForm form;
    choose(form, "View selected file in browser...");
    EXPECT_EQ(desktop_.texts(), std::vector<std::string>{"Select a file."});
    EXPECT_TRUE(desktop_.openedAddresses.empty());

    form.FileList->topLevelItem(2)->setSelected(true);
    choose(form, "View selected file in browser...");
    EXPECT_EQ(desktop_.openedAddresses, std::vector<std::string>{"http://h/y.zip"});
    EXPECT_EQ(desktop_.messages.size(), 1u);
}

TEST_F(EditFormTest, RightPressOnARowSelectsItAndOpensTheMenuOtherButtonsDoNot) {
    TEditForm form;
    form.resize(477, 469);
    form.show();
    QApplication::processEvents();
    QWidget* viewport = form.FileList->viewport();
    const QPoint onY = form.FileList->visualItemRect(form.FileList->topLevelItem(2)).center();
    const auto press = [&](Qt::MouseButton button) {
        QMouseEvent event(QEvent::MouseButtonPress, onY, viewport->mapToGlobal(onY), button, button,
                          Qt::NoModifier);
        QApplication::sendEvent(viewport, &event);
    };
    choice_ = "View selected file in browser...";
    press(Qt::LeftButton);
    EXPECT_TRUE(menus_.empty());
    form.FileList->clearSelection();
    press(Qt::RightButton);
    EXPECT_EQ(menus_.size(), 1u);
    EXPECT_EQ(desktop_.openedAddresses, std::vector<std::string>{"http://h/y.zip"});
}

TEST_F(EditFormTest, DamagedFileLeavesTheListEmptyAndAChangeWritesNothing) {
    const std::string damaged =
        "http://h/w.zip\tw.zip\t0\t1\r\nbroken\r\nhttp://h/x.zip\tx\t0\t2\r\n";
    Sandbox::writeFile(listFile_, damaged);
    TEditForm form;
    EXPECT_EQ(desktop_.texts(), std::vector<std::string>{"List index out of bounds (1)"});
    EXPECT_EQ(form.FileList->topLevelItemCount(), 0);
    // The one entry read before the damage has no row; saving it would cut the queue.
    EXPECT_THROW(choose(form, "Delete checked from list"), ListError);
    EXPECT_THROW(choose(form, "Move checked to top"), ListError);
    EXPECT_EQ(Sandbox::readFile(listFile_), damaged);
}

// Gives the file a modification time of its own, so the two-second stamps differ.
void touch(const std::string& path, time_t seconds) {
    const timeval times[2] = {{seconds, 0}, {seconds, 0}};
    ASSERT_EQ(::utimes(path.c_str(), times), 0);
}

TEST_F(EditFormTest, ToolbarShowsTheNewOrderAfterItsNextTick) {
    TFetchoraForm toolbar;
    toolbar.Timer1Timer();
    ASSERT_EQ(toolbar.downloads().count(), 4);

    bool shown = false;
    const ui::ModalHook previous = ui::setModalHook([&](QDialog& dialog) {
        auto* editor = dynamic_cast<TEditForm*>(&dialog);
        EXPECT_NE(editor, nullptr);
        if (editor == nullptr)
            return static_cast<int>(QDialog::Rejected);
        shown = true;
        EXPECT_EQ(editor->parent(), nullptr) << "the editor has no owner";
        check(*editor, {3});
        choose(*editor, "Move checked to top");
        return static_cast<int>(QDialog::Accepted);
    });
    toolbar.EditBtn->click();
    ui::setModalHook(previous);
    ASSERT_TRUE(shown);

    touch(listFile_, 1700000000);
    toolbar.Timer1Timer();
    std::vector<std::string> order;
    order.reserve(static_cast<size_t>(toolbar.downloads().count()));
    for (int i = 0; i < toolbar.downloads().count(); ++i)
        order.push_back(toolbar.downloads()[i].URL);
    EXPECT_EQ(order, (std::vector<std::string>{"http://h/a/z.zip", "http://h/w.zip",
                                               "http://h/b/x.zip", "http://h/y.zip"}));
    EXPECT_EQ(toolbar.ProgLabel->text().toStdString(), "4 file(s) ready - press Start");
    EXPECT_TRUE(desktop_.messages.empty());
}

} // namespace
} // namespace fetchora
