// The progress dialog.
#include "queue/progress_form.h"

#include "util/form_builder.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

namespace fetchora {

TProgressForm::TProgressForm(QWidget* parent) : QDialog(parent) {
    using forms::component;
    forms::setUpForm(*this, "ProgressForm", "Progress Dialog", {355, 93},
                     forms::Border::DialogWithoutIcons, forms::Placement::OnOwner,
                     forms::Stacking::StaysOnTop);

    Label1 = component<QLabel>(this, "Label1", 17, 12, 321, 16);
    ProgressBar1 = component<QProgressBar>(this, "ProgressBar1", 17, 34, 321, 10);
    ProgressBar1->setTextVisible(false);
    Button1 = component<QPushButton>(this, "Button1", 140, 56, 75, 25);
    Button1->setText(QStringLiteral("Cancel"));

    forms::connectHandler(Button1, &QPushButton::clicked, this, &TProgressForm::Button1Click);
}

void TProgressForm::Button1Click() {
    Cancelled = true;
}

void TProgressForm::reject() {
    Button1Click();
}

} // namespace fetchora
