// TLS sessions of the Winsock substitute's sockets: the handshake driven by the socket's
// notifiers and reported as the end of the connect, send and recv of decrypted bytes, and
// FD_READ for bytes held inside the session, which no readiness of the socket announces.
#include "platform/tls/tls_session.h"
#include "platform/winsock/winsock.h"
#include "platform/winsock/winsock_internal.h"
#include "platform/winsock/winsock_socket.h"

namespace fetchora::winsock {

namespace detail {

namespace {

// The end of a TLS session met by a read: FD_CLOSE once, with WSAETLSFAILED when the
// session broke rather than ended.
void tlsEnded(SOCKET s, Entry& entry, tls::Progress progress) {
    if (entry.closeSeen)
        return;
    entry.closeSeen = true;
    int error = 0;
    if (progress == tls::Progress::Failed) {
        entry.tlsFailure = entry.tls->failure();
        error = WSAETLSFAILED;
    }
    post(s, entry, FD_CLOSE, error);
}

} // namespace

// One step of a TLS handshake; its end is reported as the end of the connect.
void stepHandshake(SOCKET s, Entry& entry) {
    const tls::Progress progress = entry.tls->handshake();
    switch (progress) {
    case tls::Progress::Done:
        entry.handshaking = false;
        entry.connected = true;
        entry.readPosted = false;
        entry.writeWanted = false;
        post(s, entry, FD_CONNECT, 0);
        post(s, entry, FD_WRITE, 0);
        break;
    case tls::Progress::WantRead:
    case tls::Progress::WantWrite:
        entry.handshakeWantsWrite = progress == tls::Progress::WantWrite;
        break;
    case tls::Progress::Closed:
    case tls::Progress::Failed:
        entry.handshaking = false;
        entry.tlsFailure = entry.tls->failure();
        post(s, entry, FD_CONNECT, WSAETLSFAILED);
        break;
    }
    updateNotifiers(entry);
}

void beginHandshake(SOCKET s, Entry& entry) {
    entry.connected = false;
    entry.handshaking = true;
    entry.handshakeWantsWrite = true;
    stepHandshake(s, entry);
}

// Readiness of a connected TLS socket: FD_READ when a record's bytes are ready.
void onTlsReadable(SOCKET s, Entry& entry) {
    if (entry.readPosted || entry.closeSeen)
        return;
    const tls::IoResult result = entry.tls->peek();
    switch (result.progress) {
    case tls::Progress::Done:
        entry.readPosted = true;
        post(s, entry, FD_READ, 0);
        break;
    case tls::Progress::WantRead:
        break;
    case tls::Progress::WantWrite:
        entry.readWantsWrite = true;
        break;
    case tls::Progress::Closed:
    case tls::Progress::Failed:
        tlsEnded(s, entry, result.progress);
        break;
    }
}

int tlsSend(SOCKET s, Entry& entry, const void* buf, int len) {
    const tls::IoResult result = entry.tls->write(buf, len);
    switch (result.progress) {
    case tls::Progress::Done:
        if (result.count < len) {
            entry.writeWanted = true;
            updateNotifiers(entry);
        }
        WSASetLastError(0);
        return result.count;
    case tls::Progress::WantRead:
    case tls::Progress::WantWrite:
        entry.writeWanted = true;
        updateNotifiers(entry);
        return detail::fail(WSAEWOULDBLOCK);
    case tls::Progress::Closed:
        return detail::fail(WSAECONNRESET);
    case tls::Progress::Failed:
        break;
    }
    tlsEnded(s, entry, result.progress);
    updateNotifiers(entry);
    return detail::fail(WSAECONNABORTED);
}

int tlsRecv(SOCKET s, Entry& entry, void* buf, int len) {
    const tls::IoResult result = entry.tls->read(buf, len);
    // A recv re-enables FD_READ. Bytes the session already holds are announced by no
    // readiness of the socket, so their FD_READ is posted here.
    entry.readPosted = false;
    if (result.progress == tls::Progress::Done && entry.tls->hasBuffered() && !entry.closeSeen) {
        entry.readPosted = true;
        post(s, entry, FD_READ, 0);
    }
    int answer = SOCKET_ERROR;
    switch (result.progress) {
    case tls::Progress::Done:
        WSASetLastError(0);
        answer = result.count;
        break;
    case tls::Progress::WantRead:
        answer = detail::fail(WSAEWOULDBLOCK);
        break;
    case tls::Progress::WantWrite:
        entry.readWantsWrite = true;
        answer = detail::fail(WSAEWOULDBLOCK);
        break;
    case tls::Progress::Closed:
        tlsEnded(s, entry, result.progress);
        WSASetLastError(0);
        answer = 0;
        break;
    case tls::Progress::Failed:
        tlsEnded(s, entry, result.progress);
        answer = detail::fail(WSAECONNABORTED);
        break;
    }
    updateNotifiers(entry);
    return answer;
}

// FIONREAD of a TLS socket: the decrypted bytes ready, making the next record's ready
// when none is; an end met on the way is reported as FD_CLOSE.
unsigned long tlsReadable(SOCKET s, Entry& entry) {
    if (!entry.connected)
        return 0;
    const tls::IoResult result = entry.tls->peek();
    if (result.progress == tls::Progress::Done)
        return static_cast<unsigned long>(result.count);
    if (result.progress == tls::Progress::Closed || result.progress == tls::Progress::Failed) {
        tlsEnded(s, entry, result.progress);
        updateNotifiers(entry);
    }
    return 0;
}

} // namespace detail

int startTls(SOCKET s, const std::string& host) {
    const auto entry = detail::entryOrFail(s);
    if (!entry)
        return SOCKET_ERROR;
    if (entry->tls || entry->sendShut || entry->closeSeen)
        return detail::fail(WSAEINVAL);
    if (!entry->connected && !entry->connectPending)
        return detail::fail(WSAENOTCONN);
    std::string error;
    entry->tls = tls::TlsSession::create(entry->fd, host, error);
    if (!entry->tls) {
        entry->tlsFailure = error;
        return detail::fail(WSAETLSFAILED);
    }
    entry->tlsFailure.clear();
    if (entry->connectPending)
        entry->tlsAfterConnect = true;
    else
        detail::beginHandshake(s, *entry);
    return 0;
}

std::string tlsFailure(SOCKET s) {
    const auto entry = detail::find(s);
    return entry ? entry->tlsFailure : std::string();
}

} // namespace fetchora::winsock
