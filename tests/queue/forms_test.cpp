// The queue's dialogs offscreen: the authorization prompt and its seam into the
// credential store, the "View Exceptions" dialog and the progress dialog.
#include "platform/qt/desktop.h"
#include "queue/credentials.h"
#include "queue/exception_form.h"
#include "queue/exception_list.h"
#include "queue/password_form.h"
#include "queue/progress_form.h"
#include "queue/queue_dialogs.h"
#include "support/sandbox.h"
#include "util/memo.h"

#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>

#include <gtest/gtest.h>

namespace fetchora {
namespace {

using testing::Sandbox;
using testing::ScriptedDesktop;

// Installs a script for modal dialogs and counts the dialogs it was given.
class ModalScript final {
public:
    explicit ModalScript(std::function<int(QDialog&)> script)
        : previous_(ui::setModalHook([this, script](QDialog& dialog) {
              ++shown_;
              return script(dialog);
          })) {}
    ~ModalScript() { ui::setModalHook(previous_); }
    ModalScript(const ModalScript&) = delete;
    ModalScript& operator=(const ModalScript&) = delete;

    int shown() const { return shown_; }

private:
    int shown_ = 0;
    ui::ModalHook previous_;
};

// Installs the queue's dialogs behind the hooks for the life of the object.
class InstalledDialogs final {
public:
    InstalledDialogs()
        : previousPrompt_(setCredentialPrompt(nullptr)), previousView_(setExceptionView(nullptr)) {
        installQueueDialogs();
    }
    ~InstalledDialogs() {
        setCredentialPrompt(previousPrompt_);
        setExceptionView(previousView_);
    }
    InstalledDialogs(const InstalledDialogs&) = delete;
    InstalledDialogs& operator=(const InstalledDialogs&) = delete;

private:
    CredentialPrompt previousPrompt_;
    ExceptionView previousView_;
};

// The objectNames of the components that Tab visits, in order.
std::vector<std::string> tabOrder(QWidget& form) {
    std::vector<std::string> names;
    for (QWidget* w = form.nextInFocusChain(); w != &form; w = w->nextInFocusChain()) {
        if ((w->focusPolicy() & Qt::TabFocus) != 0 && !w->objectName().isEmpty())
            names.push_back(w->objectName().toStdString());
    }
    return names;
}

TEST(PasswordForm, HasItsComponents) {
    TPasswordForm form;
    EXPECT_EQ(form.size(), QSize(461, 375));
    EXPECT_EQ(form.font().pixelSize(), 11);
    const std::pair<const char*, const char*> labels[] = {
        {"Label1", "This server requires authorization"},
        {"Label6", "Enter authorization"},
        {"Label4", "User Name"},
        {"Label5", "Password"},
        {"Label3", "Or, Double-click to use a previous authorization"},
        {"Label2", ""}};
    for (const auto& [name, caption] : labels) {
        auto* label = form.findChild<QLabel*>(QString::fromLatin1(name));
        ASSERT_NE(label, nullptr) << name;
        EXPECT_EQ(label->text().toStdString(), caption);
    }
    EXPECT_EQ(form.findChild<QLineEdit*>(QStringLiteral("UserEdit")), form.UserEdit);
    EXPECT_EQ(form.PassEdit->echoMode(), QLineEdit::Normal);
    EXPECT_EQ(form.findChild<QPushButton*>(QStringLiteral("OKBtn"))->text(), QStringLiteral("OK"));
    EXPECT_EQ(form.Button2->text(), QStringLiteral("Cancel"));
    ASSERT_EQ(form.ServerView->columnCount(), 3);
    EXPECT_EQ(form.ServerView->headerItem()->text(1), QStringLiteral("User Name"));
    for (int column = 0; column < 3; ++column)
        EXPECT_EQ(form.ServerView->columnWidth(column), 120);
    EXPECT_EQ(tabOrder(form),
              (std::vector<std::string>{"UserEdit", "PassEdit", "ServerView", "OKBtn", "Button2"}));
}

TEST(PasswordForm, OkNeedsAUserNameButNoPassword) {
    ScriptedDesktop desktop;
    TPasswordForm form;
    form.show();
    form.OKBtn->click();
    ASSERT_EQ(desktop.texts(), std::vector<std::string>{"Enter User Name."});
    EXPECT_EQ(desktop.messages[0].icon, ui::MessageIcon::None);
    EXPECT_TRUE(form.isVisible());
    EXPECT_EQ(form.result(), QDialog::Rejected);

    form.UserEdit->setText(QStringLiteral("me"));
    form.OKBtn->click();
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(form.result(), QDialog::Accepted);
    EXPECT_EQ(desktop.messages.size(), 1u);
}

TEST(PasswordForm, DoubleClickCopiesTheSelectedRow) {
    Sandbox sandbox;
    TPasswordList remembered;
    for (const char* name : {"one", "two"}) {
        TPassword& entry = remembered.Add();
        entry.Server = std::string(name) + ".example";
        entry.UserName = std::string("user-") + name;
        entry.Password = std::string("Pw-") + name;
    }
    TPasswordForm form;
    form.fill("host:8080", remembered);
    EXPECT_EQ(form.windowTitle(), QStringLiteral("host:8080"));
    ASSERT_EQ(form.ServerView->topLevelItemCount(), 2);

    form.ServerViewDblClick();
    EXPECT_TRUE(form.UserEdit->text().isEmpty());

    QTreeWidgetItem* row = form.ServerView->topLevelItem(1);
    EXPECT_EQ(row->text(0), QStringLiteral("two.example"));
    form.ServerView->setCurrentItem(row);
    emit form.ServerView->itemDoubleClicked(row, 0);
    EXPECT_EQ(form.UserEdit->text(), QStringLiteral("user-two"));
    EXPECT_EQ(form.PassEdit->text(), QStringLiteral("Pw-two"));
    EXPECT_EQ(form.result(), QDialog::Rejected);
}

TEST(PasswordForm, InstalledPromptAsksAndStoresWhatWasTyped) {
    Sandbox sandbox;
    ScriptedDesktop desktop;
    Sandbox::writeFile(sandbox.libraryPath("servers.txt"), "old.example\tu\tp\r\n");
    const InstalledDialogs dialogs;

    ModalScript script([](QDialog& dialog) {
        auto& form = dynamic_cast<TPasswordForm&>(dialog);
        EXPECT_EQ(form.windowTitle(), QStringLiteral("Host:81"));
        EXPECT_EQ(form.ServerView->topLevelItemCount(), 1);
        form.UserEdit->setText(QStringLiteral("Me"));
        form.PassEdit->setText(QStringLiteral("Se:cret"));
        form.OKBtn->click();
        return form.result();
    });
    std::string user;
    std::string password;
    ASSERT_TRUE(LookupCredentials("Host:81", false, user, password));
    EXPECT_EQ(script.shown(), 1);
    EXPECT_EQ(user, "Me");
    EXPECT_EQ(password, "Se:cret");
    EXPECT_EQ(Sandbox::readFile(sandbox.libraryPath("servers.txt")),
              "old.example\tu\tp\r\nHost:81\tMe\tSe:cret\r\n");

    {
        ModalScript cancel([](QDialog& dialog) {
            dynamic_cast<TPasswordForm&>(dialog).Button2->click();
            return dialog.result();
        });
        EXPECT_FALSE(LookupCredentials("other", false, user, password));
        EXPECT_EQ(cancel.shown(), 1);
        EXPECT_EQ(user, "");
    }
}

class ExceptionFormTest : public ::testing::Test {
protected:
    void SetUp() override { ExceptionList().clear(); }
    void TearDown() override { ExceptionList().clear(); }

    const InstalledDialogs dialogs_;
};

TEST_F(ExceptionFormTest, ShowsTheLinesAndOkEmptiesTheList) {
    AddException("Not Found", "http://h/a.zip");
    AddException("Connection aborted on request", "http://h/b.zip");
    AddException("URL does not refer to a file. File size is -1 [http://h/c]", "http://h/c");
    ASSERT_EQ(ExceptionList().size(), 3u);
    EXPECT_EQ(ExceptionList()[0], "* Not Found [http://h/a.zip]");

    ModalScript script([](QDialog& dialog) {
        auto& form = dynamic_cast<TExceptionForm&>(dialog);
        EXPECT_EQ(form.windowTitle(), QStringLiteral("View Exceptions"));
        EXPECT_EQ(form.size(), QSize(512, 349));
        EXPECT_EQ(form.Label1->text(),
                  QStringLiteral("The following exception(s) occured while downloading files"));
        EXPECT_TRUE(form.Memo1->isReadOnly());
        EXPECT_EQ(form.Memo1->size(), QSize(457, 217));
        EXPECT_EQ(form.Memo1->toPlainText(),
                  QStringLiteral("* Not Found [http://h/a.zip]\n"
                                 "* Connection aborted on request [http://h/b.zip]\n"
                                 "* URL does not refer to a file. File size is -1 [http://h/c] "
                                 "[http://h/c]"));
        form.Button1->click();
        EXPECT_TRUE(form.Memo1->toPlainText().isEmpty());
        return form.result();
    });
    ShowExceptions();
    EXPECT_EQ(script.shown(), 1);
    EXPECT_TRUE(ExceptionList().empty());

    ShowExceptions();
    EXPECT_EQ(script.shown(), 1) << "an empty list shows nothing";
}

TEST_F(ExceptionFormTest, ClosingOtherwiseKeepsTheLines) {
    AddException("Forbidden", "http://h/x");
    {
        ModalScript script([](QDialog& dialog) {
            dialog.reject();
            return dialog.result();
        });
        ShowExceptions();
        EXPECT_EQ(script.shown(), 1);
    }
    AddException("Forbidden", "http://h/x");
    EXPECT_EQ(ExceptionList(),
              (std::vector<std::string>{"* Forbidden [http://h/x]", "* Forbidden [http://h/x]"}));
}

TEST_F(ExceptionFormTest, MemoHoldsTheLinesWithCrLf) {
    AddException("Not Found", "http://h/a");
    AddException("Forbidden", "http://h/b");
    ModalScript script([](QDialog& dialog) {
        auto& form = dynamic_cast<TExceptionForm&>(dialog);
        EXPECT_EQ(form.Memo1->text(), "* Not Found [http://h/a]\r\n* Forbidden [http://h/b]");
        form.Memo1->setText(form.Memo1->text());
        form.Memo1->selectAll();
        form.Memo1->copy();
        return static_cast<int>(QDialog::Rejected);
    });
    ShowExceptions();
    EXPECT_EQ(QApplication::clipboard()->text().toStdString(),
              "* Not Found [http://h/a]\r\n* Forbidden [http://h/b]");
}

TEST(FormHandlers, AnErrorInAHandlerIsReportedAndStaysInIt) {
    ScriptedDesktop desktop;
    const ui::Hooks scripted = ui::currentHooks();
    ui::Hooks raising;
    raising.messageBox = [&scripted](const ui::MessageRequest& request) {
        if (request.title != "Error")
            throw std::runtime_error("no message box");
        return scripted.messageBox(request);
    };
    ui::installHooks(raising);
    TPasswordForm form;
    form.show();
    EXPECT_NO_THROW(form.OKBtn->click());
    EXPECT_EQ(desktop.texts(), std::vector<std::string>{"no message box"});
    EXPECT_TRUE(form.isVisible());
}

TEST(ProgressForm, CancelSetsTheFlagAndStaysOpen) {
    QWidget owner;
    TProgressForm form(&owner);
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Progress Dialog"));
    EXPECT_EQ(form.size(), QSize(355, 93));
    EXPECT_EQ(form.ProgressBar1->size(), QSize(321, 10));
    EXPECT_TRUE(form.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(form.Button1->text(), QStringLiteral("Cancel"));
    EXPECT_FALSE(form.Cancelled);

    form.show();
    form.Button1->click();
    EXPECT_TRUE(form.Cancelled);
    EXPECT_TRUE(form.isVisible());

    TProgressForm escaped(&owner);
    escaped.show();
    escaped.reject();
    EXPECT_TRUE(escaped.Cancelled);
    EXPECT_TRUE(escaped.isVisible());
}

} // namespace
} // namespace fetchora
