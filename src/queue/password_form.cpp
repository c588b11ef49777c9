// The authorization prompt.
#include "queue/password_form.h"

#include "platform/qt/desktop.h"
#include "queue/credentials.h"
#include "util/form_builder.h"
#include "util/messages.h"

#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QTreeWidget>

namespace fetchora {

namespace {

constexpr int kColumnWidth = 120;

} // namespace

TPasswordForm::TPasswordForm(QWidget* parent) : QDialog(parent) {
    using forms::component;
    // The caption is the server's, set by fill.
    forms::setUpForm(*this, "PasswordForm", "", {461, 375}, forms::Border::DialogWithoutIcons,
                     forms::Placement::OnDesktop);

    Image1 = component<QLabel>(this, "Image1", 8, 8, 32, 32);
    Image1->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxQuestion).pixmap(32, 32));

    Label1 = component<QLabel>(this, "Label1", 48, 12, 400, 16);
    Label1->setText(QStringLiteral("This server requires authorization"));
    Label2 = component<QLabel>(this, "Label2", 48, 30, 400, 16);

    Label6 = component<QLabel>(this, "Label6", 8, 76, 110, 16);
    Label6->setText(QStringLiteral("Enter authorization"));
    Label4 = component<QLabel>(this, "Label4", 128, 56, 200, 16);
    Label4->setText(QStringLiteral("User Name"));
    UserEdit = component<QLineEdit>(this, "UserEdit", 128, 72, 220, 21);
    Label5 = component<QLabel>(this, "Label5", 128, 100, 200, 16);
    Label5->setText(QStringLiteral("Password"));
    PassEdit = component<QLineEdit>(this, "PassEdit", 128, 116, 220, 21);

    Label3 = component<QLabel>(this, "Label3", 8, 152, 445, 16);
    Label3->setText(QStringLiteral("Or, Double-click to use a previous authorization"));
    ServerView = component<QTreeWidget>(this, "ServerView", 8, 170, 445, 160);
    ServerView->setRootIsDecorated(false);
    ServerView->setSelectionMode(QAbstractItemView::SingleSelection);
    ServerView->setSelectionBehavior(QAbstractItemView::SelectRows);
    ServerView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ServerView->setHeaderLabels(
        {QStringLiteral("Server"), QStringLiteral("User Name"), QStringLiteral("Password")});
    for (int column = 0; column < 3; ++column)
        ServerView->setColumnWidth(column, kColumnWidth);

    OKBtn = component<QPushButton>(this, "OKBtn", 296, 340, 75, 25);
    OKBtn->setText(QStringLiteral("OK"));
    OKBtn->setDefault(true);
    Button2 = component<QPushButton>(this, "Button2", 378, 340, 75, 25);
    Button2->setText(QStringLiteral("Cancel"));

    setTabOrder(UserEdit, PassEdit);
    setTabOrder(PassEdit, ServerView);
    setTabOrder(ServerView, OKBtn);
    setTabOrder(OKBtn, Button2);
    UserEdit->setFocus();

    forms::connectHandler(OKBtn, &QPushButton::clicked, this, &TPasswordForm::OKBtnClick);
    connect(Button2, &QPushButton::clicked, this, &QDialog::reject);
    forms::connectHandler(ServerView, &QTreeWidget::itemDoubleClicked, this,
                          &TPasswordForm::ServerViewDblClick);
}

void TPasswordForm::fill(const std::string& server, const TPasswordList& remembered) {
    setWindowTitle(ui::toQString(server));
    ServerView->clear();
    for (int i = 0; i < remembered.count(); ++i) {
        const TPassword& entry = remembered[i];
        auto* row = new QTreeWidgetItem(ServerView);
        row->setText(0, ui::toQString(entry.Server));
        row->setText(1, ui::toQString(entry.UserName));
        row->setText(2, ui::toQString(entry.Password));
    }
}

void TPasswordForm::OKBtnClick() {
    if (UserEdit->text().isEmpty()) {
        showMessage("Enter User Name.");
        return;
    }
    accept();
}

void TPasswordForm::ServerViewDblClick() {
    const QList<QTreeWidgetItem*> selected = ServerView->selectedItems();
    if (selected.isEmpty())
        return;
    UserEdit->setText(selected.front()->text(1));
    PassEdit->setText(selected.front()->text(2));
}

bool TPasswordForm::ask(const std::string& server, const TPasswordList& remembered,
                        std::string& user, std::string& password) {
    TPasswordForm form;
    form.fill(server, remembered);
    if (ui::showModal(form) != QDialog::Accepted)
        return false;
    user = ui::fromQString(form.UserEdit->text());
    password = ui::fromQString(form.PassEdit->text());
    return true;
}

} // namespace fetchora
