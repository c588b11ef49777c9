// The error list: one process-wide list of lines "* text [address]", one for every failed
// request and every file the gallery could not add, kept in order until the user
// confirms the "View Exceptions" dialog, which ShowExceptions shows through a hook.
#pragma once

#include "util/dialog_hook.h"

#include <string>
#include <vector>

namespace fetchora {

// The process-wide list, shared by every toolbar window.
std::vector<std::string>& ExceptionList();

// Appends "* %s [%s]" of (text, url).
void AddException(const std::string& text, const std::string& url);

// Shows the whole list, one line per entry with CR LF between lines, modally; OK there
// empties the list. Does nothing while the list is empty.
void ShowExceptions();

// What ShowExceptions shows the text of the list with: the "View Exceptions" dialog that
// the forms library installs, or a test's script. Without one nothing is shown.
using ExceptionViewSignature = void(const std::string& text);
using ExceptionView = DialogHook<ExceptionViewSignature>::Function;

// Installs the view and returns the one before.
ExceptionView setExceptionView(ExceptionView view);

} // namespace fetchora
