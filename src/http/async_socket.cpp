// TAsyncSocket: name lookup, connecting, the chained send buffer, receiving, closing and
// error reporting, all driven by the socket notifications posted to the component's
// hidden window. Start-up and conversions are in async_socket_startup.cpp.
#include "http/async_socket.h"

#include <algorithm>
#include <cstring>

namespace fetchora {

namespace ws = winsock;

// ---- the send buffer ----

// One link of the send chain: up to SendBufferSize bytes, of which those from start_ on
// are still to be sent.
struct TAsyncSocket::SendBuffer {
    char data[SendBufferSize];
    int start = 0;
    int end = 0;

    int Room() const { return SendBufferSize - end; }
    int Size() const { return end - start; }
};

void TAsyncSocket::PutDataInSendBuffer(const void* Data, int Len) {
    const char* bytes = static_cast<const char*>(Data);
    while (Len > 0) {
        if (bufList_.empty() || bufList_.back()->Room() == 0)
            bufList_.push_back(std::make_unique<SendBuffer>());
        SendBuffer& last = *bufList_.back();
        const int piece = std::min(Len, last.Room());
        std::memcpy(last.data + last.end, bytes, static_cast<size_t>(piece));
        last.end += piece;
        bytes += piece;
        Len -= piece;
        bufferedByteCount_ += piece;
    }
}

void TAsyncSocket::DeleteBufferedData() {
    bufList_.clear();
    bufferedByteCount_ = 0;
}

// ---- life ----

TAsyncSocket::TAsyncSocket() = default;

TAsyncSocket::~TAsyncSocket() {
    SetDestroying();
    try {
        CancelLookup(LateLookup::Drop);
        if (hSocket_ != ws::INVALID_SOCKET)
            InternalClose(false, 0);
    } catch (...) {
        // A destructor reports nothing: the socket is going anyway.
    }
    DeleteBufferedData();
    Cleanup();
}

int TAsyncSocket::MsgHandlersCount() {
    return 6 + TMsgWndControl::MsgHandlersCount();
}

void TAsyncSocket::AllocateMsgHandlers() {
    TMsgWndControl::AllocateMsgHandlers();
    msgAsyncSelect_ = AllocateMsgHandler();
    msgAsyncGetHostByName_ = AllocateMsgHandler();
    msgAsyncGetHostByAddr_ = AllocateMsgHandler();
    msgCloseDelayed_ = AllocateMsgHandler();
    msgTriggerDataAvailable_ = AllocateMsgHandler();
    msgTriggerException_ = AllocateMsgHandler();
}

void TAsyncSocket::FreeMsgHandlers() {
    FreeMsgHandler(msgAsyncSelect_);
    FreeMsgHandler(msgAsyncGetHostByName_);
    FreeMsgHandler(msgAsyncGetHostByAddr_);
    FreeMsgHandler(msgCloseDelayed_);
    FreeMsgHandler(msgTriggerDataAvailable_);
    FreeMsgHandler(msgTriggerException_);
    TMsgWndControl::FreeMsgHandlers();
}

// ---- properties ----

void TAsyncSocket::SetAddr(const std::string& Value) {
    if (state_ != wsClosed) {
        RaiseException("Cannot change Addr if not closed");
        return;
    }
    addrStr_ = Value;
    addrAssigned_ = true;
}

void TAsyncSocket::SetPort(const std::string& Value) {
    if (state_ != wsClosed) {
        RaiseException("Cannot change Port if not closed");
        return;
    }
    portStr_ = Value;
    portAssigned_ = true;
}

void TAsyncSocket::SetProto(const std::string& Value) {
    if (state_ != wsClosed) {
        RaiseException("Cannot change Proto if not closed");
        return;
    }
    protoStr_ = Value;
}

void TAsyncSocket::SetLocalAddr(const std::string& Value) {
    if (state_ != wsClosed) {
        RaiseException("Cannot change LocalAddr if not closed");
        return;
    }
    localAddr_ = Value.empty() ? "0.0.0.0" : Value;
}

void TAsyncSocket::SetLocalPort(const std::string& Value) {
    if (state_ != wsClosed) {
        RaiseException("Cannot change LocalPort if not closed");
        return;
    }
    localPortStr_ = Value.empty() ? "0" : Value;
}

void TAsyncSocket::SetTlsHost(const std::string& Value) {
    if (state_ != wsClosed) {
        RaiseException("Cannot change TlsHost if not closed");
        return;
    }
    tlsHost_ = Value;
}

// ---- reporting ----

void TAsyncSocket::ChangeState(TSocketState NewState) {
    const TSocketState OldState = state_;
    state_ = NewState;
    if (OldState != NewState && OnChangeState) {
        const auto handler = OnChangeState;
        handler(this, OldState, NewState);
    }
}

void TAsyncSocket::RaiseException(const std::string& Msg) {
    lastErrorMessage_ = Msg;
    if (OnError) {
        const auto handler = OnError;
        handler(this);
        return;
    }
    throw ESocketException(Msg, lastError_);
}

void TAsyncSocket::SocketError(const std::string& Sockfunc) {
    SocketErrorCode(Sockfunc, ws::WSAGetLastError());
}

void TAsyncSocket::SocketErrorCode(const std::string& Sockfunc, int Error) {
    const std::string line =
        WSocketErrorDesc(Error) + " (#" + std::to_string(Error) + " in " + Sockfunc + ")";
    if (Error == ws::WSAECONNRESET || Error == ws::WSAENOTCONN) {
        if (hSocket_ != ws::INVALID_SOCKET)
            ws::closesocket(hSocket_);
        hSocket_ = ws::INVALID_SOCKET;
        if (state_ != wsClosed) {
            const LifeWatch watch(*this);
            if (!closeInvoked_) {
                closeInvoked_ = true;
                TriggerSessionClosed(Error);
                if (!watch.alive())
                    return;
            }
            ChangeState(wsClosed);
            if (!watch.alive())
                return;
        }
    }
    lastError_ = Error;
    RaiseException(line);
}

namespace {

// Calls a socket event through a copy of its handler, so that a handler that replaces
// or clears itself while it runs is not destroyed under its own feet.
template <typename Handler> void raise(const Handler& event, TAsyncSocket* sender, int ErrCode) {
    if (event) {
        const Handler handler = event;
        handler(sender, ErrCode);
    }
}

} // namespace

void TAsyncSocket::TriggerDnsLookupDone(int ErrCode) {
    raise(OnDnsLookupDone, this, ErrCode);
}

void TAsyncSocket::TriggerSessionConnected(int ErrCode) {
    raise(OnSessionConnected, this, ErrCode);
}

void TAsyncSocket::TriggerDataAvailable(int ErrCode) {
    raise(OnDataAvailable, this, ErrCode);
}

void TAsyncSocket::TriggerDataSent(int ErrCode) {
    raise(OnDataSent, this, ErrCode);
}

void TAsyncSocket::TriggerSessionClosed(int ErrCode) {
    raise(OnSessionClosed, this, ErrCode);
}

// ---- name lookup ----

void TAsyncSocket::DnsLookup(const std::string& HostName) {
    if (HostName.empty()) {
        lastError_ = ws::WSAEINVAL;
        const LifeWatch watch(*this);
        RaiseException("DNS lookup: invalid host name.");
        if (watch.alive())
            TriggerDnsLookupDone(ws::WSAEINVAL);
        return;
    }
    Startup();
    if (dnsLookupHandle_ != 0) {
        // A new lookup replaces the pending one without a notification for it.
        ws::WSACancelAsyncRequest(dnsLookupHandle_);
        dnsLookupHandle_ = 0;
    }
    dnsResult_.clear();
    dnsResultList_.clear();

    if (WSocketIsDottedIP(HostName)) {
        const std::uint32_t address = ws::inet_addr(HostName.c_str());
        if (address != ws::WS_INADDR_NONE || HostName == "255.255.255.255") {
            ws::IN_ADDR in;
            in.S_addr = address;
            dnsResult_ = ws::inet_ntoa(in);
            dnsResultList_.push_back(dnsResult_);
            TriggerDnsLookupDone(0);
            return;
        }
    }

    HWND window = nullptr;
    try {
        window = Handle();
    } catch (const Error&) {
        window = nullptr;
    }
    if (window == nullptr) {
        lastError_ = ws::WSAEINVAL;
        RaiseException("DnsLookup: Window not assigned");
        return;
    }
    dnsLookupStarting_ = true;
    dnsLookupKept_ = false;
    const ws::HANDLE handle = ws::WSAAsyncGetHostByName(window, msgAsyncGetHostByName_,
                                                        HostName.c_str(), &dnsLookupBuffer_);
    dnsLookupStarting_ = false;
    if (handle == 0) {
        const int error = ws::WSAGetLastError();
        lastError_ = error;
        RaiseException(HostName + ": can't start DNS lookup - " + WSocketErrorDesc(error) + " (#" +
                       std::to_string(error) + ")");
        return;
    }
    dnsLookupHandle_ = handle;
    if (dnsLookupKept_ && dnsLookupKeptHandle_ == handle) {
        dnsLookupKept_ = false;
        HandleDnsLookupDone(dnsLookupKeptError_);
    }
}

void TAsyncSocket::HandleDnsLookupDone(int Error) {
    dnsLookupHandle_ = 0;
    if (Error == 0) {
        for (const ws::IN_ADDR& address : dnsLookupBuffer_.h_addr_list)
            dnsResultList_.push_back(ws::inet_ntoa(address));
        if (!dnsResultList_.empty())
            dnsResult_ = dnsResultList_.front();
    }
    TriggerDnsLookupDone(Error);
}

void TAsyncSocket::CancelDnsLookup() {
    CancelLookup(LateLookup::Report);
}

void TAsyncSocket::CancelLookup(LateLookup late) {
    if (dnsLookupHandle_ == 0)
        return;
    const ws::HANDLE handle = dnsLookupHandle_;
    if (ws::WSACancelAsyncRequest(handle) == 0) {
        dnsLookupHandle_ = 0;
        if (!Destroying())
            TriggerDnsLookupDone(ws::WSAEINTR);
        return;
    }
    const int error = ws::WSAGetLastError();
    if (error == ws::WSAEALREADY && late == LateLookup::Report && !Destroying()) {
        // Too late: the result is on its way. The cancellation fails, and the result
        // still arrives as OnDnsLookupDone since its handle stays the pending one.
        SocketErrorCode("WSACancelAsyncRequest", error);
        return;
    }
    dnsLookupHandle_ = 0;
    if (error != ws::WSAEALREADY) {
        SocketErrorCode("WSACancelAsyncRequest", error);
        return;
    }
    // Dropped on purpose (abort, destruction): its message no longer matches a pending
    // handle; the lookup ends as cancelled.
    if (!Destroying())
        TriggerDnsLookupDone(ws::WSAEINTR);
}

// ---- connecting ----

void TAsyncSocket::SetLingerOption() {
    if (lingerOnOff_ == wsLingerNoSet || hSocket_ == ws::INVALID_SOCKET)
        return;
    ws::LINGER value;
    value.l_onoff = lingerOnOff_ == wsLingerOn ? 1 : 0;
    value.l_linger = static_cast<std::uint16_t>(std::clamp(lingerTimeout_, 0, 65535));
    if (ws::setsockopt(hSocket_, ws::WS_SOL_SOCKET, ws::WS_SO_LINGER, &value,
                       static_cast<int>(sizeof value)) != 0)
        SocketError("setsockopt(SO_LINGER)");
}

void TAsyncSocket::Connect() {
    if (hSocket_ != ws::INVALID_SOCKET && state_ != wsClosed) {
        lastError_ = ws::WSAEISCONN;
        RaiseException("Connect: Socket already in use");
        return;
    }
    if (!portAssigned_) {
        lastError_ = ws::WSAEINVAL;
        RaiseException("Connect: No Port Specified");
        return;
    }
    if (!addrAssigned_) {
        lastError_ = ws::WSAEINVAL;
        RaiseException("Connect: No IP Address Specified");
        return;
    }
    if (protoStr_.empty()) {
        lastError_ = ws::WSAEINVAL;
        RaiseException("Connect: No Protocol Specified");
        return;
    }
    Startup();

    std::uint16_t localPort = 0;
    std::uint32_t localAddress = ws::WS_INADDR_ANY;
    try {
        proto_ = WSocketResolveProto(protoStr_);
        sin_ = ws::SOCKADDR_IN{};
        sin_.sin_port = WSocketResolvePort(portStr_, protoStr_);
        localPort = WSocketResolvePort(localPortStr_, protoStr_);
        sin_.sin_addr.S_addr = WSocketResolveHost(addrStr_);
        if (localAddr_ != "0.0.0.0")
            localAddress = WSocketResolveHost(localAddr_);
    } catch (const ESocketException& error) {
        lastError_ = error.ErrorCode != 0 ? error.ErrorCode : ws::WSAEINVAL;
        RaiseException(std::string("connect: ") + error.what());
        return;
    }
    if (proto_ != ws::WS_IPPROTO_TCP) {
        lastError_ = ws::WSAEPROTONOSUPPORT;
        RaiseException("connect: Winsock Resolve Proto: Cannot convert protocol '" + protoStr_ +
                       "' - " + WSocketErrorDesc(ws::WSAEPROTONOSUPPORT));
        return;
    }

    DeleteBufferedData();
    allSent_ = true;
    hSocket_ = ws::socket(ws::WS_AF_INET, ws::WS_SOCK_STREAM, ws::WS_IPPROTO_TCP);
    if (hSocket_ == ws::INVALID_SOCKET) {
        SocketError("Connect (socket)");
        return;
    }
    int size = 0;
    int length = static_cast<int>(sizeof size);
    if (ws::getsockopt(hSocket_, ws::WS_SOL_SOCKET, ws::WS_SO_SNDBUF, &size, &length) == 0)
        sndBufSize_ = size;
    length = static_cast<int>(sizeof size);
    if (ws::getsockopt(hSocket_, ws::WS_SOL_SOCKET, ws::WS_SO_RCVBUF, &size, &length) == 0)
        rcvBufSize_ = size;

    const LifeWatch watch(*this);
    closeInvoked_ = false;
    readCount_ = 0;
    ChangeState(wsOpened);
    if (!watch.alive())
        return;

    const int on = 1;
    if (ws::setsockopt(hSocket_, ws::WS_SOL_SOCKET, ws::WS_SO_REUSEADDR, &on,
                       static_cast<int>(sizeof on)) != 0) {
        SocketError("setsockopt(SO_REUSEADDR)");
        return;
    }
    if ((ComponentOptions & wsoTcpNoDelay) != 0 &&
        ws::setsockopt(hSocket_, ws::WS_IPPROTO_TCP, ws::WS_TCP_NODELAY, &on,
                       static_cast<int>(sizeof on)) != 0) {
        SocketError("setsockopt(IPPROTO_TCP, TCP_NODELAY)");
        return;
    }
    SetLingerOption();
    if (!watch.alive() || hSocket_ == ws::INVALID_SOCKET)
        return;

    if (localPort != 0 || localAddress != ws::WS_INADDR_ANY) {
        ws::SOCKADDR_IN local;
        local.sin_port = localPort;
        local.sin_addr.S_addr = localAddress;
        if (ws::bind(hSocket_, &local, static_cast<int>(sizeof local)) != 0) {
            SocketError("bind");
            return;
        }
    }

    HWND window = nullptr;
    try {
        window = Handle();
    } catch (const Error&) {
        window = nullptr;
    }
    if (ws::WSAAsyncSelect(hSocket_, window, msgAsyncSelect_,
                           ws::FD_READ | ws::FD_WRITE | ws::FD_ACCEPT | ws::FD_CONNECT |
                               ws::FD_CLOSE) != 0) {
        SocketError("WSAAsyncSelect");
        return;
    }

    tlsFailure_.clear();
    tlsHandshake_ = false;
    if (ws::connect(hSocket_, &sin_, static_cast<int>(sizeof sin_)) == 0 ||
        ws::WSAGetLastError() == ws::WSAEWOULDBLOCK) {
        // A connect that failed at once has its FD_CONNECT on the way already: TLS is
        // refused with WSAENOTCONN then, and the failure is reported as usual.
        if (!tlsHost_.empty() && ws::startTls(hSocket_, tlsHost_) != 0 &&
            ws::WSAGetLastError() != ws::WSAENOTCONN) {
            tlsFailure_ = ws::tlsFailure(hSocket_);
            SocketError("Connect (TLS)");
            return;
        }
        ChangeState(wsConnecting);
        return;
    }
    SocketError("Connect");
}

// ---- sending and receiving ----

int TAsyncSocket::Send(const void* Data, int Len) {
    if (state_ != wsConnected && state_ != wsSocksConnected) {
        ws::WSASetLastError(ws::WSAENOTCONN);
        SocketError("Send");
        return -1;
    }
    if (Len <= 0 || Data == nullptr)
        return 0;
    PutDataInSendBuffer(Data, Len);
    allSent_ = false;
    const LifeWatch watch(*this);
    TryToSend();
    if (!watch.alive())
        return Len;
    // Everything went at once: OnDataSent follows through the write notification.
    if (bufList_.empty() && hSocket_ != ws::INVALID_SOCKET)
        PostMessage(msgAsyncSelect_, hSocket_, ws::WSAMAKESELECTREPLY(ws::FD_WRITE, 0));
    return Len;
}

void TAsyncSocket::StartTls(const std::string& Host) {
    if (state_ != wsConnected || hSocket_ == ws::INVALID_SOCKET) {
        ws::WSASetLastError(ws::WSAENOTCONN);
        SocketError("StartTls");
        return;
    }
    tlsFailure_.clear();
    if (ws::startTls(hSocket_, Host) != 0) {
        tlsFailure_ = ws::tlsFailure(hSocket_);
        SocketError("StartTls");
        return;
    }
    tlsHandshake_ = true;
}

int TAsyncSocket::SendStr(const std::string& Str) {
    return Send(Str.data(), static_cast<int>(Str.size()));
}

void TAsyncSocket::TryToSend() {
    while (!bufList_.empty() && hSocket_ != ws::INVALID_SOCKET) {
        SendBuffer& first = *bufList_.front();
        const int length = first.Size();
        if (length == 0) {
            bufList_.pop_front();
            continue;
        }
        const int count = ws::send(hSocket_, first.data + first.start, length, 0);
        if (count == 0)
            return;
        if (count < 0) {
            const int error = ws::WSAGetLastError();
            if (error == ws::WSAEWOULDBLOCK)
                return;
            if (error == ws::WSAEINVAL || error == ws::WSAENOTSOCK ||
                error == ws::WSAECONNABORTED || error == ws::WSAECONNRESET ||
                error == ws::WSAENOTCONN) {
                lastError_ = error;
                closeInvoked_ = true;
                const LifeWatch watch(*this);
                Close();
                if (watch.alive())
                    TriggerSessionClosed(error);
                return;
            }
            SocketErrorCode("TryToSend failed", error);
            return;
        }
        first.start += count;
        bufferedByteCount_ -= count;
        if (first.Size() == 0)
            bufList_.pop_front();
        if (count < length)
            return;
    }
}

int TAsyncSocket::Receive(void* Buffer, int BufferSize) {
    const int count = ws::recv(hSocket_, Buffer, BufferSize, 0);
    if (count < 0)
        lastError_ = ws::WSAGetLastError();
    else
        readCount_ += count;
    return count;
}

std::string TAsyncSocket::ReceiveStr() {
    std::string result;
    const int waiting = RcvdCount();
    if (waiting <= 0)
        return result;
    result.resize(static_cast<size_t>(waiting));
    const int count = Receive(result.data(), waiting);
    result.resize(count > 0 ? static_cast<size_t>(count) : 0);
    return result;
}

int TAsyncSocket::RcvdCount() {
    if (hSocket_ == ws::INVALID_SOCKET)
        return 0;
    unsigned long waiting = 0;
    if (ws::ioctlsocket(hSocket_, ws::WS_FIONREAD, &waiting) != 0)
        return -1;
    return static_cast<int>(std::min<unsigned long>(waiting, 0x7FFFFFFF));
}

// ---- closing ----

void TAsyncSocket::Close() {
    InternalClose(true, 0);
}

void TAsyncSocket::CloseDelayed() {
    PostMessage(msgCloseDelayed_);
}

void TAsyncSocket::Abort() {
    CancelLookup(LateLookup::Drop);
    DeleteBufferedData();
    if (hSocket_ != ws::INVALID_SOCKET && state_ == wsConnected && proto_ == ws::WS_IPPROTO_TCP) {
        ws::LINGER off;
        ws::setsockopt(hSocket_, ws::WS_SOL_SOCKET, ws::WS_SO_LINGER, &off,
                       static_cast<int>(sizeof off));
    }
    InternalClose(false, 0);
}

void TAsyncSocket::Shutdown(int How) {
    if (hSocket_ != ws::INVALID_SOCKET)
        ws::shutdown(hSocket_, How);
}

void TAsyncSocket::InternalClose(bool Shut, int Error) {
    const LifeWatch watch(*this);
    if (hSocket_ == ws::INVALID_SOCKET) {
        if (state_ != wsClosed && !Destroying())
            ChangeState(wsClosed);
        DeleteBufferedData();
        allSent_ = true;
        return;
    }
    if (Shut && state_ != wsClosed)
        ws::shutdown(hSocket_, ws::SD_SEND);
    int failure = 0;
    for (;;) {
        if (ws::closesocket(hSocket_) == 0)
            break;
        const int error = ws::WSAGetLastError();
        if (error == ws::WSAEWOULDBLOCK && !Destroying()) {
            ProcessMessages();
            if (!watch.alive() || hSocket_ == ws::INVALID_SOCKET)
                return;
            continue;
        }
        failure = error;
        break;
    }
    hSocket_ = ws::INVALID_SOCKET;
    DeleteBufferedData();
    allSent_ = true;
    if (Destroying()) {
        state_ = wsClosed;
        return;
    }
    if (failure != 0 && failure != ws::WSANOTINITIALISED) {
        SocketErrorCode("Disconnect (closesocket)", failure);
        if (!watch.alive())
            return;
    }
    ChangeState(wsClosed);
    if (!watch.alive())
        return;
    if (!closeInvoked_) {
        closeInvoked_ = true;
        TriggerSessionClosed(Error);
    }
}

// ---- events ----

void TAsyncSocket::WndProc(TMessage& MsgRec) {
    const LifeWatch watch(*this);
    if (MsgRec.Msg == msgAsyncSelect_ && msgAsyncSelect_ != 0) {
        if (static_cast<ws::SOCKET>(MsgRec.WParam) != hSocket_ || hSocket_ == ws::INVALID_SOCKET)
            return; // for a socket closed since
        const int events = ws::WSAGETSELECTEVENT(MsgRec.LParam);
        const int error = ws::WSAGETSELECTERROR(MsgRec.LParam);
        if ((events & ws::FD_CONNECT) != 0) {
            Do_FD_CONNECT(error);
            if (!watch.alive())
                return;
        }
        if ((events & ws::FD_READ) != 0) {
            Do_FD_READ(error);
            if (!watch.alive())
                return;
        }
        if ((events & ws::FD_WRITE) != 0) {
            Do_FD_WRITE(error);
            if (!watch.alive())
                return;
        }
        if ((events & ws::FD_CLOSE) != 0)
            Do_FD_CLOSE(error);
        return;
    }
    if (MsgRec.Msg == msgAsyncGetHostByName_ && msgAsyncGetHostByName_ != 0) {
        const auto handle = static_cast<ws::HANDLE>(MsgRec.WParam);
        const int error = ws::WSAGETASYNCERROR(MsgRec.LParam);
        if (dnsLookupHandle_ != 0 && handle == dnsLookupHandle_) {
            HandleDnsLookupDone(error);
        } else if (dnsLookupHandle_ == 0 && dnsLookupStarting_) {
            // Arrived before the start call gave its handle: handled right after it.
            dnsLookupKept_ = true;
            dnsLookupKeptHandle_ = handle;
            dnsLookupKeptError_ = error;
        }
        return;
    }
    if (MsgRec.Msg == msgAsyncGetHostByAddr_ && msgAsyncGetHostByAddr_ != 0)
        return; // reverse lookups are not made
    if (MsgRec.Msg == msgCloseDelayed_ && msgCloseDelayed_ != 0) {
        Close();
        return;
    }
    if (MsgRec.Msg == msgTriggerDataAvailable_ && msgTriggerDataAvailable_ != 0) {
        if (hSocket_ != ws::INVALID_SOCKET && state_ == wsConnected)
            ReceiveLoop(0);
        return;
    }
    if (MsgRec.Msg == msgTriggerException_ && msgTriggerException_ != 0)
        return;
    TMsgWndControl::WndProc(MsgRec);
}

void TAsyncSocket::AbortComponent() {
    try {
        Abort();
    } catch (...) {
        // Aborting after a background exception must not raise a second one.
    }
}

void TAsyncSocket::Do_FD_CONNECT(int Error) {
    if (Error == ws::WSAETLSFAILED)
        tlsFailure_ = ws::tlsFailure(hSocket_);
    const LifeWatch watch(*this);
    if (state_ == wsConnected) {
        // The end of a handshake started on the connected socket.
        if (!tlsHandshake_)
            return;
        tlsHandshake_ = false;
        TriggerSessionConnected(Error);
        if (watch.alive() && Error != 0 && state_ != wsClosed)
            Close();
        return;
    }
    ChangeState(wsConnected);
    if (!watch.alive())
        return;
    TriggerSessionConnected(Error);
    if (!watch.alive())
        return;
    if (Error != 0 && state_ != wsClosed)
        Close();
}

void TAsyncSocket::Do_FD_READ(int Error) {
    const LifeWatch watch(*this);
    if (state_ == wsConnecting || state_ == wsOpened) {
        ChangeState(wsConnected);
        if (!watch.alive())
            return;
        TriggerSessionConnected(Error);
        if (!watch.alive() || hSocket_ == ws::INVALID_SOCKET)
            return;
    }
    ReceiveLoop(Error);
}

void TAsyncSocket::ReceiveLoop(int Error) {
    const LifeWatch watch(*this);
    if (!OnDataAvailable) {
        // Nobody reads: what waits is read and thrown away.
        char scratch[4096];
        while (hSocket_ != ws::INVALID_SOCKET && RcvdCount() > 0) {
            if (Receive(scratch, static_cast<int>(sizeof scratch)) <= 0)
                break;
        }
        return;
    }
    for (;;) {
        TriggerDataAvailable(Error);
        if (!watch.alive())
            return;
        // A handler that leaves data unread is called again while data waits.
        if (!OnDataAvailable || hSocket_ == ws::INVALID_SOCKET || state_ != wsConnected)
            return;
        if (RcvdCount() <= 0)
            return;
    }
}

void TAsyncSocket::Do_FD_WRITE(int Error) {
    const LifeWatch watch(*this);
    TryToSend();
    if (!watch.alive())
        return;
    if (bufList_.empty() && !allSent_) {
        allSent_ = true;
        TriggerDataSent(Error);
    }
}

void TAsyncSocket::Do_FD_CLOSE(int Error) {
    if (state_ == wsConnecting || hSocket_ == ws::INVALID_SOCKET)
        return;
    if (Error == ws::WSAETLSFAILED)
        tlsFailure_ = ws::tlsFailure(hSocket_);
    const LifeWatch watch(*this);
    // Data that arrived with the close is delivered before the close is reported.
    if (OnDataAvailable && RcvdCount() > 0) {
        ReceiveLoop(Error);
        if (!watch.alive())
            return;
    }
    if (!closeInvoked_) {
        closeInvoked_ = true;
        TriggerSessionClosed(Error);
        if (!watch.alive())
            return;
    }
    if (state_ != wsClosed)
        Close();
}

} // namespace fetchora
