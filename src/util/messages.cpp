// The message boxes, each a request to the desktop's message box hook.
#include "util/messages.h"

#include "platform/ui.h"

namespace fetchora {

void showInformation(const std::string& text) {
    ui::messageBox({ui::MessageIcon::Information, "Information", text, ui::MessageButtons::Ok});
}

bool askConfirmation(const std::string& text) {
    return ui::messageBox({ui::MessageIcon::Question, "Confirm", text,
                           ui::MessageButtons::OkCancel}) == ui::MessageResult::Ok;
}

void showError(const std::string& text) {
    ui::messageBox({ui::MessageIcon::Error, "Error", text, ui::MessageButtons::Ok});
}

void showMessage(const std::string& text) {
    ui::messageBox({ui::MessageIcon::None, "", text, ui::MessageButtons::Ok});
}

} // namespace fetchora
