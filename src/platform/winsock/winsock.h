// Windows Sockets 1.1 over POSIX non-blocking sockets: the calls the socket layer makes,
// with Winsock's handles, error codes and window-message notification (WSAAsyncSelect
// with its re-enabling rules, WSAAsyncGetHostByName and its cancellation).
//
// Names that POSIX headers define as macros (SOL_SOCKET, SO_LINGER, FIONREAD, AF_INET,
// ...) carry a WS_ prefix here, so this header and the system's headers can meet in one
// file. Calls must run on the thread that owns the notification window.
#pragma once

#include "platform/msg/hidden_window.h"

#include <cstdint>
#include <string>
#include <vector>

namespace fetchora::winsock {

using msg::HWND;
using msg::LPARAM;
using msg::UINT;
using msg::WPARAM;

// A socket handle. Handles are never reused within a process, so a notification that
// arrives late for a closed socket cannot be taken for a newer one.
using SOCKET = std::uintptr_t;
// A pending asynchronous request; never 0 for a started request.
using HANDLE = std::uintptr_t;

constexpr SOCKET INVALID_SOCKET = ~SOCKET(0);
constexpr int SOCKET_ERROR = -1;

// Version words.
constexpr std::uint16_t makeWord(std::uint8_t low, std::uint8_t high) {
    return static_cast<std::uint16_t>(low | (high << 8));
}

struct WSADATA {
    std::uint16_t wVersion = 0;
    std::uint16_t wHighVersion = 0;
    std::string szDescription;
    std::string szSystemStatus;
};

// Address families, socket types, protocols, levels and options (Winsock values).
constexpr int WS_AF_INET = 2;
constexpr int WS_SOCK_STREAM = 1;
constexpr int WS_IPPROTO_TCP = 6;
constexpr int WS_IPPROTO_UDP = 17;
constexpr int WS_SOL_SOCKET = 0xFFFF;
constexpr int WS_SO_REUSEADDR = 0x0004;
constexpr int WS_SO_KEEPALIVE = 0x0008;
constexpr int WS_SO_LINGER = 0x0080;
constexpr int WS_SO_SNDBUF = 0x1001;
constexpr int WS_SO_RCVBUF = 0x1002;
constexpr int WS_SO_ERROR = 0x1007;
constexpr int WS_TCP_NODELAY = 0x0001;
constexpr long WS_FIONREAD = 0x4004667F;
constexpr long WS_FIONBIO = static_cast<long>(0x8004667EUL);
constexpr std::uint32_t WS_INADDR_ANY = 0x00000000;
constexpr std::uint32_t WS_INADDR_NONE = 0xFFFFFFFF;

// shutdown directions.
constexpr int SD_RECEIVE = 0;
constexpr int SD_SEND = 1;
constexpr int SD_BOTH = 2;

// WSAAsyncSelect event bits.
constexpr long FD_READ = 0x01;
constexpr long FD_WRITE = 0x02;
constexpr long FD_OOB = 0x04;
constexpr long FD_ACCEPT = 0x08;
constexpr long FD_CONNECT = 0x10;
constexpr long FD_CLOSE = 0x20;

// A notification's lParam: event (or buffer length) in the low word, error in the high.
constexpr LPARAM WSAMAKESELECTREPLY(int event, int error) {
    return static_cast<LPARAM>((static_cast<std::uint32_t>(error) << 16) |
                               (static_cast<std::uint32_t>(event) & 0xFFFF));
}
constexpr int WSAGETSELECTEVENT(LPARAM lParam) {
    return static_cast<int>(static_cast<std::uint32_t>(lParam) & 0xFFFF);
}
constexpr int WSAGETSELECTERROR(LPARAM lParam) {
    return static_cast<int>((static_cast<std::uint32_t>(lParam) >> 16) & 0xFFFF);
}
constexpr int WSAGETASYNCERROR(LPARAM lParam) {
    return WSAGETSELECTERROR(lParam);
}
constexpr int WSAGETASYNCBUFLEN(LPARAM lParam) {
    return WSAGETSELECTEVENT(lParam);
}

// Error codes.
constexpr int WSABASEERR = 10000;
constexpr int WSAEINTR = 10004;
constexpr int WSAEBADF = 10009;
constexpr int WSAEACCES = 10013;
constexpr int WSAEFAULT = 10014;
constexpr int WSAEINVAL = 10022;
constexpr int WSAEMFILE = 10024;
constexpr int WSAEWOULDBLOCK = 10035;
constexpr int WSAEINPROGRESS = 10036;
constexpr int WSAEALREADY = 10037;
constexpr int WSAENOTSOCK = 10038;
constexpr int WSAEDESTADDRREQ = 10039;
constexpr int WSAEMSGSIZE = 10040;
constexpr int WSAEPROTOTYPE = 10041;
constexpr int WSAENOPROTOOPT = 10042;
constexpr int WSAEPROTONOSUPPORT = 10043;
constexpr int WSAESOCKTNOSUPPORT = 10044;
constexpr int WSAEOPNOTSUPP = 10045;
constexpr int WSAEPFNOSUPPORT = 10046;
constexpr int WSAEAFNOSUPPORT = 10047;
constexpr int WSAEADDRINUSE = 10048;
constexpr int WSAEADDRNOTAVAIL = 10049;
constexpr int WSAENETDOWN = 10050;
constexpr int WSAENETUNREACH = 10051;
constexpr int WSAENETRESET = 10052;
constexpr int WSAECONNABORTED = 10053;
constexpr int WSAECONNRESET = 10054;
constexpr int WSAENOBUFS = 10055;
constexpr int WSAEISCONN = 10056;
constexpr int WSAENOTCONN = 10057;
constexpr int WSAESHUTDOWN = 10058;
constexpr int WSAETOOMANYREFS = 10059;
constexpr int WSAETIMEDOUT = 10060;
constexpr int WSAECONNREFUSED = 10061;
constexpr int WSAELOOP = 10062;
constexpr int WSAENAMETOOLONG = 10063;
constexpr int WSAEHOSTDOWN = 10064;
constexpr int WSAEHOSTUNREACH = 10065;
constexpr int WSAENOTEMPTY = 10066;
constexpr int WSAEPROCLIM = 10067;
constexpr int WSAEUSERS = 10068;
constexpr int WSAEDQUOT = 10069;
constexpr int WSAESTALE = 10070;
constexpr int WSAEREMOTE = 10071;
constexpr int WSASYSNOTREADY = 10091;
constexpr int WSAVERNOTSUPPORTED = 10092;
constexpr int WSANOTINITIALISED = 10093;
constexpr int WSAHOST_NOT_FOUND = 11001;
constexpr int WSATRY_AGAIN = 11002;
constexpr int WSANO_RECOVERY = 11003;
constexpr int WSANO_DATA = 11004;
// Not a Winsock code: the TLS session of the socket failed; tlsFailure says why.
constexpr int WSAETLSFAILED = 12001;

// An IPv4 address, network byte order in S_addr.
struct IN_ADDR {
    std::uint32_t S_addr = 0;
};

// An IPv4 socket address; port and address in network byte order.
struct SOCKADDR_IN {
    std::int16_t sin_family = WS_AF_INET;
    std::uint16_t sin_port = 0;
    IN_ADDR sin_addr;
};

// SO_LINGER's value.
struct LINGER {
    std::uint16_t l_onoff = 0;
    std::uint16_t l_linger = 0;
};

// The result of a host lookup: the official name and every IPv4 address found.
struct HOSTENT {
    std::string h_name;
    std::vector<IN_ADDR> h_addr_list;
};

// Start-up and clean-up, counted. Every other call fails with WSANOTINITIALISED (10093)
// while no start-up is in force. Versions below 1.1 give WSAVERNOTSUPPORTED.
int WSAStartup(std::uint16_t versionRequested, WSADATA* data);
int WSACleanup();

// The calling thread's last error, and setting it.
int WSAGetLastError();
void WSASetLastError(int error);

// Sockets. Every socket is non-blocking; a connect that has not finished at once answers
// SOCKET_ERROR with WSAEWOULDBLOCK and reports its outcome as FD_CONNECT.
SOCKET socket(int af, int type, int protocol);
int bind(SOCKET s, const SOCKADDR_IN* name, int nameLen);
int connect(SOCKET s, const SOCKADDR_IN* name, int nameLen);
int send(SOCKET s, const void* buf, int len, int flags);
int recv(SOCKET s, void* buf, int len, int flags);
int shutdown(SOCKET s, int how);
int closesocket(SOCKET s);
int setsockopt(SOCKET s, int level, int optName, const void* optVal, int optLen);
int getsockopt(SOCKET s, int level, int optName, void* optVal, int* optLen);
int ioctlsocket(SOCKET s, long cmd, unsigned long* argp);
int getsockname(SOCKET s, SOCKADDR_IN* name, int* nameLen);
int getpeername(SOCKET s, SOCKADDR_IN* name, int* nameLen);

// Byte order.
std::uint16_t(htons)(std::uint16_t value);
std::uint16_t(ntohs)(std::uint16_t value);
std::uint32_t(htonl)(std::uint32_t value);
std::uint32_t(ntohl)(std::uint32_t value);

// Dotted address to network-order address; WS_INADDR_NONE when it is not one.
std::uint32_t inet_addr(const char* text);
// Network-order address to dotted text.
std::string inet_ntoa(IN_ADDR address);

// Blocking lookups (the resolver, /etc/services, /etc/protocols). Each returns false
// and sets the last error when nothing is found.
bool gethostbyname(const char* name, HOSTENT* result);
// Port in network order.
bool getservbyname(const char* name, const char* proto, std::uint16_t* port);
bool getprotobyname(const char* name, int* protocol);
int gethostname(char* name, int nameLen);

// Asks for the events of mask on s as message msg to window: wParam is the socket,
// lParam WSAMAKESELECTREPLY(event, error). A mask of 0 stops notification. Rules as
// Winsock's: FD_CONNECT once when a connect ends; FD_WRITE after a successful connect
// and again only after send answered WSAEWOULDBLOCK; FD_READ when data waits, again only
// after a recv; FD_CLOSE once when the peer has closed and no data waits.
int WSAAsyncSelect(SOCKET s, HWND window, UINT msg, long mask);

// Looks name up on a helper thread; when done, fills *result and posts msg to window
// with wParam the returned handle and lParam WSAMAKESELECTREPLY(0, error). Returns 0
// (and sets the last error) when it cannot start. *result must stay valid until the
// message arrives or the request is cancelled.
HANDLE WSAAsyncGetHostByName(HWND window, UINT msg, const char* name, HOSTENT* result);
// Cancels a pending lookup: neither its result nor its message is delivered afterwards.
// Fails with WSAEALREADY when the lookup has already posted its message, and WSAEINVAL
// for an unknown handle.
int WSACancelAsyncRequest(HANDLE request);

// TLS on a socket (the layer's own call; Windows Sockets 1.1 has none). The server's
// certificate is checked against the system's store and for host (a name, or a dotted
// address). On a socket whose connect is under way, the handshake runs once the connection
// is made and FD_CONNECT reports the end of the handshake instead; on a connected socket
// (a tunnel through a proxy) the handshake starts now and a second FD_CONNECT reports its
// end. Until then send and recv fail with WSAENOTCONN. A failed handshake or certificate
// check reports FD_CONNECT with WSAETLSFAILED; a session that fails later reports FD_CLOSE
// with it. Afterwards the events are those of a plain socket: FD_READ whenever decrypted
// bytes can be read (also those held inside the session, which no readiness of the socket
// announces), FD_WRITE, and FD_CLOSE on close_notify or the end of the stream; FIONREAD
// counts decrypted bytes.
int startTls(SOCKET s, const std::string& host);
// Why the TLS session of s failed ("certificate has expired"); empty while it has not.
std::string tlsFailure(SOCKET s);

// The errno of a failed POSIX call as a Winsock error code.
int errnoToWsaError(int errnoValue);
// The text of a Winsock error code ("Connection refused"; "Not a WinSock error").
std::string errorText(int code);

} // namespace fetchora::winsock
