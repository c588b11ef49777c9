// THttpClient's relocations and authorization retries on the wire: Location followed to a
// path and to another server, the relocation limit counted twice with HTTP/1.0, Basic and
// NTLM answers for server and proxy, and the ends without retry.
#include "http/base64.h"
#include "http/http_client.h"
#include "http/ntlm.h"

#include "support/application.h"
#include "support/loopback_server.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace fetchora {
namespace {

using testing::Exchange;
using testing::LoopbackServer;

const std::string kFound = "HTTP/1.0 302 Found\r\nLocation: ";
const std::string kUnauthorized = "HTTP/1.0 401 Unauthorized\r\n";

// The value of a request's field, empty when it has none.
std::string fieldOf(const std::string& request, const std::string& name) {
    const size_t at = request.find("\r\n" + name + ": ");
    if (at == std::string::npos)
        return {};
    const size_t start = at + name.size() + 4;
    return request.substr(start, request.find("\r\n", start) - start);
}

std::string requestLine(const std::string& request) {
    return request.substr(0, request.find("\r\n"));
}

class HttpClientAuthWire : public ::testing::Test {
protected:
    void SetUp() override {
        testing::ensureApplication();
        client.ReceiveStream = &stream;
        client.OnDocData = [this](THttpClient*, const char*, int len) { docBytes += len; };
    }
    int run() {
        try {
            client.Get();
        } catch (const EHttpException& error) {
            return error.ErrorCode;
        }
        return 0;
    }

    LoopbackServer server;
    THttpClient client{"HttpClient1"};
    TStringStream stream;
    int docBytes = 0;
};

TEST_F(HttpClientAuthWire, RelocationToAPathKeepsOnlyTheFinalBody) {
    server.script({Exchange::reply(kFound + "/x\r\nContent-Length: 5\r\n\r\nmoved"),
                   Exchange::reply("HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\nfinal")});
    int changes = 0;
    client.OnLocationChange = [&changes](THttpClient*) { ++changes; };
    client.URL = server.url("/start");
    EXPECT_EQ(run(), 0);
    ASSERT_EQ(server.requests().size(), 2u);
    EXPECT_EQ(requestLine(server.requests()[1]), "GET /x HTTP/1.0");
    EXPECT_EQ(fieldOf(server.requests()[1], "Host"), server.hostPort());
    EXPECT_EQ(client.Location(), server.url("/x"));
    EXPECT_EQ(client.StatusCode(), 200);
    EXPECT_EQ(stream.DataString(), "final");
    EXPECT_EQ(docBytes, 10); // the relocation page was reported too
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(client.LocationChangeCurCount, 2); // counted at the response and at the close
}

TEST_F(HttpClientAuthWire, RelativeLocationResolvesAgainstTheDocumentFolder) {
    server.script({Exchange::reply(kFound + "next.html#top\r\n\r\n"),
                   Exchange::reply("HTTP/1.0 200 OK\r\nContent-Length: 0\r\n\r\n")});
    client.URL = server.url("/dir/page.html?q=a/b");
    EXPECT_EQ(run(), 0);
    ASSERT_EQ(server.requests().size(), 2u);
    EXPECT_EQ(requestLine(server.requests()[1]), "GET /dir/next.html HTTP/1.0");
    EXPECT_EQ(client.Location(), server.url("/dir/next.html"));
}

TEST_F(HttpClientAuthWire, RelocationToAnotherServerDropsCredentials) {
    LoopbackServer other;
    server.script({Exchange::reply(kFound + other.url("/y") + "\r\n\r\n")});
    other.script({Exchange::reply(kUnauthorized + "WWW-Authenticate: Basic realm=\"r\"\r\n\r\n")});
    client.URL = "http://user:secret@" + server.hostPort() + "/a";
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(client.StatusCode(), 401);
    ASSERT_EQ(other.requests().size(), 1u);
    EXPECT_EQ(requestLine(other.requests()[0]), "GET /y HTTP/1.0");
    EXPECT_EQ(fieldOf(other.requests()[0], "Host"), other.hostPort());
    EXPECT_EQ(fieldOf(other.requests()[0], "Authorization"), "");
    EXPECT_EQ(client.Location(), other.url("/y"));
}

TEST_F(HttpClientAuthWire, ThreeRelocationsEndOnTheThird) {
    server.script({Exchange::reply(kFound + "/a\r\n\r\n"), Exchange::reply(kFound + "/b\r\n\r\n"),
                   Exchange::reply(kFound + "/c\r\n\r\n"),
                   Exchange::reply("HTTP/1.0 200 OK\r\n\r\nnever")});
    client.URL = server.url("/");
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(server.requests().size(), 3u);
    EXPECT_EQ(client.StatusCode(), 302);
    EXPECT_EQ(client.State(), httpReady);
}

TEST_F(HttpClientAuthWire, ExceededHandlerMayAllowMore) {
    server.script({Exchange::reply(kFound + "/a\r\n\r\n"), Exchange::reply(kFound + "/b\r\n\r\n"),
                   Exchange::reply(kFound + "/c\r\n\r\n"),
                   Exchange::reply("HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok")});
    std::vector<int> asked;
    client.OnLocationChangeExceeded = [&asked](THttpClient*, int count, bool& allow) {
        EXPECT_FALSE(allow);
        asked.push_back(count);
        allow = true;
    };
    client.URL = server.url("/");
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(client.StatusCode(), 200);
    EXPECT_EQ(asked, (std::vector<int>{6}));
    EXPECT_EQ(stream.DataString(), "ok");
}

TEST_F(HttpClientAuthWire, FollowRelocationFalseEndsWithThe302) {
    server.script({Exchange::reply(kFound + "/elsewhere\r\n\r\n")});
    client.FollowRelocation = false;
    client.URL = server.url("/here");
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(client.StatusCode(), 302);
    EXPECT_EQ(client.Location(), server.url("/here"));
    EXPECT_EQ(server.requests().size(), 1u);
}

// The NTLM challenge message of a server, with the given 8-byte challenge.
std::string ntlmChallengeMessage(const ntlm::Challenge& challenge) {
    std::string type2(32, '\0');
    type2.replace(0, 8, std::string("NTLMSSP\0", 8));
    type2[8] = 2;
    for (size_t i = 0; i < 8; ++i)
        type2[24 + i] = static_cast<char>(challenge[i]);
    return type2;
}

TEST_F(HttpClientAuthWire, AnAnsweredChallengeIsNotCarriedToAnotherServer) {
    // The first server accepts the credentials of the URL (Basic, or NTLM in three legs)
    // and then relocates to another server: that one gets no Authorization line of any
    // kind, unless its own URL brings credentials, which are then the only ones it sees
    // after its own challenge.
    const std::string found = "HTTP/1.0 302 Found\r\nContent-Length: 0\r\nLocation: ";
    const std::string basicChallenge =
        kUnauthorized + "WWW-Authenticate: Basic realm=\"r\"\r\n\r\n";
    struct Case {
        const char* name;
        bool ntlm;
        bool targetCarriesCredentials;
    };
    for (const Case c : {Case{"basic", false, false}, Case{"ntlm", true, false},
                         Case{"basic, own credentials", false, true}}) {
        SCOPED_TRACE(c.name);
        LoopbackServer first;
        LoopbackServer other;
        THttpClient http("HttpClient2");
        const std::string target = c.targetCarriesCredentials
                                       ? "http://eve:Other@" + other.hostPort() + "/y"
                                       : other.url("/y");
        if (c.ntlm) {
            first.script({Exchange::reply(kUnauthorized + "WWW-Authenticate: NTLM\r\n\r\n"),
                          Exchange::replyKeepOpen(
                              kUnauthorized + "WWW-Authenticate: NTLM " +
                              base64Encode(ntlmChallengeMessage({1, 2, 3, 4, 5, 6, 7, 8})) +
                              "\r\nConnection: Keep-Alive\r\nContent-Length: 0\r\n\r\n"),
                          Exchange::reply(found + target + "\r\n\r\n")});
        } else {
            first.script(
                {Exchange::reply(basicChallenge), Exchange::reply(found + target + "\r\n\r\n")});
        }
        other.script({Exchange::reply(basicChallenge),
                      Exchange::reply("HTTP/1.0 200 OK\r\nContent-Length: 0\r\n\r\n")});
        http.URL = "http://joe:Secret@" + first.hostPort() + "/a";
        try {
            http.Get();
        } catch (const EHttpException&) {
        }
        const auto requests = other.requests();
        ASSERT_GE(requests.size(), 1u);
        EXPECT_EQ(fieldOf(requests[0], "Authorization"), "");
        if (c.targetCarriesCredentials) {
            ASSERT_EQ(requests.size(), 2u);
            EXPECT_EQ(fieldOf(requests[1], "Authorization"), "Basic " + base64Encode("eve:Other"));
            EXPECT_EQ(http.StatusCode(), 200);
        } else {
            EXPECT_EQ(requests.size(), 1u);
            EXPECT_EQ(http.StatusCode(), 401);
        }
    }
}

TEST_F(HttpClientAuthWire, ALocationWithAControlCharacterEndsTheRequest) {
    for (const std::string& location : {std::string("/a\rInjected: 1"), std::string("/a\x01"),
                                        std::string("/a\tb"), std::string("/a\x7f")}) {
        LoopbackServer peer;
        peer.script({Exchange::reply(kFound + location + "\r\nContent-Length: 0\r\n\r\n")});
        client.URL = peer.url("/start");
        EXPECT_EQ(run(), 404);
        EXPECT_EQ(client.ReasonPhrase(), "Location holds a control character");
        EXPECT_EQ(client.State(), httpReady);
        EXPECT_EQ(peer.requests().size(), 1u);
    }
}

TEST_F(HttpClientAuthWire, TheRangeGoesWithTheRelocationAndA200ShowsItWasNotHonoured) {
    // A resumed file relocated to a mirror asks the mirror for the same range. A mirror
    // that ignores it answers 200 with the whole file: StatusCode says so, and no
    // Content-Range is reported, so the caller starts the file afresh instead of
    // appending.
    LoopbackServer mirror;
    server.script({Exchange::reply(kFound + mirror.url("/f.bin") + "\r\n\r\n")});
    mirror.script({Exchange::reply("HTTP/1.0 200 OK\r\nContent-Length: 6\r\n\r\nwhole!")});
    client.URL = server.url("/f.bin");
    client.ContentRangeBegin = "4";
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(fieldOf(server.requests()[0], "Range"), "bytes=4-");
    ASSERT_EQ(mirror.requests().size(), 1u);
    EXPECT_EQ(fieldOf(mirror.requests()[0], "Range"), "bytes=4-");
    EXPECT_EQ(client.StatusCode(), 200);
    EXPECT_TRUE(client.ContentRangeBegin.empty());
    EXPECT_EQ(stream.DataString(), "whole!");
}

TEST_F(HttpClientAuthWire, BasicAfterA401ThenASecond401Ends) {
    const std::string challenge = kUnauthorized + "WWW-Authenticate: Basic realm=\"files\"\r\n"
                                                  "Content-Length: 6\r\n\r\ndenied";
    server.script({Exchange::reply(challenge), Exchange::reply(challenge)});
    client.URL = "http://joe:Pa55@" + server.hostPort() + "/f.zip";
    client.ContentRangeBegin = "10";
    EXPECT_EQ(run(), 0);
    ASSERT_EQ(server.requests().size(), 2u);
    EXPECT_EQ(fieldOf(server.requests()[0], "Authorization"), "");
    const std::string retry = server.requests()[1];
    EXPECT_EQ(fieldOf(retry, "Authorization"), "Basic " + base64Encode("joe:Pa55"));
    // The retry asks for the same range, the Authorization line between Host and Range.
    EXPECT_LT(retry.find("\r\nHost: "), retry.find("\r\nAuthorization: "));
    EXPECT_LT(retry.find("\r\nAuthorization: "), retry.find("\r\nRange: bytes=10-"));
    EXPECT_EQ(client.StatusCode(), 401);
    EXPECT_EQ(stream.DataString(), "denied");
}

TEST_F(HttpClientAuthWire, BasicRetrySucceeds) {
    server.script({Exchange::reply(kUnauthorized + "WWW-Authenticate: basic realm=x\r\n\r\n"),
                   Exchange::reply("HTTP/1.0 200 OK\r\nContent-Length: 3\r\n\r\nyes")});
    client.Username = "ann";
    client.Password = "pw";
    client.URL = server.url("/p");
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(client.StatusCode(), 200);
    EXPECT_EQ(client.AuthBasicState, basicDone);
    EXPECT_EQ(fieldOf(server.requests()[1], "Authorization"), "Basic " + base64Encode("ann:pw"));
}

TEST_F(HttpClientAuthWire, NoCredentialsOrNoKnownSchemeEndsAtOnce) {
    server.script({Exchange::reply(kUnauthorized + "WWW-Authenticate: Basic realm=x\r\n\r\n"),
                   Exchange::reply(kUnauthorized + "WWW-Authenticate: Digest realm=x\r\n\r\n")});
    client.URL = server.url("/p");
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(client.StatusCode(), 401);
    client.URL = "http://u:p@" + server.hostPort() + "/p";
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(client.StatusCode(), 401);
    EXPECT_EQ(server.requests().size(), 2u);
}

TEST_F(HttpClientAuthWire, NtlmIsPreferredAndRunsItsThreeLegs) {
    const ntlm::Challenge challenge = {1, 2, 3, 4, 5, 6, 7, 8};
    const std::string type2 = ntlmChallengeMessage(challenge);
    server.script(
        {Exchange::reply(kUnauthorized + "WWW-Authenticate: NTLM\r\n"
                                         "WWW-Authenticate: Basic realm=\"x\"\r\n\r\n"),
         Exchange::replyKeepOpen(kUnauthorized + "WWW-Authenticate: NTLM " + base64Encode(type2) +
                                 "\r\nConnection: Keep-Alive\r\nContent-Length: 0\r\n\r\n"),
         Exchange::reply("HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nin")});
    client.URL = "http://Joe:SecREt01@" + server.hostPort() + "/secure";
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(client.StatusCode(), 200);
    EXPECT_EQ(stream.DataString(), "in");
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(fieldOf(requests[0], "Authorization"), "");
    EXPECT_EQ(fieldOf(requests[1], "Authorization"),
              "NTLM " + base64Encode(ntlm::negotiateMessage()));
    EXPECT_EQ(fieldOf(requests[1], "Connection"), "Keep-alive");
    // The third leg goes on the connection the challenge came on.
    EXPECT_EQ(server.requestConnections()[2], server.requestConnections()[1]);
    const std::string auth = fieldOf(requests[2], "Authorization");
    ASSERT_EQ(auth.rfind("NTLM ", 0), 0u);
    const std::string type3 = base64Decode(auth.substr(5));
    EXPECT_EQ(type3, ntlm::authenticateMessage("Joe", "SecREt01", LocalHostName(), challenge));
    EXPECT_EQ(client.AuthNTLMState, ntlmDone);
}

TEST_F(HttpClientAuthWire, ProxyBasicUsesProxyCredentials) {
    server.script({Exchange::reply("HTTP/1.0 407 Proxy Authentication Required\r\n"
                                   "Proxy-Authenticate: Basic realm=\"proxy\"\r\n\r\n"),
                   Exchange::reply("HTTP/1.0 200 OK\r\nContent-Length: 1\r\n\r\nk")});
    client.Proxy = server.hostPort();
    client.ProxyUsername = "px";
    client.ProxyPassword = "py";
    client.URL = "http://target.example/doc";
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(client.StatusCode(), 200);
    ASSERT_EQ(server.requests().size(), 2u);
    EXPECT_EQ(fieldOf(server.requests()[1], "Proxy-Authorization"),
              "Basic " + base64Encode("px:py"));
    EXPECT_EQ(fieldOf(server.requests()[1], "Authorization"), "");
}

TEST_F(HttpClientAuthWire, UnexpectedStateIsReportedAndTheRequestEnds) {
    server.script({Exchange::reply(kUnauthorized + "WWW-Authenticate: Basic realm=x\r\n\r\n")});
    std::string reported;
    client.OnBgException = [&reported](TMsgWndControl*, const std::exception& error, bool&) {
        reported = error.what();
    };
    client.OnHeaderEnd = [](THttpClient* sender) { sender->AuthBasicState = 7; };
    int done = -1;
    client.OnRequestDone = [&done](THttpClient*, THttpRequest, int error) { done = error; };
    client.URL = "http://u:p@" + server.hostPort() + "/";
    EXPECT_EQ(run(), 0);
    testing::pumpUntil([&done] { return done != -1; }, 2000);
    EXPECT_EQ(reported, "Unexpected AuthBasicState");
    EXPECT_EQ(done, httperrInvalidAuthState);
    EXPECT_EQ(client.State(), httpReady);
}

} // namespace
} // namespace fetchora
