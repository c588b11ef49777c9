// The resource script of the row menus and its lookup by name.
#include "platform/resources/resource_table.h"

#include <cctype>
#include <vector>

namespace fetchora::resources {

namespace {

// The row menus. The numbers are those of EditMenuCommand and GalleryMenuCommand.
constexpr std::string_view kMenuScript = R"rc(
// Queue editor: the rows of the "Edit File List" dialog.
IDM_EDIT_MENU MENU
BEGIN
    POPUP "EDITMENU"
    BEGIN
        MENUITEM "View selected file in browser...", 1
        MENUITEM SEPARATOR
        MENUITEM "Check all", 2
        MENUITEM "Uncheck all", 3
        MENUITEM SEPARATOR
        MENUITEM "Move checked to top", 4
        MENUITEM "Move checked to bottom", 5
        MENUITEM SEPARATOR
        MENUITEM "Delete checked from list", 6
    END
END

// Gallery: the rows of the "Download Gallery" dialog. Above and Below act on the
// selected row and the rows above or below it.
IDM_MY_MENU MENU
BEGIN
    POPUP "GALLERYMENU"
    BEGIN
        MENUITEM "Check all", 1
        MENUITEM "Uncheck all", 2
        MENUITEM SEPARATOR
        POPUP "Above"
        BEGIN
            MENUITEM "Check all", 3
            MENUITEM "Uncheck all", 4
        END
        POPUP "Below"
        BEGIN
            MENUITEM "Check all", 5
            MENUITEM "Uncheck all", 6
        END
        POPUP "Images"
        BEGIN
            MENUITEM "Check all", 7
            MENUITEM "Uncheck all", 8
        END
        POPUP "Hyperlinks"
        BEGIN
            MENUITEM "Check all", 9
            MENUITEM "Uncheck all", 10
        END
        MENUITEM SEPARATOR
        MENUITEM "View selected file in browser...", 11
        MENUITEM "Copy selected URL to clipboard", 12
    END
END
)rc";

bool sameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(a[i])) !=
            std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

} // namespace

std::string_view menuScript() {
    return kMenuScript;
}

const MenuTemplate* findMenuTemplate(std::string_view name) {
    static const std::vector<MenuTemplate> menus = parseMenuScript(kMenuScript);
    for (const MenuTemplate& menu : menus) {
        if (sameName(menu.name, name))
            return &menu;
    }
    return nullptr;
}

} // namespace fetchora::resources
