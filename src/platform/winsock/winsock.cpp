// Sockets of the Winsock substitute: handles over non-blocking POSIX descriptors, and
// WSAAsyncSelect's notifications driven by QSocketNotifiers with Winsock's re-enabling
// rules (FD_READ again only after a recv, FD_WRITE again only after a send that would
// have blocked, FD_CONNECT and FD_CLOSE once). A socket may carry a TLS session: its
// handshake runs on the same notifiers, and send, recv and the events then deal in
// decrypted bytes.
#include "platform/winsock/winsock.h"

#include "platform/tls/tls_session.h"
#include "platform/winsock/winsock_internal.h"
#include "platform/winsock/winsock_socket.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <map>
#include <memory>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace fetchora::winsock {

using detail::Entry;
using detail::entryOrFail;
using detail::find;
using detail::post;
using detail::updateNotifiers;

namespace {

struct Table {
    std::mutex lock;
    std::map<SOCKET, std::shared_ptr<Entry>> sockets;
    SOCKET next = 0x100;
    int startups = 0;
};

// Never destroyed: helper threads may still look at it while the process exits.
Table& table() {
    static auto* instance = new Table;
    return *instance;
}

thread_local int lastError = 0;

void onReadable(SOCKET s) {
    const auto entry = find(s);
    if (entry && entry->handshaking) {
        stepHandshake(s, *entry);
        return;
    }
    if (!entry || !entry->connected || entry->closeSeen)
        return;
    if (entry->readPosted) {
        // The FD_READ posted earlier is not answered yet: only now is the reader switched
        // off, so that a recv that comes first costs no switching at all.
        entry->readIdle = true;
        updateNotifiers(*entry);
        return;
    }
    if (entry->tls) {
        onTlsReadable(s, *entry);
        updateNotifiers(*entry);
        return;
    }
    int waiting = 0;
    if (::ioctl(entry->fd, FIONREAD, &waiting) == 0 && waiting > 0) {
        entry->readPosted = true;
        post(s, *entry, FD_READ, 0);
        return;
    }
    char probe = 0;
    const ssize_t peeked = ::recv(entry->fd, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
    if (peeked > 0) {
        entry->readPosted = true;
        post(s, *entry, FD_READ, 0);
        return;
    }
    if (peeked == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
        // The peer has closed (or the connection broke) and no data waits.
        const int error = peeked == 0 ? entry->resetError : errnoToWsaError(errno);
        entry->closeSeen = true;
        post(s, *entry, FD_CLOSE, error);
    }
    updateNotifiers(*entry);
}

void onWritable(SOCKET s) {
    const auto entry = find(s);
    if (!entry)
        return;
    if (entry->handshaking) {
        stepHandshake(s, *entry);
        return;
    }
    if (entry->connectPending) {
        int soError = 0;
        socklen_t length = sizeof soError;
        if (::getsockopt(entry->fd, SOL_SOCKET, SO_ERROR, &soError, &length) != 0)
            soError = errno;
        entry->connectPending = false;
        entry->connectProbed = false;
        const int error = errnoToWsaError(soError);
        if (error == 0 && entry->tlsAfterConnect) {
            // The connect is reported when the handshake that follows it ends.
            entry->tlsAfterConnect = false;
            beginHandshake(s, *entry);
        } else if (error == 0) {
            entry->connected = true;
            post(s, *entry, FD_CONNECT, 0);
            post(s, *entry, FD_WRITE, 0);
        } else {
            post(s, *entry, FD_CONNECT, error);
        }
        updateNotifiers(*entry);
        return;
    }
    if (entry->readWantsWrite) {
        entry->readWantsWrite = false;
        onTlsReadable(s, *entry);
    }
    if (entry->writeWanted) {
        entry->writeWanted = false;
        post(s, *entry, FD_WRITE, 0);
    }
    updateNotifiers(*entry);
}

// Whether a descriptor is writable (or failed) at this moment.
bool writableNow(int fd) {
    pollfd probe{fd, POLLOUT, 0};
    return ::poll(&probe, 1, 0) == 1 && probe.revents != 0;
}

void ensureNotifiers(SOCKET s, Entry& entry) {
    if (entry.reader || QCoreApplication::instance() == nullptr)
        return;
    // Made without their descriptor, the notifiers start switched off: a notifier made
    // with it watches at once, and each switch costs the event loop a wake-up.
    entry.reader = std::make_unique<QSocketNotifier>(QSocketNotifier::Read);
    entry.writer = std::make_unique<QSocketNotifier>(QSocketNotifier::Write);
    entry.reader->setSocket(entry.fd);
    entry.writer->setSocket(entry.fd);
    QObject::connect(entry.reader.get(), &QSocketNotifier::activated, [s] { onReadable(s); });
    QObject::connect(entry.writer.get(), &QSocketNotifier::activated, [s] { onWritable(s); });
}

sockaddr_in toPosix(const SOCKADDR_IN& address) {
    sockaddr_in result{};
    result.sin_family = AF_INET;
    result.sin_port = address.sin_port;
    result.sin_addr.s_addr = address.sin_addr.S_addr;
    return result;
}

SOCKADDR_IN fromPosix(const sockaddr_in& address) {
    SOCKADDR_IN result;
    result.sin_family = WS_AF_INET;
    result.sin_port = address.sin_port;
    result.sin_addr.S_addr = address.sin_addr.s_addr;
    return result;
}

bool validAddress(const SOCKADDR_IN* name, int nameLen) {
    return name != nullptr && nameLen >= static_cast<int>(sizeof(SOCKADDR_IN)) &&
           name->sin_family == WS_AF_INET;
}

void closeEntry(Entry& entry) {
    entry.reader.reset();
    entry.writer.reset();
    entry.tls.reset();
    if (entry.fd >= 0)
        ::close(entry.fd);
    entry.fd = -1;
}

} // namespace

namespace detail {

// Here, where the notifier and the session are complete types.
Entry::Entry() = default;
Entry::~Entry() = default;

std::shared_ptr<Entry> find(SOCKET s) {
    Table& t = table();
    const std::lock_guard guard(t.lock);
    const auto it = t.sockets.find(s);
    return it == t.sockets.end() ? nullptr : it->second;
}

void post(SOCKET s, const Entry& entry, long event, int error) {
    if (entry.window != nullptr && (entry.mask & event) != 0)
        msg::postMessage(entry.window, entry.message, s, WSAMAKESELECTREPLY(event, error));
}

// Turns each notifier on when its condition may produce a notification and off when it
// cannot, so that a level-triggered readiness never spins. The reader alone stays on
// after posting FD_READ until it sees readiness again before the recv that answers it.
void updateNotifiers(const Entry& entry) {
    if (entry.reader) {
        const bool wantRead = (entry.connected && !entry.readIdle && !entry.closeSeen &&
                               (entry.mask & (FD_READ | FD_CLOSE)) != 0) ||
                              (entry.handshaking && !entry.handshakeWantsWrite);
        entry.reader->setEnabled(wantRead);
    }
    if (entry.writer) {
        const bool wantWrite = (entry.connectPending && !entry.connectProbed) ||
                               (entry.handshaking && entry.handshakeWantsWrite) ||
                               (entry.connected && entry.readWantsWrite) ||
                               (entry.connected && entry.writeWanted && !entry.sendShut &&
                                (entry.mask & FD_WRITE) != 0);
        entry.writer->setEnabled(wantWrite);
    }
}

std::shared_ptr<Entry> entryOrFail(SOCKET s) {
    if (detail::notStarted())
        return nullptr;
    auto entry = find(s);
    if (!entry)
        detail::fail(WSAENOTSOCK);
    return entry;
}

bool started() {
    Table& t = table();
    const std::lock_guard guard(t.lock);
    return t.startups > 0;
}

int fail(int wsaError) {
    lastError = wsaError;
    return SOCKET_ERROR;
}

bool notStarted() {
    if (started())
        return false;
    fail(WSANOTINITIALISED);
    return true;
}

} // namespace detail

int WSAStartup(std::uint16_t versionRequested, WSADATA* data) {
    const int major = versionRequested & 0xFF;
    const int minor = (versionRequested >> 8) & 0xFF;
    if (major < 1 || (major == 1 && minor < 1))
        return WSAVERNOTSUPPORTED;
    if (data != nullptr) {
        data->wVersion = makeWord(1, 1);
        data->wHighVersion = makeWord(1, 1);
        data->szDescription = "Fetchora sockets over POSIX";
        data->szSystemStatus = "Running";
    }
    Table& t = table();
    const std::lock_guard guard(t.lock);
    ++t.startups;
    return 0;
}

int WSACleanup() {
    std::map<SOCKET, std::shared_ptr<Entry>> orphans;
    {
        Table& t = table();
        const std::lock_guard guard(t.lock);
        if (t.startups == 0)
            return detail::fail(WSANOTINITIALISED);
        if (--t.startups > 0)
            return 0;
        orphans.swap(t.sockets);
    }
    // The last clean-up resets every socket still open and drops pending lookups.
    for (auto& [handle, entry] : orphans)
        closeEntry(*entry);
    detail::cancelAllLookups();
    return 0;
}

int WSAGetLastError() {
    return lastError;
}

void WSASetLastError(int error) {
    lastError = error;
}

SOCKET socket(int af, int type, int protocol) {
    if (detail::notStarted())
        return INVALID_SOCKET;
    if (af != WS_AF_INET) {
        detail::fail(WSAEAFNOSUPPORT);
        return INVALID_SOCKET;
    }
    if (type != WS_SOCK_STREAM) {
        detail::fail(WSAESOCKTNOSUPPORT);
        return INVALID_SOCKET;
    }
    if (protocol != 0 && protocol != WS_IPPROTO_TCP) {
        detail::fail(WSAEPROTONOSUPPORT);
        return INVALID_SOCKET;
    }
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0) {
        detail::fail(errnoToWsaError(errno));
        return INVALID_SOCKET;
    }
    auto entry = std::make_shared<Entry>();
    entry->fd = fd;
    Table& t = table();
    const std::lock_guard guard(t.lock);
    const SOCKET handle = t.next++;
    t.sockets.emplace(handle, std::move(entry));
    return handle;
}

int bind(SOCKET s, const SOCKADDR_IN* name, int nameLen) {
    const auto entry = entryOrFail(s);
    if (!entry)
        return SOCKET_ERROR;
    if (!validAddress(name, nameLen))
        return detail::fail(WSAEFAULT);
    const sockaddr_in address = toPosix(*name);
    if (::bind(entry->fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return detail::fail(errnoToWsaError(errno));
    return 0;
}

int connect(SOCKET s, const SOCKADDR_IN* name, int nameLen) {
    const auto entry = entryOrFail(s);
    if (!entry)
        return SOCKET_ERROR;
    if (!validAddress(name, nameLen))
        return detail::fail(WSAEFAULT);
    if (entry->connected)
        return detail::fail(WSAEISCONN);
    if (entry->connectPending)
        return detail::fail(WSAEALREADY);
    const sockaddr_in address = toPosix(*name);
    if (::connect(entry->fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 ||
        errno == EINPROGRESS || errno == EINTR) {
        // Finished or not, the outcome is reported as FD_CONNECT once the socket is
        // writable, as Winsock does for a non-blocking socket. A connection that is made
        // by now (as on loopback) is reported on the window's thread's next turn, with no
        // wait for the socket to be seen writable.
        entry->connectPending = true;
        entry->connectProbed = entry->window != nullptr && writableNow(entry->fd) &&
                               msg::postCall(entry->window, [s] { onWritable(s); });
        updateNotifiers(*entry);
        return detail::fail(WSAEWOULDBLOCK);
    }
    const int error = errnoToWsaError(errno);
    switch (error) {
    case WSAECONNREFUSED:
    case WSAETIMEDOUT:
    case WSAENETUNREACH:
    case WSAEHOSTUNREACH:
        // A connection that failed at once still ends asynchronously when notification
        // was asked for, as on Winsock.
        if (entry->window != nullptr && (entry->mask & FD_CONNECT) != 0) {
            post(s, *entry, FD_CONNECT, error);
            return detail::fail(WSAEWOULDBLOCK);
        }
        return detail::fail(error);
    default:
        return detail::fail(error);
    }
}

int send(SOCKET s, const void* buf, int len, int /*flags*/) {
    const auto entry = entryOrFail(s);
    if (!entry)
        return SOCKET_ERROR;
    if (!entry->connected)
        return detail::fail(WSAENOTCONN);
    if (entry->sendShut)
        return detail::fail(WSAESHUTDOWN);
    if (len < 0 || (buf == nullptr && len > 0))
        return detail::fail(WSAEFAULT);
    if (entry->tls)
        return tlsSend(s, *entry, buf, len);
    const ssize_t sent =
        ::send(entry->fd, buf, static_cast<size_t>(len), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent >= 0) {
        // A send that took only part of the bytes found the buffer full: the rest would
        // block, so FD_WRITE follows when there is room again.
        if (sent < len) {
            entry->writeWanted = true;
            updateNotifiers(*entry);
        }
        lastError = 0;
        return static_cast<int>(sent);
    }
    const int error = errnoToWsaError(errno);
    if (error == WSAEWOULDBLOCK) {
        entry->writeWanted = true;
        updateNotifiers(*entry);
    }
    return detail::fail(error);
}

int recv(SOCKET s, void* buf, int len, int /*flags*/) {
    const auto entry = entryOrFail(s);
    if (!entry)
        return SOCKET_ERROR;
    if (!entry->connected)
        return detail::fail(WSAENOTCONN);
    if (len < 0 || (buf == nullptr && len > 0))
        return detail::fail(WSAEFAULT);
    // A recv re-enables FD_READ: if data still waits, the next one follows.
    entry->readIdle = false;
    if (entry->tls)
        return tlsRecv(s, *entry, buf, len);
    const ssize_t received = ::recv(entry->fd, buf, static_cast<size_t>(len), MSG_DONTWAIT);
    const int savedErrno = errno;
    entry->readPosted = false;
    updateNotifiers(*entry);
    if (received >= 0) {
        lastError = 0;
        return static_cast<int>(received);
    }
    const int error = errnoToWsaError(savedErrno);
    if (error == WSAECONNRESET)
        entry->resetError = WSAECONNRESET;
    return detail::fail(error);
}

int shutdown(SOCKET s, int how) {
    const auto entry = entryOrFail(s);
    if (!entry)
        return SOCKET_ERROR;
    int posixHow = SHUT_RDWR;
    if (how == SD_RECEIVE)
        posixHow = SHUT_RD;
    else if (how == SD_SEND)
        posixHow = SHUT_WR;
    else if (how != SD_BOTH)
        return detail::fail(WSAEINVAL);
    // A TLS session says goodbye with close_notify before the stream ends.
    if (entry->tls && entry->connected && how != SD_RECEIVE)
        entry->tls->shutdown();
    if (::shutdown(entry->fd, posixHow) != 0)
        return detail::fail(errnoToWsaError(errno));
    if (how != SD_RECEIVE) {
        entry->sendShut = true;
        updateNotifiers(*entry);
    }
    return 0;
}

int closesocket(SOCKET s) {
    if (detail::notStarted())
        return SOCKET_ERROR;
    std::shared_ptr<Entry> entry;
    {
        Table& t = table();
        const std::lock_guard guard(t.lock);
        const auto it = t.sockets.find(s);
        if (it == t.sockets.end())
            return detail::fail(WSAENOTSOCK);
        entry = it->second;
        t.sockets.erase(it);
    }
    closeEntry(*entry);
    return 0;
}

int setsockopt(SOCKET s, int level, int optName, const void* optVal, int optLen) {
    const auto entry = entryOrFail(s);
    if (!entry)
        return SOCKET_ERROR;
    if (optVal == nullptr)
        return detail::fail(WSAEFAULT);
    int result = -1;
    if (level == WS_SOL_SOCKET && optName == WS_SO_LINGER) {
        if (optLen < static_cast<int>(sizeof(LINGER)))
            return detail::fail(WSAEFAULT);
        const auto* value = static_cast<const LINGER*>(optVal);
        const linger posix{value->l_onoff != 0 ? 1 : 0, value->l_linger};
        result = ::setsockopt(entry->fd, SOL_SOCKET, SO_LINGER, &posix, sizeof posix);
    } else {
        if (optLen < static_cast<int>(sizeof(int)))
            return detail::fail(WSAEFAULT);
        const int value = *static_cast<const int*>(optVal);
        int posixLevel = 0;
        int posixName = 0;
        if (level == WS_SOL_SOCKET && optName == WS_SO_REUSEADDR) {
            posixLevel = SOL_SOCKET;
            posixName = SO_REUSEADDR;
        } else if (level == WS_SOL_SOCKET && optName == WS_SO_KEEPALIVE) {
            posixLevel = SOL_SOCKET;
            posixName = SO_KEEPALIVE;
        } else if (level == WS_SOL_SOCKET && optName == WS_SO_SNDBUF) {
            posixLevel = SOL_SOCKET;
            posixName = SO_SNDBUF;
        } else if (level == WS_SOL_SOCKET && optName == WS_SO_RCVBUF) {
            posixLevel = SOL_SOCKET;
            posixName = SO_RCVBUF;
        } else if (level == WS_IPPROTO_TCP && optName == WS_TCP_NODELAY) {
            posixLevel = IPPROTO_TCP;
            posixName = TCP_NODELAY;
        } else {
            return detail::fail(WSAENOPROTOOPT);
        }
        const int posixValue =
            posixName == SO_SNDBUF || posixName == SO_RCVBUF ? value : (value != 0);
        result = ::setsockopt(entry->fd, posixLevel, posixName, &posixValue, sizeof posixValue);
    }
    if (result != 0)
        return detail::fail(errnoToWsaError(errno));
    return 0;
}

int getsockopt(SOCKET s, int level, int optName, void* optVal, int* optLen) {
    const auto entry = entryOrFail(s);
    if (!entry)
        return SOCKET_ERROR;
    if (optVal == nullptr || optLen == nullptr)
        return detail::fail(WSAEFAULT);
    if (level == WS_SOL_SOCKET && optName == WS_SO_LINGER) {
        if (*optLen < static_cast<int>(sizeof(LINGER)))
            return detail::fail(WSAEFAULT);
        linger posix{};
        socklen_t length = sizeof posix;
        if (::getsockopt(entry->fd, SOL_SOCKET, SO_LINGER, &posix, &length) != 0)
            return detail::fail(errnoToWsaError(errno));
        auto* value = static_cast<LINGER*>(optVal);
        value->l_onoff = static_cast<std::uint16_t>(posix.l_onoff != 0);
        value->l_linger = static_cast<std::uint16_t>(posix.l_linger);
        *optLen = sizeof(LINGER);
        return 0;
    }
    if (*optLen < static_cast<int>(sizeof(int)))
        return detail::fail(WSAEFAULT);
    int posixLevel = SOL_SOCKET;
    int posixName = 0;
    if (level == WS_SOL_SOCKET && optName == WS_SO_SNDBUF) {
        posixName = SO_SNDBUF;
    } else if (level == WS_SOL_SOCKET && optName == WS_SO_RCVBUF) {
        posixName = SO_RCVBUF;
    } else if (level == WS_SOL_SOCKET && optName == WS_SO_REUSEADDR) {
        posixName = SO_REUSEADDR;
    } else if (level == WS_SOL_SOCKET && optName == WS_SO_KEEPALIVE) {
        posixName = SO_KEEPALIVE;
    } else if (level == WS_SOL_SOCKET && optName == WS_SO_ERROR) {
        posixName = SO_ERROR;
    } else if (level == WS_IPPROTO_TCP && optName == WS_TCP_NODELAY) {
        posixLevel = IPPROTO_TCP;
        posixName = TCP_NODELAY;
    } else {
        return detail::fail(WSAENOPROTOOPT);
    }
    int value = 0;
    socklen_t length = sizeof value;
    if (::getsockopt(entry->fd, posixLevel, posixName, &value, &length) != 0)
        return detail::fail(errnoToWsaError(errno));
    if (posixName == SO_ERROR)
        value = errnoToWsaError(value);
    *static_cast<int*>(optVal) = value;
    *optLen = sizeof(int);
    return 0;
}

int ioctlsocket(SOCKET s, long cmd, unsigned long* argp) {
    const auto entry = entryOrFail(s);
    if (!entry)
        return SOCKET_ERROR;
    if (argp == nullptr)
        return detail::fail(WSAEFAULT);
    if (cmd == WS_FIONREAD && entry->tls) {
        *argp = tlsReadable(s, *entry);
        return 0;
    }
    if (cmd == WS_FIONREAD) {
        int waiting = 0;
        if (::ioctl(entry->fd, FIONREAD, &waiting) != 0)
            return detail::fail(errnoToWsaError(errno));
        *argp = waiting < 0 ? 0 : static_cast<unsigned long>(waiting);
        return 0;
    }
    if (cmd == WS_FIONBIO) {
        // Sockets here are always non-blocking; asking for blocking mode is refused.
        if (*argp == 0)
            return detail::fail(WSAEINVAL);
        return 0;
    }
    return detail::fail(WSAEINVAL);
}

namespace {

// getsockname and getpeername: one of the socket's two addresses.
int socketAddress(SOCKET s, SOCKADDR_IN* name, int* nameLen,
                  int (*query)(int, sockaddr*, socklen_t*)) {
    const auto entry = entryOrFail(s);
    if (!entry)
        return SOCKET_ERROR;
    if (name == nullptr || nameLen == nullptr || *nameLen < static_cast<int>(sizeof(SOCKADDR_IN)))
        return detail::fail(WSAEFAULT);
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (query(entry->fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return detail::fail(errnoToWsaError(errno));
    *name = fromPosix(address);
    *nameLen = sizeof(SOCKADDR_IN);
    return 0;
}

} // namespace

int getsockname(SOCKET s, SOCKADDR_IN* name, int* nameLen) {
    return socketAddress(s, name, nameLen, ::getsockname);
}

int getpeername(SOCKET s, SOCKADDR_IN* name, int* nameLen) {
    return socketAddress(s, name, nameLen, ::getpeername);
}

std::uint16_t(htons)(std::uint16_t value) {
    return (::htons)(value);
}

std::uint16_t(ntohs)(std::uint16_t value) {
    return (::ntohs)(value);
}

std::uint32_t(htonl)(std::uint32_t value) {
    return (::htonl)(value);
}

std::uint32_t(ntohl)(std::uint32_t value) {
    return (::ntohl)(value);
}

int WSAAsyncSelect(SOCKET s, HWND window, UINT msg, long mask) {
    const auto entry = entryOrFail(s);
    if (!entry)
        return SOCKET_ERROR;
    if (mask != 0 && !msg::isWindow(window))
        return detail::fail(WSAEINVAL);
    entry->window = mask != 0 ? window : nullptr;
    entry->message = msg;
    entry->mask = mask;
    if (mask != 0)
        ensureNotifiers(s, *entry);
    // Asking again re-arms the level conditions: data waiting gives FD_READ, a
    // connected socket with room gives FD_WRITE.
    entry->readPosted = false;
    entry->readIdle = false;
    // A connect whose end was to be reported to the former window is watched for again.
    entry->connectProbed = false;
    if (entry->connected)
        entry->writeWanted = true;
    updateNotifiers(*entry);
    return 0;
}

} // namespace fetchora::winsock
