// The "View Exceptions" dialog.
#include "queue/exception_form.h"

#include "platform/qt/desktop.h"
#include "queue/exception_list.h"
#include "util/form_builder.h"
#include "util/form_style.h"
#include "util/memo.h"

#include <QLabel>
#include <QPushButton>
#include <QStyle>

namespace fetchora {

TExceptionForm::TExceptionForm(QWidget* parent) : QDialog(parent) {
    using forms::component;
    forms::setUpForm(*this, "ExceptionForm", "View Exceptions", {512, 349},
                     forms::Border::DialogWithoutIcons);

    // Button1 is made first so that it is first in the tab order.
    Button1 = component<QPushButton>(this, "Button1", 218, 308, 75, 25);
    Button1->setText(QStringLiteral("OK"));
    Button1->setDefault(true);

    Image1 = component<QLabel>(this, "Image1", 8, 8, 32, 32);
    Image1->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(32, 32));

    Label1 = component<QLabel>(this, "Label1", 48, 16, 457, 16);
    Label1->setText(QStringLiteral("The following exception(s) occured while downloading files"));

    Memo1 = component<TMemo>(this, "Memo1", 48, 40, 457, 217);
    Memo1->setReadOnly(true);
    Memo1->setFocusPolicy(Qt::ClickFocus);
    Memo1->setTabChangesFocus(true);
    Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo1->setFont(forms::courierNew(11));

    forms::connectHandler(Button1, &QPushButton::clicked, this, &TExceptionForm::Button1Click);
    Button1->setFocus();
}

void TExceptionForm::Button1Click() {
    Memo1->clear();
    ExceptionList().clear();
    done(QDialog::Accepted);
}

void TExceptionForm::showText(const std::string& text) {
    TExceptionForm form;
    form.Memo1->setText(text);
    ui::showModal(form);
}

} // namespace fetchora
