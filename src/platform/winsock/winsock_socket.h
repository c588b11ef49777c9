// The socket table's entries as the parts of the Winsock substitute share them: each
// socket's descriptor, notifiers, notification state and TLS session, and the calls that
// post its notifications and turn its notifiers on and off. Private to the substitute.
#pragma once

#include "platform/winsock/winsock.h"

#include <memory>
#include <string>

class QSocketNotifier;

namespace fetchora::tls {
class TlsSession;
enum class Progress;
} // namespace fetchora::tls

namespace fetchora::winsock::detail {

// One socket: its descriptor and the state of its notification.
struct Entry {
    Entry();
    ~Entry();
    Entry(const Entry&) = delete;
    Entry& operator=(const Entry&) = delete;

    int fd = -1;
    HWND window = nullptr;
    UINT message = 0;
    long mask = 0;
    std::unique_ptr<QSocketNotifier> reader;
    std::unique_ptr<QSocketNotifier> writer;
    bool connectPending = false; // a connect is under way
    bool connectProbed = false;  // ... but found done: its end is posted, not watched for
    bool connected = false;      // the connect has succeeded
    bool readPosted = false;     // FD_READ posted, waiting for a recv to re-enable it
    bool readIdle = false;       // readiness seen again while FD_READ waits: reader off
    bool writeWanted = false;    // a send would have blocked: FD_WRITE when writable
    bool closeSeen = false;      // the peer's close was noticed (FD_CLOSE posted)
    bool sendShut = false;       // shut down for sending by us
    int resetError = 0;          // a reset seen by recv, reported with FD_CLOSE
    // TLS: the session, whether its handshake waits for the connect or runs, which
    // readiness the handshake waits for, a read that waits for room to write, and why the
    // session failed.
    std::unique_ptr<tls::TlsSession> tls;
    bool tlsAfterConnect = false;
    bool handshaking = false;
    bool handshakeWantsWrite = false;
    bool readWantsWrite = false;
    std::string tlsFailure;
};

// The entry of a handle, null when there is none.
std::shared_ptr<Entry> find(SOCKET s);
// The same, failing with WSANOTINITIALISED or WSAENOTSOCK (null) for the calls.
std::shared_ptr<Entry> entryOrFail(SOCKET s);
// Posts event with error to the socket's window when its mask asks for the event.
void post(SOCKET s, const Entry& entry, long event, int error);
// Turns each notifier on when its condition may produce a notification and off once it
// shows that it cannot, so that a level-triggered readiness never spins.
void updateNotifiers(const Entry& entry);

// TLS (winsock_tls.cpp). One step of a handshake, whose end is reported as the end of the
// connect; the start of one on a socket that is connected now.
void stepHandshake(SOCKET s, Entry& entry);
void beginHandshake(SOCKET s, Entry& entry);
// Readiness of a connected TLS socket: FD_READ when a record's bytes are ready.
void onTlsReadable(SOCKET s, Entry& entry);
// send, recv and FIONREAD of a connected TLS socket.
int tlsSend(SOCKET s, Entry& entry, const void* buf, int len);
int tlsRecv(SOCKET s, Entry& entry, void* buf, int len);
unsigned long tlsReadable(SOCKET s, Entry& entry);

} // namespace fetchora::winsock::detail
