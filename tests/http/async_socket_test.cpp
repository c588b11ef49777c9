// TAsyncSocket against a loopback peer: lookups (numeric, by name, unknown, cancelled),
// connecting and refusal, sending through the buffer chain, receiving until the peer
// closes, closing once, delayed close, abort, error reports and background exceptions.
#include "http/async_socket.h"
#include "platform/winsock/winsock_internal.h"
#include "support/application.h"
#include "support/loopback_server.h"

#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace fetchora {
namespace {

using testing::Exchange;
using testing::LoopbackServer;
using testing::pumpFor;
using testing::pumpUntil;

// A socket with every event recorded as text, in order.
class Recorded {
public:
    Recorded() {
        socket.OnDnsLookupDone = [this](TAsyncSocket*, int e) { log("lookup", e); };
        socket.OnSessionConnected = [this](TAsyncSocket*, int e) { log("connected", e); };
        socket.OnSessionClosed = [this](TAsyncSocket*, int e) { log("closed", e); };
        socket.OnDataSent = [this](TAsyncSocket*, int e) { log("sent", e); };
        socket.OnDataAvailable = [this](TAsyncSocket* s, int) {
            char buffer[1000]; // smaller than most answers: the loop must call again
            const int count = s->Receive(buffer, static_cast<int>(sizeof buffer));
            if (count > 0)
                data.append(buffer, static_cast<size_t>(count));
        };
        socket.OnChangeState = [this](TAsyncSocket*, TSocketState, TSocketState s) {
            states.push_back(s);
        };
        socket.OnError = [this](TAsyncSocket* s) { errors.push_back(s->LastErrorMessage()); };
    }

    void log(const char* what, int error) {
        events.push_back(what + (":" + std::to_string(error)));
    }
    int countOf(const std::string& event) const {
        int n = 0;
        for (const auto& e : events)
            n += e == event;
        return n;
    }
    bool has(const std::string& event) const { return countOf(event) > 0; }

    void connectTo(const LoopbackServer& server) {
        socket.SetAddr("127.0.0.1");
        socket.SetPort(server.portText());
        socket.Connect();
    }

    TAsyncSocket socket;
    std::vector<std::string> events;
    std::vector<TSocketState> states;
    std::vector<std::string> errors;
    std::string data;
};

class AsyncSocket : public ::testing::Test {
protected:
    void SetUp() override { testing::ensureApplication(); }
};

std::uint16_t refusedPort() {
    LoopbackServer gone;
    return gone.port();
}

TEST_F(AsyncSocket, ANumericAddressIsLookedUpBeforeDnsLookupReturns) {
    Recorded r;
    r.socket.DnsLookup("127.0.0.1");
    EXPECT_EQ(r.events, std::vector<std::string>{"lookup:0"});
    EXPECT_EQ(r.socket.DnsResult(), "127.0.0.1");
}

TEST_F(AsyncSocket, AHostNameIsLookedUpAsynchronously) {
    Recorded r;
    r.socket.DnsLookup("localhost");
    EXPECT_TRUE(r.events.empty());
    ASSERT_TRUE(pumpUntil([&] { return r.has("lookup:0"); }));
    EXPECT_EQ(r.socket.DnsResult(), "127.0.0.1");
    ASSERT_FALSE(r.socket.DnsResultList().empty());
    EXPECT_EQ(r.socket.DnsResultList().front(), "127.0.0.1");
}

TEST_F(AsyncSocket, LookupFailuresAreReportedWithTheirCodes) {
    Recorded r;
    r.socket.DnsLookup("no-such-host.invalid");
    ASSERT_TRUE(pumpUntil([&] { return !r.events.empty(); }, 10000));
    EXPECT_EQ(r.events, std::vector<std::string>{"lookup:11001"});
    EXPECT_TRUE(r.socket.DnsResult().empty());

    r.events.clear();
    r.socket.DnsLookup("");
    EXPECT_EQ(r.errors, std::vector<std::string>{"DNS lookup: invalid host name."});
    EXPECT_EQ(r.events, std::vector<std::string>{"lookup:10022"});
}

TEST_F(AsyncSocket, ACancelledLookupEndsWith10004AndNothingElse) {
    Recorded r;
    r.socket.DnsLookup("localhost");
    r.socket.CancelDnsLookup();
    EXPECT_EQ(r.events, std::vector<std::string>{"lookup:10004"});
    pumpFor(300);
    EXPECT_EQ(r.events, std::vector<std::string>{"lookup:10004"});
    EXPECT_FALSE(r.socket.DnsLookupPending());
    r.socket.CancelDnsLookup(); // nothing pending: nothing happens
    EXPECT_EQ(r.events.size(), 1u);
}

TEST_F(AsyncSocket, ACancelTooLateIsReportedAndTheResultStillArrives) {
    // A kept result of an earlier lookup would arrive without the helper thread that this
    // case races against.
    namespace detail = winsock::detail;
    const auto keepTime = detail::setLookupKeepTime(std::chrono::milliseconds(0));
    struct Restore {
        std::chrono::milliseconds time;
        ~Restore() { detail::setLookupKeepTime(time); }
    } restore{keepTime};
    Recorded r;
    r.socket.DnsLookup("localhost");
    // The lookup ends on its helper thread; its message waits, undispatched.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    r.socket.CancelDnsLookup();
    EXPECT_EQ(r.errors, std::vector<std::string>{
                            "Operation already in progress (#10037 in WSACancelAsyncRequest)"});
    EXPECT_TRUE(r.events.empty());
    ASSERT_TRUE(pumpUntil([&] { return !r.events.empty(); }));
    EXPECT_EQ(r.events, std::vector<std::string>{"lookup:0"});
    EXPECT_EQ(r.socket.DnsResult(), "127.0.0.1");

    // Abort drops such a result, and says so.
    r.events.clear();
    r.socket.DnsLookup("localhost");
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    r.socket.Abort();
    EXPECT_EQ(r.events, std::vector<std::string>{"lookup:10004"});
    pumpFor(300);
    EXPECT_EQ(r.events, std::vector<std::string>{"lookup:10004"});
}

TEST_F(AsyncSocket, ARefusedConnectionIsConnectedWithItsErrorThenClosed) {
    Recorded r;
    r.socket.SetAddr("127.0.0.1");
    r.socket.SetPort(std::to_string(refusedPort()));
    r.socket.Connect();
    EXPECT_EQ(r.socket.State(), wsConnecting);
    ASSERT_TRUE(pumpUntil([&] { return r.has("closed:0"); }));
    EXPECT_EQ(r.events, (std::vector<std::string>{"connected:10061", "closed:0"}));
    EXPECT_EQ(r.socket.State(), wsClosed);
    EXPECT_EQ(r.states, (std::vector<TSocketState>{wsOpened, wsConnecting, wsConnected, wsClosed}));
    EXPECT_TRUE(r.errors.empty());
}

TEST_F(AsyncSocket, SendingPassesEveryByteThroughTheBufferChain) {
    LoopbackServer server(8192);
    std::string payload;
    for (int i = 0; payload.size() < 8u * 1024 * 1024; ++i)
        payload += "block " + std::to_string(i) + ";";
    server.script({Exchange::swallow(payload.size()).after(300)});
    Recorded r;
    r.connectTo(server);
    ASSERT_TRUE(pumpUntil([&] { return r.has("connected:0"); }));
    // In pieces that do not line up with the 1460-byte buffers.
    const std::size_t piece = 5000;
    for (std::size_t at = 0; at < payload.size(); at += piece) {
        const int length = static_cast<int>(std::min(piece, payload.size() - at));
        EXPECT_EQ(r.socket.Send(payload.data() + at, length), length);
    }
    EXPECT_GT(r.socket.BufferedByteCount(), 0) << "the network cannot take 8 MB at once";
    ASSERT_TRUE(pumpUntil([&] { return r.has("sent:0"); }, 20000));
    EXPECT_EQ(r.socket.BufferedByteCount(), 0);
    EXPECT_TRUE(r.socket.AllSent());
    ASSERT_TRUE(server.waitForRequests(1, 10000));
    EXPECT_TRUE(server.requests()[0] == payload) << "the peer got other bytes than were sent";
    EXPECT_EQ(r.countOf("sent:0"), 1);
}

TEST_F(AsyncSocket, ASmallSendIsFollowedByOnDataSentAfterItReturns) {
    LoopbackServer server;
    server.script({Exchange::swallow(5)});
    Recorded r;
    r.connectTo(server);
    ASSERT_TRUE(pumpUntil([&] { return r.has("connected:0"); }));
    EXPECT_FALSE(r.has("sent:0")) << "nothing was sent yet";
    EXPECT_EQ(r.socket.SendStr("hello"), 5);
    EXPECT_FALSE(r.has("sent:0"));
    ASSERT_TRUE(pumpUntil([&] { return r.has("sent:0"); }));
    ASSERT_TRUE(server.waitForRequests(1));
    EXPECT_EQ(server.requests()[0], "hello");
}

TEST_F(AsyncSocket, DataBeforeThePeersCloseArrivesFirstAndTheCloseIsReportedOnce) {
    LoopbackServer server;
    std::string answer;
    for (int i = 0; answer.size() < 200000; ++i)
        answer += std::to_string(i) + "\n";
    server.script({Exchange::greet(answer)});
    Recorded r;
    std::size_t dataAtClose = 0;
    r.socket.OnSessionClosed = [&](TAsyncSocket* s, int e) {
        r.log("closed", e);
        dataAtClose = r.data.size();
        s->Close(); // a Close inside the close event must not report a second close
    };
    r.connectTo(server);
    ASSERT_TRUE(pumpUntil([&] { return r.has("closed:0"); }));
    r.socket.Close();
    pumpFor(100);
    EXPECT_EQ(r.data, answer);
    EXPECT_EQ(dataAtClose, answer.size());
    EXPECT_EQ(r.countOf("closed:0"), 1);
    EXPECT_EQ(r.socket.State(), wsClosed);
    EXPECT_EQ(r.socket.ReadCount(), static_cast<std::int64_t>(answer.size()));
}

TEST_F(AsyncSocket, AbortDuringConnectClosesAtOnceAndDropsTheLateConnect) {
    LoopbackServer server;
    server.script({Exchange::closeWithoutAnswer()});
    Recorded r;
    r.connectTo(server);
    ASSERT_EQ(r.socket.State(), wsConnecting);
    r.socket.Abort();
    EXPECT_EQ(r.socket.State(), wsClosed);
    EXPECT_EQ(r.events, std::vector<std::string>{"closed:0"});
    pumpFor(200);
    EXPECT_EQ(r.events, std::vector<std::string>{"closed:0"});
}

TEST_F(AsyncSocket, CloseDelayedClosesAfterTheCallReturns) {
    LoopbackServer server;
    server.script({Exchange::swallow()});
    Recorded r;
    r.connectTo(server);
    ASSERT_TRUE(pumpUntil([&] { return r.has("connected:0"); }));
    r.socket.CloseDelayed();
    EXPECT_EQ(r.socket.State(), wsConnected);
    ASSERT_TRUE(pumpUntil([&] { return r.socket.State() == wsClosed; }));
    EXPECT_EQ(r.countOf("closed:0"), 1);
    // The socket can connect again afterwards.
    LoopbackServer second;
    second.script({Exchange::swallow()});
    r.socket.SetPort(second.portText());
    r.socket.Connect();
    EXPECT_TRUE(pumpUntil([&] { return r.countOf("connected:0") == 2; }));
}

TEST_F(AsyncSocket, SendWhenNotConnectedReportsOrRaises10057) {
    Recorded r;
    EXPECT_EQ(r.socket.Send("x", 1), -1);
    EXPECT_EQ(r.socket.LastError(), 10057);
    EXPECT_EQ(r.errors, std::vector<std::string>{"Socket is not connected (#10057 in Send)"});
    EXPECT_TRUE(r.events.empty());

    TAsyncSocket bare;
    try {
        bare.Send("x", 1);
        ADD_FAILURE() << "no exception without an error handler";
    } catch (const ESocketException& e) {
        EXPECT_STREQ(e.what(), "Socket is not connected (#10057 in Send)");
        EXPECT_EQ(e.ErrorCode, 10057);
    }
}

TEST_F(AsyncSocket, ConnectRefusesBadSettingsWithItsMessages) {
    struct Case {
        const char* addr;
        const char* port;
        const char* expected;
    };
    const Case cases[] = {
        {"127.0.0.1", nullptr, "Connect: No Port Specified"},
        {nullptr, "80", "Connect: No IP Address Specified"},
        {"1.2.3.999", "80", "connect: Winsock Resolve Host: '1.2.3.999' Invalid IP address."},
        {"", "80", "connect: Winsock Resolve Host: '' Invalid Hostname."},
        {"127.0.0.1", "", "connect: Winsock Resolve Port: Invalid Port."},
        {"127.0.0.1", "70000", "connect: Winsock Resolve Port: Invalid Port."},
        {"127.0.0.1", "no-such-service",
         "connect: Winsock Resolve Port: Cannot convert port 'no-such-service' - No Data"},
        {"no-such-host.invalid", "80",
         "connect: Winsock Resolve Host: Cannot convert host address 'no-such-host.invalid' - "
         "Host not found"},
    };
    for (const Case& c : cases) {
        Recorded r;
        if (c.addr != nullptr)
            r.socket.SetAddr(c.addr);
        if (c.port != nullptr)
            r.socket.SetPort(c.port);
        r.socket.Connect();
        EXPECT_EQ(r.errors, std::vector<std::string>{c.expected});
        EXPECT_EQ(r.socket.State(), wsClosed);
        EXPECT_NE(r.socket.LastError(), 0);
    }
}

TEST_F(AsyncSocket, SettingsChangeOnlyWhileClosed) {
    LoopbackServer server;
    server.script({Exchange::swallow()});
    Recorded r;
    r.connectTo(server);
    r.socket.SetAddr("10.0.0.1");
    r.socket.SetPort("81");
    r.socket.SetProto("udp");
    r.socket.SetLocalAddr("127.0.0.1");
    EXPECT_EQ(r.errors, (std::vector<std::string>{"Cannot change Addr if not closed",
                                                  "Cannot change Port if not closed",
                                                  "Cannot change Proto if not closed",
                                                  "Cannot change LocalAddr if not closed"}));
    EXPECT_EQ(r.socket.Addr(), "127.0.0.1");
    r.socket.Connect();
    EXPECT_EQ(r.errors.back(), "Connect: Socket already in use");
}

TEST_F(AsyncSocket, AnExceptionFromAnEventAbortsTheSocketUnlessOnBgExceptionKeepsIt) {
    for (const bool keep : {false, true}) {
        LoopbackServer server;
        server.script({Exchange::greet("data"), Exchange::swallow()});
        Recorded r;
        std::string told;
        r.socket.OnDataAvailable = [](TAsyncSocket*, int) {
            throw std::runtime_error("handler failed");
        };
        r.socket.OnBgException = [&](TMsgWndControl*, const std::exception& e, bool& canClose) {
            told = e.what();
            canClose = !keep;
            // Keeping the socket: stop the handler from failing again.
            r.socket.OnDataAvailable = nullptr;
        };
        r.connectTo(server);
        ASSERT_TRUE(pumpUntil([&] { return !told.empty(); })) << "keep " << keep;
        EXPECT_EQ(told, "handler failed");
        if (keep) {
            EXPECT_EQ(r.socket.State(), wsConnected);
        } else {
            EXPECT_EQ(r.socket.State(), wsClosed);
            EXPECT_EQ(r.countOf("closed:0"), 1);
        }
    }
}

TEST_F(AsyncSocket, DestroyingASocketInItsOwnEventIsSafe) {
    LoopbackServer server;
    server.script({Exchange::greet("bye")});
    auto* socket = new TAsyncSocket;
    bool gone = false;
    socket->OnDataAvailable = [&](TAsyncSocket* s, int) {
        delete s;
        gone = true;
    };
    socket->SetAddr("127.0.0.1");
    socket->SetPort(server.portText());
    socket->Connect();
    ASSERT_TRUE(pumpUntil([&] { return gone; }));
    pumpFor(100);
    EXPECT_EQ(TMsgWndHandlerPool::Instance().HandlerCount(), 0);
}

} // namespace
} // namespace fetchora
