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
// Posting wakes the thread's event loop only when no drain is on its way and none is
// running on the thread: one Qt event then delivers the queue's messages, including
// those that procedures post meanwhile, until it is empty or a bound is reached, so a
// window that keeps posting to itself never starves the loop's other events. An event
// loop started by a message's procedure still gets the messages queued behind it. The
// queue lives as long as a window of its thread does.
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

    // An event loop of the calling thread takes a turn (the message pump says so before
    // it dispatches): messages that a drain under way has not delivered yet get a drain
    // event of their own, so that a loop nested in a procedure delivers them.
    static void loopTurnOfCurrentThread();

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

    void drain();
    // Posts the drain event unless one is on its way; the caller holds lock_.
    void requestDrainLocked();
    // A loop of the thread takes a turn: when that happens inside a drain (a procedure
    // pumps messages), what the drain has not delivered yet needs a drain event.
    void loopTurn();
    // Hears every turn of the thread's event loops, whoever runs them.
    void watchLoop();

    std::mutex lock_;
    std::deque<Posted> fifo_;
    bool drainPosted_ = false; // guarded by lock_
    // The owning thread's own state (draining_ is read only there too).
    int windows_ = 0;
    int draining_ = 0;
    QPointer<QAbstractEventDispatcher> watched_;
};

} // namespace fetchora::msg
