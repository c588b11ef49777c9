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

int THttpClient::FindChallenge(const char* scheme) const {
    for (size_t i = FDoAuthor.size(); i > 0; --i) {
        if (startsWithNoCase(FDoAuthor[i - 1], scheme))
            return static_cast<int>(i - 1);
    }
    return -1;
}

void THttpClient::UpdateAuthStates() {
    const bool challenged = FStatusCode == 401 || FStatusCode == 407;
    if (AuthBasicState == basicSending && !challenged)
        AuthBasicState = basicDone;
    else if (AuthBasicState == basicDone && FStatusCode == 401)
        AuthBasicState = basicNone;
    if (AuthNTLMState == ntlmMsg3 && !challenged)
        AuthNTLMState = ntlmDone;
    else if (AuthNTLMState == ntlmDone && FStatusCode == 401)
        AuthNTLMState = ntlmNone;

    if (ProxyAuthBasicState == basicSending && FStatusCode != 407)
        ProxyAuthBasicState = basicDone;
    else if (ProxyAuthBasicState == basicDone && FStatusCode == 407)
        ProxyAuthBasicState = basicNone;
    if (ProxyAuthNTLMState == ntlmMsg3 && FStatusCode != 407)
        ProxyAuthNTLMState = ntlmDone;
    else if (ProxyAuthNTLMState == ntlmDone && FStatusCode == 407)
        ProxyAuthNTLMState = ntlmNone;
}

bool THttpClient::CheckAuthorization() {
    UpdateAuthStates();
    if (FDoAuthor.empty())
        return false;
    const bool credentials = !FCurrUser.empty() && !FCurrPass.empty();
    const bool proxyCredentials = !ProxyUsername.empty() && !ProxyPassword.empty();
    const bool ntlmAllowed = (Options & httpoNoNTLMAuth) == 0;
    const bool basicAllowed = (Options & httpoNoBasicAuth) == 0;

    if (FStatusCode == 401 && AuthBasicState == basicNone && credentials && ntlmAllowed &&
        FindChallenge("NTLM") >= 0)
        return DoNTLM(AuthNTLMState, false);
    if (FStatusCode == 407 && ProxyAuthBasicState == basicNone && proxyCredentials && ntlmAllowed &&
        FindChallenge("NTLM") >= 0)
        return DoNTLM(ProxyAuthNTLMState, true);
    if (FStatusCode == 401 && AuthNTLMState == ntlmNone && credentials && basicAllowed &&
        FindChallenge("Basic") >= 0)
        return DoBasic(AuthBasicState, false);
    if (FStatusCode == 407 && ProxyAuthNTLMState == ntlmNone && proxyCredentials && basicAllowed &&
        FindChallenge("Basic") >= 0)
        return DoBasic(ProxyAuthBasicState, true);
    return false;
}

void THttpClient::PrepareRetry() {
    CutBackReceiveStream();
    ClearResults(true);
    FLoginPending = true;
    if (!PostMessage(FMsg_WM_HTTP_LOGIN))
        HandleLogin();
}

bool THttpClient::DoBasic(int& state, bool proxy) {
    if (state == basicNone) {
        state = basicSending;
        (proxy ? ProxyAuthNTLMState : AuthNTLMState) = ntlmNone;
        PrepareRetry();
        return true;
    }
    if (state == basicSending) {
        // The retry was refused as well: the request ends with this answer.
        FDoAuthor.clear();
        state = basicNone;
        return false;
    }
    throw EHttpException(proxy ? "Unexpected ProxyAuthBasicState" : "Unexpected AuthBasicState",
                         httperrInvalidAuthState);
}

bool THttpClient::DoNTLM(int& state, bool proxy) {
    if (state == ntlmNone) {
        state = ntlmMsg1;
        // The exchange needs the connection to stay open between its legs.
        if (FRequestVer == "1.0" || FServerVersion == "1.0" || FServerVersion.empty())
            (proxy ? FProxyConnectionValue : FConnectionValue) = "Keep-alive";
        PrepareRetry();
        return true;
    }
    if (state == ntlmMsg1) {
        const std::string& entry = FDoAuthor[static_cast<size_t>(FindChallenge("NTLM"))];
        const std::string message = base64Decode(entry.size() > 5 ? entry.substr(5) : "");
        (proxy ? FProxyNTLMChallenge : FNTLMChallenge) = ntlm::challengeOf(message);
        state = ntlmMsg3;
        PrepareRetry();
        return true;
    }
    if (state == ntlmMsg3) {
        FDoAuthor.clear();
        state = ntlmNone;
        return false;
    }
    throw EHttpException(proxy ? "Unexpected ProxyAuthNTLMState" : "Unexpected AuthNTLMState",
                         httperrInvalidAuthState);
}

std::string THttpClient::AuthorizationLine() {
    if (ProxyAuthNTLMState == ntlmMsg1)
        return {};
    if (AuthNTLMState == ntlmMsg1)
        return "NTLM " + base64Encode(ntlm::negotiateMessage());
    if (AuthNTLMState == ntlmMsg3)
        return "NTLM " + base64Encode(ntlm::authenticateMessage(FCurrUser, FCurrPass,
                                                                LocalHostName(), FNTLMChallenge));
    if (AuthBasicState == basicSending)
        return "Basic " + base64Encode(FCurrUser + ":" + FCurrPass);
    return {};
}

std::string THttpClient::ProxyAuthorizationLine() {
    if (ProxyAuthBasicState == basicSending)
        return "Basic " + base64Encode(ProxyUsername + ":" + ProxyPassword);
    if (ProxyAuthNTLMState == ntlmMsg1)
        return "NTLM " + base64Encode(ntlm::negotiateMessage());
    if (ProxyAuthNTLMState == ntlmMsg3)
        return "NTLM " + base64Encode(ntlm::authenticateMessage(
                             ProxyUsername, ProxyPassword, LocalHostName(), FProxyNTLMChallenge));
    return {};
}

} // namespace fetchora
