// THttpClient: the system's event-driven HTTP/1.0 client. It sends one request at a time
// over a TAsyncSocket, directly or through an HTTP proxy, reads the response with
// HttpResponseReader, follows relocations, answers Basic and NTLM challenges with the
// credentials of its URL, and hands the body to ReceiveStream and OnDocData. Get and Head
// wait for the end of the request by pumping the thread's messages.
#pragma once

#include "http/async_socket.h"
#include "http/http_response_reader.h"
#include "http/http_url.h"
#include "http/msg_wnd_control.h"
#include "http/ntlm.h"
#include "http/stream.h"
#include "platform/errors.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace fetchora {

// The client's exception: a message and an error code (1 busy, 2 nothing to post or put,
// 3 aborted, 4 response over a bound, 5 unsupported HTTP version, 6 unexpected
// authorization state, 7 a header value refused; the StatusCode when Get or Head fail).
class EHttpException final : public Error {
public:
    EHttpException(const std::string& message, int errorCode)
        : Error(message), ErrorCode(errorCode) {}
    int ErrorCode;
};

inline constexpr int httperrNoError = 0;
inline constexpr int httperrBusy = 1;
inline constexpr int httperrNoData = 2;
inline constexpr int httperrAborting = 3;
inline constexpr int httperrOverflow = 4;
inline constexpr int httperrVersion = 5;
inline constexpr int httperrInvalidAuthState = 6;
inline constexpr int httperrBadHeader = 7;

enum THttpState {
    httpReady = 0,
    httpNotConnected = 1,
    httpConnected = 2,
    httpDnsLookup = 3,
    httpDnsLookupDone = 4,
    httpWaitingHeader = 5,
    httpWaitingBody = 6,
    httpBodyReceived = 7,
    httpWaitingProxyConnect = 8,
    httpClosing = 9,
    httpAborting = 10,
};

enum THttpRequest {
    httpABORT = 0,
    httpGET = 1,
    httpPOST = 2,
    httpPUT = 3,
    httpHEAD = 4,
    httpCLOSE = 5,
};

// Options (a set of bits).
using THttpOptions = unsigned;
inline constexpr THttpOptions httpoNoBasicAuth = 0x01;
inline constexpr THttpOptions httpoNoNTLMAuth = 0x02;
inline constexpr THttpOptions httpoBandwidthControl = 0x04;
inline constexpr THttpOptions httpoEnableContentCoding = 0x08;
inline constexpr THttpOptions httpoUseQuality = 0x10;

// Authorization states. Other values can only be stored by mistake; meeting one raises
// "Unexpected AuthBasicState" and the like.
enum THttpBasicState { basicNone = 0, basicSending = 1, basicDone = 2 };
enum THttpNTLMState { ntlmNone = 0, ntlmMsg1 = 1, ntlmMsg3 = 3, ntlmDone = 4 };

// The silence after which a running request gives up: no lookup result, no connection,
// no byte for this long.
inline constexpr std::chrono::milliseconds kDefaultSilenceLimit{120000};
inline constexpr const char* kSilenceReason = "Connection timed out (Error #10060)";
// The reason of a request whose response names a Location holding a control character.
inline constexpr const char* kControlInLocationReason = "Location holds a control character";

class THttpClient final : public TMsgWndControl {
public:
    using TNotifyEvent = std::function<void(THttpClient* Sender)>;
    using TBeforeHeaderSendEvent = std::function<void(
        THttpClient* Sender, const std::string& Method, std::vector<std::string>& Headers)>;
    using TCommandEvent = std::function<void(THttpClient* Sender, std::string& Line)>;
    using TDocDataEvent = std::function<void(THttpClient* Sender, const char* Buffer, int Len)>;
    using TLocationChangeExceededEvent =
        std::function<void(THttpClient* Sender, int RelocationCount, bool& AllowMoreRelocations)>;
    using TCookieEvent =
        std::function<void(THttpClient* Sender, const std::string& Data, bool& Accept)>;
    using TRequestDoneEvent =
        std::function<void(THttpClient* Sender, THttpRequest RqType, int ErrCode)>;

    explicit THttpClient(const std::string& name = "HttpCli");
    ~THttpClient() override;

    // Starts a GET (HEAD) and waits for its end; raises EHttpException with ReasonPhrase
    // and StatusCode when it ends with 400 or more, except 401 and 407.
    void Get();
    void Head();
    // Starts a request and returns; OnRequestDone tells its end.
    void GetASync();
    void HeadASync();
    // Ends the running request at once; when idle, reports 200 "OK".
    void Abort();

    // Properties.
    std::string LocalAddr = "0.0.0.0";
    std::string Proxy;
    std::string ProxyPort = "80";
    std::string Agent = "Mozilla/4.0 (compatible; Fetchora)";
    std::string Accept = "image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*";
    bool NoCache = false;
    const std::string& RequestVer() const { return requestVer_; }
    // "1.0" or "1.1"; anything else raises "Insupported HTTP version" (code 5).
    void SetRequestVer(const std::string& Value);
    bool FollowRelocation = true;
    int LocationChangeMaxCount = 5;
    int LocationChangeCurCount = 0;
    // The range of the next request ("Range: bytes=Begin-End"), emptied once the line is
    // made; after a response with a Content-Range of numbers, its first and last byte.
    // The range goes with the request's authorization retries and relocations alike, so
    // a resumed file relocated to a mirror asks the mirror for the same bytes. A server
    // that ignores it answers 200 with no Content-Range: StatusCode 200 after a range
    // request means the body is the whole document, never its rest.
    std::string ContentRangeBegin;
    std::string ContentRangeEnd;
    THttpOptions Options = 0;
    std::string URL;
    TStream* ReceiveStream = nullptr; // not owned
    std::string Username;
    std::string Password;
    std::string ProxyUsername;
    std::string ProxyPassword;
    std::string Sender;
    std::string Reference;
    std::string AcceptLanguage;
    std::string Connection;
    std::string ProxyConnection;
    std::string Cookie;
    double ModifiedSince = 0;
    std::string ContentTypePost = "application/x-www-form-urlencoded";
    int BandwidthLimit = 10000;
    int BandwidthSampling = 1000;
    std::string SocksLevel = "5";
    // How long a request may stay silent before it fails with kSilenceReason.
    std::chrono::milliseconds SilenceLimit = kDefaultSilenceLimit;

    // Authorization states of the running request (see the enums above).
    int AuthBasicState = basicNone;
    int AuthNTLMState = ntlmNone;
    int ProxyAuthBasicState = basicNone;
    int ProxyAuthNTLMState = ntlmNone;

    // Results.
    THttpState State() const { return state_; }
    THttpRequest RequestType() const { return requestType_; }
    int StatusCode() const { return statusCode_; }
    const std::string& ReasonPhrase() const { return reasonPhrase_; }
    std::int64_t ContentLength() const { return contentLength_; }
    const std::string& ContentType() const { return contentType_; }
    const std::string& TransferEncoding() const { return transferEncoding_; }
    const std::string& ContentEncoding() const { return contentEncoding_; }
    const std::string& AcceptRanges() const { return acceptRanges_; }
    const std::string& Location() const { return location_; }
    const std::vector<std::string>& ReceivedHeader() const { return rcvdHeader_; }
    std::int64_t ReceivedCount() const { return rcvdCount_; }
    // The values of the WWW-Authenticate and Proxy-Authenticate fields of the last
    // response.
    const std::vector<std::string>& AuthChallenges() const { return challenges_; }
    // The error code of the running or last request (ErrCode of OnRequestDone).
    int RequestDoneError() const { return requestDoneError_; }
    TAsyncSocket& CtrlSocket() { return *ctrlSocket_; }

    // Events.
    TNotifyEvent OnStateChange;
    TNotifyEvent OnSessionConnected;
    TNotifyEvent OnRequestHeaderBegin;
    TBeforeHeaderSendEvent OnBeforeHeaderSend;
    TCommandEvent OnCommand;
    TNotifyEvent OnRequestHeaderEnd;
    TNotifyEvent OnHeaderBegin;
    TNotifyEvent OnHeaderData;
    TNotifyEvent OnHeaderEnd;
    TNotifyEvent OnDocBegin;
    // Buffer holds the piece just written to ReceiveStream (it may lie in the stream's
    // own memory); it is valid during the call only.
    TDocDataEvent OnDocData;
    TNotifyEvent OnDocEnd;
    TNotifyEvent OnSessionClosed;
    TNotifyEvent OnLocationChange;
    TLocationChangeExceededEvent OnLocationChangeExceeded;
    TCookieEvent OnCookie;
    TNotifyEvent OnSocketError;
    TRequestDoneEvent OnRequestDone;

protected:
    int MsgHandlersCount() override;
    void AllocateMsgHandlers() override;
    void FreeMsgHandlers() override;
    void WndProc(TMessage& MsgRec) override;

private:
    // Request set-up and the connection (http_client.cpp).
    void DoRequestSync(THttpRequest Rq);
    void DoRequestAsync(THttpRequest Rq);
    void StartRequest(THttpRequest Rq);
    void ClearResults(bool keepLocation);
    void TakeTarget(const THttpUrlParts& parts);
    void StartConnection();
    bool ConnectionMatches() const;
    void SendOnOpenConnection();
    void SocketDnsLookupDone(int ErrCode);
    void SocketSessionConnected(int ErrCode);
    void SocketDataSent(int ErrCode);
    void SocketError();
    std::string ConnectFailureReason(int code) const;
    // The tunnel through a proxy for https (http_client_tunnel.cpp): CONNECT, its answer,
    // then TLS to the server inside it.
    void SendTunnelRequest();
    void TunnelEstablished();
    // The session (or the tunnel through the proxy) is open: says so and sends the request.
    void SendOnNewSession();
    void TunnelConnected(int ErrCode);
    void SendRequest();
    std::vector<std::string> BuildRequestLines();
    void SetState(THttpState NewState);
    void SetReady();
    void HandleSetReady();
    void HandleRequestDone();
    void HandleLogin();
    void TriggerRequestDone();
    // The silence limit: activity is noted, and a timer message of the client's window
    // checks it once per limit.
    void Touch();
    void ArmSilenceWatch(std::chrono::milliseconds after);
    void StopSilenceWatch();
    void HandleSilenceMessage(WPARAM generation);
    void CutBackReceiveStream();

    // Receiving (http_client_receive.cpp).
    void SocketDataAvailable(int ErrCode);
    // Reads body bytes straight into ReceiveStream's memory where the reader and the
    // stream allow it; false when the read is to go through the reader's buffer.
    bool ReceiveIntoStream();
    void ProcessReceivedGuarded();
    void ProcessReceived();
    void HandleHeaderLine();
    void HandleField(const std::string& name, const std::string& value);
    void HandleHeaderEnd();
    void HandleData(const char* data, size_t size, bool inStream);
    void HandleDocumentEnd();
    void ResponseComplete();
    void CloseConnection();
    void SocketSessionClosed(int ErrCode);
    void ConnectionClosed();
    // The one way a request fails: status, reason and error code recorded (no relocation
    // follows them), then, for FailRequest, the connection or lookup dropped and the
    // request ended as after a closed connection. DropConnection is false when the client
    // did not survive it.
    void RecordFailure(int statusCode, const std::string& reason, int errorCode);
    void FailRequest(int statusCode, const std::string& reason, int errorCode);
    bool DropConnection();

    // Relocation and authorization (http_client_auth.cpp).
    void PrepareRelocation(const std::string& location);
    void StartRelocation();
    void RelocateAfterClose();
    // Tells OnLocationChange and resets the results for the relocated request; false when
    // the handler ended the request.
    bool BeginRelocationLeg();
    bool RelocationLimitReached();
    void EndWithRelocationResponse();
    struct AuthSide;
    AuthSide ServerSide();
    AuthSide ProxySide();
    bool CheckAuthorization();
    void UpdateAuthStates(AuthSide& side);
    bool DoBasic(AuthSide& side);
    bool DoNTLM(AuthSide& side);
    void PrepareRetry();
    static std::string AuthLine(const AuthSide& side);
    std::string AuthorizationLine();
    std::string ProxyAuthorizationLine();
    int FindChallenge(const char* scheme) const;

    std::unique_ptr<TAsyncSocket> ctrlSocket_;
    HttpResponseReader reader_;
    std::chrono::steady_clock::time_point lastActivity_{};
    bool silenceArmed_ = false;
    unsigned silenceGeneration_ = 0;

    std::string requestVer_ = "1.0";
    THttpState state_ = httpReady;
    THttpRequest requestType_ = httpGET;
    int statusCode_ = 0;
    std::string reasonPhrase_;
    std::int64_t contentLength_ = -1;
    std::string contentType_;
    std::string transferEncoding_;
    std::string contentEncoding_;
    std::string acceptRanges_;
    std::string location_;
    std::vector<std::string> rcvdHeader_;
    std::int64_t rcvdCount_ = 0;
    std::vector<std::string> challenges_;
    int requestDoneError_ = 0;
    std::string serverVersion_;

    // The request being made: where the connection goes, the target and the path.
    std::string hostName_;
    std::string port_;
    std::string protocol_;
    std::string targetHost_;
    std::string targetPort_;    // as the URL names it, empty when it names none
    std::string path_;          // what the request line carries
    std::string docPath_;       // the path of the current URL
    std::string tunnel_;        // "host:port" of the CONNECT tunnel for https through a proxy
    bool absoluteForm_ = false; // the request line carries the absolute URL (plain proxy)
    std::string currUser_;
    std::string currPass_;
    std::string connectionValue_;
    std::string rangeBegin_; // the range of this request, kept for its retries
    std::string rangeEnd_;
    std::string proxyConnectionValue_;
    ntlm::Challenge ntlmChallenge_{};
    ntlm::Challenge proxyNtlmChallenge_{};
    // The connection that is open.
    std::string ctrlSocketHost_;
    std::string ctrlSocketPort_;
    std::string ctrlSocketProto_;
    std::string ctrlSocketTunnel_;
    bool tunnelPending_ = false; // the connection is made, the tunnel not yet

    bool closeReq_ = false;     // close the connection after this response
    bool locationFlag_ = false; // a Location is to be followed
    bool relocationStarted_ = false;
    bool requestRunning_ = false; // the request has not reached its end yet
    bool readyPending_ = false;   // the set-ready message is on its way
    bool loginPending_ = false;   // the login message is on its way
    bool headerInProgress_ = false;
    bool docInProgress_ = false;
    bool inDnsLookupCall_ = false;
    bool dnsLookupStartFailed_ = false;
    bool inConnectCall_ = false;
    bool connectStartFailed_ = false;
    bool requestDonePending_ = false;
    bool ending_ = false;      // aborting or failing: socket results no longer count
    unsigned closedCount_ = 0; // how often the closed-connection handling ran
    std::int64_t receiveStreamStart_ = 0;

    UINT msgRequestDone_ = 0;
    UINT msgSetReady_ = 0;
    UINT msgLogin_ = 0;
    UINT msgSilence_ = 0;
};

// A form's HTTP client, named "HttpClient1", with the property values every form of the
// system creates it with (any local address, proxy port "80", the image-friendly Accept
// list, HTTP/1.0, relocations followed up to five times, no options) and the form's agent.
std::unique_ptr<THttpClient> makeFormHttpClient(const std::string& agent);

} // namespace fetchora
