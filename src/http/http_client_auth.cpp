// THttpClient's relocations (following Location) and authorization retries (Basic and
// NTLM version 1, for the server and the proxy), decided when a response is complete.
#include "http/http_client.h"

#include "http/base64.h"
#include "platform/text.h"

#include <algorithm>

namespace fetchora {

namespace {

std::string effectivePort(const std::string& port) {
    return port.empty() ? "80" : port;
}

bool startsWithNoCase(const std::string& s, std::string_view prefix) {
    return s.size() >= prefix.size() &&
           text::asciiSameText(std::string_view(s).substr(0, prefix.size()), prefix);
}

} // namespace

// ---- relocation ----

void THttpClient::PrepareRelocation(const std::string& location) {
    if (FRequestType == httpPUT) {
        FLocation = location;
        return;
    }
    if (!FollowRelocation)
        return;
    // The next request line and Host line are made of this value: one that holds a
    // control character (a CR or LF above all) never goes out.
    if (std::any_of(location.begin(), location.end(), [](char c) {
            const auto byte = static_cast<unsigned char>(c);
            return byte < 0x20 || byte == 0x7f;
        })) {
        FailRequest(404, kControlInLocationReason, httperrBadHeader);
        return;
    }
    FLocationFlag = true;

    std::string absolute;
    if (startsWithNoCase(location, "http://") || startsWithNoCase(location, "https://")) {
        absolute = location;
    } else {
        const std::string origin =
            FProtocol + "://" + FTargetHost + (FTargetPort.empty() ? "" : ":" + FTargetPort);
        if (!location.empty() && location[0] == '/') {
            absolute = origin + location;
        } else {
            // Relative to the current document: its path (or, through a proxy, its
            // absolute URL) up to the last "/" or ":" before any "?".
            const std::string head = FPath.substr(0, FPath.find('?'));
            const size_t last = head.find_last_of("/:");
            const std::string directory =
                last == std::string::npos ? std::string() : head.substr(0, last + 1);
            absolute = (Proxy.empty() ? origin : std::string()) + directory + location;
        }
    }

    const THttpUrlParts parts = ParseHttpURL(absolute);
    const bool otherServer = !text::asciiSameText(parts.Host, FTargetHost) ||
                             effectivePort(parts.Port) != effectivePort(FTargetPort);
    TakeTarget(parts);
    if (otherServer) {
        // Credentials are never sent to a server they were not given for, nor is an
        // answered challenge: the other server starts without any authorization and
        // only a challenge of its own brings one, with the credentials of its URL.
        FCurrUser.clear();
        FCurrPass.clear();
        AuthBasicState = basicNone;
        AuthNTLMState = ntlmNone;
        FNTLMChallenge = {};
    }
    if (!parts.User.empty() && !parts.Pass.empty()) {
        FCurrUser = parts.User;
        FCurrPass = parts.Pass;
    }
    FLocation = absolute;
}

bool THttpClient::RelocationLimitReached() {
    if (LocationChangeCurCount <= LocationChangeMaxCount)
        return false;
    bool allowMore = false;
    if (OnLocationChangeExceeded)
        OnLocationChangeExceeded(this, LocationChangeCurCount, allowMore);
    return !allowMore;
}

void THttpClient::EndWithRelocationResponse() {
    FLocationFlag = false;
    FRelocationStarted = false;
    if (FCtrlSocket->State() != wsClosed) {
        if (FCloseReq)
            CloseConnection();
        else
            SetReady();
        return;
    }
    FRequestRunning = false;
    if (OnSessionClosed)
        OnSessionClosed(this);
    SetReady();
}

bool THttpClient::BeginRelocationLeg() {
    if (OnLocationChange) {
        OnLocationChange(this);
        if (!FRequestRunning)
            return false;
    }
    ClearResults(true);
    CutBackReceiveStream();
    FLocationFlag = false;
    FRelocationStarted = false;
    if (FRequestType == httpPOST)
        FRequestType = httpGET;
    return true;
}

void THttpClient::StartRelocation() {
    FRcvdCount = 0;
    FRelocationStarted = true;
    ++LocationChangeCurCount;
    if (RelocationLimitReached()) {
        EndWithRelocationResponse();
        return;
    }
    if (!FRequestRunning)
        return;
    if (!ConnectionMatches() || FCloseReq) {
        // The closed-connection handling goes on with RelocateAfterClose.
        CloseConnection();
        return;
    }
    if (!BeginRelocationLeg())
        return;
    SendOnOpenConnection();
}

void THttpClient::RelocateAfterClose() {
    if (!FRelocationStarted) {
        // The response ended with the connection (a body read until close).
        FRcvdCount = 0;
        FRelocationStarted = true;
        ++LocationChangeCurCount;
        if (RelocationLimitReached()) {
            EndWithRelocationResponse();
            return;
        }
    }
    const size_t hash = FLocation.find('#');
    if (hash != std::string::npos)
        FLocation.erase(hash);
    ++LocationChangeCurCount;
    if (RelocationLimitReached()) {
        EndWithRelocationResponse();
        return;
    }
    if (!FRequestRunning)
        return;
    if (!BeginRelocationLeg())
        return;
    TakeTarget(ParseHttpURL(FLocation));
    FCloseReq = FRequestVer == "1.0";
    StartConnection();
}

// ---- authorization ----

// One side of the exchange: the server (401, the current credentials, Authorization) or
// the proxy (407, ProxyUsername and ProxyPassword, Proxy-Authorization). Basic and NTLM
// run the same way for both.
struct THttpClient::AuthSide {
    int status;
    int& basicState;
    int& ntlmState;
    const std::string& user;
    const std::string& password;
    std::string& connectionValue;
    ntlm::Challenge& challenge;
    const char* unexpectedBasic;
    const char* unexpectedNTLM;

    bool hasCredentials() const { return !user.empty() && !password.empty(); }
    // Whether a response status still counts as refused for this side's states: the
    // server's by a 401 or a 407, the proxy's by a 407 only.
    bool refuses(int statusCode) const {
        return statusCode == 407 || (status == 401 && statusCode == 401);
    }
};

THttpClient::AuthSide THttpClient::ServerSide() {
    return {401,
            AuthBasicState,
            AuthNTLMState,
            FCurrUser,
            FCurrPass,
            FConnectionValue,
            FNTLMChallenge,
            "Unexpected AuthBasicState",
            "Unexpected AuthNTLMState"};
}

THttpClient::AuthSide THttpClient::ProxySide() {
    return {407,
            ProxyAuthBasicState,
            ProxyAuthNTLMState,
            ProxyUsername,
            ProxyPassword,
            FProxyConnectionValue,
            FProxyNTLMChallenge,
            "Unexpected ProxyAuthBasicState",
            "Unexpected ProxyAuthNTLMState"};
}

int THttpClient::FindChallenge(const char* scheme) const {
    for (size_t i = FDoAuthor.size(); i > 0; --i) {
        if (startsWithNoCase(FDoAuthor[i - 1], scheme))
            return static_cast<int>(i - 1);
    }
    return -1;
}

void THttpClient::UpdateAuthStates(AuthSide& side) {
    // A state that was sent becomes done once a response no longer refuses it; a done
    // one starts over when its side is refused anew.
    if (side.basicState == basicSending && !side.refuses(FStatusCode))
        side.basicState = basicDone;
    else if (side.basicState == basicDone && FStatusCode == side.status)
        side.basicState = basicNone;
    if (side.ntlmState == ntlmMsg3 && !side.refuses(FStatusCode))
        side.ntlmState = ntlmDone;
    else if (side.ntlmState == ntlmDone && FStatusCode == side.status)
        side.ntlmState = ntlmNone;
}

bool THttpClient::CheckAuthorization() {
    AuthSide server = ServerSide();
    AuthSide proxy = ProxySide();
    UpdateAuthStates(server);
    UpdateAuthStates(proxy);
    if (FDoAuthor.empty())
        return false;
    const bool ntlmAllowed = (Options & httpoNoNTLMAuth) == 0;
    const bool basicAllowed = (Options & httpoNoBasicAuth) == 0;
    // NTLM first, the server before the proxy; then Basic likewise.
    for (AuthSide* side : {&server, &proxy}) {
        if (FStatusCode == side->status && side->basicState == basicNone &&
            side->hasCredentials() && ntlmAllowed && FindChallenge("NTLM") >= 0)
            return DoNTLM(*side);
    }
    for (AuthSide* side : {&server, &proxy}) {
        if (FStatusCode == side->status && side->ntlmState == ntlmNone && side->hasCredentials() &&
            basicAllowed && FindChallenge("Basic") >= 0)
            return DoBasic(*side);
    }
    return false;
}

void THttpClient::PrepareRetry() {
    CutBackReceiveStream();
    ClearResults(true);
    FLoginPending = true;
    if (!PostMessage(FMsg_WM_HTTP_LOGIN))
        HandleLogin();
}

bool THttpClient::DoBasic(AuthSide& side) {
    if (side.basicState == basicNone) {
        side.basicState = basicSending;
        side.ntlmState = ntlmNone;
        PrepareRetry();
        return true;
    }
    if (side.basicState == basicSending) {
        // The retry was refused as well: the request ends with this answer.
        FDoAuthor.clear();
        side.basicState = basicNone;
        return false;
    }
    throw EHttpException(side.unexpectedBasic, httperrInvalidAuthState);
}

bool THttpClient::DoNTLM(AuthSide& side) {
    if (side.ntlmState == ntlmNone) {
        side.ntlmState = ntlmMsg1;
        // The exchange needs the connection to stay open between its legs.
        if (FRequestVer == "1.0" || FServerVersion == "1.0" || FServerVersion.empty())
            side.connectionValue = "Keep-alive";
        PrepareRetry();
        return true;
    }
    if (side.ntlmState == ntlmMsg1) {
        const std::string& entry = FDoAuthor[static_cast<size_t>(FindChallenge("NTLM"))];
        const std::string message = base64Decode(entry.size() > 5 ? entry.substr(5) : "");
        side.challenge = ntlm::challengeOf(message);
        side.ntlmState = ntlmMsg3;
        PrepareRetry();
        return true;
    }
    if (side.ntlmState == ntlmMsg3) {
        FDoAuthor.clear();
        side.ntlmState = ntlmNone;
        return false;
    }
    throw EHttpException(side.unexpectedNTLM, httperrInvalidAuthState);
}

std::string THttpClient::AuthLine(const AuthSide& side) {
    if (side.ntlmState == ntlmMsg1)
        return "NTLM " + base64Encode(ntlm::negotiateMessage());
    if (side.ntlmState == ntlmMsg3)
        return "NTLM " + base64Encode(ntlm::authenticateMessage(side.user, side.password,
                                                                LocalHostName(), side.challenge));
    if (side.basicState == basicSending)
        return "Basic " + base64Encode(side.user + ":" + side.password);
    return {};
}

std::string THttpClient::AuthorizationLine() {
    // While the proxy is being asked to negotiate, the server gets no line.
    if (ProxyAuthNTLMState == ntlmMsg1)
        return {};
    return AuthLine(ServerSide());
}

std::string THttpClient::ProxyAuthorizationLine() {
    return AuthLine(ProxySide());
}

} // namespace fetchora
