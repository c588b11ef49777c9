// Menu templates written in the resource-script MENU syntax, and the parser that turns a
// script of them into item trees. The parser is plain C++: a damaged template is reported
// with its line, column and what was expected, and nothing needs a window.
//
//     IDM_EDIT_MENU MENU
//     BEGIN
//         POPUP "EDITMENU"
//         {
//             MENUITEM "&View", 1
//             MENUITEM SEPARATOR
//             MENUITEM "Delete", 6, GRAYED
//         }
//     END
#pragma once

#include "platform/errors.h"

#include <string>
#include <string_view>
#include <vector>

namespace fetchora::resources {

// Item flags of a loaded menu (the Win32 MF_ values); the options of a MENUITEM or POPUP
// statement set them.
constexpr unsigned MF_BYCOMMAND = 0x0000;
constexpr unsigned MF_GRAYED = 0x0001;
constexpr unsigned MF_DISABLED = 0x0002;
constexpr unsigned MF_CHECKED = 0x0008;
constexpr unsigned MF_POPUP = 0x0010;
constexpr unsigned MF_MENUBARBREAK = 0x0020;
constexpr unsigned MF_MENUBREAK = 0x0040;
constexpr unsigned MF_BYPOSITION = 0x0400;
constexpr unsigned MF_SEPARATOR = 0x0800;
constexpr unsigned MF_HELP = 0x4000;

// One item: a command (text and id), a separator (MF_SEPARATOR, no text) or a popup
// (MF_POPUP, its own items, id 0). The text keeps its "&" mnemonics; "\t" in the script
// is a TAB that separates the accelerator text.
struct MenuItemTemplate {
    std::string text;
    unsigned id = 0;
    unsigned flags = 0;
    std::vector<MenuItemTemplate> items;
};

// One MENU statement: its resource name as written and its items.
struct MenuTemplate {
    std::string name;
    std::vector<MenuItemTemplate> items;
};

// A damaged script: "Resource script, line %d, column %d: %s".
class ResourceScriptError final : public Error {
public:
    ResourceScriptError(int line, int column, const std::string& problem);
    int line() const { return line_; }
    int column() const { return column_; }

private:
    int line_;
    int column_;
};

// Parses every MENU statement of script, in order. Keywords (MENU, BEGIN, END, POPUP,
// MENUITEM, SEPARATOR and the options) are read without regard to case, "{" and "}"
// stand for BEGIN and END, and C and C++ comments are skipped. Options: CHECKED, GRAYED,
// INACTIVE, MENUBARBREAK, MENUBREAK, HELP; the memory options after MENU (PRELOAD,
// LOADONCALL, FIXED, MOVEABLE, DISCARDABLE, PURE, IMPURE) are read and ignored. Command
// ids are decimal or 0x hexadecimal numbers from 0 to 65535. Two menus of one name
// (compared without regard to case) are an error. Throws ResourceScriptError.
std::vector<MenuTemplate> parseMenuScript(std::string_view script);

} // namespace fetchora::resources
