// Loaded menus behind handles, as the Win32 menu calls give them: LoadMenu makes a menu
// from a template of the resource table, CreatePopupMenu an empty one that InsertMenu
// fills, GetSubMenu reaches a popup's items, the item queries read it, DestroyMenu frees
// it. TrackPopupMenu, which shows one, needs widgets
// and lives in track_popup_menu.h. Handles belong to the user-interface thread.
#pragma once

#include "platform/resources/menu_template.h"

#include <memory>
#include <string>
#include <string_view>

namespace fetchora::resources {

struct Menu;
using HMENU = Menu*;

// What GetMenuItemID and GetMenuState give for an item that is not there or a popup.
constexpr unsigned kNoMenuItem = 0xFFFFFFFF;

// A new menu made from the template named name (compared without regard to case);
// nullptr when the resource table has no such menu. The caller frees it with DestroyMenu.
HMENU LoadMenu(std::string_view name);
// A new menu made from a template the caller holds.
HMENU LoadMenuIndirect(const MenuTemplate& menuTemplate);
// A new empty menu, for items inserted one by one (a context menu that several parties
// fill). The caller frees it with DestroyMenu.
HMENU CreatePopupMenu();
// False for a handle that is not a live menu.
bool IsMenu(HMENU menu);
// Frees a menu that LoadMenu gave, with its sub-menus. False for a handle that is not a
// live menu, and for a sub-menu: it belongs to its parent and goes with it.
bool DestroyMenu(HMENU menu);

// A plain command item (the Win32 MF_STRING, which is no bit at all).
constexpr unsigned MF_STRING = 0x0000;

// Inserts a command item (MF_STRING) or a separator (MF_SEPARATOR) with id and text in
// front of the item at position (MF_BYPOSITION; a position at or past the end, such as
// 0xFFFFFFFF, appends) or in front of the item with command id position (MF_BYCOMMAND,
// in that item's own menu). False for a handle that is not a menu, for a command that
// is not there, and for MF_POPUP, which this call does not make.
bool InsertMenu(HMENU menu, unsigned position, unsigned flags, unsigned id, std::string_view text);

// The popup at position pos, owned by menu; nullptr when that item is not a popup.
HMENU GetSubMenu(HMENU menu, int pos);
// The number of items; -1 for a handle that is not a menu.
int GetMenuItemCount(HMENU menu);
// The command id of the item at pos; 0 for a separator, kNoMenuItem for a popup or a
// position outside the menu.
unsigned GetMenuItemID(HMENU menu, int pos);
// The MF_ flags of an item by position (MF_BYPOSITION) or by command id (MF_BYCOMMAND,
// searching the sub-menus too); kNoMenuItem when there is no such item.
unsigned GetMenuState(HMENU menu, unsigned item, unsigned flags);
// The text of an item, by position or by command as GetMenuState; empty when there is
// none.
std::string GetMenuString(HMENU menu, unsigned item, unsigned flags);

// The command of the first item, searching the sub-menus depth first, whose text without
// its "&" marks is text; 0 when there is none. For tests and scripts that choose an item
// as a person would, by what it says.
unsigned findMenuCommand(HMENU menu, std::string_view text);

// Owns a loaded menu and destroys it when it goes, also when a command raised.
struct MenuDestroyer {
    void operator()(HMENU menu) const { DestroyMenu(menu); }
};
using UniqueMenu = std::unique_ptr<Menu, MenuDestroyer>;

} // namespace fetchora::resources
