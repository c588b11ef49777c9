// The desktop's real dialogs behind the hooks of platform/ui.h, the modal showing of
// forms (scriptable by tests), and the conversions between the system's 8-bit strings
// and widget text.
#pragma once

#include <QString>

#include <functional>
#include <string>
#include <string_view>

class QDialog;

namespace fetchora::ui {

// Installs the desktop's message boxes, beep, address opening and folder browser for
// every hook that is not set yet.
void installDesktopUi();

// Shows a dialog modally and returns its result (QDialog::Accepted or Rejected). A
// test installs a script that gets the dialog instead of a person and returns a result.
using ModalHook = std::function<int(QDialog&)>;
int showModal(QDialog& dialog);
ModalHook setModalHook(ModalHook hook); // returns the previous hook

// 8-bit system text to widget text: valid UTF-8 as UTF-8, other bytes as Windows-1252.
QString toQString(std::string_view bytes);
// Widget text to system text: UTF-8.
std::string fromQString(const QString& text);

} // namespace fetchora::ui
