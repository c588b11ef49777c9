// The error list: one process-wide list of lines "* text [address]", one for every failed
// request and every file the gallery could not add, kept in order until the user
// confirms the "View Exceptions" dialog.
#pragma once

#include <string>
#include <vector>

namespace fetchora {

// The process-wide list, shared by every toolbar window.
std::vector<std::string>& ExceptionList();

// Appends "* %s [%s]" of (text, url).
void AddException(const std::string& text, const std::string& url);

// Shows the "View Exceptions" dialog when the list holds any line; OK there empties the
// list. Defined with the dialog in the forms library.
void ShowExceptions();

} // namespace fetchora
