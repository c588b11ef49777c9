// The hidden-window base of the HTTP client's components: TMsgWndControl owns a share of
// a hidden window (TMsgWndHandler) and a few message numbers of its block, so that
// asynchronous notifications arrive as messages on the thread that created it.
// TMsgWndHandlerPool keeps the handlers of every thread.
#pragma once

#include "platform/errors.h"
#include "platform/msg/hidden_window.h"

#include <array>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace fetchora {

using msg::HWND;
using msg::LPARAM;
using msg::LRESULT;
using msg::UINT;
using msg::WPARAM;

class TMsgWndControl;

// A message as a component's message procedure sees it.
struct TMessage {
    UINT Msg = 0;
    WPARAM WParam = 0;
    LPARAM LParam = 0;
    LRESULT Result = 0;
};

// Failures of the hidden windows and their messages ("No more free message", ...).
class EMsgWndException final : public Error {
public:
    explicit EMsgWndException(const std::string& message) : Error(message) {}
};

// The name the hidden windows are known by.
inline constexpr const char* MsgWndControlWindowClass = "MsgWndControlWindowClass";

// One hidden window and a block of MaxMsg consecutive message numbers starting at MsgLow;
// each slot holds the component that owns that message, or nothing. Messages of the block
// go to their owner's WndProc; an exception escaping it goes to the owner's background
// exception handling.
class TMsgWndHandler final {
public:
    static constexpr int MaxMsg = 100;
    static constexpr UINT MsgBase = msg::WM_USER + 1; // 1025: every block starts here

    TMsgWndHandler(); // creates the window on the calling thread
    ~TMsgWndHandler();
    TMsgWndHandler(const TMsgWndHandler&) = delete;
    TMsgWndHandler& operator=(const TMsgWndHandler&) = delete;

    HWND Handle() const { return window_; }
    UINT MsgLow() const { return msgLow_; }
    std::thread::id ThreadId() const { return threadId_; }
    int UsedCount() const { return usedCount_; }
    int FreeCount() const { return MaxMsg - usedCount_; }
    // True while a message of this handler is being handled.
    bool Dispatching() const { return dispatching_ > 0; }

    // Gives the next free message number of the block to control; raises
    // "No more free message" when all are taken, "MsgLow not defined" without a block.
    UINT AllocateMsgHandler(TMsgWndControl* control);
    // Frees one message number (ignored when it is not in the block).
    void UnregisterMessage(UINT message);
    // Frees every message number that control owns.
    void UnregisterAll(TMsgWndControl* control);
    // The component owning message, or nullptr.
    TMsgWndControl* Owner(UINT message) const;

    // The window procedure: dispatches a message of the block to its owner.
    LRESULT WndProc(UINT message, WPARAM wParam, LPARAM lParam);

private:
    HWND window_ = nullptr;
    UINT msgLow_ = 0;
    std::thread::id threadId_;
    int usedCount_ = 0;
    int dispatching_ = 0;
    bool releasePending_ = false;
    friend class TMsgWndHandlerPool;
    std::array<TMsgWndControl*, MaxMsg> slots_{};
};

// The process-wide pool: for each thread, its list of handlers. Guarded by a lock, since
// components of several threads share it.
class TMsgWndHandlerPool final {
public:
    static TMsgWndHandlerPool& Instance();

    // A handler of the calling thread with at least count free slots, or a new one.
    // The caller allocates its messages from it at once.
    TMsgWndHandler* GetHandler(int count);
    // Destroys handler (and its window) when none of its slots is taken any more.
    void ReleaseHandler(TMsgWndHandler* handler);
    // Number of handlers of the calling thread.
    int HandlerCount() const;

private:
    TMsgWndHandlerPool() = default;
    mutable std::mutex lock_;
    std::map<std::thread::id, std::vector<std::unique_ptr<TMsgWndHandler>>> handlers_;
};

// A component with a share of a hidden window. The window and the component's messages
// are taken on first use (Handle()) on the calling thread, which the component then
// belongs to, and returned when it is destroyed or detached.
//
// A derived component that needs its own messages overrides MsgHandlersCount (adding to
// the base's count), AllocateMsgHandlers and FreeMsgHandlers (calling the base first and
// taking or returning its numbers with AllocateMsgHandler/FreeMsgHandler), and WndProc
// (handling its numbers and passing everything else to the base).
class TMsgWndControl {
public:
    TMsgWndControl();
    virtual ~TMsgWndControl();
    TMsgWndControl(const TMsgWndControl&) = delete;
    TMsgWndControl& operator=(const TMsgWndControl&) = delete;

    // The hidden window; taken with the component's messages on the first call.
    HWND Handle();
    bool HandleAllocated() const { return handle_ != nullptr; }
    // The thread the component belongs to (default id until the window is taken).
    std::thread::id ThreadId() const { return threadId_; }

    // Returns window and messages; raises "Cannot detach from another thread".
    void ThreadDetach();
    // Takes window and messages on the calling thread; raises "Cannot attach when not
    // detached" when the component still has them.
    void ThreadAttach();

    // Posts the release message: its handling deletes the component. Only for
    // components made with new.
    void Release();

    // Posts a message to the component's own window; false when it cannot.
    bool PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
    // Posts a message to the component's own window once ms milliseconds have passed: a
    // one-shot timer message. Nothing arrives once the component is gone.
    bool PostMessageAfter(int ms, UINT message, WPARAM wParam = 0, LPARAM lParam = 0);

    // Processes the messages pending for the thread (the application's processing, as
    // MultiThreaded is false in this system).
    void ProcessMessages();

    // The component's name, as reported in messages ("HTTP component ... is busy").
    std::string Name;
    bool MultiThreaded = false;

    // Told of an exception that escaped the component's message handling; CanClose is
    // true on entry, and false keeps the component (a socket) open.
    std::function<void(TMsgWndControl* Sender, const std::exception& E, bool& CanClose)>
        OnBgException;

protected:
    // How many messages the component needs (the base: one, the release message).
    virtual int MsgHandlersCount();
    // Takes the component's messages from Handler(); the base takes the release message.
    virtual void AllocateMsgHandlers();
    // Returns the component's messages; the base returns the release message.
    virtual void FreeMsgHandlers();
    // The component's message procedure: handles its own numbers and passes the rest
    // on. The base handles the release message.
    virtual void WndProc(TMessage& MsgRec);
    // The handling of an exception that escaped WndProc: asks OnBgException and, when it
    // allows, calls AbortComponent.
    virtual void HandleBackGroundException(const std::exception& E);
    // What a background exception does to the component when it may close it: nothing
    // for the base; a socket aborts.
    virtual void AbortComponent();

    // One message number of the handler for this component ("No more free message" when
    // none is left).
    UINT AllocateMsgHandler();
    // Returns message (and sets it to 0).
    void FreeMsgHandler(UINT& message);

    TMsgWndHandler* Handler() const { return handler_; }
    // True while the destructor runs (no events are raised then).
    bool Destroying() const { return destroying_; }
    // Marks the component as going: from here on no LifeWatch finds it alive. A derived
    // destructor calls it first, before it tears anything down.
    void SetDestroying() {
        destroying_ = true;
        *alive_ = false;
    }

    // Watches the component across a call that may destroy it (an event handler may
    // free the component that raised the event): made before the call, alive() tells
    // afterwards whether the component is still there.
    class LifeWatch final {
    public:
        explicit LifeWatch(const TMsgWndControl& control) : alive_(control.alive_) {}
        bool alive() const { return *alive_; }

    private:
        std::shared_ptr<const bool> alive_;
    };

    UINT msgRelease_ = 0;

private:
    friend class TMsgWndHandler;
    // Called by the handler with a message of this component.
    void Dispatch(TMessage& MsgRec);
    void AllocateWindow();
    void DeallocateWindow();

    HWND handle_ = nullptr;
    TMsgWndHandler* handler_ = nullptr;
    std::thread::id threadId_;
    bool destroying_ = false;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace fetchora
