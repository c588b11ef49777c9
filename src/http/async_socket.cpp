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
        if (FBufList.empty() || FBufList.back()->Room() == 0)
            FBufList.push_back(std::make_unique<SendBuffer>());
        SendBuffer& last = *FBufList.back();
        const int piece = std::min(Len, last.Room());
        std::memcpy(last.data + last.end, bytes, static_cast<size_t>(piece));
        last.end += piece;
        bytes += piece;
        Len -= piece;
        FBufferedByteCount += piece;
    }
}

void TAsyncSocket::DeleteBufferedData() {
    FBufList.clear();
    FBufferedByteCount = 0;
}

// ---- life ----

TAsyncSocket::TAsyncSocket() = default;

TAsyncSocket::~TAsyncSocket() {
    SetDestroying();
    try {
        CancelLookup(LateLookup::Drop);
        if (FHSocket != ws::INVALID_SOCKET)
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
    FMsg_WM_ASYNCSELECT = AllocateMsgHandler();
    FMsg_WM_ASYNCGETHOSTBYNAME = AllocateMsgHandler();
    FMsg_WM_ASYNCGETHOSTBYADDR = AllocateMsgHandler();
    FMsg_WM_CLOSE_DELAYED = AllocateMsgHandler();
    FMsg_WM_TRIGGER_DATA_AVAILABLE = AllocateMsgHandler();
    FMsg_WM_TRIGGER_EXCEPTION = AllocateMsgHandler();
}

void TAsyncSocket::FreeMsgHandlers() {
    FreeMsgHandler(FMsg_WM_ASYNCSELECT);
    FreeMsgHandler(FMsg_WM_ASYNCGETHOSTBYNAME);
    FreeMsgHandler(FMsg_WM_ASYNCGETHOSTBYADDR);
    FreeMsgHandler(FMsg_WM_CLOSE_DELAYED);
    FreeMsgHandler(FMsg_WM_TRIGGER_DATA_AVAILABLE);
    FreeMsgHandler(FMsg_WM_TRIGGER_EXCEPTION);
    TMsgWndControl::FreeMsgHandlers();
}

// ---- properties ----

void TAsyncSocket::SetAddr(const std::string& Value) {
    if (FState != wsClosed) {
        RaiseException("Cannot change Addr if not closed");
        return;
    }
    FAddrStr = Value;
    FAddrAssigned = true;
}

void TAsyncSocket::SetPort(const std::string& Value) {
    if (FState != wsClosed) {
        RaiseException("Cannot change Port if not closed");
        return;
    }
    FPortStr = Value;
    FPortAssigned = true;
}

void TAsyncSocket::SetProto(const std::string& Value) {
    if (FState != wsClosed) {
        RaiseException("Cannot change Proto if not closed");
        return;
    }
    FProtoStr = Value;
}

void TAsyncSocket::SetLocalAddr(const std::string& Value) {
    if (FState != wsClosed) {
        RaiseException("Cannot change LocalAddr if not closed");
        return;
    }
    FLocalAddr = Value.empty() ? "0.0.0.0" : Value;
}

void TAsyncSocket::SetLocalPort(const std::string& Value) {
    if (FState != wsClosed) {
        RaiseException("Cannot change LocalPort if not closed");
        return;
    }
    FLocalPortStr = Value.empty() ? "0" : Value;
}

// ---- reporting ----

void TAsyncSocket::ChangeState(TSocketState NewState) {
    const TSocketState OldState = FState;
    FState = NewState;
    if (OldState != NewState && OnChangeState) {
        const auto handler = OnChangeState;
        handler(this, OldState, NewState);
    }
}

void TAsyncSocket::RaiseException(const std::string& Msg) {
    FLastErrorMessage = Msg;
    if (OnError) {
        const auto handler = OnError;
        handler(this);
        return;
    }
    throw ESocketException(Msg, FLastError);
}

void TAsyncSocket::SocketError(const std::string& Sockfunc) {
    SocketErrorCode(Sockfunc, ws::WSAGetLastError());
}

void TAsyncSocket::SocketErrorCode(const std::string& Sockfunc, int Error) {
    const std::string line =
        WSocketErrorDesc(Error) + " (#" + std::to_string(Error) + " in " + Sockfunc + ")";
    if (Error == ws::WSAECONNRESET || Error == ws::WSAENOTCONN) {
        if (FHSocket != ws::INVALID_SOCKET)
            ws::closesocket(FHSocket);
        FHSocket = ws::INVALID_SOCKET;
        if (FState != wsClosed) {
            const LifeWatch watch(*this);
            if (!FCloseInvoked) {
                FCloseInvoked = true;
                TriggerSessionClosed(Error);
                if (!watch.alive())
                    return;
            }
            ChangeState(wsClosed);
            if (!watch.alive())
                return;
        }
    }
    FLastError = Error;
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
        FLastError = ws::WSAEINVAL;
        const LifeWatch watch(*this);
        RaiseException("DNS lookup: invalid host name.");
        if (watch.alive())
            TriggerDnsLookupDone(ws::WSAEINVAL);
        return;
    }
    Startup();
    if (FDnsLookupHandle != 0) {
        // A new lookup replaces the pending one without a notification for it.
        ws::WSACancelAsyncRequest(FDnsLookupHandle);
        FDnsLookupHandle = 0;
    }
    FDnsResult.clear();
    FDnsResultList.clear();

    if (WSocketIsDottedIP(HostName)) {
        const std::uint32_t address = ws::inet_addr(HostName.c_str());
        if (address != ws::WS_INADDR_NONE || HostName == "255.255.255.255") {
            ws::IN_ADDR in;
            in.S_addr = address;
            FDnsResult = ws::inet_ntoa(in);
            FDnsResultList.push_back(FDnsResult);
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
        FLastError = ws::WSAEINVAL;
        RaiseException("DnsLookup: Window not assigned");
        return;
    }
    FDnsLookupStarting = true;
    FDnsLookupKept = false;
    const ws::HANDLE handle = ws::WSAAsyncGetHostByName(window, FMsg_WM_ASYNCGETHOSTBYNAME,
                                                        HostName.c_str(), &FDnsLookupBuffer);
    FDnsLookupStarting = false;
    if (handle == 0) {
        const int error = ws::WSAGetLastError();
        FLastError = error;
        RaiseException(HostName + ": can't start DNS lookup - " + WSocketErrorDesc(error) + " (#" +
                       std::to_string(error) + ")");
        return;
    }
    FDnsLookupHandle = handle;
    if (FDnsLookupKept && FDnsLookupKeptHandle == handle) {
        FDnsLookupKept = false;
        HandleDnsLookupDone(FDnsLookupKeptError);
    }
}

void TAsyncSocket::HandleDnsLookupDone(int Error) {
    FDnsLookupHandle = 0;
    if (Error == 0) {
        for (const ws::IN_ADDR& address : FDnsLookupBuffer.h_addr_list)
            FDnsResultList.push_back(ws::inet_ntoa(address));
        if (!FDnsResultList.empty())
            FDnsResult = FDnsResultList.front();
    }
    TriggerDnsLookupDone(Error);
}

void TAsyncSocket::CancelDnsLookup() {
    CancelLookup(LateLookup::Report);
}

void TAsyncSocket::CancelLookup(LateLookup late) {
    if (FDnsLookupHandle == 0)
        return;
    const ws::HANDLE handle = FDnsLookupHandle;
    if (ws::WSACancelAsyncRequest(handle) == 0) {
        FDnsLookupHandle = 0;
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
    FDnsLookupHandle = 0;
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
    if (FLingerOnOff == wsLingerNoSet || FHSocket == ws::INVALID_SOCKET)
        return;
    ws::LINGER value;
    value.l_onoff = FLingerOnOff == wsLingerOn ? 1 : 0;
    value.l_linger = static_cast<std::uint16_t>(std::clamp(FLingerTimeout, 0, 65535));
    if (ws::setsockopt(FHSocket, ws::WS_SOL_SOCKET, ws::WS_SO_LINGER, &value,
                       static_cast<int>(sizeof value)) != 0)
        SocketError("setsockopt(SO_LINGER)");
}

void TAsyncSocket::Connect() {
    if (FHSocket != ws::INVALID_SOCKET && FState != wsClosed) {
        FLastError = ws::WSAEISCONN;
        RaiseException("Connect: Socket already in use");
        return;
    }
    if (!FPortAssigned) {
        FLastError = ws::WSAEINVAL;
        RaiseException("Connect: No Port Specified");
        return;
    }
    if (!FAddrAssigned) {
        FLastError = ws::WSAEINVAL;
        RaiseException("Connect: No IP Address Specified");
        return;
    }
    if (FProtoStr.empty()) {
        FLastError = ws::WSAEINVAL;
        RaiseException("Connect: No Protocol Specified");
        return;
    }
    Startup();

    std::uint16_t localPort = 0;
    std::uint32_t localAddress = ws::WS_INADDR_ANY;
    try {
        FProto = WSocketResolveProto(FProtoStr);
        FSin = ws::SOCKADDR_IN{};
        FSin.sin_port = WSocketResolvePort(FPortStr, FProtoStr);
        localPort = WSocketResolvePort(FLocalPortStr, FProtoStr);
        FSin.sin_addr.S_addr = WSocketResolveHost(FAddrStr);
        if (FLocalAddr != "0.0.0.0")
            localAddress = WSocketResolveHost(FLocalAddr);
    } catch (const ESocketException& error) {
        FLastError = error.ErrorCode != 0 ? error.ErrorCode : ws::WSAEINVAL;
        RaiseException(std::string("connect: ") + error.what());
        return;
    }
    if (FProto != ws::WS_IPPROTO_TCP) {
        FLastError = ws::WSAEPROTONOSUPPORT;
        RaiseException("connect: Winsock Resolve Proto: Cannot convert protocol '" + FProtoStr +
                       "' - " + WSocketErrorDesc(ws::WSAEPROTONOSUPPORT));
        return;
    }

    DeleteBufferedData();
    FAllSent = true;
    FHSocket = ws::socket(ws::WS_AF_INET, ws::WS_SOCK_STREAM, ws::WS_IPPROTO_TCP);
    if (FHSocket == ws::INVALID_SOCKET) {
        SocketError("Connect (socket)");
        return;
    }
    int size = 0;
    int length = static_cast<int>(sizeof size);
    if (ws::getsockopt(FHSocket, ws::WS_SOL_SOCKET, ws::WS_SO_SNDBUF, &size, &length) == 0)
        FSndBufSize = size;
    length = static_cast<int>(sizeof size);
    if (ws::getsockopt(FHSocket, ws::WS_SOL_SOCKET, ws::WS_SO_RCVBUF, &size, &length) == 0)
        FRcvBufSize = size;

    const LifeWatch watch(*this);
    FCloseInvoked = false;
    FReadCount = 0;
    ChangeState(wsOpened);
    if (!watch.alive())
        return;

    const int on = 1;
    if (ws::setsockopt(FHSocket, ws::WS_SOL_SOCKET, ws::WS_SO_REUSEADDR, &on,
                       static_cast<int>(sizeof on)) != 0) {
        SocketError("setsockopt(SO_REUSEADDR)");
        return;
    }
    if ((ComponentOptions & wsoTcpNoDelay) != 0 &&
        ws::setsockopt(FHSocket, ws::WS_IPPROTO_TCP, ws::WS_TCP_NODELAY, &on,
                       static_cast<int>(sizeof on)) != 0) {
        SocketError("setsockopt(IPPROTO_TCP, TCP_NODELAY)");
        return;
    }
    SetLingerOption();
    if (!watch.alive() || FHSocket == ws::INVALID_SOCKET)
        return;

    if (localPort != 0 || localAddress != ws::WS_INADDR_ANY) {
        ws::SOCKADDR_IN local;
        local.sin_port = localPort;
        local.sin_addr.S_addr = localAddress;
        if (ws::bind(FHSocket, &local, static_cast<int>(sizeof local)) != 0) {
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
    if (ws::WSAAsyncSelect(FHSocket, window, FMsg_WM_ASYNCSELECT,
                           ws::FD_READ | ws::FD_WRITE | ws::FD_ACCEPT | ws::FD_CONNECT |
                               ws::FD_CLOSE) != 0) {
        SocketError("WSAAsyncSelect");
        return;
    }

    if (ws::connect(FHSocket, &FSin, static_cast<int>(sizeof FSin)) == 0 ||
        ws::WSAGetLastError() == ws::WSAEWOULDBLOCK) {
        ChangeState(wsConnecting);
        return;
    }
    SocketError("Connect");
}

// ---- sending and receiving ----

int TAsyncSocket::Send(const void* Data, int Len) {
    if (FState != wsConnected && FState != wsSocksConnected) {
        ws::WSASetLastError(ws::WSAENOTCONN);
        SocketError("Send");
        return -1;
    }
    if (Len <= 0 || Data == nullptr)
        return 0;
    PutDataInSendBuffer(Data, Len);
    FAllSent = false;
    const LifeWatch watch(*this);
    TryToSend();
    if (!watch.alive())
        return Len;
    // Everything went at once: OnDataSent follows through the write notification.
    if (FBufList.empty() && FHSocket != ws::INVALID_SOCKET)
        PostMessage(FMsg_WM_ASYNCSELECT, FHSocket, ws::WSAMAKESELECTREPLY(ws::FD_WRITE, 0));
    return Len;
}

int TAsyncSocket::SendStr(const std::string& Str) {
    return Send(Str.data(), static_cast<int>(Str.size()));
}

void TAsyncSocket::TryToSend() {
    while (!FBufList.empty() && FHSocket != ws::INVALID_SOCKET) {
        SendBuffer& first = *FBufList.front();
        const int length = first.Size();
        if (length == 0) {
            FBufList.pop_front();
            continue;
        }
        const int count = ws::send(FHSocket, first.data + first.start, length, 0);
        if (count == 0)
            return;
        if (count < 0) {
            const int error = ws::WSAGetLastError();
            if (error == ws::WSAEWOULDBLOCK)
                return;
            if (error == ws::WSAEINVAL || error == ws::WSAENOTSOCK ||
                error == ws::WSAECONNABORTED || error == ws::WSAECONNRESET ||
                error == ws::WSAENOTCONN) {
                FLastError = error;
                FCloseInvoked = true;
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
        FBufferedByteCount -= count;
        if (first.Size() == 0)
            FBufList.pop_front();
        if (count < length)
            return;
    }
}

int TAsyncSocket::Receive(void* Buffer, int BufferSize) {
    const int count = ws::recv(FHSocket, Buffer, BufferSize, 0);
    if (count < 0)
        FLastError = ws::WSAGetLastError();
    else
        FReadCount += count;
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
    if (FHSocket == ws::INVALID_SOCKET)
        return 0;
    unsigned long waiting = 0;
    if (ws::ioctlsocket(FHSocket, ws::WS_FIONREAD, &waiting) != 0)
        return -1;
    return static_cast<int>(std::min<unsigned long>(waiting, 0x7FFFFFFF));
}

// ---- closing ----

void TAsyncSocket::Close() {
    InternalClose(true, 0);
}

void TAsyncSocket::CloseDelayed() {
    PostMessage(FMsg_WM_CLOSE_DELAYED);
}

void TAsyncSocket::Abort() {
    CancelLookup(LateLookup::Drop);
    DeleteBufferedData();
    if (FHSocket != ws::INVALID_SOCKET && FState == wsConnected && FProto == ws::WS_IPPROTO_TCP) {
        ws::LINGER off;
        ws::setsockopt(FHSocket, ws::WS_SOL_SOCKET, ws::WS_SO_LINGER, &off,
                       static_cast<int>(sizeof off));
    }
    InternalClose(false, 0);
}

void TAsyncSocket::Shutdown(int How) {
    if (FHSocket != ws::INVALID_SOCKET)
        ws::shutdown(FHSocket, How);
}

void TAsyncSocket::InternalClose(bool Shut, int Error) {
    const LifeWatch watch(*this);
    if (FHSocket == ws::INVALID_SOCKET) {
        if (FState != wsClosed && !Destroying())
            ChangeState(wsClosed);
        DeleteBufferedData();
        FAllSent = true;
        return;
    }
    if (Shut && FState != wsClosed)
        ws::shutdown(FHSocket, ws::SD_SEND);
    int failure = 0;
    for (;;) {
        if (ws::closesocket(FHSocket) == 0)
            break;
        const int error = ws::WSAGetLastError();
        if (error == ws::WSAEWOULDBLOCK && !Destroying()) {
            ProcessMessages();
            if (!watch.alive() || FHSocket == ws::INVALID_SOCKET)
                return;
            continue;
        }
        failure = error;
        break;
    }
    FHSocket = ws::INVALID_SOCKET;
    DeleteBufferedData();
    FAllSent = true;
    if (Destroying()) {
        FState = wsClosed;
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
    if (!FCloseInvoked) {
        FCloseInvoked = true;
        TriggerSessionClosed(Error);
    }
}

// ---- events ----

void TAsyncSocket::WndProc(TMessage& MsgRec) {
    const LifeWatch watch(*this);
    if (MsgRec.Msg == FMsg_WM_ASYNCSELECT && FMsg_WM_ASYNCSELECT != 0) {
        if (static_cast<ws::SOCKET>(MsgRec.WParam) != FHSocket || FHSocket == ws::INVALID_SOCKET)
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
    if (MsgRec.Msg == FMsg_WM_ASYNCGETHOSTBYNAME && FMsg_WM_ASYNCGETHOSTBYNAME != 0) {
        const auto handle = static_cast<ws::HANDLE>(MsgRec.WParam);
        const int error = ws::WSAGETASYNCERROR(MsgRec.LParam);
        if (FDnsLookupHandle != 0 && handle == FDnsLookupHandle) {
            HandleDnsLookupDone(error);
        } else if (FDnsLookupHandle == 0 && FDnsLookupStarting) {
            // Arrived before the start call gave its handle: handled right after it.
            FDnsLookupKept = true;
            FDnsLookupKeptHandle = handle;
            FDnsLookupKeptError = error;
        }
        return;
    }
    if (MsgRec.Msg == FMsg_WM_ASYNCGETHOSTBYADDR && FMsg_WM_ASYNCGETHOSTBYADDR != 0)
        return; // reverse lookups are not made
    if (MsgRec.Msg == FMsg_WM_CLOSE_DELAYED && FMsg_WM_CLOSE_DELAYED != 0) {
        Close();
        return;
    }
    if (MsgRec.Msg == FMsg_WM_TRIGGER_DATA_AVAILABLE && FMsg_WM_TRIGGER_DATA_AVAILABLE != 0) {
        if (FHSocket != ws::INVALID_SOCKET && FState == wsConnected)
            ReceiveLoop(0);
        return;
    }
    if (MsgRec.Msg == FMsg_WM_TRIGGER_EXCEPTION && FMsg_WM_TRIGGER_EXCEPTION != 0)
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
    if (FState == wsConnected)
        return;
    const LifeWatch watch(*this);
    ChangeState(wsConnected);
    if (!watch.alive())
        return;
    TriggerSessionConnected(Error);
    if (!watch.alive())
        return;
    if (Error != 0 && FState != wsClosed)
        Close();
}

void TAsyncSocket::Do_FD_READ(int Error) {
    const LifeWatch watch(*this);
    if (FState == wsConnecting || FState == wsOpened) {
        ChangeState(wsConnected);
        if (!watch.alive())
            return;
        TriggerSessionConnected(Error);
        if (!watch.alive() || FHSocket == ws::INVALID_SOCKET)
            return;
    }
    ReceiveLoop(Error);
}

void TAsyncSocket::ReceiveLoop(int Error) {
    const LifeWatch watch(*this);
    if (!OnDataAvailable) {
        // Nobody reads: what waits is read and thrown away.
        char scratch[4096];
        while (FHSocket != ws::INVALID_SOCKET && RcvdCount() > 0) {
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
        if (!OnDataAvailable || FHSocket == ws::INVALID_SOCKET || FState != wsConnected)
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
    if (FBufList.empty() && !FAllSent) {
        FAllSent = true;
        TriggerDataSent(Error);
    }
}

void TAsyncSocket::Do_FD_CLOSE(int Error) {
    if (FState == wsConnecting || FHSocket == ws::INVALID_SOCKET)
        return;
    const LifeWatch watch(*this);
    // Data that arrived with the close is delivered before the close is reported.
    if (OnDataAvailable && RcvdCount() > 0) {
        ReceiveLoop(Error);
        if (!watch.alive())
            return;
    }
    if (!FCloseInvoked) {
        FCloseInvoked = true;
        TriggerSessionClosed(Error);
        if (!watch.alive())
            return;
    }
    if (FState != wsClosed)
        Close();
}

} // namespace fetchora
