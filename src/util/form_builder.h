// How a form is built: setUpForm gives it its name, caption, frame, font and client
// size; component creates a named component; connectHandler ties a component's signal to
// one of the form's handlers so that the handler runs inside the handler guard.
//
// A form's constructor is a list of such lines:
//
//     forms::setUpForm(*this, "PasswordForm", "", {461, 375}, forms::Border::DialogWithoutIcons,
//                      forms::Placement::OnDesktop);
//     OKBtn = forms::component<QPushButton>(this, "OKBtn", 296, 340, 75, 25);
//     OKBtn->setText(QStringLiteral("OK"));
//     forms::connectHandler(OKBtn, &QPushButton::clicked, this, &TPasswordForm::OKBtnClick);
//
// Components that a layout places are made with named instead of component. An error that
// a handler lets escape is reported to the user (an error box and a line on stderr) and
// never reaches Qt's event loop; the form stays usable.
#pragma once

#include "platform/report.h"

#include <QObject>
#include <QSize>
#include <QString>
#include <QWidget>

#include <utility>

namespace fetchora::forms {

enum class Border {
    DialogWithoutIcons, // fixed dialog frame with a title and no border icons
    Sizeable,           // sizeable dialog with system menu and maximize box
    None,               // no frame at all (the toolbar window)
};
enum class Placement { OnOwner, OnDesktop };
enum class Stacking { Normal, StaysOnTop };

// Sets the form's objectName, caption, frame and placement, the Tahoma font (or the
// desktop's sans-serif) at fontPixels, and its client size: fixed for a dialog without
// border icons, the initial size otherwise.
void setUpForm(QWidget& form, const char* name, const char* caption, QSize clientSize,
               Border border, Placement placement = Placement::OnOwner,
               Stacking stacking = Stacking::Normal, int fontPixels = 11);

// A child component of parent named name, made with the further constructor arguments
// (parent comes last, as Qt's widgets take it).
template <typename Widget, typename... Args>
Widget* named(QWidget* parent, const char* name, Args&&... args) {
    auto* widget = new Widget(std::forward<Args>(args)..., parent);
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

// A child component of parent named name, placed at x, y with the size w × h.
template <typename Widget>
Widget* component(QWidget* parent, const char* name, int x, int y, int w, int h) {
    auto* widget = named<Widget>(parent, name);
    widget->setGeometry(x, y, w, h);
    return widget;
}

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
