// TPasswordForm, the prompt that asks for the user name and password of a server that
// demands authorization and lists the remembered ones; the credential store asks through
// it once installQueueDialogs (queue_dialogs.h) has run.
#pragma once

#include <QDialog>

#include <string>

class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;

namespace fetchora {

class TPasswordList;

class TPasswordForm final : public QDialog {
    Q_OBJECT

public:
    explicit TPasswordForm(QWidget* parent = nullptr);

    // Shows server in the caption and one row per remembered entry.
    void fill(const std::string& server, const TPasswordList& remembered);

    QLabel* Image1;
    QLabel* Label1;
    QLabel* Label2;
    QLabel* Label6;
    QLabel* Label4;
    QLabel* Label5;
    QLineEdit* UserEdit;
    QLineEdit* PassEdit;
    QLabel* Label3;
    QTreeWidget* ServerView;
    QPushButton* OKBtn;
    QPushButton* Button2;

    // Closes with OK when a user name is entered, else asks for one and stays open.
    void OKBtnClick();
    // Copies the selected row's user name and password into the edits.
    void ServerViewDblClick();

    // Asks for the credentials of server in a new prompt shown modally: the credential
    // store's prompt. True with user and password filled when the user pressed OK.
    static bool ask(const std::string& server, const TPasswordList& remembered, std::string& user,
                    std::string& password);
};

} // namespace fetchora
