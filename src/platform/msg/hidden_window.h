// Window messages on Qt's event loop: a hidden receiver ("hidden window") whose window
// procedure gets posted messages (number, wParam, lParam) on the thread that owns it.
// Posting is safe from any thread; posting to a window that is gone fails quietly.
#pragma once

#include <QEvent>
#include <QObject>

#include <cstdint>
#include <functional>

namespace fetchora::msg {

using UINT = unsigned int;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;

// The first message number free for a program's own use.
constexpr UINT WM_USER = 0x0400;

// A window procedure: handles one message and returns its result.
using WindowProc = std::function<LRESULT(UINT message, WPARAM wParam, LPARAM lParam)>;

// The event that carries a posted message.
class MessageEvent final : public QEvent {
public:
    MessageEvent(UINT message, WPARAM wParam, LPARAM lParam);
    static QEvent::Type eventType();

    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

// A hidden window: a QObject that lives on the thread that created it and hands every
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

using HWND = HiddenWindow*;

// Creates a hidden window on the calling thread. Fails (nullptr, error code in *error)
// when the process has no application object, since nothing would ever dispatch.
HWND createHiddenWindow(WindowProc procedure, int* error = nullptr);
// Destroys window (see HiddenWindow::close); safe from inside its window procedure.
void destroyHiddenWindow(HWND window);

// Whether window is a live hidden window.
bool isWindow(HWND window);

// Queues a message for window and returns at once; false when window is not a live
// hidden window. Safe to call from any thread.
bool postMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

} // namespace fetchora::msg
