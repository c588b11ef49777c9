// TWindowHook: a handler placed in front of a window's procedure. It watches the window
// and its child controls (also ones added later) and turns a mouse press on a child
// control into WM_PARENTNOTIFY for the handler, which then lets the event go on to the
// window's own procedure. A window carries at most one hook.
#pragma once

#include "platform/com/window_messages.h"

#include <QObject>

#include <functional>

class QWidget;

namespace fetchora {

class TWindowHook final : public QObject {
    Q_OBJECT

public:
    // A window procedure: gets a message and returns true when it consumed it.
    using WindowProc = std::function<bool(const com::MSG& message)>;

    // Places handler in front of window's procedure and returns the hook, owned by the
    // window; null when the window already has one.
    static TWindowHook* install(QWidget* window, WindowProc handler);
    // The hook of window, or null.
    static TWindowHook* of(QWidget* window);

    // The window's procedure as it was before the hook: it lets every event go on to
    // the window.
    WindowProc savedWindowProc() const;
    // Takes the handler out: the window's events go on as if there were no hook.
    void disable() { handler_ = nullptr; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    TWindowHook(QWidget* window, WindowProc handler);
    void watch(QObject* object);

    QWidget* window_;
    WindowProc handler_;
};

} // namespace fetchora
