// Window messages on the thread's event loop: a hidden receiver ("hidden window") whose
// window procedure gets posted messages (number, wParam, lParam) on the thread that owns
// it. Posting is safe from any thread; posting to a window that is gone fails quietly.
// The event loop itself (Qt's) stays behind this header.
#pragma once

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

// A hidden window: it lives on the thread that created it and hands every posted
// message to its window procedure. It is never shown and has no parent.
class HiddenWindow;

using HWND = HiddenWindow*;

// Creates a hidden window of a window class (a name that debugging tools show) on the
// calling thread. Fails (nullptr, error code in *error) when the process has no
// application object, since nothing would ever dispatch.
HWND createHiddenWindow(WindowProc procedure, int* error = nullptr, const char* className = "");
// Destroys window, at once or, when called from inside its own window procedure, as soon
// as that returns.
void destroyHiddenWindow(HWND window);

// Whether window is a live hidden window.
bool isWindow(HWND window);

// Queues a message for window and returns at once; false when window is not a live
// hidden window. Safe to call from any thread.
bool postMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Queues call to run on window's thread in its turn among the messages posted there, and
// returns at once; false when window is not a live hidden window. A call still queued
// when the window goes is dropped with the window's messages. Safe from any thread.
bool postCall(HWND window, std::function<void()> call);

} // namespace fetchora::msg
