// The program's resources: the menu templates of the list dialogs' row menus, kept as a
// resource script in the sources and parsed once when first asked for, and the command
// numbers their items carry.
#pragma once

#include "platform/resources/menu_template.h"

#include <string_view>

namespace fetchora::resources {

// Resource names of the row menus.
constexpr const char* IDM_EDIT_MENU = "IDM_EDIT_MENU"; // queue editor rows
constexpr const char* IDM_MY_MENU = "IDM_MY_MENU";     // gallery rows

// Commands of IDM_EDIT_MENU's sub-menu EDITMENU.
enum class EditMenuCommand : unsigned {
    View = 1,         // "View selected file in browser..."
    CheckAll = 2,     // "Check all"
    UncheckAll = 3,   // "Uncheck all"
    MoveToTop = 4,    // "Move checked to top"
    MoveToBottom = 5, // "Move checked to bottom"
    Delete = 6,       // "Delete checked from list"
};

// Commands of IDM_MY_MENU's sub-menu GALLERYMENU.
enum class GalleryMenuCommand : unsigned {
    CheckAll = 1,
    UncheckAll = 2,
    CheckAbove = 3,
    UncheckAbove = 4,
    CheckBelow = 5,
    UncheckBelow = 6,
    CheckImages = 7,
    UncheckImages = 8,
    CheckLinks = 9,
    UncheckLinks = 10,
    View = 11, // "View selected file in browser..."
    Copy = 12, // "Copy selected URL to clipboard"
};

// The resource script of the program's menus.
std::string_view menuScript();

// The menu template named name, compared without regard to case as resource names are;
// nullptr when there is none. The script is parsed on the first call.
const MenuTemplate* findMenuTemplate(std::string_view name);

} // namespace fetchora::resources
