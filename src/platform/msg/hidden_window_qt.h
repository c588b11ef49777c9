// The Qt side of hidden windows: the QObject that receives a window's messages and the
// per-thread queue that holds posted messages until one Qt event drains them. Only the
// message layer's own sources include this header.
#pragma once

#include "platform/msg/hidden_window.h"

#include <QObject>
#include <QPointer>

#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>

class QAbstractEventDispatcher;

namespace fetchora::msg {

class MessageQueue;

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
    // window procedure, as soon as that returns. Messages still queued for it are dropped.
    void close();

    // The queue of the window's thread, which its posted messages wait in.
    MessageQueue& queue() const { return *queue_; }

private:
    void leaveProcedure();

    WindowProc procedure_;
    MessageQueue* queue_;
    int depth_ = 0; // window procedure calls under way
    bool closed_ = false;
};

// One thread's posted messages, in the order they were posted, whatever their window.
// A post from another thread wakes the thread's event loop (one Qt event to the queue)
// unless a drain is on its way already. A post on the thread itself wakes nothing, since
// the thread is not waiting: a drain under way takes the message too, the message pump
// delivers at once, and the start of any other loop's next turn posts the drain event.
// A drain delivers until the queue is empty or a bound is reached, so a window that
// keeps posting to itself never starves the loop's other events; a loop nested in a
// procedure still gets the messages queued behind it. The queue lives as long as a
// window of its thread does.
class MessageQueue final : public QObject {
public:
    // The calling thread's queue, made for a window of the thread; release() gives it
    // back when the window goes.
    static MessageQueue& acquire();
    void release(const HiddenWindow* window);

    // Queues a message for window (of this queue's thread), or a call to run in its
    // turn. Safe from any thread.
    void post(HiddenWindow* window, UINT message, WPARAM wParam, LPARAM lParam);
    void post(HiddenWindow* window, std::function<void()> call);
    // Drops every message queued for window.
    void drop(const HiddenWindow* window);

    // Delivers the messages queued for the calling thread's windows now, as their drain
    // event would (the message pump's turn); false when none was waiting.
    static bool deliverPendingOfCurrentThread();

protected:
    bool event(QEvent* event) override;

private:
    struct Posted {
        HiddenWindow* window = nullptr;
        UINT message = 0;
        WPARAM wParam = 0;
        LPARAM lParam = 0;
        std::function<void()> call; // runs instead of the window procedure when set
    };

    void push(Posted posted);

    MessageQueue() = default;
    ~MessageQueue() override = default;

    // The drain event's delivery, and the delivery itself.
    void drain();
    void deliver();
    // Posts the drain event unless one is on its way; the caller holds lock_.
    void requestDrainLocked();
    // A loop of the thread takes a turn: what waits needs its drain event now.
    void loopTurn();
    // Hears every turn of the thread's event loops, whoever runs them; false when the
    // thread has no event dispatcher to hear.
    bool watchLoop();

    std::mutex lock_;
    std::deque<Posted> fifo_;
    bool drainPosted_ = false; // guarded by lock_
    // The owning thread's own state (draining_ is read only there too).
    int windows_ = 0;
    int draining_ = 0;
    QPointer<QAbstractEventDispatcher> watched_;
};

} // namespace fetchora::msg
