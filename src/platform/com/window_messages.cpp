// Key messages delivered to their widgets as Qt key events.
#include "platform/com/window_messages.h"

#include <QApplication>
#include <QKeyEvent>
#include <QString>
#include <QWidget>

namespace fetchora::com {

namespace {

bool isKeyMessage(UINT message) {
    return message == WM_KEYDOWN || message == WM_KEYUP || message == WM_SYSKEYDOWN ||
           message == WM_SYSKEYUP || message == WM_CHAR;
}

// The Qt key of a virtual key; letters and digits share their codes with ASCII.
int qtKey(WPARAM virtualKey) {
    switch (virtualKey) {
    case VK_BACK:
        return Qt::Key_Backspace;
    case VK_TAB:
        return Qt::Key_Tab;
    case VK_RETURN:
        return Qt::Key_Return;
    case VK_ESCAPE:
        return Qt::Key_Escape;
    case VK_SPACE:
        return Qt::Key_Space;
    case VK_END:
        return Qt::Key_End;
    case VK_HOME:
        return Qt::Key_Home;
    case VK_LEFT:
        return Qt::Key_Left;
    case VK_UP:
        return Qt::Key_Up;
    case VK_RIGHT:
        return Qt::Key_Right;
    case VK_DOWN:
        return Qt::Key_Down;
    case VK_DELETE:
        return Qt::Key_Delete;
    default:
        break;
    }
    if ((virtualKey >= '0' && virtualKey <= '9') || (virtualKey >= 'A' && virtualKey <= 'Z'))
        return static_cast<int>(virtualKey);
    if (virtualKey >= VK_F1 && virtualKey < VK_F1 + 24)
        return Qt::Key_F1 + static_cast<int>(virtualKey - VK_F1);
    return Qt::Key_unknown;
}

} // namespace

BOOL TranslateMessage(const MSG* message) {
    return message != nullptr && isKeyMessage(message->message) ? 1 : 0;
}

LPARAM DispatchMessage(const MSG* message) {
    if (message == nullptr || message->hwnd == nullptr || !isKeyMessage(message->message))
        return 0;
    const bool release = message->message == WM_KEYUP || message->message == WM_SYSKEYUP;
    const QEvent::Type type = release ? QEvent::KeyRelease : QEvent::KeyPress;
    const Qt::KeyboardModifiers modifiers =
        message->message == WM_SYSKEYDOWN || message->message == WM_SYSKEYUP ? Qt::AltModifier
                                                                             : Qt::NoModifier;
    if (message->message == WM_CHAR) {
        const QString text(QChar(static_cast<char16_t>(message->wParam)));
        QKeyEvent event(type, Qt::Key_unknown, Qt::NoModifier, text);
        return QApplication::sendEvent(message->hwnd, &event) ? 1 : 0;
    }
    QKeyEvent event(type, qtKey(message->wParam), modifiers);
    return QApplication::sendEvent(message->hwnd, &event) ? 1 : 0;
}

} // namespace fetchora::com
