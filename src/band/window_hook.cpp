// The window hook as an event filter on a window and its child controls.
#include "band/window_hook.h"

#include <QChildEvent>
#include <QMouseEvent>
#include <QWidget>

namespace fetchora {

using namespace com;

namespace {

constexpr const char* kHookName = "TWindowHook";

UINT buttonMessage(Qt::MouseButton button) {
    switch (button) {
    case Qt::RightButton:
        return WM_RBUTTONDOWN;
    case Qt::MiddleButton:
        return WM_MBUTTONDOWN;
    default:
        return WM_LBUTTONDOWN;
    }
}

} // namespace

TWindowHook::TWindowHook(QWidget* window, WindowProc handler)
    : QObject(window), window_(window), handler_(std::move(handler)) {
    setObjectName(QString::fromLatin1(kHookName));
    watch(window);
}

TWindowHook* TWindowHook::install(QWidget* window, WindowProc handler) {
    if (window == nullptr || of(window) != nullptr)
        return nullptr;
    return new TWindowHook(window, std::move(handler));
}

TWindowHook* TWindowHook::of(QWidget* window) {
    if (window == nullptr)
        return nullptr;
    return window->findChild<TWindowHook*>(QString::fromLatin1(kHookName),
                                           Qt::FindDirectChildrenOnly);
}

TWindowHook::WindowProc TWindowHook::savedWindowProc() const {
    return [](const MSG&) { return false; };
}

void TWindowHook::watch(QObject* object) {
    object->installEventFilter(this);
    for (QObject* child : object->children()) {
        if (child->isWidgetType())
            watch(child);
    }
}

bool TWindowHook::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::ChildAdded) {
        QObject* child = static_cast<QChildEvent*>(event)->child();
        if (child != nullptr && child->isWidgetType())
            watch(child);
        return false;
    }
    if (event->type() != QEvent::MouseButtonPress || watched == window_ || !handler_)
        return false;
    // A press on a child control: what the window hears of it as its parent.
    const auto* press = static_cast<QMouseEvent*>(event);
    const QPoint where = window_->mapFromGlobal(press->globalPosition().toPoint());
    MSG message;
    message.hwnd = window_;
    message.message = WM_PARENTNOTIFY;
    message.wParam = buttonMessage(press->button());
    message.lParam = static_cast<LPARAM>((static_cast<std::uint32_t>(where.y() & 0xFFFF) << 16) |
                                         static_cast<std::uint32_t>(where.x() & 0xFFFF));
    message.pt = {press->globalPosition().toPoint().x(), press->globalPosition().toPoint().y()};
    // A copy: the handler may disable the hook while it runs.
    const WindowProc handler = handler_;
    return handler(message);
}

} // namespace fetchora
