// The popup menu on the desktop: the loaded menu's items become QMenu actions (popups
// become sub-menus, separators separators, GRAYED and INACTIVE disabled actions,
// CHECKED checked ones) and exec() waits for the choice.
#include "platform/resources/track_popup_menu.h"

#include "platform/qt/desktop.h"

#include <QAction>
#include <QMenu>

#include <utility>

namespace fetchora::resources {

namespace {

TrackPopupHook& trackHook() {
    static TrackPopupHook hook;
    return hook;
}

void fill(QMenu& target, HMENU menu) {
    for (int pos = 0; pos < GetMenuItemCount(menu); ++pos) {
        const unsigned flags = GetMenuState(menu, static_cast<unsigned>(pos), MF_BYPOSITION);
        QString text =
            ui::toQString(GetMenuString(menu, static_cast<unsigned>(pos), MF_BYPOSITION));
        // A right-aligned part ("\a" in the script) shows as the accelerator column.
        text.replace(QLatin1Char('\b'), QLatin1Char('\t'));
        if ((flags & MF_SEPARATOR) != 0) {
            target.addSeparator();
            continue;
        }
        const bool enabled = (flags & (MF_GRAYED | MF_DISABLED)) == 0;
        if (HMENU popup = GetSubMenu(menu, pos)) {
            QMenu* sub = target.addMenu(text);
            sub->setEnabled(enabled);
            fill(*sub, popup);
            continue;
        }
        QAction* action = target.addAction(text);
        action->setData(GetMenuItemID(menu, pos));
        action->setEnabled(enabled);
        if ((flags & MF_CHECKED) != 0) {
            action->setCheckable(true);
            action->setChecked(true);
        }
    }
}

unsigned showMenu(HMENU menu, QPoint position, QWidget* owner) {
    QMenu popup(owner);
    fill(popup, menu);
    const QAction* chosen = popup.exec(position);
    if (chosen == nullptr)
        return 0;
    return chosen->data().toUInt();
}

} // namespace

unsigned TrackPopupMenu(HMENU menu, unsigned flags, int x, int y, QWidget* owner) {
    if (!IsMenu(menu))
        return 0;
    const QPoint position(x, y);
    const unsigned command =
        trackHook() ? trackHook()(menu, flags, position, owner) : showMenu(menu, position, owner);
    if ((flags & TPM_RETURNCMD) != 0)
        return command;
    return command != 0 ? 1 : 0;
}

TrackPopupHook setTrackPopupHook(TrackPopupHook hook) {
    TrackPopupHook previous = std::move(trackHook());
    trackHook() = std::move(hook);
    return previous;
}

} // namespace fetchora::resources
