// The transfer run without a window: a queue downloaded from the scripted loopback server
// (and from nginx when the test command started it), resumed after Stop, partial files
// continued or started over, error answers kept out of the files, the question after an
// error, the end of the run with its beep and messages.
#include "toolbar/transfer_run.h"

#include "http/http_client.h"
#include "platform/files.h"
#include "queue/download_list.h"
#include "queue/exception_list.h"
#include "support/loopback_server.h"
#include "support/sandbox.h"
#include "util/settings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fcntl.h>
#include <filesystem>
#include <netinet/in.h>
#include <random>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fetchora {
namespace {

using testing::Exchange;
using testing::LoopbackServer;
using testing::Sandbox;

std::string bytes(size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string data(size, '\0');
    for (char& c : data)
        c = static_cast<char>(random() & 0xFF);
    return data;
}

std::string ok(const std::string& body) {
    return "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

std::string partial(const std::string& file, size_t from) {
    return "HTTP/1.0 206 Partial Content\r\nContent-Length: " + std::to_string(file.size() - from) +
           "\r\nContent-Range: bytes " + std::to_string(from) + "-" +
           std::to_string(file.size() - 1) + "/" + std::to_string(file.size()) + "\r\n\r\n" +
           file.substr(from);
}

// Compares file contents without printing megabytes of bytes on a failure.
::testing::AssertionResult sameBytes(const std::string& actual, const std::string& expected) {
    if (actual == expected)
        return ::testing::AssertionSuccess();
    size_t first = 0;
    while (first < actual.size() && first < expected.size() && actual[first] == expected[first])
        ++first;
    return ::testing::AssertionFailure() << "sizes " << actual.size() << " and " << expected.size()
                                         << ", first difference at byte " << first;
}

bool has(const std::string& haystack, const std::string& needle) {
    return haystack.find(needle) != std::string::npos;
}

TEST(ProgressPercent, RoundsHalvesToTheEvenNeighbourAndSurvivesAZeroSize) {
    const struct {
        int64_t done, size;
        int percent;
    } cases[] = {{5, 200, 2},
                 {7, 200, 4},
                 {23, 40, 58},
                 {109, 200, 54},
                 {1, 3, 33},
                 {2, 3, 67},
                 {0, 10, 0},
                 {10, 10, 100},
                 {1, 0, 0},
                 {5, -1, 0},
                 // Past 4 GB: 4 GiB of 5 GiB, and 4 KB short of 5 GiB.
                 {4294967296LL, 5368709120LL, 80},
                 {5368709120LL - 4096, 5368709120LL, 100},
                 {2684354560LL, 5368709120LL, 50},
                 {21474837, 5368709120LL, 0}};
    for (const auto& c : cases)
        EXPECT_EQ(progressPercent(c.done, c.size), c.percent) << c.done << " of " << c.size;
}

class TransferRun : public ::testing::Test {
protected:
    void SetUp() override {
        ExceptionList().clear();
        setSettingsKeyPath(settings::kKeyPath);
        writeSettingText(settings::kSound, "Y");
        ::mkdir(destination_.c_str(), 0700);
        client_.OnDocData = [this](THttpClient*, const char*, int len) { run_.docData(len); };
    }
    void TearDown() override { ExceptionList().clear(); }

    TTransferRunEvents events() {
        TTransferRunEvents e;
        e.statusText = [this](const std::string& text) { show(text); };
        e.updateStatus = [this] {
            if (const std::optional<std::string> text = run_.progressText())
                show(*text);
        };
        e.panelColour = [this](PanelColour colour) { panel_ = colour; };
        e.askConfirmation = [this](const std::string& text) {
            questions_.push_back(text);
            const bool ok = !answers_.empty() && answers_.front();
            if (!answers_.empty())
                answers_.pop_front();
            return ok;
        };
        e.showInformation = [this](const std::string& text) { information_.push_back(text); };
        e.beep = [this] { ++beeps_; };
        e.showExceptions = [this] { shownErrors_.push_back(ExceptionList()); };
        e.ended = [this] { ++ended_; };
        return e;
    }
    void show(const std::string& text) {
        if (statuses_.empty() || statuses_.back() != text)
            statuses_.push_back(text);
        if (onStatus_)
            onStatus_(text);
    }

    void queue(const std::string& lines) { Sandbox::writeFile(listFile_, lines); }
    std::string line(const std::string& path, const std::string& name, int downloaded,
                     size_t size) {
        return server_.url(path) + "\t" + name + "\t" + std::to_string(downloaded) + "\t" +
               std::to_string(size) + "\r\n";
    }
    std::string queueFile() { return Sandbox::readFile(listFile_); }
    std::string output(const std::string& name) {
        return Sandbox::readFile(destination_ + "/" + name);
    }
    bool exists(const std::string& name) {
        struct stat st {};
        return ::stat((destination_ + "/" + name).c_str(), &st) == 0;
    }
    std::vector<std::string> folderEntries() {
        std::vector<std::string> names;
        for (const auto& file : std::filesystem::directory_iterator(destination_))
            names.push_back(file.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    Sandbox sandbox_;
    LoopbackServer server_;
    std::string destination_ = sandbox_.path("out");
    std::string listFile_ = sandbox_.libraryPath("downloads.txt");
    std::unique_ptr<TDownloadList> downloads_ = std::make_unique<TDownloadList>();
    THttpClient client_{"HttpClient1"};

    std::vector<std::string> statuses_;
    std::function<void(const std::string&)> onStatus_;
    std::optional<PanelColour> panel_;
    std::vector<std::string> questions_;
    std::deque<bool> answers_; // OK when true; Cancel when empty
    std::vector<std::string> information_;
    int beeps_ = 0;
    std::vector<std::vector<std::string>> shownErrors_;
    int ended_ = 0;

    TTransferRun run_{downloads_, listFile_, client_, events()};
};

TEST_F(TransferRun, ThreeFilesInOneRunEmptyTheQueueWithTheStatusInOrder) {
    const std::string a = bytes(3000, 1), b = bytes(70000, 2), c = bytes(10, 3);
    queue(line("/a.bin", "a.bin", 0, a.size()) + line("/b.bin", "b.bin", 0, b.size()) +
          line("/c.bin", "c.bin", 0, c.size()));
    server_.script({Exchange::reply(ok(a)),
                    Exchange::pieces({ok(b).substr(0, 30000), ok(b).substr(30000)}, 20),
                    Exchange::reply(ok(c))});
    std::vector<PanelColour> colours;
    onStatus_ = [&](const std::string&) { colours.push_back(panel_.value_or(PanelColour::Idle)); };
    run_.run(destination_);
    onStatus_ = nullptr;

    // Green while the run goes on, the window colour once it ended.
    ASSERT_GE(colours.size(), 2u);
    EXPECT_EQ(colours.front(), PanelColour::Running);
    EXPECT_EQ(panel_, PanelColour::Idle);
    EXPECT_TRUE(sameBytes(output("a.bin"), a)) << "a.bin";
    EXPECT_TRUE(sameBytes(output("b.bin"), b)) << "b.bin";
    EXPECT_TRUE(sameBytes(output("c.bin"), c)) << "c.bin";
    EXPECT_EQ(queueFile(), "");
    EXPECT_EQ(downloads_->count(), 0);
    EXPECT_EQ(ended_, 1);
    EXPECT_FALSE(run_.running());
    EXPECT_EQ(beeps_, 1);
    EXPECT_TRUE(information_.empty());
    EXPECT_TRUE(questions_.empty());
    EXPECT_TRUE(shownErrors_.empty());
    // The count advances when an entry is finished; percentages rise within a file.
    std::vector<std::pair<int, int>> progress; // (number, percent)
    for (const std::string& text : statuses_) {
        int number = 0, total = 0, percent = 0;
        if (std::sscanf(text.c_str(), "Downloading %d of %d [%d%%]", &number, &total, &percent) ==
            3) {
            EXPECT_EQ(total, 3);
            progress.emplace_back(number, percent);
        }
    }
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.front().first, 1);
    EXPECT_EQ(progress.back(), std::make_pair(3, 100));
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    EXPECT_TRUE(std::any_of(progress.begin(), progress.end(),
                            [](const auto& p) { return p.first == 2 && p.second < 100; }));
    EXPECT_EQ(statuses_.back(), "Download complete");
    for (const auto& request : server_.requests())
        EXPECT_FALSE(has(request, "Range:"));
}

TEST_F(TransferRun, StopDuringTheSecondFileThenStartResumesWithARange) {
    const std::string a = bytes(500, 4), b = bytes(40000, 5), c = bytes(700, 6);
    queue(line("/a.bin", "a.bin", 0, a.size()) + line("/b.bin", "b.bin", 0, b.size()) +
          line("/c.bin", "c.bin", 0, c.size()));
    const std::string head = ok(b).substr(0, ok(b).size() - b.size() + 15000);
    server_.script({Exchange::reply(ok(a)), Exchange::holdAfter(head)});
    onStatus_ = [this](const std::string& text) {
        if (text.rfind("Downloading 2 of 3 [", 0) == 0 && run_.current() != nullptr &&
            run_.current()->Downloaded > 0)
            run_.stop();
    };
    run_.run(destination_);
    onStatus_ = nullptr;

    EXPECT_EQ(information_,
              std::vector<std::string>{"Download canceled. Press Start to resume download."});
    EXPECT_EQ(beeps_, 1);
    ASSERT_EQ(downloads_->count(), 2);
    const int got = downloads_->at(0).Downloaded;
    EXPECT_GT(got, 0);
    EXPECT_TRUE(sameBytes(output("b.bin"), b.substr(0, static_cast<size_t>(got))));
    EXPECT_EQ(ExceptionList(), std::vector<std::string>{"* Connection aborted on request [" +
                                                        server_.url("/b.bin") + "]"});
    EXPECT_TRUE(has(queueFile(), "\tb.bin\t" + std::to_string(got) + "\t40000\r\n"));

    server_.script({Exchange::reply(partial(b, static_cast<size_t>(got))), Exchange::reply(ok(c))});
    run_.run(destination_);
    const auto requests = server_.requests();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_TRUE(has(requests[2], "Range: bytes=" + std::to_string(got) + "-\r\n"));
    EXPECT_FALSE(has(requests[3], "Range:"));
    EXPECT_TRUE(sameBytes(output("b.bin"), b)) << "b.bin";
    EXPECT_TRUE(sameBytes(output("c.bin"), c)) << "c.bin";
    EXPECT_EQ(queueFile(), "");
}

TEST_F(TransferRun, PartialFilesOfTheWrongSizeOrMissingStartOver) {
    const std::string a = bytes(2000, 7), b = bytes(1500, 8);
    queue(line("/a.bin", "a.bin", 800, a.size()) + line("/b.bin", "b.bin", 600, b.size()));
    Sandbox::writeFile(destination_ + "/a.bin", a.substr(0, 500)); // not the 800 counted
    server_.script({Exchange::reply(ok(a)), Exchange::reply(ok(b))});
    run_.run(destination_);
    for (const auto& request : server_.requests())
        EXPECT_FALSE(has(request, "Range:"));
    EXPECT_TRUE(sameBytes(output("a.bin"), a)) << "a.bin";
    EXPECT_TRUE(sameBytes(output("b.bin"), b)) << "b.bin";
    EXPECT_EQ(queueFile(), "");
}

TEST_F(TransferRun, AServerThatIgnoresTheRangeGivesTheWholeFileOnce) {
    const std::string a = bytes(5000, 9);
    queue(line("/a.bin", "a.bin", 1000, a.size()));
    Sandbox::writeFile(destination_ + "/a.bin", a.substr(0, 1000));
    server_.script({Exchange::reply(ok(a))});
    run_.run(destination_);
    ASSERT_EQ(server_.requests().size(), 1u);
    EXPECT_TRUE(has(server_.requests()[0], "Range: bytes=1000-\r\n"));
    EXPECT_TRUE(sameBytes(output("a.bin"), a)) << "a.bin";
    EXPECT_EQ(queueFile(), "");
    EXPECT_TRUE(questions_.empty());
}

TEST_F(TransferRun, ErrorAnswersAndRelocationBodiesNeverReachTheFile) {
    const std::string b = bytes(3000, 10);
    const std::string partialA = bytes(100, 11);
    queue(line("/old/b.bin", "b.bin", 0, b.size()) + line("/a.bin", "a.bin", 100, 400));
    Sandbox::writeFile(destination_ + "/a.bin", partialA);
    server_.script(
        {Exchange::reply(
             "HTTP/1.0 302 Found\r\nLocation: /b.bin\r\nContent-Length: 5\r\n\r\nmoved"),
         Exchange::reply(ok(b)),
         Exchange::reply("HTTP/1.0 404 Not Found\r\nContent-Length: 9\r\n\r\nnot here!")});
    run_.run(destination_);
    EXPECT_TRUE(sameBytes(output("b.bin"), b)) << "b.bin";
    EXPECT_TRUE(sameBytes(output("a.bin"), partialA)) << "a.bin";
    EXPECT_EQ(ExceptionList(),
              std::vector<std::string>{"* Not Found [" + server_.url("/a.bin") + "]"});
    EXPECT_EQ(queueFile(), line("/a.bin", "a.bin", 100, 400));
    EXPECT_TRUE(questions_.empty());
    // The files are built under temporary names; none is left behind.
    for (const auto& file : std::filesystem::directory_iterator(destination_))
        EXPECT_NE(file.path().filename().string().rfind(".fetchora-", 0), 0u) << file.path();
}

TEST_F(TransferRun, DuplicateNamesArePrefixedAndSaved) {
    const std::string a = bytes(10, 12);
    queue(line("/x/a.zip", "a.zip", 0, 10) + line("/y/A.ZIP", "A.ZIP", 0, 99));
    server_.script({Exchange::reply(ok(a)), Exchange::reply("HTTP/1.0 500 Broken\r\n\r\n")});
    run_.run(destination_);
    EXPECT_TRUE(sameBytes(output("00000_a.zip"), a)) << "00000_a.zip";
    EXPECT_FALSE(exists("a.zip"));
    EXPECT_EQ(queueFile(), line("/y/A.ZIP", "00001_A.ZIP", 0, 99));
}

TEST_F(TransferRun, OkInTheErrorQuestionEndsTheRunAndKeepsTheEntry) {
    queue("nohost\tfile.zip\t0\t10\r\n" + line("/b.bin", "b.bin", 0, 5));
    answers_.push_back(true);
    run_.run(destination_);
    ASSERT_EQ(questions_.size(), 1u);
    EXPECT_EQ(questions_[0],
              "URL: nohost Error: List index out of bounds (2) Press OK to cancel download.");
    EXPECT_TRUE(server_.requests().empty());
    EXPECT_EQ(downloads_->count(), 2);
    EXPECT_EQ(downloads_->at(0).URL, "nohost");
    EXPECT_FALSE(exists("file.zip"));
}

TEST_F(TransferRun, UnsafeFileNamesAreRefusedAndNothingIsWrittenOutsideTheFolder) {
    queue(line("/a.bin", "../escape.bin", 0, 3));
    run_.run(destination_);
    ASSERT_EQ(questions_.size(), 1u);
    EXPECT_TRUE(has(questions_[0], "Press OK to cancel download."));
    EXPECT_TRUE(server_.requests().empty());
    struct stat st {};
    EXPECT_NE(::stat(sandbox_.path("escape.bin").c_str(), &st), 0);
}

TEST_F(TransferRun, OnlyAnExactYBeepsAndStopOutsideARunSaysSo) {
    writeSettingText("Sound", "y");
    queue("");
    run_.run(destination_);
    EXPECT_EQ(beeps_, 0);
    EXPECT_EQ(statuses_.back(), "Download complete");
    run_.stop();
    EXPECT_EQ(information_, std::vector<std::string>{
                                "Download process is not running. Press Start to download."});
}

TEST_F(TransferRun, AQueueReloadedDuringARequestKeepsTheRunsEntry) {
    const std::string a = bytes(30000, 13), c = bytes(40, 14);
    queue(line("/a.bin", "a.bin", 0, a.size()) + line("/b.bin", "b.bin", 0, 77));
    server_.script({Exchange::pieces({ok(a).substr(0, 10000), ok(a).substr(10000)}, 100),
                    Exchange::reply(ok(c))});
    bool reloaded = false;
    onStatus_ = [&](const std::string& text) {
        if (reloaded || text.rfind("Downloading 1 of 2 [", 0) != 0)
            return;
        reloaded = true;
        // Another window removed b and added c while a is on its way.
        queue(line("/a.bin", "a.bin", 0, a.size()) + line("/c.bin", "c.bin", 0, c.size()));
        run_.reload();
        // Start while a run waits in its request starts no second run.
        run_.run(destination_);
    };
    run_.run(destination_);
    onStatus_ = nullptr;
    EXPECT_TRUE(reloaded);
    EXPECT_TRUE(sameBytes(output("a.bin"), a)) << "a.bin";
    EXPECT_TRUE(sameBytes(output("c.bin"), c)) << "c.bin";
    EXPECT_FALSE(exists("b.bin"));
    EXPECT_EQ(queueFile(), "");
    ASSERT_EQ(server_.requests().size(), 2u);
}

TEST_F(TransferRun, AReloadOfTheFileTheRunReadIsSkippedAndAChangedFileIsRead) {
    const std::string a = bytes(30000, 21);
    // The address keeps its capitals in the queue file and on the wire.
    queue(line("/Music/A.bin", "A.bin", 0, a.size()));
    server_.script({Exchange::pieces({ok(a).substr(0, 10000), ok(a).substr(10000)}, 100)});
    bool tried = false;
    bool kept = false;
    int afterChange = 0;
    onStatus_ = [&](const std::string& text) {
        if (tried || text.rfind("Downloading 1 of 1 [", 0) != 0)
            return;
        tried = true;
        const TDownloadList* before = downloads_.get();
        run_.reload();
        kept = downloads_.get() == before;
        queue(line("/Music/A.bin", "A.bin", 0, a.size()) + line("/n.bin", "n.bin", 0, 5));
        run_.reload();
        afterChange = downloads_->count();
    };
    run_.run(destination_);
    onStatus_ = nullptr;
    ASSERT_TRUE(tried);
    EXPECT_TRUE(kept) << "the file the run had read was read again";
    EXPECT_EQ(afterChange, 2);
    EXPECT_TRUE(sameBytes(output("A.bin"), a));
    ASSERT_EQ(server_.requests().size(), 1u);
    EXPECT_EQ(server_.requests()[0].rfind("GET /Music/A.bin HTTP/1.0\r\n", 0), 0u);
    EXPECT_EQ(queueFile(), line("/n.bin", "n.bin", 0, 5));
}

// A port on which nothing listens.
int refusedPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), length), 0);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

TEST_F(TransferRun, FailedRequestsEndTheRunWithErrorsAndShowTheErrorList) {
    const std::string refused = "http://127.0.0.1:" + std::to_string(refusedPort()) + "/b.bin";
    const struct {
        std::string url;
        std::vector<Exchange> replies;
        std::string line;
    } cases[] = {
        {server_.url("/a.bin"),
         {Exchange::reply("HTTP/1.0 404 Not Found\r\nContent-Length: 3\r\n\r\nno!")},
         "* Not Found [" + server_.url("/a.bin") + "]"},
        {refused, {}, "* Connection refused"},
        // No prompt is installed, so the password prompt counts as cancelled.
        {server_.url("/c.bin"),
         {Exchange::reply("HTTP/1.0 401 Unauthorized\r\nWWW-Authenticate: Basic "
                          "realm=\"x\"\r\nContent-Length: 0\r\n\r\n")},
         "* Unauthorized [" + server_.url("/c.bin") + "]"},
        // The server closes the connection after half the file, or resets it.
        {server_.url("/d.bin"),
         {Exchange::reply("HTTP/1.0 200 OK\r\n\r\n12345")},
         "* The answer ended before the end of the file [" + server_.url("/d.bin") + "]"},
        {server_.url("/e.bin"),
         {Exchange::resetAfter("HTTP/1.0 200 OK\r\nContent-Length: 10\r\n\r\n12345")},
         "* The answer ended before the end of the file [" + server_.url("/e.bin") + "]"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        ExceptionList().clear();
        shownErrors_.clear();
        queue(c.url + "\tfile.bin\t0\t10\r\n");
        server_.script(c.replies);
        run_.run(destination_);
        EXPECT_EQ(statuses_.back(), "Download ended with errors");
        ASSERT_EQ(shownErrors_.size(), 1u);
        ASSERT_EQ(shownErrors_[0].size(), 1u) << "one line for one failed request";
        EXPECT_EQ(shownErrors_[0][0].rfind(c.line, 0), 0u) << shownErrors_[0][0];
        EXPECT_EQ(beeps_, static_cast<int>(&c - cases) + 1);
    }
}

TEST_F(TransferRun, TheStatusCountStaysWithinTheRunsTotalWhenAReloadChangesTheQueue) {
    const std::string a = bytes(30000, 17);
    // The file is emptied elsewhere, or grows by three entries, while a is on its way.
    const std::string rewrites[] = {
        "", line("/a.bin", "a.bin", 0, a.size()) + line("/b.bin", "b.bin", 0, 5) +
                line("/p.bin", "p.bin", 0, 5) + line("/q.bin", "q.bin", 0, 5) +
                line("/r.bin", "r.bin", 0, 5)};
    for (const std::string& rewrite : rewrites) {
        queue(line("/a.bin", "a.bin", 0, a.size()) + line("/b.bin", "b.bin", 0, 5));
        server_.script({Exchange::pieces({ok(a).substr(0, 10000), ok(a).substr(10000)}, 50),
                        Exchange::reply(ok("bbbbb"))});
        bool reloaded = false;
        onStatus_ = [&](const std::string& text) {
            if (reloaded || text.rfind("Downloading 1 of 2 [", 0) != 0)
                return;
            reloaded = true;
            queue(rewrite);
            run_.reload();
        };
        statuses_.clear();
        run_.run(destination_);
        onStatus_ = nullptr;
        EXPECT_TRUE(reloaded);
        for (const std::string& text : statuses_) {
            int number = 0, total = 0, percent = 0;
            if (std::sscanf(text.c_str(), "Downloading %d of %d [%d%%]", &number, &total,
                            &percent) == 3) {
                EXPECT_GE(number, 1) << text;
                EXPECT_LE(number, total) << text;
            }
        }
    }
}

TEST_F(TransferRun, AMissingDestinationFolderEndsTheRunBeforeAnyRequest) {
    const std::string missing = sandbox_.path("no/such");
    queue(line("/a.bin", "a.bin", 0, 10) + line("/b.bin", "b.bin", 0, 10));
    const std::string before = queueFile();
    try {
        run_.run(missing);
        ADD_FAILURE() << "the run ended without an error";
    } catch (const std::exception& error) {
        EXPECT_TRUE(has(error.what(), missing + "/a.bin")) << error.what();
    }
    EXPECT_TRUE(questions_.empty());
    EXPECT_TRUE(server_.requests().empty());
    EXPECT_EQ(beeps_, 0);
    EXPECT_EQ(statuses_.back(), "Download ended with errors");
    EXPECT_EQ(queueFile(), before);
    EXPECT_FALSE(run_.running());
}

// Files of the process may grow to limit bytes while it lives; writes beyond fail with
// "File too large" instead of raising a signal.
class FileSizeLimit final {
public:
    explicit FileSizeLimit(rlim_t limit) {
        ::getrlimit(RLIMIT_FSIZE, &previous_);
        previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit lowered = previous_;
        lowered.rlim_cur = limit;
        ::setrlimit(RLIMIT_FSIZE, &lowered);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &previous_);
        std::signal(SIGXFSZ, previousHandler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit previous_{};
    void (*previousHandler_)(int) = nullptr;
};

TEST_F(TransferRun, AWriteThatFailsEndsTheRunAndLeavesTheFileAsItWas) {
    const std::string a = bytes(30000, 18);
    queue(line("/a.bin", "a.bin", 1000, a.size()) + line("/b.bin", "b.bin", 0, 10));
    Sandbox::writeFile(destination_ + "/a.bin", a.substr(0, 1000));
    server_.script({Exchange::reply(partial(a, 1000))});
    {
        const FileSizeLimit limit(8000);
        try {
            run_.run(destination_);
            ADD_FAILURE() << "the run ended without an error";
        } catch (const std::exception& error) {
            EXPECT_TRUE(has(error.what(), destination_ + "/a.bin")) << error.what();
        }
    }
    EXPECT_TRUE(sameBytes(output("a.bin"), a.substr(0, 1000)));
    EXPECT_EQ(folderEntries(), std::vector<std::string>{"a.bin"});
    EXPECT_EQ(server_.requests().size(), 1u);
    EXPECT_TRUE(questions_.empty());
    EXPECT_EQ(beeps_, 0);
    EXPECT_EQ(statuses_.back(), "Download ended with errors");
    // The entry keeps the count of the bytes on disk, so the next run continues them.
    EXPECT_EQ(queueFile(),
              line("/a.bin", "a.bin", 1000, a.size()) + line("/b.bin", "b.bin", 0, 10));
}

TEST_F(TransferRun, AFailedWriteUnderAFreeNameNamesThatFileAndKeepsTheUsersOwn) {
    // The user's own file is not the one that failed: the message names the free name.
    const std::string a = bytes(30000, 19);
    queue(line("/a.bin", "a.bin", 0, a.size()));
    Sandbox::writeFile(destination_ + "/a.bin", "mine");
    server_.script({Exchange::reply(ok(a))});
    {
        const FileSizeLimit limit(8000);
        try {
            run_.run(destination_);
            ADD_FAILURE() << "the run ended without an error";
        } catch (const std::exception& error) {
            EXPECT_TRUE(has(error.what(), destination_ + "/a (1).bin")) << error.what();
        }
    }
    EXPECT_EQ(Sandbox::readFile(destination_ + "/a.bin"), "mine");
    EXPECT_EQ(folderEntries(), std::vector<std::string>{"a.bin"});
}

TEST_F(TransferRun, APartialFileThatCannotBeReadAsksWithTheStreamError) {
    // Reading a process's memory file from its start fails, whoever runs the test.
    const std::string target = "/proc/self/mem";
    ASSERT_EQ(::symlink(target.c_str(), (destination_ + "/a.bin").c_str()), 0);
    queue(line("/a.bin", "a.bin", static_cast<int>(target.size()), 100));
    answers_.push_back(true);
    run_.run(destination_);
    ASSERT_EQ(questions_.size(), 1u);
    EXPECT_EQ(questions_[0], "URL: " + server_.url("/a.bin") + " Error: Cannot open file \"" +
                                 destination_ +
                                 "/a.bin\". Input/output error Press OK to cancel "
                                 "download.");
    EXPECT_TRUE(server_.requests().empty());
}

TEST_F(TransferRun, TemporaryFilesThatAKilledRunLeftGoAndNothingElseIsTouched) {
    const std::vector<std::string> others = {".hidden", "notes.txt", "x.fetchora-abcdef",
                                             ".a.bin.fetchora-abc"};
    for (const std::string& name : others)
        Sandbox::writeFile(destination_ + "/" + name, "mine");
    // Left by runs whose process was killed: of the entry in the queue and of another.
    Sandbox::writeFile(destination_ + "/.a.bin.fetchora-Ab12Cd", "partial");
    Sandbox::writeFile(destination_ + "/.gone.zip.fetchora-zz99ZZ", "partial");
    // Being written by another run at this moment, on a file system where files have a
    // name from the start.
    files::TempFile live(destination_, "c.bin", files::TempFile::Naming::Named);
    const std::string liveName = live.name().substr(destination_.size() + 1);

    queue(line("/a.bin", "a.bin", 0, 3));
    server_.script({Exchange::reply(ok("abc"))});
    run_.run(destination_);
    std::vector<std::string> expected = others;
    expected.emplace_back("a.bin");
    expected.push_back(liveName);
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(folderEntries(), expected);
    for (const std::string& name : others)
        EXPECT_EQ(output(name), "mine") << name;
}

TEST_F(TransferRun, AFileFromNothingTakesAFreeNameBesideOneThatIsThere) {
    Sandbox::writeFile(destination_ + "/a.bin", "mine");
    Sandbox::writeFile(destination_ + "/a (1).bin", "mine too");
    Sandbox::writeFile(destination_ + "/.config", "mine");
    Sandbox::writeFile(destination_ + "/c.bin", "mine");
    queue(line("/a.bin", "a.bin", 0, 5) + line("/.config", ".config", 0, 3) +
          line("/c.bin", "c.bin", 0, 10));
    // c.bin's answer ends after half the file.
    server_.script({Exchange::reply(ok("aaaaa")), Exchange::reply(ok("ccc")),
                    Exchange::reply("HTTP/1.0 200 OK\r\n\r\n12345")});
    run_.run(destination_);
    EXPECT_EQ(output("a.bin"), "mine");
    EXPECT_EQ(output("a (1).bin"), "mine too");
    EXPECT_EQ(output("a (2).bin"), "aaaaa");
    EXPECT_EQ(output(".config"), "mine");
    EXPECT_EQ(output(".config (1)"), "ccc");
    EXPECT_EQ(output("c.bin"), "mine");
    EXPECT_EQ(output("c (1).bin"), "12345");
    // The queue keeps the name, so the next run continues that file.
    EXPECT_EQ(queueFile(), line("/c.bin", "c (1).bin", 5, 10));
    server_.script({Exchange::reply(partial("1234567890", 5))});
    run_.run(destination_);
    EXPECT_TRUE(has(server_.requests().back(), "Range: bytes=5-\r\n"));
    EXPECT_EQ(output("c (1).bin"), "1234567890");
    EXPECT_EQ(output("c.bin"), "mine");
    EXPECT_EQ(queueFile(), "");
}

TEST_F(TransferRun, TheEndOfTheRunKeepsWhatOthersSavedMeanwhile) {
    const std::string a = bytes(20000, 19);
    queue(line("/a.bin", "a.bin", 0, a.size()) + line("/b.bin", "b.bin", 0, 10) +
          line("/c.bin", "c.bin", 0, 10));
    server_.script({Exchange::pieces({ok(a).substr(0, 5000), ok(a).substr(5000)}, 50),
                    Exchange::reply("HTTP/1.0 200 OK\r\n\r\n1234"),
                    Exchange::reply("HTTP/1.0 404 Not Found\r\nContent-Length: 0\r\n\r\n")});
    bool saved = false;
    onStatus_ = [&](const std::string& text) {
        if (saved || text.rfind("Downloading 1 of 3 [", 0) != 0)
            return;
        saved = true;
        // Another window appends n and the queue editor removes c, both after the last
        // reload of this run.
        queue(line("/a.bin", "a.bin", 0, a.size()) + line("/b.bin", "b.bin", 0, 10) +
              line("/n.bin", "n.bin", 0, 7));
    };
    run_.run(destination_);
    onStatus_ = nullptr;
    ASSERT_TRUE(saved);
    EXPECT_TRUE(sameBytes(output("a.bin"), a));
    // b keeps the count the run reached; n stays; c stays removed.
    EXPECT_EQ(queueFile(), line("/b.bin", "b.bin", 4, 10) + line("/n.bin", "n.bin", 0, 7));
    EXPECT_EQ(downloads_->count(), 2);
}

// Against nginx, started by the test command: a real server's ranges and files.
TEST_F(TransferRun, DownloadsAndResumesFromNginx) {
    const char* port = std::getenv("FETCHORA_NGINX_PORT");
    const char* root = std::getenv("FETCHORA_PEERS_ROOT");
    if (port == nullptr || root == nullptr)
        GTEST_SKIP()
            << "nginx is not running (FETCHORA_NGINX_PORT is unset); scripts/test.sh starts it";
    const std::string docroot = std::string(root) + "/www";
    const std::string big = bytes(size_t{3} * 1024 * 1024, 15), small = bytes(12345, 16);
    Sandbox::writeFile(docroot + "/run-big.bin", big);
    Sandbox::writeFile(docroot + "/run-small.bin", small);
    const std::string base = std::string("http://127.0.0.1:") + port;
    queue(base + "/run-big.bin\trun-big.bin\t0\t" + std::to_string(big.size()) + "\r\n" + base +
          "/run-small.bin\trun-small.bin\t0\t" + std::to_string(small.size()) + "\r\n");
    onStatus_ = [this](const std::string& text) {
        if (text.rfind("Downloading 1 of 2 [", 0) == 0 && run_.current() != nullptr &&
            run_.current()->Downloaded > 100000)
            run_.stop();
    };
    run_.run(destination_);
    onStatus_ = nullptr;
    ASSERT_EQ(downloads_->count(), 2);
    const int64_t got = downloads_->at(0).Downloaded;
    EXPECT_LT(got, static_cast<int64_t>(big.size()));
    EXPECT_TRUE(sameBytes(output("run-big.bin"), big.substr(0, static_cast<size_t>(got))));
    run_.run(destination_);
    EXPECT_TRUE(sameBytes(output("run-big.bin"), big)) << "run-big.bin";
    EXPECT_TRUE(sameBytes(output("run-small.bin"), small)) << "run-small.bin";
    EXPECT_EQ(queueFile(), "");
    std::remove((docroot + "/run-big.bin").c_str());
    std::remove((docroot + "/run-small.bin").c_str());
}

// A file of length bytes that holds only end, at its end; the rest is a hole.
void writeSparse(const std::string& path, int64_t length, const std::string& end) {
    Sandbox::writeFile(path, "");
    ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(length)), 0);
    const int fd = ::open(path.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    const auto at = static_cast<off_t>(length - static_cast<int64_t>(end.size()));
    ASSERT_EQ(::pwrite(fd, end.data(), end.size(), at), static_cast<ssize_t>(end.size()));
    ::close(fd);
}

// Against nginx: a file of 5 GB is queued by its probe and resumed from a partial file
// past 4 GB, with a range that only 64 bits can hold. Nothing but the last 4 KB travels.
TEST_F(TransferRun, ResumesAFilePastFourGigabytesFromNginx) {
    const char* port = std::getenv("FETCHORA_NGINX_PORT");
    const char* root = std::getenv("FETCHORA_PEERS_ROOT");
    if (port == nullptr || root == nullptr)
        GTEST_SKIP()
            << "nginx is not running (FETCHORA_NGINX_PORT is unset); scripts/test.sh starts it";
    const int64_t size = 5368709120LL;
    const std::string served = std::string(root) + "/www/run-5g.bin";
    const std::string tail = bytes(8192, 22);
    writeSparse(served, size, tail);
    const std::string url = std::string("http://127.0.0.1:") + port + "/run-5g.bin";

    auto entry = std::make_unique<TDownload>();
    ASSERT_TRUE(entry->Probe(url, client_)) << entry->ErrorText;
    EXPECT_EQ(entry->FileSize, size);
    // A run stopped 4 KB before the end left the partial file and its count.
    const std::string kept = destination_ + "/run-5g.bin";
    writeSparse(kept, size - 4096, tail.substr(0, 4096));
    entry->Downloaded = size - 4096;
    TDownloadList list;
    list.Add(std::move(entry));
    list.SaveToFile(listFile_);
    EXPECT_EQ(queueFile(), url + "\trun-5g.bin\t5368705024\t5368709120\r\n");

    run_.run(destination_);
    EXPECT_EQ(queueFile(), "");
    EXPECT_TRUE(information_.empty());
    struct stat st {};
    ASSERT_EQ(::stat(kept.c_str(), &st), 0);
    EXPECT_EQ(static_cast<int64_t>(st.st_size), size);
    std::string end(tail.size(), '\0');
    const int fd = ::open(kept.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(::pread(fd, end.data(), end.size(), static_cast<off_t>(size) - 8192), 8192);
    ::close(fd);
    EXPECT_TRUE(sameBytes(end, tail));
    std::remove(served.c_str());
    std::remove(kept.c_str());
}

} // namespace
} // namespace fetchora
