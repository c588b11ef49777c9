// The Winsock substitute: error codes and texts, start-up counting, address conversion,
// and WSAAsyncSelect's and WSAAsyncGetHostByName's notifications against a loopback peer.
#include "platform/winsock/winsock.h"
#include "platform/winsock/winsock_internal.h"
#include "support/application.h"
#include "support/loopback_server.h"

#include <QAbstractEventDispatcher>
#include <QEventLoop>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <string>
#include <vector>

namespace fetchora::winsock {
namespace {

struct Notification {
    WPARAM wParam;
    int event;
    int error;
};

constexpr UINT kSocketMessage = msg::WM_USER + 10;
constexpr UINT kLookupMessage = msg::WM_USER + 11;

class Winsock : public ::testing::Test {
protected:
    void SetUp() override {
        testing::ensureApplication();
        WSADATA data;
        ASSERT_EQ(WSAStartup(makeWord(1, 1), &data), 0);
        window_ = msg::createHiddenWindow([this](UINT m, WPARAM w, LPARAM l) {
            if (m == kSocketMessage || m == kLookupMessage)
                seen_.push_back({w, WSAGETSELECTEVENT(l), WSAGETSELECTERROR(l)});
            return msg::LRESULT{0};
        });
    }
    void TearDown() override {
        msg::destroyHiddenWindow(window_);
        WSACleanup();
    }

    SOCKET connectTo(std::uint16_t port) {
        const SOCKET s = socket(WS_AF_INET, WS_SOCK_STREAM, WS_IPPROTO_TCP);
        EXPECT_NE(s, INVALID_SOCKET);
        EXPECT_EQ(
            WSAAsyncSelect(s, window_, kSocketMessage, FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE),
            0);
        SOCKADDR_IN address;
        address.sin_port = htons(port);
        address.sin_addr.S_addr = inet_addr("127.0.0.1");
        EXPECT_EQ(connect(s, &address, sizeof address), SOCKET_ERROR);
        EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
        return s;
    }

    int count(int event) const {
        int n = 0;
        for (const auto& item : seen_)
            n += item.event == event;
        return n;
    }

    msg::HWND window_ = nullptr;
    std::vector<Notification> seen_;
};

TEST(WinsockErrors, ErrnoValuesMapToTheirWinsockCodes) {
    const std::pair<int, int> table[] = {
        {ECONNREFUSED, 10061}, {EWOULDBLOCK, 10035},  {EAGAIN, 10035},       {EINPROGRESS, 10035},
        {ENOTCONN, 10057},     {ETIMEDOUT, 10060},    {EHOSTUNREACH, 10065}, {ENETUNREACH, 10051},
        {ECONNRESET, 10054},   {ECONNABORTED, 10053}, {EADDRINUSE, 10048},   {EINVAL, 10022},
        {EISCONN, 10056},      {EMFILE, 10024},       {ENOTSOCK, 10038},     {0, 0}};
    for (const auto& [error, code] : table)
        EXPECT_EQ(errnoToWsaError(error), code) << "errno " << error;
}

TEST(WinsockErrors, CodesHaveTheirTexts) {
    EXPECT_EQ(errorText(0), "No Error");
    EXPECT_EQ(errorText(10004), "Interrupted system call");
    EXPECT_EQ(errorText(10035), "Operation would block");
    EXPECT_EQ(errorText(10057), "Socket is not connected");
    EXPECT_EQ(errorText(10061), "Connection refused");
    EXPECT_EQ(errorText(10093), "WinSock not initialized");
    EXPECT_EQ(errorText(11001), "Host not found");
    EXPECT_EQ(errorText(11004), "No Data");
    EXPECT_EQ(errorText(10001), "Not a WinSock error");
    EXPECT_EQ(errorText(-1), "Not a WinSock error");
}

TEST(WinsockStartup, CallsFailUntilStartedAndAfterTheLastCleanup) {
    EXPECT_EQ(socket(WS_AF_INET, WS_SOCK_STREAM, WS_IPPROTO_TCP), INVALID_SOCKET);
    EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);
    EXPECT_EQ(WSAStartup(makeWord(1, 0), nullptr), WSAVERNOTSUPPORTED);
    WSADATA data;
    ASSERT_EQ(WSAStartup(makeWord(1, 1), &data), 0);
    EXPECT_EQ(data.wVersion, makeWord(1, 1));
    ASSERT_EQ(WSAStartup(makeWord(1, 1), &data), 0);
    EXPECT_EQ(WSACleanup(), 0);
    const SOCKET s = socket(WS_AF_INET, WS_SOCK_STREAM, WS_IPPROTO_TCP);
    EXPECT_NE(s, INVALID_SOCKET) << "one start-up is still in force";
    EXPECT_EQ(WSACleanup(), 0);
    EXPECT_EQ(closesocket(s), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);
    EXPECT_EQ(WSACleanup(), SOCKET_ERROR);
}

TEST(WinsockAddresses, DottedAddressesConvertBothWays) {
    EXPECT_EQ(inet_addr("127.0.0.1"), htonl(0x7F000001));
    IN_ADDR address;
    address.S_addr = inet_addr("10.1.2.254");
    EXPECT_EQ(inet_ntoa(address), "10.1.2.254");
    EXPECT_EQ(inet_addr("255.255.255.255"), WS_INADDR_NONE);
    EXPECT_EQ(inet_addr("1.2.3.256"), WS_INADDR_NONE);
    EXPECT_EQ(inet_addr("example.com"), WS_INADDR_NONE);
    EXPECT_EQ(ntohs(htons(0x1234)), 0x1234);
}

TEST_F(Winsock, HandlesAreNeverReused) {
    const SOCKET first = socket(WS_AF_INET, WS_SOCK_STREAM, WS_IPPROTO_TCP);
    ASSERT_EQ(closesocket(first), 0);
    const SOCKET second = socket(WS_AF_INET, WS_SOCK_STREAM, WS_IPPROTO_TCP);
    EXPECT_NE(first, second);
    EXPECT_EQ(closesocket(first), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
    closesocket(second);
}

TEST_F(Winsock, AConnectionNotifiesConnectWriteReadAndCloseByTheRules) {
    testing::LoopbackServer server;
    server.script({testing::Exchange::pieces({"hello", " world"}, 100)});
    const SOCKET s = connectTo(server.port());
    ASSERT_TRUE(testing::pumpUntil([&] { return count(FD_WRITE) == 1; }));
    ASSERT_GE(seen_.size(), 2u);
    EXPECT_EQ(seen_[0].event, FD_CONNECT);
    EXPECT_EQ(seen_[0].error, 0);
    EXPECT_EQ(seen_[0].wParam, s);
    EXPECT_EQ(seen_[1].event, FD_WRITE);

    const char request[] = "GET / HTTP/1.0\r\n\r\n";
    EXPECT_EQ(send(s, request, sizeof request - 1, 0), static_cast<int>(sizeof request - 1));
    ASSERT_TRUE(testing::pumpUntil([&] { return count(FD_READ) == 1; }));
    // Without a recv no further FD_READ comes, even when more data arrives, and the
    // data left waiting does not keep the loop busy.
    testing::pumpFor(250);
    EXPECT_EQ(count(FD_READ), 1);
    EXPECT_EQ(count(FD_CLOSE), 0) << "no close while data waits";
    bool idle = false;
    for (int turn = 0; turn < 20 && !idle; ++turn)
        idle = !QAbstractEventDispatcher::instance()->processEvents(QEventLoop::AllEvents);
    EXPECT_TRUE(idle) << "an unanswered FD_READ must not spin the loop";

    std::string received;
    char buffer[64];
    unsigned long waiting = 0;
    ASSERT_EQ(ioctlsocket(s, WS_FIONREAD, &waiting), 0);
    EXPECT_EQ(waiting, 11u);
    // Reading part of what waits re-enables FD_READ for the rest.
    int got = recv(s, buffer, 4, 0);
    ASSERT_EQ(got, 4);
    received.append(buffer, 4);
    ASSERT_TRUE(testing::pumpUntil([&] { return count(FD_READ) == 2; }));
    got = recv(s, buffer, sizeof buffer, 0);
    ASSERT_GT(got, 0);
    received.append(buffer, static_cast<size_t>(got));
    EXPECT_EQ(received, "hello world");

    ASSERT_TRUE(testing::pumpUntil([&] { return count(FD_CLOSE) == 1; }));
    EXPECT_EQ(recv(s, buffer, sizeof buffer, 0), 0);
    testing::pumpFor(100);
    EXPECT_EQ(count(FD_CLOSE), 1);
    EXPECT_EQ(count(FD_CONNECT), 1);
    EXPECT_EQ(closesocket(s), 0);
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0], request);
}

TEST_F(Winsock, AConnectMadeAtOnceIsStillReportedOnceOnALaterTurn) {
    // On loopback the connection is made before connect returns; its FD_CONNECT still
    // comes later, once, to the window asked for when it comes, and never for a socket
    // closed meanwhile.
    testing::LoopbackServer server;
    server.script(
        {testing::Exchange::swallow(), testing::Exchange::swallow(), testing::Exchange::swallow()});
    const SOCKET plain = connectTo(server.port());
    EXPECT_TRUE(seen_.empty()) << "FD_CONNECT must not arrive inside connect";
    ASSERT_TRUE(testing::pumpUntil([&] { return count(FD_WRITE) == 1; }));
    EXPECT_EQ(seen_[0].event, FD_CONNECT);
    EXPECT_EQ(seen_[0].error, 0);

    const SOCKET closed = connectTo(server.port());
    EXPECT_EQ(closesocket(closed), 0);

    std::vector<Notification> other;
    msg::HWND otherWindow = msg::createHiddenWindow([&](UINT m, WPARAM w, LPARAM l) {
        if (m == kSocketMessage)
            other.push_back({w, WSAGETSELECTEVENT(l), WSAGETSELECTERROR(l)});
        return msg::LRESULT{0};
    });
    // Moved to another window before its turn, and the first window destroyed with the
    // report still queued for it.
    msg::HWND firstWindow = msg::createHiddenWindow([](UINT, WPARAM, LPARAM) { return 0; });
    const SOCKET moved = socket(WS_AF_INET, WS_SOCK_STREAM, WS_IPPROTO_TCP);
    ASSERT_EQ(WSAAsyncSelect(moved, firstWindow, kSocketMessage, FD_CONNECT | FD_WRITE), 0);
    SOCKADDR_IN address;
    address.sin_port = htons(server.port());
    address.sin_addr.S_addr = inet_addr("127.0.0.1");
    EXPECT_EQ(connect(moved, &address, sizeof address), SOCKET_ERROR);
    ASSERT_EQ(WSAAsyncSelect(moved, otherWindow, kSocketMessage, FD_CONNECT | FD_WRITE), 0);
    msg::destroyHiddenWindow(firstWindow);
    ASSERT_TRUE(testing::pumpUntil([&] { return !other.empty(); }));
    testing::pumpFor(100);
    EXPECT_EQ(other[0].event, FD_CONNECT);
    EXPECT_EQ(other[0].wParam, moved);
    EXPECT_EQ(count(FD_CONNECT), 1) << "only the first socket reports to the first window";
    for (const auto& item : seen_)
        EXPECT_EQ(item.wParam, plain);
    closesocket(moved);
    closesocket(plain);
    msg::destroyHiddenWindow(otherWindow);
}

TEST_F(Winsock, ARefusedConnectionEndsAsFdConnectWithItsError) {
    std::uint16_t port = 0;
    {
        testing::LoopbackServer closed; // a port that was free a moment ago
        port = closed.port();
    }
    const SOCKET s = connectTo(port);
    ASSERT_TRUE(testing::pumpUntil([&] { return count(FD_CONNECT) == 1; }));
    EXPECT_EQ(seen_[0].error, WSAECONNREFUSED);
    testing::pumpFor(100);
    EXPECT_EQ(seen_.size(), 1u) << "a failed connect gives no FD_WRITE, FD_READ or FD_CLOSE";
    char byte = 0;
    EXPECT_EQ(send(s, &byte, 1, 0), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAENOTCONN);
    closesocket(s);
}

TEST_F(Winsock, FdWriteFollowsASendThatWouldHaveBlocked) {
    testing::LoopbackServer server;
    server.script({testing::Exchange::swallow()});
    const SOCKET s = connectTo(server.port());
    ASSERT_TRUE(testing::pumpUntil([&] { return count(FD_WRITE) == 1; }));
    const std::string block(65536, 'x');
    std::size_t total = 0;
    bool blocked = false;
    while (!blocked && total < (64u << 20)) {
        const int sent = send(s, block.data(), static_cast<int>(block.size()), 0);
        if (sent == SOCKET_ERROR) {
            ASSERT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
            blocked = true;
        } else {
            total += static_cast<std::size_t>(sent);
        }
    }
    ASSERT_TRUE(blocked);
    EXPECT_TRUE(testing::pumpUntil([&] { return count(FD_WRITE) == 2; }, 10000));
    closesocket(s);
}

TEST_F(Winsock, AsyncLookupPostsItsResultAndCancelledOnesStaySilent) {
    HOSTENT result;
    const HANDLE handle = WSAAsyncGetHostByName(window_, kLookupMessage, "localhost", &result);
    ASSERT_NE(handle, 0u);
    ASSERT_TRUE(testing::pumpUntil([&] { return !seen_.empty(); }));
    EXPECT_EQ(seen_[0].wParam, handle);
    EXPECT_EQ(seen_[0].error, 0);
    ASSERT_FALSE(result.h_addr_list.empty());
    EXPECT_EQ(inet_ntoa(result.h_addr_list[0]), "127.0.0.1");
    EXPECT_EQ(WSACancelAsyncRequest(handle), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEALREADY);

    seen_.clear();
    HOSTENT untouched;
    const HANDLE cancelled =
        WSAAsyncGetHostByName(window_, kLookupMessage, "localhost", &untouched);
    EXPECT_EQ(WSACancelAsyncRequest(cancelled), 0);
    testing::pumpFor(300);
    EXPECT_TRUE(seen_.empty());
    EXPECT_TRUE(untouched.h_addr_list.empty());
    EXPECT_EQ(WSACancelAsyncRequest(0x7FFFFFFF), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEINVAL);
}

std::atomic<int> resolverCalls{0};

// Answers 10.1.2.3 for every name but those holding "missing".
int countingResolver(const std::string& name, HOSTENT& result) {
    ++resolverCalls;
    result = HOSTENT{};
    if (name.find("missing") != std::string::npos)
        return WSAHOST_NOT_FOUND;
    result.h_name = name;
    IN_ADDR address;
    address.S_addr = inet_addr("10.1.2.3");
    result.h_addr_list.push_back(address);
    return 0;
}

TEST_F(Winsock, RecentLookupsAreKeptPerHostAndStillArriveAsPostedMessages) {
    const detail::ResolveFunction systemResolver = detail::setResolveFunction(countingResolver);
    resolverCalls = 0;
    HOSTENT first;
    ASSERT_NE(WSAAsyncGetHostByName(window_, kLookupMessage, "files.example", &first), 0u);
    ASSERT_TRUE(testing::pumpUntil([&] { return seen_.size() == 1; }));
    EXPECT_EQ(resolverCalls, 1);

    // Asked again (in other case): the resolver is not asked, and the result still comes
    // as a message after the call, behind those posted before and right after it.
    seen_.clear();
    msg::postMessage(window_, kSocketMessage, 1, 0);
    HOSTENT second;
    const HANDLE kept = WSAAsyncGetHostByName(window_, kLookupMessage, "FILES.example", &second);
    ASSERT_NE(kept, 0u);
    EXPECT_TRUE(seen_.empty());
    EXPECT_TRUE(second.h_addr_list.empty());
    msg::postMessage(window_, kSocketMessage, 2, 0);
    ASSERT_TRUE(testing::pumpUntil([&] { return seen_.size() == 3; }));
    EXPECT_EQ(seen_[0].wParam, 1u);
    EXPECT_EQ(seen_[1].wParam, 2u);
    EXPECT_EQ(seen_[2].wParam, kept);
    EXPECT_EQ(seen_[2].error, 0);
    ASSERT_EQ(second.h_addr_list.size(), 1u);
    EXPECT_EQ(inet_ntoa(second.h_addr_list[0]), "10.1.2.3");
    EXPECT_EQ(resolverCalls, 1);

    // A kept result can be cancelled until its message would have come.
    seen_.clear();
    HOSTENT untouched;
    const HANDLE cancelled =
        WSAAsyncGetHostByName(window_, kLookupMessage, "files.example", &untouched);
    EXPECT_EQ(WSACancelAsyncRequest(cancelled), 0);
    testing::pumpFor(100);
    EXPECT_TRUE(seen_.empty());
    EXPECT_TRUE(untouched.h_addr_list.empty());

    // Failures are asked again, and so is every name once its time is over.
    HOSTENT result;
    EXPECT_FALSE(gethostbyname("missing.example", &result));
    EXPECT_FALSE(gethostbyname("missing.example", &result));
    EXPECT_EQ(resolverCalls, 3);
    const auto keepTime = detail::setLookupKeepTime(std::chrono::milliseconds(0));
    EXPECT_TRUE(gethostbyname("files.example", &result));
    EXPECT_TRUE(gethostbyname("files.example", &result));
    EXPECT_EQ(resolverCalls, 5);
    detail::setLookupKeepTime(keepTime);
    detail::setResolveFunction(systemResolver);
}

TEST_F(Winsock, AnUnknownHostIsReportedAsHostNotFound) {
    HOSTENT result;
    const HANDLE handle =
        WSAAsyncGetHostByName(window_, kLookupMessage, "no-such-host.invalid", &result);
    ASSERT_NE(handle, 0u);
    ASSERT_TRUE(testing::pumpUntil([&] { return !seen_.empty(); }, 10000));
    EXPECT_EQ(seen_[0].error, WSAHOST_NOT_FOUND);
    EXPECT_FALSE(gethostbyname("no-such-host.invalid", &result));
    EXPECT_EQ(WSAGetLastError(), WSAHOST_NOT_FOUND);
}

} // namespace
} // namespace fetchora::winsock
