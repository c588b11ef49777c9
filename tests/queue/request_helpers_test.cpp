// The request helpers on the wire: credentials carried in and inserted into the request
// URL, the prompt after a 401, the proxy of the settings, the error list, and the size
// probe of a new queue entry.
#include "queue/request_helpers.h"

#include "http/base64.h"
#include "http/http_client.h"
#include "platform/errors.h"
#include "queue/credentials.h"
#include "queue/download_list.h"
#include "queue/exception_list.h"
#include "support/application.h"
#include "support/loopback_server.h"
#include "support/sandbox.h"
#include "util/settings.h"

#include <gtest/gtest.h>

namespace fetchora {
namespace {

using testing::Exchange;
using testing::LoopbackServer;
using testing::Sandbox;

const std::string kChallenge =
    "HTTP/1.0 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"files\"\r\n"
    "Content-Length: 6\r\n\r\ndenied";

std::string ok(const std::string& body) {
    return "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

std::string basic(const std::string& user, const std::string& password) {
    return "Authorization: Basic " + base64Encode(user + ":" + password) + "\r\n";
}

bool has(const std::string& haystack, const std::string& needle) {
    return haystack.find(needle) != std::string::npos;
}

class RequestHelpers : public ::testing::Test {
protected:
    void SetUp() override {
        testing::ensureApplication();
        setSettingsKeyPath("Software\\Fetchora");
        ExceptionList().clear();
        previousPrompt = setCredentialPrompt([this](const std::string& server, const TPasswordList&,
                                                    std::string& user, std::string& password) {
            promptedFor.push_back(server);
            if (promptRaises)
                throw Error("prompt failed");
            if (answers.empty())
                return false;
            user = answers.front().first;
            password = answers.front().second;
            answers.erase(answers.begin());
            return true;
        });
    }
    void TearDown() override {
        setCredentialPrompt(previousPrompt);
        ExceptionList().clear();
    }

    std::string servers() { return Sandbox::readFile(sandbox.libraryPath("servers.txt")); }

    Sandbox sandbox;
    LoopbackServer server;
    THttpClient client{"HttpClient1"};
    CredentialPrompt previousPrompt;
    std::vector<std::string> promptedFor;
    std::vector<std::pair<std::string, std::string>> answers;
    bool promptRaises = false;
};

TEST_F(RequestHelpers, CredentialsInTheUrlAreSentWithTheirCaseAndRemembered) {
    server.script({Exchange::reply(kChallenge), Exchange::reply(ok("secret"))});
    const std::string url = "http://Ann:PassWord@" + server.hostPort() + "/Dir/File.TXT";
    EXPECT_EQ(FetchPage(url, client), "secret");
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_TRUE(has(requests[0], "GET /Dir/File.TXT HTTP/1.0\r\n"));
    EXPECT_FALSE(has(requests[0], "Authorization:"));
    EXPECT_TRUE(has(requests[1], basic("Ann", "PassWord")));
    EXPECT_EQ(servers(), server.hostPort() + "\tAnn\tPassWord\r\n");
    EXPECT_TRUE(ExceptionList().empty());
    EXPECT_TRUE(promptedFor.empty());
}

TEST_F(RequestHelpers, RememberedCredentialsAreInsertedAndAQueryKeepsItsSecondSlashes) {
    Sandbox::writeFile(sandbox.libraryPath("servers.txt"), server.hostPort() + "\tbob\tpw\r\n");
    server.script({Exchange::reply(kChallenge), Exchange::reply(ok("page"))});
    EXPECT_EQ(FetchPage(server.url("/find?u=http://other/X"), client), "page");
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_TRUE(has(requests[1], "GET /find?u=http://other/X HTTP/1.0\r\n"));
    EXPECT_TRUE(has(requests[1], basic("bob", "pw")));
}

TEST_F(RequestHelpers, RejectedCredentialsAreForgottenAndTheRetryCarriesOnlyTheNewOnes) {
    Sandbox::writeFile(sandbox.libraryPath("servers.txt"), server.hostPort() + "\told\tstale\r\n");
    answers.emplace_back("new", "Fresh");
    server.script({Exchange::reply(kChallenge), Exchange::reply(kChallenge),
                   Exchange::reply(kChallenge), Exchange::reply(ok("file"))});
    EXPECT_EQ(FetchPage(server.url("/f.zip"), client), "file");
    EXPECT_EQ(promptedFor, std::vector<std::string>{server.hostPort()});
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_TRUE(has(requests[1], basic("old", "stale")));
    EXPECT_TRUE(has(requests[3], basic("new", "Fresh")));
    EXPECT_FALSE(has(requests[3], "old"));
    EXPECT_EQ(servers(), server.hostPort() + "\tnew\tFresh\r\n");
}

TEST_F(RequestHelpers, CancelledPromptEndsWithTheChallengeAndForgetsTheServer) {
    Sandbox::writeFile(sandbox.libraryPath("servers.txt"), server.hostPort() + "\tu\tp\r\n");
    server.script({Exchange::reply(kChallenge), Exchange::reply(kChallenge)});
    EXPECT_EQ(FetchPage(server.url("/f.zip"), client), "denied");
    EXPECT_EQ(promptedFor.size(), 1u);
    EXPECT_EQ(servers(), "");
    EXPECT_TRUE(ExceptionList().empty());
}

TEST_F(RequestHelpers, AnErrorDuringThe401RetryLeavesTheClientWithoutTheHelpersStream) {
    // Two ways out of the retry: servers.txt damaged while the request runs, and a prompt
    // that raises. Each time the next request on the same client must not touch the
    // stream that the failed fetch owned (and freed).
    const std::string serversPath = sandbox.libraryPath("servers.txt");
    client.OnHeaderBegin = [&](THttpClient*) { Sandbox::writeFile(serversPath, "damaged\r\n"); };
    server.script({Exchange::reply(kChallenge),
                   Exchange::reply("HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\n")});
    EXPECT_THROW(FetchPage(server.url("/a.zip"), client), ListError);
    EXPECT_EQ(client.ReceiveStream, nullptr);
    client.OnHeaderBegin = nullptr;
    Sandbox::writeFile(serversPath, "");
    EXPECT_EQ(ProbeSize(server.url("/b.zip"), client), 5);

    promptRaises = true;
    server.script({Exchange::reply(kChallenge),
                   Exchange::reply("HTTP/1.0 200 OK\r\nContent-Length: 7\r\n\r\n")});
    EXPECT_THROW(FetchPage(server.url("/c.zip"), client), Error);
    EXPECT_EQ(client.ReceiveStream, nullptr);
    EXPECT_EQ(ProbeSize(server.url("/d.zip"), client), 7);
}

TEST_F(RequestHelpers, FailedRequestsBecomeErrorLinesWithTheRequestedUrl) {
    server.script({Exchange::reply("HTTP/1.0 404 Not Found\r\nContent-Length: 4\r\n\r\ngone")});
    // The scheme is lower-cased, the path keeps its case.
    FetchPage("HTTP://" + server.hostPort() + "/Missing.ZIP", client);
    const int refused = LoopbackServer().port(); // nobody listens there once it is gone
    FetchPage("http://127.0.0.1:" + std::to_string(refused) + "/x", client);
    ASSERT_EQ(ExceptionList().size(), 2u);
    EXPECT_EQ(ExceptionList()[0], "* Not Found [" + server.url("/Missing.ZIP") + "]");
    EXPECT_EQ(ExceptionList()[1].rfind("* ", 0), 0u);
    EXPECT_TRUE(has(ExceptionList()[1], "[http://127.0.0.1:" + std::to_string(refused) + "/x]"));
}

TEST_F(RequestHelpers, ABusyClientIsLeftAloneAndRecordedAsBusy) {
    server.script({Exchange::holdAfter("HTTP/1.0 200 OK\r\nContent-Length: 100\r\n\r\nab")});
    client.URL = server.url("/running");
    client.GetASync();
    ASSERT_TRUE(testing::pumpUntil([&] { return client.State() == httpWaitingBody; }));
    EXPECT_EQ(ProbeSize(server.url("/other.zip"), client), -1);
    EXPECT_EQ(client.URL, server.url("/running"));
    ASSERT_EQ(ExceptionList().size(), 1u);
    EXPECT_EQ(ExceptionList()[0],
              "* HTTP component HttpClient1 is busy [" + server.url("/other.zip") + "]");
    client.Abort();
}

TEST_F(RequestHelpers, TheProxyOfTheSettingsIsUsedByTheNextRequest) {
    writeSettingText("ProxyServer", "127.0.0.1");
    writeSettingText("ProxyPort", server.portText());
    server.script({Exchange::reply(ok("via proxy"))});
    EXPECT_EQ(FetchPage("http://Files.Example/A.zip", client), "via proxy");
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_TRUE(has(server.requests()[0], "GET http://files.example/A.zip HTTP/1.0\r\n"));
}

TEST_F(RequestHelpers, AnAddressThatCannotBeSplitIsRaisedToTheCaller) {
    EXPECT_THROW(FetchPage("nohost", client), ListError);
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(RequestHelpers, ProbeTakesTheSizeAndTheFileNameOrRefusesWithoutALength) {
    server.script({Exchange::reply("HTTP/1.0 200 OK\r\nContent-Length: 1234\r\n\r\n"),
                   Exchange::reply("HTTP/1.0 200 OK\r\n\r\n"),
                   Exchange::reply("HTTP/1.0 404 Not Found\r\nContent-Length: 153\r\n\r\n"),
                   Exchange::reply("HTTP/1.0 401 Unauthorized\r\nWWW-Authenticate: Basic\r\n"
                                   "Content-Length: 12\r\n\r\n")});
    TDownload sized;
    EXPECT_TRUE(sized.Probe(server.url("/dir/Photo.JPG?x=1"), client));
    EXPECT_EQ(sized.URL, server.url("/dir/Photo.JPG?x=1"));
    EXPECT_EQ(sized.FileSize, 1234);
    EXPECT_EQ(sized.Downloaded, 0);
    EXPECT_EQ(sized.FileName, "Photo.JPG");
    EXPECT_TRUE(has(server.requests()[0], "HEAD /dir/Photo.JPG?x=1 HTTP/1.0\r\n"));

    TDownload unsized;
    const std::string url = server.url("/page.html");
    EXPECT_FALSE(unsized.Probe(url, client));
    EXPECT_EQ(unsized.ErrorText, "URL does not refer to a file. File size is -1 [" + url + "]");

    // The length of an error page is not the size of the file.
    TDownload missing;
    EXPECT_FALSE(missing.Probe(server.url("/missing.zip"), client));
    EXPECT_EQ(missing.FileSize, -1);
    TDownload denied; // the prompt is cancelled
    EXPECT_FALSE(denied.Probe(server.url("/private.zip"), client));
    EXPECT_EQ(denied.FileSize, -1);
}

} // namespace
} // namespace fetchora
