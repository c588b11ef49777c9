// TAsyncSocket: the HTTP client's non-blocking TCP client socket. Name lookup, connecting,
// sending and receiving start work and return; results arrive as events while the
// thread's message loop runs, driven by socket notifications posted to the component's
// hidden window. Failures go to OnError when it is set, else raise ESocketException.
#pragma once

#include "http/msg_wnd_control.h"
#include "platform/winsock/winsock.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace fetchora {

// The socket's exception: a message and, where one applies, the Winsock error code.
class ESocketException final : public Error {
public:
    explicit ESocketException(const std::string& message, int errorCode = 0)
        : Error(message), ErrorCode(errorCode) {}
    int ErrorCode;
};

enum TSocketState {
    wsInvalidState = 0,
    wsOpened = 1,
    wsBound = 2,
    wsConnecting = 3,
    wsSocksConnected = 4,
    wsConnected = 5,
    wsAccepting = 6,
    wsListening = 7,
    wsClosed = 8,
};

enum TSocketLingerOnOff { wsLingerOff, wsLingerOn, wsLingerNoSet };

// Component options (a set of bits).
using TWSocketOptions = unsigned;
constexpr TWSocketOptions wsoTcpNoDelay = 0x01;

// The text for a Winsock error code: "Connection refused", ..., "Not a WinSock error".
std::string WSocketErrorDesc(int ErrCode);
// True when text consists of digits and dots only (and is not empty).
bool WSocketIsDottedIP(const std::string& text);
// Conversions used by Connect; each raises ESocketException with its message
// ("Winsock Resolve Host: ...", "Winsock Resolve Port: ...", "Winsock Resolve Proto: ...").
// Host and port come back in network byte order.
std::uint32_t WSocketResolveHost(const std::string& host);
std::uint16_t WSocketResolvePort(const std::string& port, const std::string& proto);
int WSocketResolveProto(const std::string& proto);
// The local host name; raises ESocketException "Winsock Get Host Name failed".
std::string LocalHostName();

class TAsyncSocket final : public TMsgWndControl {
public:
    using TDataEvent = std::function<void(TAsyncSocket* Sender, int ErrCode)>;
    using TChangeStateEvent =
        std::function<void(TAsyncSocket* Sender, TSocketState OldState, TSocketState NewState)>;
    using TErrorEvent = std::function<void(TAsyncSocket* Sender)>;

    static constexpr int SendBufferSize = 1460; // bytes per buffer of the send chain

    TAsyncSocket();
    // Cancels the lookup, closes the socket if open, frees the buffers, returns the
    // messages.
    ~TAsyncSocket() override;

    // Starts a name lookup; the result arrives as OnDnsLookupDone. A dotted address
    // completes before the call returns.
    void DnsLookup(const std::string& HostName);
    // Cancels a pending lookup: OnDnsLookupDone(10004). A lookup whose result is already
    // on its way cannot be cancelled: the failure is reported ("WSACancelAsyncRequest",
    // 10037) and the result arrives as usual. Abort drops such a result (10004).
    void CancelDnsLookup();
    // Opens a socket and starts connecting to Addr:Port; the result arrives as
    // OnSessionConnected.
    void Connect();
    // Queues Len bytes and sends what the network accepts now; returns Len, or -1 (with
    // LastError 10057) when not connected.
    int Send(const void* Data, int Len);
    int SendStr(const std::string& Str);
    // Reads up to BufferSize bytes that have arrived; the count, 0 when the peer has
    // closed, or -1 with LastError set.
    int Receive(void* Buffer, int BufferSize);
    // Everything that has arrived, as a string.
    std::string ReceiveStr();
    // Bytes waiting to be read (FIONREAD); -1 on failure.
    int RcvdCount();
    // Shuts down for sending, closes, raises OnSessionClosed (once per connection).
    void Close();
    // Starts TLS on the connected socket (a tunnel through a proxy): the handshake runs,
    // and OnSessionConnected tells its end a second time, with the error code
    // winsock::WSAETLSFAILED and TlsFailure() when it fails.
    void StartTls(const std::string& Host);
    // Posts a message whose handling calls Close().
    void CloseDelayed();
    // Drops queued data and closes at once without lingering.
    void Abort();
    // shutdown(How) on the open socket.
    void Shutdown(int How);

    TSocketState State() const { return state_; }
    const std::string& DnsResult() const { return dnsResult_; }
    const std::vector<std::string>& DnsResultList() const { return dnsResultList_; }
    int LastError() const { return lastError_; }
    // The text of the last failure reported (what OnError is told about, or what was
    // raised): "Connection refused (#10061 in Connect)", "DNS lookup: invalid host name.".
    const std::string& LastErrorMessage() const { return lastErrorMessage_; }
    winsock::SOCKET HSocket() const { return hSocket_; }
    std::int64_t ReadCount() const { return readCount_; }
    // Bytes queued in the send chain and not yet accepted by the network.
    int BufferedByteCount() const { return bufferedByteCount_; }
    bool AllSent() const { return allSent_; }
    int SndBufSize() const { return sndBufSize_; }
    int RcvBufSize() const { return rcvBufSize_; }
    bool DnsLookupPending() const { return dnsLookupHandle_ != 0; }

    // Addr, Port, Proto, LocalAddr and LocalPort may be changed only in wsClosed
    // ("Cannot change Addr if not closed", ...).
    const std::string& Addr() const { return addrStr_; }
    void SetAddr(const std::string& Value);
    const std::string& Port() const { return portStr_; }
    void SetPort(const std::string& Value);
    const std::string& Proto() const { return protoStr_; }
    void SetProto(const std::string& Value);
    const std::string& LocalAddr() const { return localAddr_; }
    void SetLocalAddr(const std::string& Value);
    const std::string& LocalPort() const { return localPortStr_; }
    void SetLocalPort(const std::string& Value);
    // The host whose certificate the next Connect checks over TLS; empty for a plain
    // connection. OnSessionConnected then fires when the handshake ends. May be changed
    // only in wsClosed.
    const std::string& TlsHost() const { return tlsHost_; }
    void SetTlsHost(const std::string& Value);
    // Why the TLS session of the connection failed ("certificate has expired"), empty
    // while it has not.
    const std::string& TlsFailure() const { return tlsFailure_; }

    TSocketLingerOnOff LingerOnOff() const { return lingerOnOff_; }
    void SetLingerOnOff(TSocketLingerOnOff Value) { lingerOnOff_ = Value; }
    int LingerTimeout() const { return lingerTimeout_; }
    void SetLingerTimeout(int Value) { lingerTimeout_ = Value; }
    TWSocketOptions ComponentOptions = 0;

    TDataEvent OnDnsLookupDone;
    TDataEvent OnSessionConnected;
    TDataEvent OnDataAvailable;
    TDataEvent OnDataSent;
    TDataEvent OnSessionClosed;
    TChangeStateEvent OnChangeState;
    // When set, failures are reported here (LastError holds the code) instead of raising.
    TErrorEvent OnError;

protected:
    int MsgHandlersCount() override;
    void AllocateMsgHandlers() override;
    void FreeMsgHandlers() override;
    void WndProc(TMessage& MsgRec) override;
    void AbortComponent() override;

    // A failing call: text (#code in Sockfunc), closing first for 10054 and 10057.
    void SocketError(const std::string& Sockfunc);
    void SocketErrorCode(const std::string& Sockfunc, int Error);
    // Reports message (through OnError with LastError, else by raising).
    void RaiseException(const std::string& Msg);
    void ChangeState(TSocketState NewState);

    void TriggerDnsLookupDone(int ErrCode);
    void TriggerSessionConnected(int ErrCode);
    void TriggerDataAvailable(int ErrCode);
    void TriggerDataSent(int ErrCode);
    void TriggerSessionClosed(int ErrCode);

private:
    struct SendBuffer;
    // What a cancellation does with a result that is already on its way.
    enum class LateLookup { Report, Drop };

    void CancelLookup(LateLookup late);

    void Do_FD_CONNECT(int Error);
    void Do_FD_READ(int Error);
    void Do_FD_WRITE(int Error);
    void Do_FD_CLOSE(int Error);
    void ReceiveLoop(int Error);
    void HandleDnsLookupDone(int Error);
    void TryToSend();
    void PutDataInSendBuffer(const void* Data, int Len);
    void DeleteBufferedData();
    void InternalClose(bool Shut, int Error);
    void SetLingerOption();
    void Startup();
    void Cleanup();

    winsock::SOCKET hSocket_ = winsock::INVALID_SOCKET;
    TSocketState state_ = wsClosed;
    std::string addrStr_;
    bool addrAssigned_ = false;
    std::string portStr_;
    bool portAssigned_ = false;
    std::string protoStr_ = "tcp";
    std::string localAddr_ = "0.0.0.0";
    std::string localPortStr_ = "0";
    std::string tlsHost_;
    std::string tlsFailure_;
    bool tlsHandshake_ = false; // a handshake on the connected socket is under way
    winsock::SOCKADDR_IN sin_;
    int proto_ = winsock::WS_IPPROTO_TCP;
    TSocketLingerOnOff lingerOnOff_ = wsLingerOn;
    int lingerTimeout_ = 0;
    std::string dnsResult_;
    std::vector<std::string> dnsResultList_;
    std::deque<std::unique_ptr<SendBuffer>> bufList_;
    int bufferedByteCount_ = 0;
    bool allSent_ = true;
    winsock::HANDLE dnsLookupHandle_ = 0;
    bool dnsLookupStarting_ = false;
    bool dnsLookupKept_ = false;
    int dnsLookupKeptError_ = 0;
    winsock::HOSTENT dnsLookupBuffer_;
    int lastError_ = 0;
    std::string lastErrorMessage_;
    winsock::HANDLE dnsLookupKeptHandle_ = 0;
    std::int64_t readCount_ = 0;
    bool closeInvoked_ = false;
    int sndBufSize_ = 0;
    int rcvBufSize_ = 0;
    bool started_ = false;

    UINT msgAsyncSelect_ = 0;
    UINT msgAsyncGetHostByName_ = 0;
    UINT msgAsyncGetHostByAddr_ = 0;
    UINT msgCloseDelayed_ = 0;
    UINT msgTriggerDataAvailable_ = 0;
    UINT msgTriggerException_ = 0;
};

} // namespace fetchora
