// Loaded menus: a tree of items copied from a template, or filled item by item. A handle
// is valid in every module of the process, as the system's menus are on Windows: a
// program creates a menu and a band library it loaded (with its own copy of these calls)
// inserts items into it. So a menu carries its own mark of life, and its memory is never
// given back while the module lives: a destroyed menu is kept, marked dead, for reuse,
// and a stale handle is refused instead of followed.
#include "platform/resources/menu.h"

#include "platform/resources/resource_table.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace fetchora::resources {

struct MenuItem {
    std::string text;
    unsigned id = 0;
    unsigned flags = 0;
    HMENU popup = nullptr; // destroyed with this item's menu
};

// The marks of a live and of a destroyed menu.
constexpr std::uint32_t kLiveMenu = 0x4D454E55; // "MENU"
constexpr std::uint32_t kDeadMenu = 0;

struct Menu {
    std::uint32_t mark = kDeadMenu;
    std::vector<MenuItem> items;
    HMENU parent = nullptr;
};

namespace {

// Every menu this module made, live or kept for reuse after its destruction.
struct MenuPool {
    std::vector<std::unique_ptr<Menu>> menus;
    std::vector<Menu*> free;
};

MenuPool& pool() {
    static MenuPool menus;
    return menus;
}

HMENU newMenu() {
    MenuPool& menus = pool();
    if (menus.free.empty()) {
        menus.menus.push_back(std::make_unique<Menu>());
        menus.free.push_back(menus.menus.back().get());
    }
    HMENU menu = menus.free.back();
    menus.free.pop_back();
    menu->mark = kLiveMenu;
    return menu;
}

HMENU build(const std::vector<MenuItemTemplate>& items, HMENU parent) {
    HMENU menu = newMenu();
    menu->parent = parent;
    for (const MenuItemTemplate& source : items) {
        MenuItem item;
        item.text = source.text;
        item.id = source.id;
        item.flags = source.flags;
        if ((source.flags & MF_POPUP) != 0)
            item.popup = build(source.items, menu);
        menu->items.push_back(std::move(item));
    }
    return menu;
}

void destroyTree(HMENU menu) {
    for (const MenuItem& item : menu->items) {
        if (item.popup != nullptr)
            destroyTree(item.popup);
    }
    menu->items.clear();
    menu->parent = nullptr;
    menu->mark = kDeadMenu;
    // A menu made by another module goes back to that module's pool only when the
    // module ends; here it stays marked dead.
    MenuPool& menus = pool();
    const bool own =
        std::any_of(menus.menus.begin(), menus.menus.end(),
                    [menu](const std::unique_ptr<Menu>& kept) { return kept.get() == menu; });
    if (own)
        menus.free.push_back(menu);
}

const MenuItem* itemAt(HMENU menu, int pos) {
    if (!IsMenu(menu) || pos < 0 || pos >= static_cast<int>(menu->items.size()))
        return nullptr;
    return &menu->items[static_cast<size_t>(pos)];
}

const MenuItem* itemByCommand(HMENU menu, unsigned id) {
    for (const MenuItem& item : menu->items) {
        if (item.popup != nullptr) {
            if (const MenuItem* found = itemByCommand(item.popup, id))
                return found;
        } else if ((item.flags & MF_SEPARATOR) == 0 && item.id == id) {
            return &item;
        }
    }
    return nullptr;
}

// The menu or sub-menu that holds the command id, searching depth first.
HMENU menuHolding(HMENU menu, unsigned id) {
    for (const MenuItem& item : menu->items) {
        if (item.popup != nullptr) {
            if (HMENU found = menuHolding(item.popup, id))
                return found;
        } else if ((item.flags & MF_SEPARATOR) == 0 && item.id == id) {
            return menu;
        }
    }
    return nullptr;
}

const MenuItem* findItem(HMENU menu, unsigned item, unsigned flags) {
    if (!IsMenu(menu))
        return nullptr;
    if ((flags & MF_BYPOSITION) != 0)
        return itemAt(menu, static_cast<int>(item));
    return itemByCommand(menu, item);
}

std::string withoutMnemonics(std::string_view text) {
    std::string plain;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '&' && i + 1 < text.size())
            ++i; // "&&" stands for one "&"; "&x" marks x
        plain += text[i];
    }
    return plain;
}

} // namespace

HMENU LoadMenu(std::string_view name) {
    const MenuTemplate* menuTemplate = findMenuTemplate(name);
    if (menuTemplate == nullptr)
        return nullptr;
    return LoadMenuIndirect(*menuTemplate);
}

HMENU LoadMenuIndirect(const MenuTemplate& menuTemplate) {
    return build(menuTemplate.items, nullptr);
}

HMENU CreatePopupMenu() {
    return build({}, nullptr);
}

bool InsertMenu(HMENU menu, unsigned position, unsigned flags, unsigned id, std::string_view text) {
    if (!IsMenu(menu) || (flags & MF_POPUP) != 0)
        return false;
    MenuItem item;
    item.flags = flags & ~MF_BYPOSITION;
    if ((flags & MF_SEPARATOR) == 0) {
        item.text = text;
        item.id = id;
    }
    if ((flags & MF_BYPOSITION) != 0) {
        const size_t at = std::min<size_t>(position, menu->items.size());
        menu->items.insert(menu->items.begin() + static_cast<std::ptrdiff_t>(at), std::move(item));
        return true;
    }
    // The command may sit in a sub-menu; the new item goes in front of it there.
    HMENU holder = menuHolding(menu, position);
    if (holder == nullptr)
        return false;
    const auto at =
        std::find_if(holder->items.begin(), holder->items.end(), [position](const MenuItem& entry) {
            return entry.popup == nullptr && (entry.flags & MF_SEPARATOR) == 0 &&
                   entry.id == position;
        });
    holder->items.insert(at, std::move(item));
    return true;
}

bool IsMenu(HMENU menu) {
    return menu != nullptr && menu->mark == kLiveMenu;
}

bool DestroyMenu(HMENU menu) {
    if (!IsMenu(menu) || menu->parent != nullptr)
        return false;
    destroyTree(menu);
    return true;
}

HMENU GetSubMenu(HMENU menu, int pos) {
    const MenuItem* item = itemAt(menu, pos);
    return item != nullptr ? item->popup : nullptr;
}

int GetMenuItemCount(HMENU menu) {
    return IsMenu(menu) ? static_cast<int>(menu->items.size()) : -1;
}

unsigned GetMenuItemID(HMENU menu, int pos) {
    const MenuItem* item = itemAt(menu, pos);
    if (item == nullptr || item->popup != nullptr)
        return kNoMenuItem;
    return item->id;
}

unsigned GetMenuState(HMENU menu, unsigned item, unsigned flags) {
    const MenuItem* found = findItem(menu, item, flags);
    return found != nullptr ? found->flags : kNoMenuItem;
}

std::string GetMenuString(HMENU menu, unsigned item, unsigned flags) {
    const MenuItem* found = findItem(menu, item, flags);
    return found != nullptr ? found->text : std::string();
}

unsigned findMenuCommand(HMENU menu, std::string_view text) {
    if (!IsMenu(menu))
        return 0;
    for (const MenuItem& item : menu->items) {
        if (item.popup != nullptr) {
            if (const unsigned id = findMenuCommand(item.popup, text))
                return id;
        } else if ((item.flags & MF_SEPARATOR) == 0 && withoutMnemonics(item.text) == text) {
            return item.id;
        }
    }
    return 0;
}

} // namespace fetchora::resources
