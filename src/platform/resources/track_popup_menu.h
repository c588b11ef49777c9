// TrackPopupMenu: a loaded menu shown as a popup at a screen position, built as a QMenu,
// in the mode that returns the chosen command. Tests install a hook that chooses instead
// of a person, as they script modal dialogs.
#pragma once

#include "platform/resources/menu.h"

#include <QPoint>

#include <functional>

class QWidget;

namespace fetchora::resources {

// Flags of TrackPopupMenu (the Win32 TPM_ values). Alignment and the mouse button are
// read and left to the desktop; TPM_RETURNCMD is the mode the system uses.
constexpr unsigned TPM_LEFTALIGN = 0x0000;
constexpr unsigned TPM_RIGHTBUTTON = 0x0002;
constexpr unsigned TPM_NONOTIFY = 0x0080;
constexpr unsigned TPM_RETURNCMD = 0x0100;

// Shows menu (a sub-menu from GetSubMenu, usually) at the screen position x, y, owned by
// owner, and waits until the user chose an item or dismissed the menu. With
// TPM_RETURNCMD the result is the chosen item's command id, 0 when dismissed; without it
// the result is 1 when an item was chosen and 0 otherwise, and the command goes nowhere,
// since no window here receives command messages. 0 for a handle that is not a menu.
unsigned TrackPopupMenu(HMENU menu, unsigned flags, int x, int y, QWidget* owner);

// Chooses in place of the user: gets the menu, the flags, the position and the owner
// and returns the chosen command id, or 0 to dismiss.
using TrackPopupHook =
    std::function<unsigned(HMENU menu, unsigned flags, QPoint position, QWidget* owner)>;
// Installs hook (an empty one restores the real menu) and returns the one before.
TrackPopupHook setTrackPopupHook(TrackPopupHook hook);

} // namespace fetchora::resources
