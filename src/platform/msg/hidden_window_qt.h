// The Qt side of hidden windows: the event that carries a posted message and the QObject
// that receives it. Only the message layer's own sources include this header.
#pragma once

#include "platform/msg/hidden_window.h"

#include <QEvent>
#include <QObject>

namespace fetchora::msg {

// The event that carries a posted message.
class MessageEvent final : public QEvent {
public:
    MessageEvent(UINT message, WPARAM wParam, LPARAM lParam);
    static QEvent::Type eventType();

    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

// A hidden window is a QObject that lives on the thread that created it and hands every
// posted message to its window procedure. It is never shown and has no parent.
class HiddenWindow final : public QObject {
public:
    explicit HiddenWindow(WindowProc procedure);
    ~HiddenWindow() override;
    HiddenWindow(const HiddenWindow&) = delete;
    HiddenWindow& operator=(const HiddenWindow&) = delete;

    // Calls the window procedure directly (SendMessage on the owning thread).
    LRESULT send(UINT message, WPARAM wParam, LPARAM lParam);

    // Stops delivery and deletes the window, at once or, when called from inside its own
    // window procedure, as soon as that returns.
    void close();

protected:
    bool event(QEvent* event) override;

private:
    void leaveProcedure();

    WindowProc procedure_;
    int depth_ = 0; // window procedure calls under way
    bool closed_ = false;
};

} // namespace fetchora::msg
