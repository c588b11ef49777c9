// Window messages as a host hands them to a band: the MSG record, the message numbers
// and virtual keys the system uses, and TranslateMessage and DispatchMessage, which
// deliver a key message to its widget as the matching Qt key event.
#pragma once

#include "platform/com/ole_interfaces.h"

namespace fetchora::com {

struct MSG {
    HWND hwnd = nullptr;
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    DWORD time = 0;
    POINT pt;
};

inline constexpr UINT WM_CREATE = 0x0001;
inline constexpr UINT WM_DESTROY = 0x0002;
inline constexpr UINT WM_SETFOCUS = 0x0007;
inline constexpr UINT WM_KILLFOCUS = 0x0008;
inline constexpr UINT WM_KEYDOWN = 0x0100;
inline constexpr UINT WM_KEYUP = 0x0101;
inline constexpr UINT WM_CHAR = 0x0102;
inline constexpr UINT WM_SYSKEYDOWN = 0x0104;
inline constexpr UINT WM_SYSKEYUP = 0x0105;
inline constexpr UINT WM_LBUTTONDOWN = 0x0201;
inline constexpr UINT WM_RBUTTONDOWN = 0x0204;
inline constexpr UINT WM_MBUTTONDOWN = 0x0207;
// Sent to a window when one of its child controls is created, destroyed or clicked;
// wParam's low word is the event (WM_CREATE, WM_DESTROY or the button-down message).
inline constexpr UINT WM_PARENTNOTIFY = 0x0210;

// Virtual keys (the wParam of the key messages).
inline constexpr WPARAM VK_BACK = 0x08;
inline constexpr WPARAM VK_TAB = 0x09;
inline constexpr WPARAM VK_RETURN = 0x0D;
inline constexpr WPARAM VK_ESCAPE = 0x1B;
inline constexpr WPARAM VK_SPACE = 0x20;
inline constexpr WPARAM VK_END = 0x23;
inline constexpr WPARAM VK_HOME = 0x24;
inline constexpr WPARAM VK_LEFT = 0x25;
inline constexpr WPARAM VK_UP = 0x26;
inline constexpr WPARAM VK_RIGHT = 0x27;
inline constexpr WPARAM VK_DOWN = 0x28;
inline constexpr WPARAM VK_DELETE = 0x2E;
inline constexpr WPARAM VK_F1 = 0x70;

// Character messages come with the key event itself here, so this only tells whether
// message is a key message (TRUE, 1) or not (0).
BOOL TranslateMessage(const MSG* message);
// Delivers a key message (WM_KEYDOWN, WM_KEYUP, WM_SYSKEYDOWN, WM_SYSKEYUP, WM_CHAR) to
// its window as a Qt key event and returns 1 when the window took it; 0 for a message
// without a window or of another kind.
LPARAM DispatchMessage(const MSG* message);

} // namespace fetchora::com
