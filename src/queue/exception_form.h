// TExceptionForm, the "View Exceptions" dialog that shows the error list and empties it
// when the user presses OK; ShowExceptions (exception_list.h) shows it through its hook.
#pragma once

#include <QDialog>

#include <string>

class QLabel;
class QPushButton;

namespace fetchora {

class TMemo;

class TExceptionForm final : public QDialog {
    Q_OBJECT

public:
    explicit TExceptionForm(QWidget* parent = nullptr);

    QLabel* Image1;
    QLabel* Label1;
    TMemo* Memo1;
    QPushButton* Button1;

    // Empties Memo1 and the error list and closes with OK.
    void Button1Click();

    // Shows text (the error list, CR LF between lines) in a new dialog, modally: the view
    // of ShowExceptions.
    static void showText(const std::string& text);
};

} // namespace fetchora
