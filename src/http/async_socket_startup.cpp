// The socket layer's start-up and conversions: Windows Sockets started by the first socket
// and cleaned up by the last, and the host, port and protocol conversions with their error
// texts, the local host name and the error text of a code.
#include "http/async_socket.h"

#include <algorithm>
#include <mutex>

namespace fetchora {

namespace ws = winsock;

namespace {

// Windows Sockets start-up shared by every socket: the first socket starts it, the last
// one destroyed cleans it up.
std::mutex& startupLock() {
    static std::mutex lock;
    return lock;
}
int startupCount = 0;

void startWinsock() {
    const std::lock_guard guard(startupLock());
    if (startupCount == 0) {
        ws::WSADATA data;
        const int error = ws::WSAStartup(ws::makeWord(1, 1), &data);
        if (error != 0)
            throw ESocketException("Winsock startup error wsock32.dll - " + WSocketErrorDesc(error),
                                   error);
    }
    ++startupCount;
}

void stopWinsock() {
    const std::lock_guard guard(startupLock());
    if (startupCount == 0)
        return;
    if (--startupCount == 0)
        ws::WSACleanup();
}

// Start-up for the duration of one conversion outside any socket.
class ScopedWinsock final {
public:
    ScopedWinsock() { startWinsock(); }
    ~ScopedWinsock() { stopWinsock(); }
    ScopedWinsock(const ScopedWinsock&) = delete;
    ScopedWinsock& operator=(const ScopedWinsock&) = delete;
};

bool allDigits(const std::string& text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

} // namespace

// ---- conversions ----

std::string WSocketErrorDesc(int ErrCode) {
    return ws::errorText(ErrCode);
}

bool WSocketIsDottedIP(const std::string& text) {
    return !text.empty() && std::all_of(text.begin(), text.end(),
                                        [](char c) { return (c >= '0' && c <= '9') || c == '.'; });
}

std::uint32_t WSocketResolveHost(const std::string& host) {
    if (host.empty())
        throw ESocketException("Winsock Resolve Host: '" + host + "' Invalid Hostname.",
                               ws::WSAEINVAL);
    if (WSocketIsDottedIP(host)) {
        const std::uint32_t address = ws::inet_addr(host.c_str());
        if (address == ws::WS_INADDR_NONE && host != "255.255.255.255")
            throw ESocketException("Winsock Resolve Host: '" + host + "' Invalid IP address.",
                                   ws::WSAEINVAL);
        return address;
    }
    const ScopedWinsock winsock;
    ws::HOSTENT entry;
    if (!ws::gethostbyname(host.c_str(), &entry)) {
        const int error = ws::WSAGetLastError();
        throw ESocketException("Winsock Resolve Host: Cannot convert host address '" + host +
                                   "' - " + WSocketErrorDesc(error),
                               error);
    }
    return entry.h_addr_list.front().S_addr;
}

std::uint16_t WSocketResolvePort(const std::string& port, const std::string& proto) {
    if (port.empty())
        throw ESocketException("Winsock Resolve Port: Invalid Port.", ws::WSAEINVAL);
    if (proto.empty())
        throw ESocketException("Winsock Resolve Port: Invalid Proto.", ws::WSAEINVAL);
    if (allDigits(port)) {
        // A port number beyond 16 bits would wrap to another port: refused.
        if (port.size() > 5 || std::stoi(port) > 65535)
            throw ESocketException("Winsock Resolve Port: Invalid Port.", ws::WSAEINVAL);
        return (ws::htons)(static_cast<std::uint16_t>(std::stoi(port)));
    }
    const ScopedWinsock winsock;
    std::uint16_t result = 0;
    if (!ws::getservbyname(port.c_str(), proto.c_str(), &result)) {
        const int error = ws::WSAGetLastError();
        throw ESocketException("Winsock Resolve Port: Cannot convert port '" + port + "' - " +
                                   WSocketErrorDesc(error),
                               error);
    }
    return result;
}

int WSocketResolveProto(const std::string& proto) {
    if (allDigits(proto) && proto.size() <= 3)
        return std::stoi(proto);
    const ScopedWinsock winsock;
    int result = 0;
    if (!ws::getprotobyname(proto.c_str(), &result)) {
        const int error = ws::WSAGetLastError();
        throw ESocketException("Winsock Resolve Proto: Cannot convert protocol '" + proto + "' - " +
                                   WSocketErrorDesc(error),
                               error);
    }
    return result;
}

std::string LocalHostName() {
    const ScopedWinsock winsock;
    char name[256] = {};
    if (ws::gethostname(name, static_cast<int>(sizeof name)) != 0)
        throw ESocketException("Winsock Get Host Name failed", ws::WSAGetLastError());
    return name;
}

void TAsyncSocket::Startup() {
    if (started_)
        return;
    startWinsock();
    started_ = true;
}

void TAsyncSocket::Cleanup() {
    if (!started_)
        return;
    started_ = false;
    stopWinsock();
}

} // namespace fetchora
