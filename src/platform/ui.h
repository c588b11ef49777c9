// The desktop services the system asks for (message boxes, the beep, opening an address,
// the folder browser) behind hooks: the product installs the desktop's real ones at
// start-up, tests install scripts that answer instead of a person.
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace fetchora::ui {

enum class MessageIcon { None, Information, Question, Error };
enum class MessageButtons { Ok, OkCancel };
enum class MessageResult { Ok, Cancel };

struct MessageRequest {
    MessageIcon icon = MessageIcon::None;
    std::string title;
    std::string text;
    MessageButtons buttons = MessageButtons::Ok;
};

using MessageBoxHook = std::function<MessageResult(const MessageRequest&)>;
using BeepHook = std::function<void()>;
using OpenAddressHook = std::function<void(const std::string&)>;
// Returns the chosen folder, or nothing when the user cancelled.
using PickFolderHook =
    std::function<std::optional<std::string>(const std::string& title, const std::string& start)>;

struct Hooks {
    MessageBoxHook messageBox;
    BeepHook beep;
    OpenAddressHook openAddress;
    PickFolderHook pickFolder;
};

// Installs every hook of hooks that is set and returns the hooks that were in force
// before, so a caller can put them back.
Hooks installHooks(const Hooks& hooks);
// Replaces all hooks, unset ones included (tests restore what installHooks returned).
void setHooks(const Hooks& hooks);
Hooks currentHooks();

// Without an installed hook a message box writes its text to stderr and answers Cancel,
// the beep and opening an address do nothing, and the folder browser cancels.
MessageResult messageBox(const MessageRequest& request);
void beep();
void openAddress(const std::string& address);
std::optional<std::string> pickFolder(const std::string& title, const std::string& start);

} // namespace fetchora::ui
