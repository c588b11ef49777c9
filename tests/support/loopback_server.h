// A scripted HTTP peer on 127.0.0.1 for wire tests: it listens on a free port, records
// every request exactly as it came (the header up to its empty line, plus the body that
// Content-Length announces) and plays a script of exchanges, one per request, on
// successive connections or on one kept-open connection.
//
//     LoopbackServer server;
//     server.script({Exchange::reply("HTTP/1.0 401 Unauthorized\r\n...\r\n\r\n"),
//                    Exchange::reply("HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok")});
//     client.URL = server.url("/file.zip");
//     ...
//     EXPECT_EQ(server.requests()[1], "GET /file.zip HTTP/1.0\r\n...\r\n\r\n");
//
// The server runs on its own thread with plain POSIX sockets. After the script is
// played, further requests are recorded and their connections closed without answer.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace fetchora::testing {

// One step of an answer.
struct Step {
    enum class Kind { Send, Pause };
    Kind kind = Kind::Send;
    std::string bytes; // for Send
    int ms = 0;        // for Pause
};

// What the server does for one request.
struct Exchange {
    // How the request is read before answering.
    enum class Read {
        Request, // the header up to its empty line, and a Content-Length body
        Nothing, // answer at once, without reading
        All,     // everything until the peer shuts down or closes (or until `until` bytes)
    };
    // What happens to the connection after the answer.
    enum class End {
        Close,    // shut down for sending, let the peer close, then close
        KeepOpen, // the next exchange is played on the same connection
        Reset,    // close at once with a reset (RST)
        Hold,     // keep silent and open until the peer closes or the server stops
    };

    Read read = Read::Request;
    std::size_t until = 0; // for Read::All: stop after this many bytes (0: no limit)
    int delayMs = 0;       // waits this long after accepting before reading anything
    std::vector<Step> steps;
    End end = End::Close;

    // Reads the request, sends bytes, closes.
    static Exchange reply(std::string bytes);
    // Reads the request, sends bytes, keeps the connection for the next exchange.
    static Exchange replyKeepOpen(std::string bytes);
    // Reads the request, sends each piece with a pause of pauseMs between them, closes.
    static Exchange pieces(std::vector<std::string> parts, int pauseMs);
    // Reads the request, sends bytes chunk bytes at a time with a pause between, closes.
    static Exchange slowly(const std::string& bytes, std::size_t chunk, int pauseMs);
    // Reads the request and closes without answering.
    static Exchange closeWithoutAnswer();
    // Reads the request, sends bytes (for example a header only), then resets.
    static Exchange resetAfter(std::string bytes);
    // Reads the request, sends bytes, then stays silent until the peer gives up.
    static Exchange holdAfter(std::string bytes);
    // Sends bytes as soon as the connection is accepted, without reading, and closes.
    static Exchange greet(std::string bytes);
    // Records everything the peer sends until it closes (or limit bytes), answers
    // nothing, closes.
    static Exchange swallow(std::size_t limit = 0);
    // Returns a copy that waits ms after accepting before it reads (so the peer's sends
    // fill the buffers and would block).
    Exchange after(int ms) const;
};

class LoopbackServer final {
public:
    // Listens on 127.0.0.1 on a free port. A receiveBuffer above 0 makes the accepted
    // connections' receive buffers that small, so that a peer's sends soon would block.
    explicit LoopbackServer(int receiveBuffer = 0);
    ~LoopbackServer(); // stops the thread and closes every socket
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    // Appends exchanges to the script; the first call starts serving.
    void script(std::vector<Exchange> exchanges);

    std::uint16_t port() const { return port_; }
    std::string portText() const { return std::to_string(port_); }
    // "127.0.0.1:<port>"
    std::string hostPort() const { return "127.0.0.1:" + portText(); }
    // "http://127.0.0.1:<port>" + path
    std::string url(const std::string& path = "/") const { return "http://" + hostPort() + path; }

    // Every request recorded so far, exactly as received.
    std::vector<std::string> requests() const;
    // For each recorded request, the number (from 0) of the connection it came on.
    std::vector<int> requestConnections() const;
    // Number of connections accepted so far.
    int connections() const;
    // Waits (without pumping any event loop) until count requests are recorded.
    bool waitForRequests(std::size_t count, int timeoutMs = 5000) const;
    // Waits until every exchange of the script has been played.
    bool waitForScript(int timeoutMs = 5000) const;

private:
    void run();
    bool accept(int& connection);
    bool readRequest(int connection, std::string& pending, const Exchange& exchange);
    void play(int connection, const Exchange& exchange);
    void finish(int& connection, const Exchange& exchange);
    bool stopping() const;
    void record(std::string request);
    void sleepMs(int ms) const;

    int listener_ = -1;
    std::uint16_t port_ = 0;
    std::thread thread_;
    mutable std::mutex lock_;
    mutable std::condition_variable changed_;
    std::deque<Exchange> script_;
    bool started_ = false;
    bool stop_ = false;
    int playing_ = 0; // exchanges taken from the script and not yet finished
    std::vector<std::string> requests_;
    std::vector<int> requestConnections_;
    int connections_ = 0;
};

} // namespace fetchora::testing
