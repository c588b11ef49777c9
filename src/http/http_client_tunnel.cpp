// THttpClient's tunnel for https through a proxy: CONNECT host:port on the connection to
// the proxy, its answer read like any response header, then TLS to the server inside the
// tunnel and the request itself. A proxy that refuses ends the request with its answer.
#include "http/http_client.h"

#include "http/http_request_writer.h"

namespace fetchora {

void THttpClient::SendTunnelRequest() {
    SetState(httpWaitingProxyConnect);
    if (!requestRunning_)
        return;
    reader_.beginResponse(ResponseTo::Connect);
    headerInProgress_ = true;
    docInProgress_ = false;
    HttpRequestHead head;
    head.path = tunnel_;
    head.version = requestVer_;
    head.agent = Agent;
    head.proxyConnection = proxyConnectionValue_;
    head.proxyAuthorization = ProxyAuthorizationLine();
    std::vector<std::string> lines = composeConnectLines(head);
    if (OnCommand) {
        for (std::string& line : lines)
            OnCommand(this, line);
    }
    if (!requestRunning_)
        return;
    const std::string wire = serializeRequest(lines);
    Touch();
    if (ctrlSocket_->Send(wire.data(), static_cast<int>(wire.size())) < 0 && requestRunning_) {
        const int code = ctrlSocket_->LastError();
        FailRequest(404, ConnectFailureReason(code), code);
    }
}

void THttpClient::TunnelEstablished() {
    // The proxy's answer was only the way in: the request's results come from the server.
    ClearResults(true);
    reader_.reset(requestType_ == httpHEAD ? ResponseTo::Head : ResponseTo::Get);
    const LifeWatch watch(*this);
    inConnectCall_ = true;
    connectStartFailed_ = false;
    ctrlSocket_->StartTls(targetHost_);
    if (!watch.alive())
        return;
    inConnectCall_ = false;
    if (connectStartFailed_ && requestRunning_) {
        const int code = ctrlSocket_->LastError();
        FailRequest(404, "can't connect: " + ConnectFailureReason(code), code);
    }
}

void THttpClient::TunnelConnected(int ErrCode) {
    Touch();
    if (ErrCode != 0) {
        // The socket closes next; the request ends when it reports that.
        RecordFailure(404, ConnectFailureReason(ErrCode), ErrCode);
        return;
    }
    tunnelPending_ = false;
    SendOnNewSession();
}

} // namespace fetchora
