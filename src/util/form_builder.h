// How a form is built: connectHandler ties a component's signal to one of the form's
// handlers so that the handler runs inside the handler guard.
//
// A form's constructor creates each component and connects its handlers, one line each:
//
//     OKBtn = forms::component<QPushButton>(this, "OKBtn", 296, 340, 75, 25);
//     forms::connectHandler(OKBtn, &QPushButton::clicked, this, &TPasswordForm::OKBtnClick);
//
// An error that a handler lets escape is reported to the user (an error box and a line on
// stderr) and never reaches Qt's event loop; the form stays usable.
#pragma once

#include "platform/report.h"

#include <QObject>

namespace fetchora::forms {

// Connects signal of sender to handler of form, run inside guarded. The handler takes
// none, or the first ones, of the signal's arguments.
template <typename Sender, typename Signal, typename Form, typename... Args>
QMetaObject::Connection connectHandler(Sender* sender, Signal signal, Form* form,
                                       void (Form::*handler)(Args...)) {
    return QObject::connect(sender, signal, form, [form, handler](Args... args) {
        guarded([&] { (form->*handler)(args...); });
    });
}

} // namespace fetchora::forms
