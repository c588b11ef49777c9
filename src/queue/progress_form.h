// TProgressForm, the stay-on-top progress dialog of long loops: a line of text, a bar and
// a Cancel button that only sets Cancelled, which the caller polls between its steps.
#pragma once

#include <QDialog>

class QLabel;
class QProgressBar;
class QPushButton;

namespace fetchora {

class TProgressForm final : public QDialog {
    Q_OBJECT

public:
    explicit TProgressForm(QWidget* parent = nullptr);

    QLabel* Label1;
    QProgressBar* ProgressBar1;
    QPushButton* Button1;

    // False when the dialog is created, true once Cancel was pressed.
    bool Cancelled = false;

    // Sets Cancelled; the dialog stays open.
    void Button1Click();

    // Escape and the close command count as Cancel and leave the dialog open as well.
    void reject() override;
};

} // namespace fetchora
