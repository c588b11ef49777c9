// Hidden windows over QObject and posted events; a registry of live windows makes
// posting from other threads safe against a window being destroyed.
#include "platform/msg/hidden_window.h"
#include "platform/msg/hidden_window_qt.h"

#include "platform/report.h"

#include <QCoreApplication>

#include <mutex>
#include <unordered_set>

namespace fetchora::msg {

namespace {

// Windows' "Cannot find window class": a window needs the application object.
constexpr int kNoApplicationError = 1407;

std::mutex& registryLock() {
    static std::mutex lock;
    return lock;
}

std::unordered_set<const HiddenWindow*>& liveWindows() {
    static std::unordered_set<const HiddenWindow*> windows;
    return windows;
}

} // namespace

MessageEvent::MessageEvent(UINT message_, WPARAM wParam_, LPARAM lParam_)
    : QEvent(eventType()), message(message_), wParam(wParam_), lParam(lParam_) {}

QEvent::Type MessageEvent::eventType() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

HiddenWindow::HiddenWindow(WindowProc procedure) : procedure_(std::move(procedure)) {
    const std::lock_guard guard(registryLock());
    liveWindows().insert(this);
}

HiddenWindow::~HiddenWindow() {
    // Once out of the registry no thread posts here any more; QObject's destructor then
    // drops the messages still queued for this window.
    const std::lock_guard guard(registryLock());
    liveWindows().erase(this);
}

LRESULT HiddenWindow::send(UINT message, WPARAM wParam, LPARAM lParam) {
    if (closed_ || !procedure_)
        return 0;
    ++depth_;
    LRESULT result = 0;
    try {
        result = procedure_(message, wParam, lParam);
    } catch (...) {
        leaveProcedure();
        throw;
    }
    leaveProcedure();
    return result;
}

void HiddenWindow::leaveProcedure() {
    // Closed from inside its own procedure: the window goes now that the call is over.
    // Qt's delivery of posted events allows the receiver to be deleted by its handler.
    --depth_;
    if (closed_ && depth_ == 0)
        delete this;
}

void HiddenWindow::close() {
    {
        const std::lock_guard guard(registryLock());
        liveWindows().erase(this);
    }
    closed_ = true;
    if (depth_ == 0)
        delete this;
}

bool HiddenWindow::event(QEvent* event) {
    if (event->type() != MessageEvent::eventType())
        return QObject::event(event);
    const auto* posted = static_cast<const MessageEvent*>(event);
    // No exception may cross the event loop: whatever the procedure lets escape is
    // reported as unhandled.
    // send() may delete the window: nothing of it is touched afterwards.
    guarded([this, posted] { send(posted->message, posted->wParam, posted->lParam); });
    return true;
}

HWND createHiddenWindow(WindowProc procedure, int* error, const char* className) {
    if (QCoreApplication::instance() == nullptr) {
        if (error != nullptr)
            *error = kNoApplicationError;
        return nullptr;
    }
    if (error != nullptr)
        *error = 0;
    auto* window = new HiddenWindow(std::move(procedure));
    window->setObjectName(QString::fromLatin1(className));
    return window;
}

void destroyHiddenWindow(HWND window) {
    if (window != nullptr)
        window->close();
}

bool isWindow(HWND window) {
    const std::lock_guard guard(registryLock());
    return window != nullptr && liveWindows().count(window) != 0;
}

bool postMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    const std::lock_guard guard(registryLock());
    if (window == nullptr || liveWindows().count(window) == 0)
        return false;
    QCoreApplication::postEvent(window, new MessageEvent(message, wParam, lParam));
    return true;
}

} // namespace fetchora::msg
