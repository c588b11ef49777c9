// Loaded menus: a tree of items copied from a template. Every menu is kept in a table by
// its handle, so that a stale or foreign handle is refused instead of followed.
#include "platform/resources/menu.h"

#include "platform/resources/resource_table.h"

#include <algorithm>
#include <cstddef>
#include <map>
#include <memory>
#include <vector>

namespace fetchora::resources {

struct MenuItem {
    std::string text;
    unsigned id = 0;
    unsigned flags = 0;
    HMENU popup = nullptr; // destroyed with this item's menu
};

struct Menu {
    std::vector<MenuItem> items;
    HMENU parent = nullptr;
};

namespace {

// Every live menu, sub-menus included, owned here and reached by its handle.
std::map<HMENU, std::unique_ptr<Menu>>& liveMenus() {
    static std::map<HMENU, std::unique_ptr<Menu>> menus;
    return menus;
}

HMENU build(const std::vector<MenuItemTemplate>& items, HMENU parent) {
    auto owned = std::make_unique<Menu>();
    HMENU menu = owned.get();
    menu->parent = parent;
    liveMenus().emplace(menu, std::move(owned));
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
    liveMenus().erase(menu);
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
    const MenuItem* before = itemByCommand(menu, position);
    if (before == nullptr)
        return false;
    // The item found may sit in a sub-menu; the new one goes in front of it there.
    for (const auto& [handle, owned] : liveMenus()) {
        std::vector<MenuItem>& items = owned->items;
        for (size_t i = 0; i < items.size(); ++i) {
            if (&items[i] == before) {
                items.insert(items.begin() + static_cast<std::ptrdiff_t>(i), std::move(item));
                return true;
            }
        }
    }
    return false;
}

bool IsMenu(HMENU menu) {
    return menu != nullptr && liveMenus().count(menu) != 0;
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
