// Hidden windows over QObject and one queue of posted messages per thread; a registry of
// live windows makes posting from other threads safe against a window being destroyed.
#include "platform/msg/hidden_window.h"
#include "platform/msg/hidden_window_qt.h"

#include "platform/report.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEvent>

#include <algorithm>
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

QEvent::Type drainEventType() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

// The most messages one drain delivers before the loop's other events get their turn.
constexpr int kDrainLimit = 256;

// The queue of the calling thread while a window of it lives.
thread_local MessageQueue* threadQueue = nullptr;

} // namespace

// ---- HiddenWindow ----

HiddenWindow::HiddenWindow(WindowProc procedure)
    : procedure_(std::move(procedure)), queue_(&MessageQueue::acquire()) {
    const std::lock_guard guard(registryLock());
    liveWindows().insert(this);
}

HiddenWindow::~HiddenWindow() {
    // Once out of the registry no thread posts here any more; what is still queued for
    // this window is dropped with it.
    {
        const std::lock_guard guard(registryLock());
        liveWindows().erase(this);
    }
    queue_->release(this);
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
    queue_->drop(this);
    if (depth_ == 0)
        delete this;
}

// ---- MessageQueue ----

MessageQueue& MessageQueue::acquire() {
    if (threadQueue == nullptr)
        threadQueue = new MessageQueue;
    ++threadQueue->windows_;
    return *threadQueue;
}

void MessageQueue::release(const HiddenWindow* window) {
    drop(window);
    if (--windows_ > 0 || draining_ > 0)
        return; // a drain under way deletes the queue when it ends
    if (threadQueue == this)
        threadQueue = nullptr;
    delete this;
}

void MessageQueue::post(HiddenWindow* window, UINT message, WPARAM wParam, LPARAM lParam) {
    push(Posted{window, message, wParam, lParam, {}});
}

void MessageQueue::post(HiddenWindow* window, std::function<void()> call) {
    push(Posted{window, 0, 0, 0, std::move(call)});
}

void MessageQueue::push(Posted posted) {
    const std::lock_guard guard(lock_);
    fifo_.push_back(std::move(posted));
    // Posting on the queue's own thread needs no wake-up: the thread is running, not
    // waiting. A drain under way takes the message too; otherwise the next turn of a
    // loop posts the drain event (loopTurn), or the message pump delivers at once.
    if (threadQueue == this && (draining_ > 0 || watchLoop()))
        return;
    requestDrainLocked();
}

void MessageQueue::drop(const HiddenWindow* window) {
    const std::lock_guard guard(lock_);
    fifo_.erase(std::remove_if(fifo_.begin(), fifo_.end(),
                               [window](const Posted& item) { return item.window == window; }),
                fifo_.end());
}

void MessageQueue::requestDrainLocked() {
    if (drainPosted_ || fifo_.empty())
        return;
    drainPosted_ = true;
    QCoreApplication::postEvent(this, new QEvent(drainEventType()));
}

bool MessageQueue::event(QEvent* event) {
    if (event->type() != drainEventType())
        return QObject::event(event);
    drain();
    return true;
}

void MessageQueue::drain() {
    {
        const std::lock_guard guard(lock_);
        drainPosted_ = false;
    }
    deliver();
}

bool MessageQueue::deliverPendingOfCurrentThread() {
    MessageQueue* queue = threadQueue;
    if (queue == nullptr)
        return false;
    {
        const std::lock_guard guard(queue->lock_);
        if (queue->fifo_.empty())
            return false;
    }
    queue->deliver();
    return true;
}

void MessageQueue::deliver() {
    watchLoop();
    ++draining_;
    for (int delivered = 0; delivered < kDrainLimit; ++delivered) {
        Posted next{};
        {
            const std::lock_guard guard(lock_);
            if (fifo_.empty())
                break;
            next = std::move(fifo_.front());
            fifo_.pop_front();
        }
        // A window that went is no longer queued, so next.window is alive. No exception
        // may cross the event loop: whatever the procedure lets escape is reported as
        // unhandled and the messages behind it still arrive. send() may delete the window.
        if (next.call) {
            guarded(next.call);
            continue;
        }
        HiddenWindow* window = next.window;
        guarded([&] { window->send(next.message, next.wParam, next.lParam); });
    }
    --draining_;
    if (draining_ == 0 && windows_ == 0) {
        // The thread's last window went during the drain.
        if (threadQueue == this)
            threadQueue = nullptr;
        delete this;
        return;
    }
    // What the bound left waits for the next drain.
    const std::lock_guard guard(lock_);
    requestDrainLocked();
}

bool MessageQueue::watchLoop() {
    if (watched_ != nullptr)
        return true;
    QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
    if (dispatcher == nullptr)
        return false;
    watched_ = dispatcher;
    // Every turn of an event loop starts with one of these two.
    connect(dispatcher, &QAbstractEventDispatcher::awake, this, &MessageQueue::loopTurn);
    connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, &MessageQueue::loopTurn);
    return true;
}

void MessageQueue::loopTurn() {
    const std::lock_guard guard(lock_);
    requestDrainLocked();
}

// ---- the calls ----

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
    window->queue().post(window, message, wParam, lParam);
    return true;
}

bool postCall(HWND window, std::function<void()> call) {
    const std::lock_guard guard(registryLock());
    if (window == nullptr || liveWindows().count(window) == 0 || !call)
        return false;
    window->queue().post(window, std::move(call));
    return true;
}

} // namespace fetchora::msg
