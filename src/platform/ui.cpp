// The process-wide desktop hooks and the fall-backs used while none is installed.
#include "platform/ui.h"

#include <cstdio>

namespace fetchora::ui {

namespace {

Hooks& hooks() {
    static Hooks current;
    return current;
}

} // namespace

Hooks installHooks(const Hooks& replacement) {
    Hooks& current = hooks();
    Hooks previous = current;
    if (replacement.messageBox)
        current.messageBox = replacement.messageBox;
    if (replacement.beep)
        current.beep = replacement.beep;
    if (replacement.openAddress)
        current.openAddress = replacement.openAddress;
    if (replacement.pickFolder)
        current.pickFolder = replacement.pickFolder;
    return previous;
}

void setHooks(const Hooks& replacement) {
    hooks() = replacement;
}

Hooks currentHooks() {
    return hooks();
}

MessageResult messageBox(const MessageRequest& request) {
    if (hooks().messageBox)
        return hooks().messageBox(request);
    std::fprintf(stderr, "%s: %s\n", request.title.c_str(), request.text.c_str());
    return MessageResult::Cancel;
}

void beep() {
    if (hooks().beep)
        hooks().beep();
}

void openAddress(const std::string& address) {
    if (hooks().openAddress)
        hooks().openAddress(address);
}

std::optional<std::string> pickFolder(const std::string& title, const std::string& start) {
    if (hooks().pickFolder)
        return hooks().pickFolder(title, start);
    return std::nullopt;
}

} // namespace fetchora::ui
