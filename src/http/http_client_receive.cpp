// THttpClient's receiving side: bytes from the socket through the response reader into
// results, ReceiveStream and events, and the end of a response or of the connection.
#include "http/http_client.h"

#include "platform/text.h"

#include <algorithm>
#include <climits>

namespace fetchora {

namespace {

// The most a read into ReceiveStream's own memory takes at once.
constexpr size_t kDirectReadSize = size_t{1} << 20;
// The room announced to ReceiveStream ahead of a counted body is at most what has arrived
// of it, and at least this.
constexpr int64_t kMinExpectAhead = int64_t{64} << 10;

// How many more bytes of a counted body of length bytes the stream is told to expect when
// arrived of them are in it: the rest of the body, so that the stream grows in few steps
// and ends at the body's size, but never more ahead than has arrived (at least 64 KiB),
// so that a Content-Length from the network cannot make the client hold memory it has not
// received. Zero when there is nothing to announce.
int64_t expectAhead(int64_t length, int64_t arrived) {
    if (length < 0 || arrived < 0 || arrived >= length)
        return 0;
    return std::min(length - arrived, std::max(kMinExpectAhead, arrived));
}

} // namespace

bool THttpClient::ReceiveIntoStream() {
    // The first piece of a document goes through the reader's buffer, so that
    // OnDocBegin still comes before any byte of the document is in the stream.
    if (!requestRunning_ || ReceiveStream == nullptr || !docInProgress_)
        return false;
    const size_t allowed = reader_.directRoom();
    if (allowed == 0)
        return false;
    if (reader_.bodyKind() == HttpResponseReader::BodyKind::Counted) {
        const int64_t arrived = ReceiveStream->Size() - receiveStreamStart_;
        const int64_t ahead = expectAhead(contentLength_, arrived);
        // Once the announcement covers the rest, the stream learns where the body ends.
        if (ahead > 0 && ahead == contentLength_ - arrived)
            ReceiveStream->ExpectEnd(ahead);
        else if (ahead > 0)
            ReceiveStream->Expect(ahead);
    }
    int64_t room = 0;
    char* at = ReceiveStream->WriteRoom(
        static_cast<int64_t>(std::min({allowed, kDirectReadSize, size_t{INT_MAX}})), room);
    if (at == nullptr || room <= 0)
        return false;
    const int count = ctrlSocket_->Receive(at, static_cast<int>(room));
    if (count <= 0)
        return true;
    ReceiveStream->CommitWrite(count);
    reader_.commitDirect(at, static_cast<size_t>(count));
    Touch();
    ProcessReceivedGuarded();
    return true;
}

void THttpClient::SocketDataAvailable(int) {
    if (ReceiveIntoStream())
        return;
    size_t room = 0;
    char* at = reader_.writable(room);
    const int count = ctrlSocket_->Receive(at, static_cast<int>(std::min<size_t>(room, INT_MAX)));
    if (count <= 0)
        return;
    reader_.commit(static_cast<size_t>(count));
    if (!requestRunning_) {
        // Bytes while no response is expected cannot belong to any request: the
        // connection is out of step and is dropped.
        reader_.reset(ResponseTo::Get);
        if (ctrlSocket_->State() == wsConnected)
            ctrlSocket_->Abort();
        return;
    }
    Touch();
    ProcessReceivedGuarded();
}

void THttpClient::ProcessReceivedGuarded() {
    const LifeWatch watch(*this);
    try {
        ProcessReceived();
    } catch (const std::exception& error) {
        // An event handler failed: the response cannot be trusted to be complete, so the
        // request fails rather than ending as if all had arrived.
        if (watch.alive() && requestRunning_)
            FailRequest(404, error.what(), 0);
        throw;
    }
}

void THttpClient::ProcessReceived() {
    const LifeWatch watch(*this);
    for (;;) {
        if (!requestRunning_) {
            reader_.reset(requestType_ == httpHEAD ? ResponseTo::Head : ResponseTo::Get);
            return;
        }
        switch (reader_.next()) {
        case HttpResponseReader::Event::NeedMore:
            return;
        case HttpResponseReader::Event::HeaderLine:
            HandleHeaderLine();
            break;
        case HttpResponseReader::Event::HeaderRestart:
            // A 100 status of an HTTP/1.1 server: the real header follows.
            rcvdHeader_.clear();
            break;
        case HttpResponseReader::Event::HeaderEnd:
            HandleHeaderEnd();
            break;
        case HttpResponseReader::Event::Data:
            HandleData(reader_.data(), reader_.size(), reader_.dataInPlace());
            break;
        case HttpResponseReader::Event::DocumentEnd:
            HandleDocumentEnd();
            break;
        case HttpResponseReader::Event::Surplus:
            // Data after a HEAD's header: thrown away with the connection.
            if (requestType_ == httpHEAD && state_ == httpWaitingBody &&
                ctrlSocket_->State() != wsClosed)
                ctrlSocket_->Abort();
            break;
        case HttpResponseReader::Event::Failed:
            FailRequest(404, reader_.error(), httperrOverflow);
            return;
        }
        if (!watch.alive())
            return;
    }
}

void THttpClient::HandleHeaderLine() {
    if (reader_.lineIsFirst() && OnHeaderBegin) {
        OnHeaderBegin(this);
        if (!requestRunning_)
            return;
    }
    rcvdHeader_.push_back(reader_.line());
    if (reader_.lineIsStatus()) {
        serverVersion_ = reader_.serverVersion();
        if (requestVer_ == "1.0")
            closeReq_ = true;
        else
            closeReq_ = serverVersion_ == "1.0";
        statusCode_ = reader_.statusCode();
        reasonPhrase_ = reader_.reasonPhrase();
    } else if (reader_.lineIsHeaderless()) {
        if (contentType_.empty())
            contentType_ = "text/html";
        SetState(httpWaitingBody);
    } else if (reader_.lineIsField()) {
        HandleField(reader_.fieldName(), reader_.fieldValue());
    }
    if (requestRunning_ && OnHeaderData)
        OnHeaderData(this);
}

void THttpClient::HandleField(const std::string& name, const std::string& value) {
    if (name == "content-length") {
        contentLength_ = reader_.contentLength();
    } else if (name == "transfer-encoding") {
        // The value the body is framed by, so that the two never disagree.
        transferEncoding_ = reader_.transferEncoding();
    } else if (name == "content-range") {
        // Both become request properties: the reader takes numbers only.
        if (reader_.hasContentRange()) {
            ContentRangeBegin = reader_.contentRangeBegin();
            ContentRangeEnd = reader_.contentRangeEnd();
        }
    } else if (name == "accept-ranges") {
        acceptRanges_ = value;
    } else if (name == "content-type") {
        contentType_ = text::asciiLowerCase(value);
    } else if (name == "www-authenticate" || name == "proxy-authenticate") {
        challenges_.push_back(value);
    } else if (name == "set-cookie") {
        bool accept = true;
        if (OnCookie)
            OnCookie(this, value, accept);
    } else if (name == "connection" || name == "proxy-connection") {
        const std::string token = text::asciiLowerCase(text::trim(value));
        if (token == "close")
            closeReq_ = true;
        else if (token == "keep-alive")
            closeReq_ = false;
    } else if (name == "content-encoding") {
        contentEncoding_ = value;
    } else if (name == "location" && state_ != httpWaitingProxyConnect) {
        PrepareRelocation(value);
    }
}

void THttpClient::HandleHeaderEnd() {
    headerInProgress_ = false;
    if (OnHeaderEnd) {
        OnHeaderEnd(this);
        if (!requestRunning_)
            return;
    }
    if (state_ == httpWaitingProxyConnect) {
        if (statusCode_ >= 200 && statusCode_ < 300) {
            TunnelEstablished();
            return;
        }
        // The proxy refused the tunnel: its answer is the request's, and the connection
        // leads nowhere.
        closeReq_ = true;
        tunnelPending_ = false;
        ctrlSocketTunnel_.clear();
    }
    receiveStreamStart_ = ReceiveStream != nullptr ? ReceiveStream->Size() : 0;
    if (reader_.bodyKind() == HttpResponseReader::BodyKind::None) {
        if (requestType_ == httpHEAD && closeReq_ && !locationFlag_)
            SetState(httpWaitingBody);
        ResponseComplete();
        return;
    }
    // No room is reserved for the announced length: the stream grows with what arrives,
    // so a Content-Length from the network cannot make the client hold memory.
    SetState(httpWaitingBody);
}

void THttpClient::HandleData(const char* data, size_t size, bool inStream) {
    if (!docInProgress_) {
        docInProgress_ = true;
        if (OnDocBegin) {
            OnDocBegin(this);
            if (!requestRunning_)
                return;
        }
    }
    // A piece read in place is in ReceiveStream already.
    if (ReceiveStream != nullptr && !inStream)
        ReceiveStream->Write(data, static_cast<int64_t>(size));
    rcvdCount_ += static_cast<int64_t>(size);
    if (OnDocData)
        OnDocData(this, data, static_cast<int>(size));
}

void THttpClient::HandleDocumentEnd() {
    SetState(httpBodyReceived);
    if (!requestRunning_)
        return;
    if (docInProgress_) {
        docInProgress_ = false;
        if (OnDocEnd) {
            OnDocEnd(this);
            if (!requestRunning_)
                return;
        }
    }
    ResponseComplete();
}

void THttpClient::ResponseComplete() {
    if (locationFlag_) {
        StartRelocation();
        return;
    }
    if (closeReq_)
        CloseConnection();
    else
        SetReady();
}

void THttpClient::CloseConnection() {
    const LifeWatch watch(*this);
    const unsigned closedBefore = closedCount_;
    if (ctrlSocket_->State() != wsClosed)
        ctrlSocket_->Close();
    if (!watch.alive())
        return;
    // A socket that was closed already reports nothing more: the handling runs here.
    if (closedCount_ == closedBefore && requestRunning_)
        ConnectionClosed();
}

void THttpClient::SocketSessionClosed(int ErrCode) {
    if (!requestRunning_) {
        if (OnSessionClosed)
            OnSessionClosed(this);
        return;
    }
    if (ErrCode == winsock::WSAETLSFAILED) {
        // The TLS session broke: what arrived cannot be trusted to be whole.
        RecordFailure(404, ConnectFailureReason(ErrCode), ErrCode);
    } else if (ErrCode != 0) {
        requestDoneError_ = ErrCode;
    }
    ConnectionClosed();
}

void THttpClient::ConnectionClosed() {
    if (!requestRunning_)
        return;
    ++closedCount_;
    if (headerInProgress_) {
        headerInProgress_ = false;
        if (OnHeaderEnd) {
            OnHeaderEnd(this);
            if (!requestRunning_)
                return;
        }
    }
    if (docInProgress_) {
        docInProgress_ = false;
        if (OnDocEnd) {
            OnDocEnd(this);
            if (!requestRunning_)
                return;
        }
    }
    if (locationFlag_ && !ending_) {
        RelocateAfterClose();
        return;
    }
    const bool aborting = state_ == httpAborting;
    requestRunning_ = false;
    StopSilenceWatch();
    if (OnSessionClosed)
        OnSessionClosed(this);
    // Abort makes the client ready itself.
    if (!aborting)
        SetReady();
}

void THttpClient::RecordFailure(int statusCode, const std::string& reason, int errorCode) {
    statusCode_ = statusCode;
    reasonPhrase_ = reason;
    requestDoneError_ = errorCode;
    locationFlag_ = false;
}

void THttpClient::FailRequest(int statusCode, const std::string& reason, int errorCode) {
    ending_ = true;
    RecordFailure(statusCode, reason, errorCode);
    DropConnection();
}

bool THttpClient::DropConnection() {
    const LifeWatch watch(*this);
    try {
        ctrlSocket_->CancelDnsLookup();
    } catch (...) {
        // The request ends anyway.
    }
    const unsigned closedBefore = closedCount_;
    if (ctrlSocket_->State() != wsClosed)
        ctrlSocket_->Abort();
    if (!watch.alive())
        return false;
    // A socket that was closed already (or never opened) reports no close.
    if (closedCount_ == closedBefore && requestRunning_)
        ConnectionClosed();
    return watch.alive();
}

} // namespace fetchora
