// THttpClient's relocations (following Location) and authorization retries (Basic and
// NTLM version 1, for the server and the proxy), decided when a response is complete.
#include "http/http_client.h"

#include "http/base64.h"
#include "platform/text.h"

#include <algorithm>

namespace fetchora {

namespace {

std::string effectivePort(const std::string& protocol, const std::string& port) {
    if (!port.empty())
        return port;
    return protocol == "https" ? "443" : "80";
}

bool startsWithNoCase(const std::string& s, std::string_view prefix) {
    return s.size() >= prefix.size() &&
           text::asciiSameText(std::string_view(s).substr(0, prefix.size()), prefix);
}

} // namespace

// ---- relocation ----

void THttpClient::PrepareRelocation(const std::string& location) {
    if (requestType_ == httpPUT) {
        location_ = location;
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
    locationFlag_ = true;

    std::string absolute;
    if (startsWithNoCase(location, "http://") || startsWithNoCase(location, "https://")) {
        absolute = location;
    } else {
        const std::string origin =
            protocol_ + "://" + targetHost_ + (targetPort_.empty() ? "" : ":" + targetPort_);
        if (!location.empty() && location[0] == '/') {
            absolute = origin + location;
        } else {
            // Relative to the current document: its path (or, through a proxy, its
            // absolute URL) up to the last "/" or ":" before any "?".
            const std::string head = path_.substr(0, path_.find('?'));
            const size_t last = head.find_last_of("/:");
            const std::string directory =
                last == std::string::npos ? std::string() : head.substr(0, last + 1);
            absolute = (absoluteForm_ ? std::string() : origin) + directory + location;
        }
    }

    const THttpUrlParts parts = ParseHttpURL(absolute);
    // Another server is another host, port or protocol: credentials given for a server
    // over https do not go to it over plain http either.
    const std::string nextProtocol = parts.Proto.empty() ? "http" : parts.Proto;
    const bool otherServer =
        !text::asciiSameText(parts.Host, targetHost_) || nextProtocol != protocol_ ||
        effectivePort(nextProtocol, parts.Port) != effectivePort(protocol_, targetPort_);
    TakeTarget(parts);
    if (otherServer) {
        // Credentials are never sent to a server they were not given for, nor is an
        // answered challenge: the other server starts without any authorization and
        // only a challenge of its own brings one, with the credentials of its URL.
        currUser_.clear();
        currPass_.clear();
        AuthBasicState = basicNone;
        AuthNTLMState = ntlmNone;
        ntlmChallenge_ = {};
    }
    if (!parts.User.empty() && !parts.Pass.empty()) {
        currUser_ = parts.User;
        currPass_ = parts.Pass;
    }
    location_ = absolute;
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
    locationFlag_ = false;
    relocationStarted_ = false;
    if (ctrlSocket_->State() != wsClosed) {
        if (closeReq_)
            CloseConnection();
        else
            SetReady();
        return;
    }
    requestRunning_ = false;
    if (OnSessionClosed)
        OnSessionClosed(this);
    SetReady();
}

bool THttpClient::BeginRelocationLeg() {
    if (OnLocationChange) {
        OnLocationChange(this);
        if (!requestRunning_)
            return false;
    }
    ClearResults(true);
    CutBackReceiveStream();
    locationFlag_ = false;
    relocationStarted_ = false;
    if (requestType_ == httpPOST)
        requestType_ = httpGET;
    return true;
}

void THttpClient::StartRelocation() {
    rcvdCount_ = 0;
    relocationStarted_ = true;
    ++LocationChangeCurCount;
    if (RelocationLimitReached()) {
        EndWithRelocationResponse();
        return;
    }
    if (!requestRunning_)
        return;
    if (!ConnectionMatches() || closeReq_) {
        // The closed-connection handling goes on with RelocateAfterClose.
        CloseConnection();
        return;
    }
    if (!BeginRelocationLeg())
        return;
    SendOnOpenConnection();
}

void THttpClient::RelocateAfterClose() {
    if (!relocationStarted_) {
        // The response ended with the connection (a body read until close).
        rcvdCount_ = 0;
        relocationStarted_ = true;
        ++LocationChangeCurCount;
        if (RelocationLimitReached()) {
            EndWithRelocationResponse();
            return;
        }
    }
    const size_t hash = location_.find('#');
    if (hash != std::string::npos)
        location_.erase(hash);
    ++LocationChangeCurCount;
    if (RelocationLimitReached()) {
        EndWithRelocationResponse();
        return;
    }
    if (!requestRunning_)
        return;
    if (!BeginRelocationLeg())
        return;
    TakeTarget(ParseHttpURL(location_));
    closeReq_ = requestVer_ == "1.0";
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
            currUser_,
            currPass_,
            connectionValue_,
            ntlmChallenge_,
            "Unexpected AuthBasicState",
            "Unexpected AuthNTLMState"};
}

THttpClient::AuthSide THttpClient::ProxySide() {
    return {407,
            ProxyAuthBasicState,
            ProxyAuthNTLMState,
            ProxyUsername,
            ProxyPassword,
            proxyConnectionValue_,
            proxyNtlmChallenge_,
            "Unexpected ProxyAuthBasicState",
            "Unexpected ProxyAuthNTLMState"};
}

int THttpClient::FindChallenge(const char* scheme) const {
    for (size_t i = challenges_.size(); i > 0; --i) {
        if (startsWithNoCase(challenges_[i - 1], scheme))
            return static_cast<int>(i - 1);
    }
    return -1;
}

void THttpClient::UpdateAuthStates(AuthSide& side) {
    // A state that was sent becomes done once a response no longer refuses it; a done
    // one starts over when its side is refused anew.
    if (side.basicState == basicSending && !side.refuses(statusCode_))
        side.basicState = basicDone;
    else if (side.basicState == basicDone && statusCode_ == side.status)
        side.basicState = basicNone;
    if (side.ntlmState == ntlmMsg3 && !side.refuses(statusCode_))
        side.ntlmState = ntlmDone;
    else if (side.ntlmState == ntlmDone && statusCode_ == side.status)
        side.ntlmState = ntlmNone;
}

bool THttpClient::CheckAuthorization() {
    AuthSide server = ServerSide();
    AuthSide proxy = ProxySide();
    UpdateAuthStates(server);
    UpdateAuthStates(proxy);
    if (challenges_.empty())
        return false;
    const bool ntlmAllowed = (Options & httpoNoNTLMAuth) == 0;
    const bool basicAllowed = (Options & httpoNoBasicAuth) == 0;
    // NTLM first, the server before the proxy; then Basic likewise.
    for (AuthSide* side : {&server, &proxy}) {
        if (statusCode_ == side->status && side->basicState == basicNone &&
            side->hasCredentials() && ntlmAllowed && FindChallenge("NTLM") >= 0)
            return DoNTLM(*side);
    }
    for (AuthSide* side : {&server, &proxy}) {
        if (statusCode_ == side->status && side->ntlmState == ntlmNone && side->hasCredentials() &&
            basicAllowed && FindChallenge("Basic") >= 0)
            return DoBasic(*side);
    }
    return false;
}

void THttpClient::PrepareRetry() {
    CutBackReceiveStream();
    ClearResults(true);
    loginPending_ = true;
    if (!PostMessage(msgLogin_))
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
        challenges_.clear();
        side.basicState = basicNone;
        return false;
    }
    throw EHttpException(side.unexpectedBasic, httperrInvalidAuthState);
}

bool THttpClient::DoNTLM(AuthSide& side) {
    if (side.ntlmState == ntlmNone) {
        side.ntlmState = ntlmMsg1;
        // The exchange needs the connection to stay open between its legs.
        if (requestVer_ == "1.0" || serverVersion_ == "1.0" || serverVersion_.empty())
            side.connectionValue = "Keep-alive";
        PrepareRetry();
        return true;
    }
    if (side.ntlmState == ntlmMsg1) {
        const std::string& entry = challenges_[static_cast<size_t>(FindChallenge("NTLM"))];
        const std::string message = base64Decode(entry.size() > 5 ? entry.substr(5) : "");
        side.challenge = ntlm::challengeOf(message);
        side.ntlmState = ntlmMsg3;
        PrepareRetry();
        return true;
    }
    if (side.ntlmState == ntlmMsg3) {
        challenges_.clear();
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
