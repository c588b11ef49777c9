// The three message boxes of the system: information, confirmation and error.
#pragma once

#include <string>

namespace fetchora {

// Information icon, title "Information", button "OK".
void showInformation(const std::string& text);
// Question icon, title "Confirm", buttons "OK" and "Cancel"; true only for OK.
bool askConfirmation(const std::string& text);
// Error icon, title "Error", button "OK".
void showError(const std::string& text);
// No icon, no title of its own, button "OK" (the prompt's "Enter User Name.").
void showMessage(const std::string& text);

} // namespace fetchora
