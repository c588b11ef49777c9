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

// The port a protocol's URL means when it names none.
std::string defaultPort(const std::string& protocol) {
    return protocol == "https" ? "443" : "80";
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

THttpClient::THttpClient(const std::string& name) : ctrlSocket_(std::make_unique<TAsyncSocket>()) {
    Name = name;
    TAsyncSocket& socket = *ctrlSocket_;
    socket.OnDnsLookupDone = [this](TAsyncSocket*, int error) { SocketDnsLookupDone(error); };
    socket.OnSessionConnected = [this](TAsyncSocket*, int error) { SocketSessionConnected(error); };
    socket.OnDataAvailable = [this](TAsyncSocket*, int error) { SocketDataAvailable(error); };
    socket.OnDataSent = [this](TAsyncSocket*, int error) { SocketDataSent(error); };
    socket.OnSessionClosed = [this](TAsyncSocket*, int error) { SocketSessionClosed(error); };
    socket.OnError = [this](TAsyncSocket*) { SocketError(); };
}

THttpClient::~THttpClient() {
    SetDestroying();
    TAsyncSocket& socket = *ctrlSocket_;
    socket.OnDnsLookupDone = nullptr;
    socket.OnSessionConnected = nullptr;
    socket.OnDataAvailable = nullptr;
    socket.OnDataSent = nullptr;
    socket.OnSessionClosed = nullptr;
    socket.OnError = nullptr;
    ctrlSocket_.reset();
}

int THttpClient::MsgHandlersCount() {
    return 4 + TMsgWndControl::MsgHandlersCount();
}

void THttpClient::AllocateMsgHandlers() {
    TMsgWndControl::AllocateMsgHandlers();
    msgRequestDone_ = AllocateMsgHandler();
    msgSetReady_ = AllocateMsgHandler();
    msgLogin_ = AllocateMsgHandler();
    msgSilence_ = AllocateMsgHandler();
}

void THttpClient::FreeMsgHandlers() {
    FreeMsgHandler(msgRequestDone_);
    FreeMsgHandler(msgSetReady_);
    FreeMsgHandler(msgLogin_);
    FreeMsgHandler(msgSilence_);
    TMsgWndControl::FreeMsgHandlers();
}

void THttpClient::WndProc(TMessage& MsgRec) {
    if (MsgRec.Msg != 0) {
        if (MsgRec.Msg == msgSetReady_) {
            HandleSetReady();
            return;
        }
        if (MsgRec.Msg == msgRequestDone_) {
            HandleRequestDone();
            return;
        }
        if (MsgRec.Msg == msgLogin_) {
            HandleLogin();
            return;
        }
        if (MsgRec.Msg == msgSilence_) {
            HandleSilenceMessage(MsgRec.WParam);
            return;
        }
    }
    TMsgWndControl::WndProc(MsgRec);
}

void THttpClient::SetRequestVer(const std::string& Value) {
    if (Value != "1.0" && Value != "1.1")
        throw EHttpException("Insupported HTTP version", httperrVersion);
    requestVer_ = Value;
}

void THttpClient::SetState(THttpState NewState) {
    if (state_ == NewState)
        return;
    state_ = NewState;
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
    while (state_ != httpReady || loginPending_ || readyPending_) {
        msg::waitAndProcessMessages(1000);
        if (!watch.alive())
            return;
        if (msg::applicationTerminating()) {
            Abort();
            break;
        }
    }
    if (statusCode_ >= 400 && statusCode_ != 401 && statusCode_ != 407)
        throw EHttpException(reasonPhrase_, statusCode_);
}

void THttpClient::ClearResults(bool keepLocation) {
    rcvdHeader_.clear();
    challenges_.clear();
    statusCode_ = 0;
    reasonPhrase_.clear();
    contentLength_ = -1;
    contentType_.clear();
    transferEncoding_.clear();
    contentEncoding_.clear();
    rcvdCount_ = 0;
    requestDoneError_ = 0;
    if (!keepLocation)
        location_ = URL;
}

void THttpClient::TakeTarget(const THttpUrlParts& parts) {
    protocol_ = parts.Proto.empty() ? "http" : parts.Proto;
    targetHost_ = parts.Host;
    targetPort_ = parts.Port;
    docPath_ = parts.Path;
    tunnel_.clear();
    absoluteForm_ = false;
    if (Proxy.empty()) {
        hostName_ = parts.Host;
        port_ = parts.Port.empty() ? defaultPort(protocol_) : parts.Port;
        path_ = parts.Path.empty() ? "/" : parts.Path;
        return;
    }
    const THttpUrlParts proxy = ParseHttpURL(Proxy);
    hostName_ = proxy.Host;
    port_ = proxy.Port.empty() ? ProxyPort : proxy.Port;
    if (protocol_ == "https") {
        // Through a tunnel (CONNECT host:port) the proxy sees no request: the request
        // line names the path as it would without a proxy.
        tunnel_ = parts.Host + ":" + (parts.Port.empty() ? defaultPort(protocol_) : parts.Port);
        path_ = parts.Path.empty() ? "/" : parts.Path;
        return;
    }
    // Through a proxy the request line carries the absolute URL, without credentials.
    absoluteForm_ = true;
    path_ =
        protocol_ + "://" + parts.Host + (parts.Port.empty() ? "" : ":" + parts.Port) + parts.Path;
}

void THttpClient::StartRequest(THttpRequest Rq) {
    if (state_ != httpReady || loginPending_ || readyPending_)
        throw EHttpException("HTTP component " + Name + " is busy", httperrBusy);
    Handle(); // takes the window and the client's message numbers on first use
    requestType_ = Rq;
    ClearResults(false);
    closeReq_ = requestVer_ == "1.0";
    locationFlag_ = false;
    relocationStarted_ = false;
    headerInProgress_ = false;
    docInProgress_ = false;
    ending_ = false;
    requestDonePending_ = false;

    const THttpUrlParts parts = ParseHttpURL(URL);
    currUser_ = parts.User.empty() ? Username : parts.User;
    currPass_ = parts.Pass.empty() ? Password : parts.Pass;
    TakeTarget(parts);

    AuthBasicState = basicNone;
    AuthNTLMState = ntlmNone;
    ProxyAuthBasicState = basicNone;
    ProxyAuthNTLMState = ntlmNone;
    connectionValue_ = Connection;
    proxyConnectionValue_ = ProxyConnection;
    // A retry or relocation asks for the same range again: without it a resumed file
    // would get the whole document appended to its first part.
    rangeBegin_ = ContentRangeBegin;
    rangeEnd_ = ContentRangeEnd;
    receiveStreamStart_ = ReceiveStream != nullptr ? ReceiveStream->Size() : 0;
    requestRunning_ = true;
    StartConnection();
}

bool THttpClient::ConnectionMatches() const {
    return ctrlSocket_->State() == wsConnected && hostName_ == ctrlSocketHost_ &&
           port_ == ctrlSocketPort_ && protocol_ == ctrlSocketProto_ &&
           tunnel_ == ctrlSocketTunnel_ && !tunnelPending_;
}

std::string THttpClient::ConnectFailureReason(int code) const {
    // A TLS failure says what went wrong in its own words ("certificate has expired").
    if (code == winsock::WSAETLSFAILED && !ctrlSocket_->TlsFailure().empty())
        return ctrlSocket_->TlsFailure();
    return socketErrorReason(code);
}

void THttpClient::StartConnection() {
    if (ctrlSocket_->State() == wsConnected) {
        if (ConnectionMatches()) {
            SendOnOpenConnection();
            return;
        }
        // The open connection goes elsewhere: it is dropped without ending this request.
        requestRunning_ = false;
        ctrlSocket_->Abort();
        requestRunning_ = true;
    }
    reader_.reset(requestType_ == httpHEAD ? ResponseTo::Head : ResponseTo::Get);
    SetState(httpNotConnected);
    SetState(httpDnsLookup);
    Touch();
    const LifeWatch watch(*this);
    inDnsLookupCall_ = true;
    dnsLookupStartFailed_ = false;
    ctrlSocket_->DnsLookup(hostName_);
    if (!watch.alive())
        return;
    inDnsLookupCall_ = false;
    if (dnsLookupStartFailed_ && requestRunning_ && state_ == httpDnsLookup) {
        RecordFailure(404, ctrlSocket_->LastErrorMessage(), 0);
        SetReady();
    }
}

void THttpClient::SendOnOpenConnection() {
    SetState(httpConnected);
    if (!requestRunning_)
        return;
    SetState(httpWaitingHeader);
    if (!requestRunning_)
        return;
    SendRequest();
}

void THttpClient::SocketError() {
    if (inDnsLookupCall_)
        dnsLookupStartFailed_ = true;
    if (inConnectCall_)
        connectStartFailed_ = true;
    if (OnSocketError)
        OnSocketError(this);
}

void THttpClient::SocketDnsLookupDone(int ErrCode) {
    if (!requestRunning_ || ending_ || state_ != httpDnsLookup)
        return;
    // A lookup that could not start ends the request with the socket's own report once
    // DnsLookup returns (StartConnection).
    if (inDnsLookupCall_ && dnsLookupStartFailed_)
        return;
    Touch();
    if (ErrCode != 0) {
        RecordFailure(404, "can't resolve hostname to IP address", ErrCode);
        ConnectionClosed();
        return;
    }
    SetState(httpDnsLookupDone);
    if (!requestRunning_)
        return;
    TAsyncSocket& socket = *ctrlSocket_;
    socket.SetAddr(socket.DnsResult());
    socket.SetPort(port_);
    socket.SetProto("tcp");
    socket.SetLocalAddr(LocalAddr);
    ctrlSocketHost_ = hostName_;
    ctrlSocketPort_ = port_;
    ctrlSocketProto_ = protocol_;
    ctrlSocketTunnel_ = tunnel_;
    if (protocol_ != "http" && protocol_ != "https") {
        RecordFailure(501, "Protocol \"" + protocol_ + "\" not implemented", socket.LastError());
        CloseConnection();
        return;
    }
    // TLS straight to the server; through a proxy it starts inside the tunnel.
    socket.SetTlsHost(protocol_ == "https" && tunnel_.empty() ? targetHost_ : std::string());
    tunnelPending_ = !tunnel_.empty();
    reader_.reset(requestType_ == httpHEAD ? ResponseTo::Head : ResponseTo::Get);
    const LifeWatch watch(*this);
    inConnectCall_ = true;
    connectStartFailed_ = false;
    socket.Connect();
    if (!watch.alive())
        return;
    inConnectCall_ = false;
    if (connectStartFailed_ && requestRunning_) {
        const int code = socket.LastError();
        RecordFailure(404, "can't connect: " + ConnectFailureReason(code), code);
        CloseConnection();
    }
}

void THttpClient::SocketSessionConnected(int ErrCode) {
    if (!requestRunning_ || ending_)
        return;
    if (state_ == httpWaitingProxyConnect) {
        TunnelConnected(ErrCode);
        return;
    }
    if (state_ != httpDnsLookupDone)
        return;
    Touch();
    if (ErrCode != 0) {
        // The socket closes next; the request ends when it reports that.
        RecordFailure(404, ConnectFailureReason(ErrCode), ErrCode);
        return;
    }
    if (tunnelPending_) {
        SendTunnelRequest();
        return;
    }
    SendOnNewSession();
}

void THttpClient::SendOnNewSession() {
    SetState(httpConnected);
    if (OnSessionConnected)
        OnSessionConnected(this);
    if (!requestRunning_)
        return;
    SetState(httpWaitingHeader);
    if (!requestRunning_)
        return;
    SendRequest();
}

void THttpClient::SocketDataSent(int) {
    if (requestRunning_)
        Touch();
}

// ---- the request on the wire ----

std::vector<std::string> THttpClient::BuildRequestLines() {
    HttpRequestHead head;
    head.method = methodName(requestType_);
    head.path = path_;
    head.version = requestVer_;
    head.sender = Sender;
    head.accept = Accept;
    head.reference = Reference;
    head.connection = connectionValue_;
    head.acceptLanguage = AcceptLanguage;
    head.agent = Agent;
    head.targetHost = targetHost_;
    head.targetPort = targetPort_;
    head.defaultPort = defaultPort(protocol_);
    head.noCache = NoCache;
    head.authorization = AuthorizationLine();
    // Inside a tunnel the proxy reads nothing: its lines went with CONNECT.
    if (tunnel_.empty()) {
        head.proxyConnection = proxyConnectionValue_;
        head.proxyAuthorization = ProxyAuthorizationLine();
    }
    head.cookie = Cookie;
    head.rangeBegin = rangeBegin_;
    head.rangeEnd = rangeEnd_;
    std::vector<std::string> lines = composeRequestLines(head);
    ContentRangeBegin.clear();
    ContentRangeEnd.clear();
    return lines;
}

void THttpClient::SendRequest() {
    reader_.beginResponse(requestType_ == httpHEAD ? ResponseTo::Head : ResponseTo::Get);
    acceptRanges_.clear();
    headerInProgress_ = true;
    docInProgress_ = false;
    if (OnRequestHeaderBegin)
        OnRequestHeaderBegin(this);
    if (!requestRunning_)
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
        OnBeforeHeaderSend(this, methodName(requestType_), lines);
    if (OnCommand) {
        for (std::string& line : lines)
            OnCommand(this, line);
    }
    if (OnRequestHeaderEnd)
        OnRequestHeaderEnd(this);
    if (!requestRunning_)
        return;
    const std::string wire = serializeRequest(lines);
    Touch();
    const int sent = ctrlSocket_->Send(wire.data(), static_cast<int>(wire.size()));
    if (sent < 0 && requestRunning_) {
        const int code = ctrlSocket_->LastError();
        FailRequest(404, socketErrorReason(code), code);
    }
}

// ---- becoming ready ----

void THttpClient::SetReady() {
    requestRunning_ = false;
    StopSilenceWatch();
    if (readyPending_)
        return;
    readyPending_ = true;
    if (!PostMessage(msgSetReady_))
        HandleSetReady();
}

void THttpClient::HandleSetReady() {
    if (!readyPending_)
        return;
    readyPending_ = false;
    SetState(httpReady);
    bool retrying = false;
    try {
        retrying = CheckAuthorization();
    } catch (...) {
        requestDoneError_ = httperrInvalidAuthState;
        requestDonePending_ = true;
        PostMessage(msgRequestDone_);
        throw;
    }
    if (!retrying) {
        requestDonePending_ = true;
        if (!PostMessage(msgRequestDone_))
            HandleRequestDone();
    }
}

void THttpClient::HandleRequestDone() {
    if (!requestDonePending_)
        return;
    requestDonePending_ = false;
    TriggerRequestDone();
}

void THttpClient::TriggerRequestDone() {
    if (OnRequestDone)
        OnRequestDone(this, requestType_, requestDoneError_);
}

void THttpClient::HandleLogin() {
    if (!loginPending_)
        return;
    loginPending_ = false;
    requestRunning_ = true;
    ending_ = false;
    headerInProgress_ = false;
    docInProgress_ = false;
    if (ConnectionMatches())
        SendOnOpenConnection();
    else
        StartConnection();
}

void THttpClient::CutBackReceiveStream() {
    if (ReceiveStream == nullptr)
        return;
    ReceiveStream->SetSize(receiveStreamStart_);
    ReceiveStream->Seek(0, TSeekOrigin::soEnd);
}

// ---- Abort ----

void THttpClient::Abort() {
    const bool busy = state_ != httpReady || loginPending_ || readyPending_ || requestRunning_;
    if (!busy) {
        if (ctrlSocket_->State() != wsClosed)
            ctrlSocket_->Abort();
        statusCode_ = 200;
        reasonPhrase_ = "OK";
        requestDoneError_ = 0;
        state_ = httpReady;
        if (OnStateChange)
            OnStateChange(this);
        TriggerRequestDone();
        return;
    }
    const LifeWatch watch(*this);
    ending_ = true;
    loginPending_ = false;
    readyPending_ = false;
    requestDonePending_ = false;
    SetState(httpAborting);
    if (!watch.alive())
        return;
    // During a lookup no connection reports its close: the closed-connection handling
    // runs directly.
    RecordFailure(404, "Connection aborted on request", httperrAborting);
    if (!DropConnection())
        return;
    requestRunning_ = false;
    StopSilenceWatch();
    readyPending_ = true;
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
    silenceArmed_ = PostMessageAfter(static_cast<int>(ms), msgSilence_,
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
    if (!requestRunning_ || state_ == httpReady || state_ == httpAborting)
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

std::unique_ptr<THttpClient> makeFormHttpClient(const std::string& agent) {
    auto client = std::make_unique<THttpClient>("HttpClient1");
    client->LocalAddr = "0.0.0.0";
    client->ProxyPort = "80";
    client->Agent = agent;
    client->Accept = "image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*";
    client->NoCache = false;
    client->ContentTypePost = "application/x-www-form-urlencoded";
    client->SetRequestVer("1.0");
    client->FollowRelocation = true;
    client->LocationChangeMaxCount = 5;
    client->BandwidthLimit = 10000;
    client->BandwidthSampling = 1000;
    client->Options = 0;
    client->SocksLevel = "5";
    return client;
}

} // namespace fetchora
