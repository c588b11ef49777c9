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

} // namespace

bool THttpClient::ReceiveIntoStream() {
    // The first piece of a document goes through the reader's buffer, so that
    // OnDocBegin still comes before any byte of the document is in the stream.
    if (!FRequestRunning || ReceiveStream == nullptr || !FDocInProgress)
        return false;
    const size_t allowed = FReader.directRoom();
    if (allowed == 0)
        return false;
    int64_t room = 0;
    char* at = ReceiveStream->WriteRoom(
        static_cast<int64_t>(std::min({allowed, kDirectReadSize, size_t{INT_MAX}})), room);
    if (at == nullptr || room <= 0)
        return false;
    const int count = FCtrlSocket->Receive(at, static_cast<int>(room));
    if (count <= 0)
        return true;
    ReceiveStream->CommitWrite(count);
    FReader.commitDirect(at, static_cast<size_t>(count));
    Touch();
    ProcessReceivedGuarded();
    return true;
}

void THttpClient::SocketDataAvailable(int) {
    if (ReceiveIntoStream())
        return;
    size_t room = 0;
    char* at = FReader.writable(room);
    const int count = FCtrlSocket->Receive(at, static_cast<int>(std::min<size_t>(room, INT_MAX)));
    if (count <= 0)
        return;
    FReader.commit(static_cast<size_t>(count));
    if (!FRequestRunning) {
        // Bytes while no response is expected cannot belong to any request: the
        // connection is out of step and is dropped.
        FReader.reset(ResponseTo::Get);
        if (FCtrlSocket->State() == wsConnected)
            FCtrlSocket->Abort();
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
        if (watch.alive() && FRequestRunning)
            FailRequest(404, error.what(), 0);
        throw;
    }
}

void THttpClient::ProcessReceived() {
    const LifeWatch watch(*this);
    for (;;) {
        if (!FRequestRunning) {
            FReader.reset(FRequestType == httpHEAD ? ResponseTo::Head : ResponseTo::Get);
            return;
        }
        switch (FReader.next()) {
        case HttpResponseReader::Event::NeedMore:
            return;
        case HttpResponseReader::Event::HeaderLine:
            HandleHeaderLine();
            break;
        case HttpResponseReader::Event::HeaderRestart:
            // A 100 status of an HTTP/1.1 server: the real header follows.
            FRcvdHeader.clear();
            break;
        case HttpResponseReader::Event::HeaderEnd:
            HandleHeaderEnd();
            break;
        case HttpResponseReader::Event::Data:
            HandleData(FReader.data(), FReader.size(), FReader.dataInPlace());
            break;
        case HttpResponseReader::Event::DocumentEnd:
            HandleDocumentEnd();
            break;
        case HttpResponseReader::Event::Surplus:
            // Data after a HEAD's header: thrown away with the connection.
            if (FRequestType == httpHEAD && FState == httpWaitingBody &&
                FCtrlSocket->State() != wsClosed)
                FCtrlSocket->Abort();
            break;
        case HttpResponseReader::Event::Failed:
            FailRequest(404, FReader.error(), httperrOverflow);
            return;
        }
        if (!watch.alive())
            return;
    }
}

void THttpClient::HandleHeaderLine() {
    if (FReader.lineIsFirst() && OnHeaderBegin) {
        OnHeaderBegin(this);
        if (!FRequestRunning)
            return;
    }
    FRcvdHeader.push_back(FReader.line());
    if (FReader.lineIsStatus()) {
        FServerVersion = FReader.serverVersion();
        if (FRequestVer == "1.0")
            FCloseReq = true;
        else
            FCloseReq = FServerVersion == "1.0";
        FStatusCode = FReader.statusCode();
        FReasonPhrase = FReader.reasonPhrase();
    } else if (FReader.lineIsHeaderless()) {
        if (FContentType.empty())
            FContentType = "text/html";
        SetState(httpWaitingBody);
    } else if (FReader.lineIsField()) {
        HandleField(FReader.fieldName(), FReader.fieldValue());
    }
    if (FRequestRunning && OnHeaderData)
        OnHeaderData(this);
}

void THttpClient::HandleField(const std::string& name, const std::string& value) {
    if (name == "content-length") {
        FContentLength = FReader.contentLength();
    } else if (name == "transfer-encoding") {
        // The value the body is framed by, so that the two never disagree.
        FTransferEncoding = FReader.transferEncoding();
    } else if (name == "content-range") {
        // Both become request properties: the reader takes numbers only.
        if (FReader.hasContentRange()) {
            ContentRangeBegin = FReader.contentRangeBegin();
            ContentRangeEnd = FReader.contentRangeEnd();
        }
    } else if (name == "accept-ranges") {
        FAcceptRanges = value;
    } else if (name == "content-type") {
        FContentType = text::asciiLowerCase(value);
    } else if (name == "www-authenticate" || name == "proxy-authenticate") {
        FDoAuthor.push_back(value);
    } else if (name == "set-cookie") {
        bool accept = true;
        if (OnCookie)
            OnCookie(this, value, accept);
    } else if (name == "connection" || name == "proxy-connection") {
        const std::string token = text::asciiLowerCase(text::trim(value));
        if (token == "close")
            FCloseReq = true;
        else if (token == "keep-alive")
            FCloseReq = false;
    } else if (name == "content-encoding") {
        FContentEncoding = value;
    } else if (name == "location") {
        PrepareRelocation(value);
    }
}

void THttpClient::HandleHeaderEnd() {
    FHeaderInProgress = false;
    if (OnHeaderEnd) {
        OnHeaderEnd(this);
        if (!FRequestRunning)
            return;
    }
    FReceiveStreamStart = ReceiveStream != nullptr ? ReceiveStream->Size() : 0;
    if (FReader.bodyKind() == HttpResponseReader::BodyKind::None) {
        if (FRequestType == httpHEAD && FCloseReq && !FLocationFlag)
            SetState(httpWaitingBody);
        ResponseComplete();
        return;
    }
    // No room is reserved for the announced length: the stream grows with what arrives,
    // so a Content-Length from the network cannot make the client hold memory.
    SetState(httpWaitingBody);
}

void THttpClient::HandleData(const char* data, size_t size, bool inStream) {
    if (!FDocInProgress) {
        FDocInProgress = true;
        if (OnDocBegin) {
            OnDocBegin(this);
            if (!FRequestRunning)
                return;
        }
    }
    // A piece read in place is in ReceiveStream already.
    if (ReceiveStream != nullptr && !inStream)
        ReceiveStream->Write(data, static_cast<int64_t>(size));
    FRcvdCount += static_cast<int64_t>(size);
    if (OnDocData)
        OnDocData(this, data, static_cast<int>(size));
}

void THttpClient::HandleDocumentEnd() {
    SetState(httpBodyReceived);
    if (!FRequestRunning)
        return;
    if (FDocInProgress) {
        FDocInProgress = false;
        if (OnDocEnd) {
            OnDocEnd(this);
            if (!FRequestRunning)
                return;
        }
    }
    ResponseComplete();
}

void THttpClient::ResponseComplete() {
    if (FLocationFlag) {
        StartRelocation();
        return;
    }
    if (FCloseReq)
        CloseConnection();
    else
        SetReady();
}

void THttpClient::CloseConnection() {
    const LifeWatch watch(*this);
    const unsigned closedBefore = FClosedCount;
    if (FCtrlSocket->State() != wsClosed)
        FCtrlSocket->Close();
    if (!watch.alive())
        return;
    // A socket that was closed already reports nothing more: the handling runs here.
    if (FClosedCount == closedBefore && FRequestRunning)
        ConnectionClosed();
}

void THttpClient::SocketSessionClosed(int ErrCode) {
    if (!FRequestRunning) {
        if (OnSessionClosed)
            OnSessionClosed(this);
        return;
    }
    if (ErrCode != 0)
        FRequestDoneError = ErrCode;
    ConnectionClosed();
}

void THttpClient::ConnectionClosed() {
    if (!FRequestRunning)
        return;
    ++FClosedCount;
    if (FHeaderInProgress) {
        FHeaderInProgress = false;
        if (OnHeaderEnd) {
            OnHeaderEnd(this);
            if (!FRequestRunning)
                return;
        }
    }
    if (FDocInProgress) {
        FDocInProgress = false;
        if (OnDocEnd) {
            OnDocEnd(this);
            if (!FRequestRunning)
                return;
        }
    }
    if (FLocationFlag && !FEnding) {
        RelocateAfterClose();
        return;
    }
    const bool aborting = FState == httpAborting;
    FRequestRunning = false;
    StopSilenceWatch();
    if (OnSessionClosed)
        OnSessionClosed(this);
    // Abort makes the client ready itself.
    if (!aborting)
        SetReady();
}

void THttpClient::RecordFailure(int statusCode, const std::string& reason, int errorCode) {
    FStatusCode = statusCode;
    FReasonPhrase = reason;
    FRequestDoneError = errorCode;
    FLocationFlag = false;
}

void THttpClient::FailRequest(int statusCode, const std::string& reason, int errorCode) {
    FEnding = true;
    RecordFailure(statusCode, reason, errorCode);
    DropConnection();
}

bool THttpClient::DropConnection() {
    const LifeWatch watch(*this);
    try {
        FCtrlSocket->CancelDnsLookup();
    } catch (...) {
        // The request ends anyway.
    }
    const unsigned closedBefore = FClosedCount;
    if (FCtrlSocket->State() != wsClosed)
        FCtrlSocket->Abort();
    if (!watch.alive())
        return false;
    // A socket that was closed already (or never opened) reports no close.
    if (FClosedCount == closedBefore && FRequestRunning)
        ConnectionClosed();
    return watch.alive();
}

} // namespace fetchora
