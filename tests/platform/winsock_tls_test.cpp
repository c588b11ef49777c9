// TLS under the Winsock substitute, against nginx with TLS: the handshake reported as the
// end of the connect, and FD_READ for decrypted bytes that the session holds while the
// socket itself has nothing more to read.
#include "platform/winsock/winsock.h"
#include "support/application.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace fetchora::winsock {
namespace {

constexpr UINT kSocketMessage = msg::WM_USER + 20;

std::string env(const char* name) {
    const char* value = std::getenv(name);
    return value == nullptr ? std::string() : std::string(value);
}

class WinsockTls : public ::testing::Test {
protected:
    void SetUp() override {
        port_ = env("FETCHORA_TLS_PORT");
        if (port_.empty() || env("FETCHORA_TLS_CA_FILE").empty())
            GTEST_SKIP() << "nginx with TLS is not running (scripts/peers.sh starts it)";
        ::setenv("SSL_CERT_FILE", env("FETCHORA_TLS_CA_FILE").c_str(), 1);
        testing::ensureApplication();
        WSADATA data;
        ASSERT_EQ(WSAStartup(makeWord(1, 1), &data), 0);
        window_ = msg::createHiddenWindow([this](UINT m, WPARAM, LPARAM l) {
            if (m == kSocketMessage)
                handle(WSAGETSELECTEVENT(l), WSAGETSELECTERROR(l));
            return msg::LRESULT{0};
        });
    }
    void TearDown() override {
        if (port_.empty())
            return;
        if (socket_ != INVALID_SOCKET)
            closesocket(socket_);
        msg::destroyHiddenWindow(window_);
        WSACleanup();
        ::unsetenv("SSL_CERT_FILE");
    }

    // Reads at most readSize bytes per FD_READ, so that most of each record stays inside
    // the TLS session between two notifications.
    void handle(int event, int error) {
        if (event == FD_CONNECT) {
            connectError_ = error;
            connected_ = true;
            if (error == 0) {
                // The connection stays open after the answer: no end of the stream comes
                // to wake a reader up for the last bytes.
                const std::string request = "GET /medium.bin HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
                EXPECT_EQ(send(socket_, request.data(), static_cast<int>(request.size()), 0),
                          static_cast<int>(request.size()));
            }
        } else if (event == FD_READ) {
            char buffer[readSize];
            const int count = recv(socket_, buffer, readSize, 0);
            if (count > 0)
                received_.append(buffer, static_cast<size_t>(count));
        } else if (event == FD_CLOSE) {
            closed_ = true;
        }
    }

    void open(const std::string& host) {
        socket_ = socket(WS_AF_INET, WS_SOCK_STREAM, WS_IPPROTO_TCP);
        ASSERT_NE(socket_, INVALID_SOCKET);
        ASSERT_EQ(WSAAsyncSelect(socket_, window_, kSocketMessage,
                                 FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE),
                  0);
        SOCKADDR_IN address;
        address.sin_port = htons(static_cast<std::uint16_t>(std::stoi(port_)));
        address.sin_addr.S_addr = inet_addr("127.0.0.1");
        ASSERT_EQ(connect(socket_, &address, sizeof address), SOCKET_ERROR);
        ASSERT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
        ASSERT_EQ(startTls(socket_, host), 0);
    }

    static constexpr int readSize = 100;
    std::string port_;
    msg::HWND window_ = nullptr;
    SOCKET socket_ = INVALID_SOCKET;
    bool connected_ = false;
    int connectError_ = -1;
    bool closed_ = false;
    std::string received_;
};

TEST_F(WinsockTls, BytesHeldInsideTheSessionAreAnnounced) {
    open("127.0.0.1");
    ASSERT_TRUE(testing::pumpUntil([this] { return connected_; }));
    ASSERT_EQ(connectError_, 0);
    std::ifstream in(env("FETCHORA_PEERS_ROOT") + "/www/medium.bin", std::ios::binary);
    std::ostringstream file;
    file << in.rdbuf();
    const auto complete = [&] {
        const size_t body = received_.find("\r\n\r\n");
        return body != std::string::npos && received_.size() - body - 4 >= file.str().size();
    };
    ASSERT_TRUE(testing::pumpUntil(complete, 10000))
        << "stalled after " << received_.size() << " bytes";
    EXPECT_EQ(received_.substr(received_.find("\r\n\r\n") + 4), file.str());
    EXPECT_FALSE(closed_);
}

TEST_F(WinsockTls, FailedCheckIsTheConnectsError) {
    open("wrong.example");
    ASSERT_TRUE(testing::pumpUntil([this] { return connected_; }));
    EXPECT_EQ(connectError_, WSAETLSFAILED);
    EXPECT_EQ(tlsFailure(socket_), "host name does not match the certificate");
    char byte = 0;
    EXPECT_EQ(recv(socket_, &byte, 1, 0), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAENOTCONN);
}

} // namespace
} // namespace fetchora::winsock
