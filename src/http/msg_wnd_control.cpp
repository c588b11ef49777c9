// The hidden windows of the HTTP client's components: handlers with their blocks of
// message numbers, the pool per thread, and the component base that takes its share on
// first use and hands escaping exceptions to its background-exception handling.
#include "http/msg_wnd_control.h"

#include "platform/msg/message_pump.h"

#include <QTimer>

#include <algorithm>

namespace fetchora {

// ---- TMsgWndHandler ----

TMsgWndHandler::TMsgWndHandler() : threadId_(std::this_thread::get_id()) {
    int error = 0;
    window_ =
        msg::createHiddenWindow([this](UINT message, WPARAM wParam,
                                       LPARAM lParam) { return WndProc(message, wParam, lParam); },
                                &error, MsgWndControlWindowClass);
    if (window_ == nullptr)
        throw EMsgWndException("Unable to create TMsgWndControl hidden window.  Error #" +
                               std::to_string(error) + ".");
    msgLow_ = MsgBase;
}

TMsgWndHandler::~TMsgWndHandler() {
    msg::destroyHiddenWindow(window_);
}

UINT TMsgWndHandler::AllocateMsgHandler(TMsgWndControl* control) {
    if (msgLow_ == 0)
        throw EMsgWndException("MsgLow not defined");
    for (int i = 0; i < MaxMsg; ++i) {
        if (slots_[static_cast<size_t>(i)] == nullptr) {
            slots_[static_cast<size_t>(i)] = control;
            ++usedCount_;
            return msgLow_ + static_cast<UINT>(i);
        }
    }
    throw EMsgWndException("No more free message");
}

void TMsgWndHandler::UnregisterMessage(UINT message) {
    if (message < msgLow_ || message >= msgLow_ + MaxMsg)
        return;
    auto& slot = slots_[message - msgLow_];
    if (slot != nullptr) {
        slot = nullptr;
        --usedCount_;
    }
}

void TMsgWndHandler::UnregisterAll(TMsgWndControl* control) {
    for (auto& slot : slots_) {
        if (slot == control) {
            slot = nullptr;
            --usedCount_;
        }
    }
}

TMsgWndControl* TMsgWndHandler::Owner(UINT message) const {
    if (message < msgLow_ || message >= msgLow_ + MaxMsg)
        return nullptr;
    return slots_[message - msgLow_];
}

LRESULT TMsgWndHandler::WndProc(UINT message, WPARAM wParam, LPARAM lParam) {
    TMsgWndControl* owner = Owner(message);
    if (owner == nullptr)
        return 0; // the default window procedure: nothing to do for a hidden window
    TMessage rec{message, wParam, lParam, 0};
    ++dispatching_;
    try {
        owner->Dispatch(rec);
    } catch (...) {
        --dispatching_;
        throw;
    }
    --dispatching_;
    // The last component of this handler went away while its message was handled: the
    // handler goes now (which may delete it, so nothing of it is touched afterwards).
    if (dispatching_ == 0 && releasePending_)
        TMsgWndHandlerPool::Instance().ReleaseHandler(this);
    return rec.Result;
}

// ---- TMsgWndHandlerPool ----

TMsgWndHandlerPool& TMsgWndHandlerPool::Instance() {
    // Never destroyed: components that outlive static destruction still find it.
    static auto* pool = new TMsgWndHandlerPool;
    return *pool;
}

TMsgWndHandler* TMsgWndHandlerPool::GetHandler(int count) {
    if (count > TMsgWndHandler::MaxMsg)
        throw EMsgWndException("No more free message");
    const std::lock_guard guard(lock_);
    auto& list = handlers_[std::this_thread::get_id()];
    for (const auto& handler : list) {
        if (handler->FreeCount() >= count)
            return handler.get();
    }
    list.push_back(std::make_unique<TMsgWndHandler>());
    return list.back().get();
}

void TMsgWndHandlerPool::ReleaseHandler(TMsgWndHandler* handler) {
    std::unique_ptr<TMsgWndHandler> doomed;
    {
        const std::lock_guard guard(lock_);
        handler->releasePending_ = false;
        if (handler->UsedCount() != 0)
            return;
        if (handler->Dispatching()) {
            handler->releasePending_ = true;
            return;
        }
        const auto found = handlers_.find(handler->ThreadId());
        if (found == handlers_.end())
            return;
        auto& list = found->second;
        const auto it = std::find_if(list.begin(), list.end(),
                                     [handler](const auto& item) { return item.get() == handler; });
        if (it == list.end())
            return;
        doomed = std::move(*it);
        list.erase(it);
        if (list.empty())
            handlers_.erase(found);
    }
    // The window is destroyed outside the lock.
}

int TMsgWndHandlerPool::HandlerCount() const {
    const std::lock_guard guard(lock_);
    const auto found = handlers_.find(std::this_thread::get_id());
    return found == handlers_.end() ? 0 : static_cast<int>(found->second.size());
}

// ---- TMsgWndControl ----

TMsgWndControl::TMsgWndControl() = default;

TMsgWndControl::~TMsgWndControl() {
    SetDestroying();
    if (handler_ != nullptr) {
        handler_->UnregisterAll(this);
        TMsgWndHandler* handler = handler_;
        handler_ = nullptr;
        handle_ = nullptr;
        TMsgWndHandlerPool::Instance().ReleaseHandler(handler);
    }
}

HWND TMsgWndControl::Handle() {
    if (handle_ == nullptr)
        AllocateWindow();
    return handle_;
}

void TMsgWndControl::AllocateWindow() {
    threadId_ = std::this_thread::get_id();
    handler_ = TMsgWndHandlerPool::Instance().GetHandler(MsgHandlersCount());
    handle_ = handler_->Handle();
    try {
        AllocateMsgHandlers();
    } catch (...) {
        DeallocateWindow();
        throw;
    }
}

void TMsgWndControl::DeallocateWindow() {
    if (handler_ == nullptr)
        return;
    FreeMsgHandlers();
    handler_->UnregisterAll(this);
    TMsgWndHandler* handler = handler_;
    handler_ = nullptr;
    handle_ = nullptr;
    TMsgWndHandlerPool::Instance().ReleaseHandler(handler);
}

void TMsgWndControl::ThreadDetach() {
    if (handle_ == nullptr)
        return;
    if (threadId_ != std::this_thread::get_id())
        throw EMsgWndException("Cannot detach from another thread");
    DeallocateWindow();
    threadId_ = std::thread::id();
}

void TMsgWndControl::ThreadAttach() {
    if (handle_ != nullptr)
        throw EMsgWndException("Cannot attach when not detached");
    AllocateWindow();
}

void TMsgWndControl::Release() {
    PostMessage(msgRelease_);
}

bool TMsgWndControl::PostMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    return msg::postMessage(Handle(), message, wParam, lParam);
}

bool TMsgWndControl::PostMessageAfter(int ms, UINT message, WPARAM wParam, LPARAM lParam) {
    HWND window = Handle();
    if (window == nullptr)
        return false;
    std::shared_ptr<const bool> alive = alive_;
    QTimer::singleShot(std::max(ms, 0), [alive, window, message, wParam, lParam]() {
        if (*alive)
            msg::postMessage(window, message, wParam, lParam);
    });
    return true;
}

void TMsgWndControl::ProcessMessages() {
    msg::processMessages();
}

int TMsgWndControl::MsgHandlersCount() {
    return 1;
}

void TMsgWndControl::AllocateMsgHandlers() {
    msgRelease_ = AllocateMsgHandler();
}

void TMsgWndControl::FreeMsgHandlers() {
    FreeMsgHandler(msgRelease_);
}

UINT TMsgWndControl::AllocateMsgHandler() {
    if (handler_ == nullptr)
        throw EMsgWndException("MsgLow not defined");
    return handler_->AllocateMsgHandler(this);
}

void TMsgWndControl::FreeMsgHandler(UINT& message) {
    if (handler_ != nullptr && message != 0)
        handler_->UnregisterMessage(message);
    message = 0;
}

void TMsgWndControl::WndProc(TMessage& MsgRec) {
    if (MsgRec.Msg == msgRelease_ && msgRelease_ != 0) {
        delete this;
        return;
    }
    MsgRec.Result = 0;
}

void TMsgWndControl::HandleBackGroundException(const std::exception& E) {
    bool CanClose = true;
    if (OnBgException)
        OnBgException(this, E, CanClose);
    if (CanClose)
        AbortComponent();
}

void TMsgWndControl::AbortComponent() {}

void TMsgWndControl::Dispatch(TMessage& MsgRec) {
    try {
        WndProc(MsgRec);
    } catch (const std::exception& error) {
        HandleBackGroundException(error);
    } catch (...) {
        HandleBackGroundException(Error("Unknown exception"));
    }
}

} // namespace fetchora
