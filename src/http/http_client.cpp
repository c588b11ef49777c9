// THttpClient: properties, starting a request, the connection, the request on the wire,
// the synchronous wait, Abort, the silence limit and the client's own messages.
#include "http/http_client.h"

#include "http/http_request_writer.h"
#include "platform/msg/message_pump.h"
#include "platform/text.h"

#include <algorithm>
#include <climits>

namespace fetchora {

namespace {

// The reason of a failed connection: the socket error's text and its code.
std::string socketErrorReason(int code) {
    return WSocketErrorDesc(code) + " (Error #" + std::to_string(code) + ")";
}

const char* methodName(THttpRequest rq) {
    switch (rq) {
    case httpHEAD:
        return "HEAD";
    case httpPOST:
        return "POST";
    case httpPUT:
        return "PUT";
    default:
        return "GET";
    }
}

} // namespace

THttpClient::THttpClient(const std::string& name) : FCtrlSocket(std::make_unique<TAsyncSocket>()) {
    Name = name;
    TAsyncSocket& socket = *FCtrlSocket;
    socket.OnDnsLookupDone = [this](TAsyncSocket*, int error) { SocketDnsLookupDone(error); };
    socket.OnSessionConnected = [this](TAsyncSocket*, int error) { SocketSessionConnected(error); };
    socket.OnDataAvailable = [this](TAsyncSocket*, int error) { SocketDataAvailable(error); };
    socket.OnDataSent = [this](TAsyncSocket*, int error) { SocketDataSent(error); };
    socket.OnSessionClosed = [this](TAsyncSocket*, int error) { SocketSessionClosed(error); };
    socket.OnError = [this](TAsyncSocket*) { SocketError(); };
}

THttpClient::~THttpClient() {
    SetDestroying();
    TAsyncSocket& socket = *FCtrlSocket;
    socket.OnDnsLookupDone = nullptr;
    socket.OnSessionConnected = nullptr;
    socket.OnDataAvailable = nullptr;
    socket.OnDataSent = nullptr;
    socket.OnSessionClosed = nullptr;
    socket.OnError = nullptr;
    FCtrlSocket.reset();
}

int THttpClient::MsgHandlersCount() {
    return 4 + TMsgWndControl::MsgHandlersCount();
}

void THttpClient::AllocateMsgHandlers() {
    TMsgWndControl::AllocateMsgHandlers();
    FMsg_WM_HTTP_REQUEST_DONE = AllocateMsgHandler();
    FMsg_WM_HTTP_SET_READY = AllocateMsgHandler();
    FMsg_WM_HTTP_LOGIN = AllocateMsgHandler();
    FMsg_WM_HTTP_SILENCE = AllocateMsgHandler();
}

void THttpClient::FreeMsgHandlers() {
    FreeMsgHandler(FMsg_WM_HTTP_REQUEST_DONE);
    FreeMsgHandler(FMsg_WM_HTTP_SET_READY);
    FreeMsgHandler(FMsg_WM_HTTP_LOGIN);
    FreeMsgHandler(FMsg_WM_HTTP_SILENCE);
    TMsgWndControl::FreeMsgHandlers();
}

void THttpClient::WndProc(TMessage& MsgRec) {
    if (MsgRec.Msg != 0) {
        if (MsgRec.Msg == FMsg_WM_HTTP_SET_READY) {
            HandleSetReady();
            return;
        }
        if (MsgRec.Msg == FMsg_WM_HTTP_REQUEST_DONE) {
            HandleRequestDone();
            return;
        }
        if (MsgRec.Msg == FMsg_WM_HTTP_LOGIN) {
            HandleLogin();
            return;
        }
        if (MsgRec.Msg == FMsg_WM_HTTP_SILENCE) {
            HandleSilenceMessage(MsgRec.WParam);
            return;
        }
    }
    TMsgWndControl::WndProc(MsgRec);
}

void THttpClient::SetRequestVer(const std::string& Value) {
    if (Value != "1.0" && Value != "1.1")
        throw EHttpException("Insupported HTTP version", httperrVersion);
    FRequestVer = Value;
}

void THttpClient::SetState(THttpState NewState) {
    if (FState == NewState)
        return;
    FState = NewState;
    if (OnStateChange)
        OnStateChange(this);
}

// ---- starting ----

void THttpClient::Get() {
    DoRequestSync(httpGET);
}
void THttpClient::Head() {
    DoRequestSync(httpHEAD);
}
void THttpClient::GetASync() {
    DoRequestAsync(httpGET);
}
void THttpClient::HeadASync() {
    DoRequestAsync(httpHEAD);
}

void THttpClient::DoRequestAsync(THttpRequest Rq) {
    LocationChangeCurCount = 0;
    StartRequest(Rq);
}

void THttpClient::DoRequestSync(THttpRequest Rq) {
    DoRequestAsync(Rq);
    const LifeWatch watch(*this);
    // The login message of a retry follows the set-ready one, so a retry on its way
    // keeps the wait going although the state is httpReady for a moment.
    while (FState != httpReady || FLoginPending || FReadyPending) {
        msg::waitAndProcessMessages(1000);
        if (!watch.alive())
            return;
        if (msg::applicationTerminating()) {
            Abort();
            break;
        }
    }
    if (FStatusCode >= 400 && FStatusCode != 401 && FStatusCode != 407)
        throw EHttpException(FReasonPhrase, FStatusCode);
}

void THttpClient::ClearResults(bool keepLocation) {
    FRcvdHeader.clear();
    FDoAuthor.clear();
    FStatusCode = 0;
    FReasonPhrase.clear();
    FContentLength = -1;
    FContentType.clear();
    FTransferEncoding.clear();
    FContentEncoding.clear();
    FRcvdCount = 0;
    FRequestDoneError = 0;
    if (!keepLocation)
        FLocation = URL;
}

void THttpClient::TakeTarget(const THttpUrlParts& parts) {
    FProtocol = parts.Proto.empty() ? "http" : parts.Proto;
    FTargetHost = parts.Host;
    FTargetPort = parts.Port;
    FDocPath = parts.Path;
    if (Proxy.empty()) {
        FHostName = parts.Host;
        FPort = parts.Port.empty() ? "80" : parts.Port;
        FPath = parts.Path.empty() ? "/" : parts.Path;
        return;
    }
    // Through a proxy the request line carries the absolute URL, without credentials.
    FPath =
        FProtocol + "://" + parts.Host + (parts.Port.empty() ? "" : ":" + parts.Port) + parts.Path;
    const THttpUrlParts proxy = ParseHttpURL(Proxy);
    FHostName = proxy.Host;
    FPort = proxy.Port.empty() ? ProxyPort : proxy.Port;
}

void THttpClient::StartRequest(THttpRequest Rq) {
    if (FState != httpReady || FLoginPending || FReadyPending)
        throw EHttpException("HTTP component " + Name + " is busy", httperrBusy);
    Handle(); // takes the window and the client's message numbers on first use
    FRequestType = Rq;
    ClearResults(false);
    FCloseReq = FRequestVer == "1.0";
    FLocationFlag = false;
    FRelocationStarted = false;
    FHeaderInProgress = false;
    FDocInProgress = false;
    FEnding = false;
    FRequestDonePending = false;

    const THttpUrlParts parts = ParseHttpURL(URL);
    FCurrUser = parts.User.empty() ? Username : parts.User;
    FCurrPass = parts.Pass.empty() ? Password : parts.Pass;
    TakeTarget(parts);

    AuthBasicState = basicNone;
    AuthNTLMState = ntlmNone;
    ProxyAuthBasicState = basicNone;
    ProxyAuthNTLMState = ntlmNone;
    FConnectionValue = Connection;
    FProxyConnectionValue = ProxyConnection;
    // A retry or relocation asks for the same range again: without it a resumed file
    // would get the whole document appended to its first part.
    FRangeBegin = ContentRangeBegin;
    FRangeEnd = ContentRangeEnd;
    FReceiveStreamStart = ReceiveStream != nullptr ? ReceiveStream->Size() : 0;
    FRequestRunning = true;
    StartConnection();
}

bool THttpClient::ConnectionMatches() const {
    return FCtrlSocket->State() == wsConnected && FHostName == FCtrlSocketHost &&
           FPort == FCtrlSocketPort && FProtocol == FCtrlSocketProto;
}

void THttpClient::StartConnection() {
    if (FCtrlSocket->State() == wsConnected) {
        if (ConnectionMatches()) {
            SendOnOpenConnection();
            return;
        }
        // The open connection goes elsewhere: it is dropped without ending this request.
        FRequestRunning = false;
        FCtrlSocket->Abort();
        FRequestRunning = true;
    }
    FReader.reset(FRequestType == httpHEAD ? ResponseTo::Head : ResponseTo::Get);
    SetState(httpNotConnected);
    SetState(httpDnsLookup);
    Touch();
    const LifeWatch watch(*this);
    FInDnsLookupCall = true;
    FDnsLookupStartFailed = false;
    FCtrlSocket->DnsLookup(FHostName);
    if (!watch.alive())
        return;
    FInDnsLookupCall = false;
    if (FDnsLookupStartFailed && FRequestRunning && FState == httpDnsLookup) {
        RecordFailure(404, FCtrlSocket->LastErrorMessage(), 0);
        SetReady();
    }
}

void THttpClient::SendOnOpenConnection() {
    SetState(httpConnected);
    if (!FRequestRunning)
        return;
    SetState(httpWaitingHeader);
    if (!FRequestRunning)
        return;
    SendRequest();
}

void THttpClient::SocketError() {
    if (FInDnsLookupCall)
        FDnsLookupStartFailed = true;
    if (FInConnectCall)
        FConnectStartFailed = true;
    if (OnSocketError)
        OnSocketError(this);
}

void THttpClient::SocketDnsLookupDone(int ErrCode) {
    if (!FRequestRunning || FEnding || FState != httpDnsLookup)
        return;
    // A lookup that could not start ends the request with the socket's own report once
    // DnsLookup returns (StartConnection).
    if (FInDnsLookupCall && FDnsLookupStartFailed)
        return;
    Touch();
    if (ErrCode != 0) {
        RecordFailure(404, "can't resolve hostname to IP address", ErrCode);
        ConnectionClosed();
        return;
    }
    SetState(httpDnsLookupDone);
    if (!FRequestRunning)
        return;
    TAsyncSocket& socket = *FCtrlSocket;
    socket.SetAddr(socket.DnsResult());
    socket.SetPort(FPort);
    socket.SetProto("tcp");
    socket.SetLocalAddr(LocalAddr);
    FCtrlSocketHost = FHostName;
    FCtrlSocketPort = FPort;
    FCtrlSocketProto = FProtocol;
    if (FProtocol != "http") {
        RecordFailure(501, "Protocol \"" + FProtocol + "\" not implemented", socket.LastError());
        CloseConnection();
        return;
    }
    FReader.reset(FRequestType == httpHEAD ? ResponseTo::Head : ResponseTo::Get);
    const LifeWatch watch(*this);
    FInConnectCall = true;
    FConnectStartFailed = false;
    socket.Connect();
    if (!watch.alive())
        return;
    FInConnectCall = false;
    if (FConnectStartFailed && FRequestRunning) {
        const int code = socket.LastError();
        RecordFailure(404, "can't connect: " + socketErrorReason(code), code);
        CloseConnection();
    }
}

void THttpClient::SocketSessionConnected(int ErrCode) {
    if (!FRequestRunning || FEnding || FState != httpDnsLookupDone)
        return;
    Touch();
    if (ErrCode != 0) {
        // The socket closes next; the request ends when it reports that.
        RecordFailure(404, socketErrorReason(ErrCode), ErrCode);
        return;
    }
    SetState(httpConnected);
    if (OnSessionConnected)
        OnSessionConnected(this);
    if (!FRequestRunning)
        return;
    SetState(httpWaitingHeader);
    if (!FRequestRunning)
        return;
    SendRequest();
}

void THttpClient::SocketDataSent(int) {
    if (FRequestRunning)
        Touch();
}

// ---- the request on the wire ----

std::vector<std::string> THttpClient::BuildRequestLines() {
    HttpRequestHead head;
    head.method = methodName(FRequestType);
    head.path = FPath;
    head.version = FRequestVer;
    head.sender = Sender;
    head.accept = Accept;
    head.reference = Reference;
    head.connection = FConnectionValue;
    head.acceptLanguage = AcceptLanguage;
    head.agent = Agent;
    head.targetHost = FTargetHost;
    head.targetPort = FTargetPort;
    head.noCache = NoCache;
    head.proxyConnection = FProxyConnectionValue;
    head.authorization = AuthorizationLine();
    head.proxyAuthorization = ProxyAuthorizationLine();
    head.cookie = Cookie;
    head.rangeBegin = FRangeBegin;
    head.rangeEnd = FRangeEnd;
    std::vector<std::string> lines = composeRequestLines(head);
    ContentRangeBegin.clear();
    ContentRangeEnd.clear();
    return lines;
}

void THttpClient::SendRequest() {
    FReader.beginResponse(FRequestType == httpHEAD ? ResponseTo::Head : ResponseTo::Get);
    FAcceptRanges.clear();
    FHeaderInProgress = true;
    FDocInProgress = false;
    if (OnRequestHeaderBegin)
        OnRequestHeaderBegin(this);
    if (!FRequestRunning)
        return;
    std::vector<std::string> lines;
    try {
        lines = BuildRequestLines();
    } catch (const std::exception& error) {
        // No request can go out (the local host name is missing): the request ends
        // here and the error is reported as the background error it is.
        FailRequest(404, error.what(), 0);
        throw;
    }
    if (OnBeforeHeaderSend)
        OnBeforeHeaderSend(this, methodName(FRequestType), lines);
    if (OnCommand) {
        for (std::string& line : lines)
            OnCommand(this, line);
    }
    if (OnRequestHeaderEnd)
        OnRequestHeaderEnd(this);
    if (!FRequestRunning)
        return;
    const std::string wire = serializeRequest(lines);
    Touch();
    const int sent = FCtrlSocket->Send(wire.data(), static_cast<int>(wire.size()));
    if (sent < 0 && FRequestRunning) {
        const int code = FCtrlSocket->LastError();
        FailRequest(404, socketErrorReason(code), code);
    }
}

// ---- becoming ready ----

void THttpClient::SetReady() {
    FRequestRunning = false;
    StopSilenceWatch();
    if (FReadyPending)
        return;
    FReadyPending = true;
    if (!PostMessage(FMsg_WM_HTTP_SET_READY))
        HandleSetReady();
}

void THttpClient::HandleSetReady() {
    if (!FReadyPending)
        return;
    FReadyPending = false;
    SetState(httpReady);
    bool retrying = false;
    try {
        retrying = CheckAuthorization();
    } catch (...) {
        FRequestDoneError = httperrInvalidAuthState;
        FRequestDonePending = true;
        PostMessage(FMsg_WM_HTTP_REQUEST_DONE);
        throw;
    }
    if (!retrying) {
        FRequestDonePending = true;
        if (!PostMessage(FMsg_WM_HTTP_REQUEST_DONE))
            HandleRequestDone();
    }
}

void THttpClient::HandleRequestDone() {
    if (!FRequestDonePending)
        return;
    FRequestDonePending = false;
    TriggerRequestDone();
}

void THttpClient::TriggerRequestDone() {
    if (OnRequestDone)
        OnRequestDone(this, FRequestType, FRequestDoneError);
}

void THttpClient::HandleLogin() {
    if (!FLoginPending)
        return;
    FLoginPending = false;
    FRequestRunning = true;
    FEnding = false;
    FHeaderInProgress = false;
    FDocInProgress = false;
    if (ConnectionMatches())
        SendOnOpenConnection();
    else
        StartConnection();
}

void THttpClient::CutBackReceiveStream() {
    if (ReceiveStream == nullptr)
        return;
    ReceiveStream->SetSize(FReceiveStreamStart);
    ReceiveStream->Seek(0, TSeekOrigin::soEnd);
}

// ---- Abort ----

void THttpClient::Abort() {
    const bool busy = FState != httpReady || FLoginPending || FReadyPending || FRequestRunning;
    if (!busy) {
        if (FCtrlSocket->State() != wsClosed)
            FCtrlSocket->Abort();
        FStatusCode = 200;
        FReasonPhrase = "OK";
        FRequestDoneError = 0;
        FState = httpReady;
        if (OnStateChange)
            OnStateChange(this);
        TriggerRequestDone();
        return;
    }
    const LifeWatch watch(*this);
    FEnding = true;
    FLoginPending = false;
    FReadyPending = false;
    FRequestDonePending = false;
    SetState(httpAborting);
    if (!watch.alive())
        return;
    // During a lookup no connection reports its close: the closed-connection handling
    // runs directly.
    RecordFailure(404, "Connection aborted on request", httperrAborting);
    if (!DropConnection())
        return;
    FRequestRunning = false;
    StopSilenceWatch();
    FReadyPending = true;
    HandleSetReady();
}

// ---- the silence limit ----

void THttpClient::Touch() {
    lastActivity_ = std::chrono::steady_clock::now();
    if (!silenceArmed_)
        ArmSilenceWatch(SilenceLimit);
}

void THttpClient::ArmSilenceWatch(std::chrono::milliseconds after) {
    const auto ms = std::clamp<std::chrono::milliseconds::rep>(after.count(), 0, INT_MAX);
    silenceArmed_ = PostMessageAfter(static_cast<int>(ms), FMsg_WM_HTTP_SILENCE,
                                     static_cast<WPARAM>(silenceGeneration_));
}

void THttpClient::StopSilenceWatch() {
    silenceArmed_ = false;
    ++silenceGeneration_; // a timer message on its way no longer counts
}

void THttpClient::HandleSilenceMessage(WPARAM generation) {
    if (!silenceArmed_ || generation != static_cast<WPARAM>(silenceGeneration_))
        return;
    silenceArmed_ = false;
    if (!FRequestRunning || FState == httpReady || FState == httpAborting)
        return;
    // The timer runs once per silence limit rather than restarting with every byte: it
    // looks at the last activity and waits on for what is left.
    const auto silent = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - lastActivity_);
    if (silent < SilenceLimit) {
        ArmSilenceWatch(SilenceLimit - silent);
        return;
    }
    FailRequest(404, kSilenceReason, 10060);
}

} // namespace fetchora
