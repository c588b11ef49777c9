// The scripted loopback peer: a thread that accepts on 127.0.0.1, reads and records each
// request, and plays the exchanges of its script with plain POSIX sockets.
#include "support/loopback_server.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace fetchora::testing {

namespace {

constexpr int kPollMs = 20;

void setNonBlocking(int fd) {
    const int flags = ::fcntl(fd, F_GETFL, 0);
    ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

// Waits for events on fd for up to ms; the revents, 0 on timeout.
short waitFor(int fd, short events, int ms) {
    pollfd entry{fd, events, 0};
    const int ready = ::poll(&entry, 1, ms);
    return ready > 0 ? entry.revents : 0;
}

char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// The Content-Length of a header, 0 when it names none.
std::size_t contentLength(const std::string& header) {
    static const std::string name = "content-length:";
    std::size_t lineStart = 0;
    while (lineStart < header.size()) {
        std::size_t lineEnd = header.find('\n', lineStart);
        if (lineEnd == std::string::npos)
            lineEnd = header.size();
        if (lineEnd - lineStart > name.size()) {
            bool match = true;
            for (std::size_t i = 0; i < name.size() && match; ++i)
                match = lower(header[lineStart + i]) == name[i];
            if (match) {
                std::size_t value = 0;
                for (std::size_t i = lineStart + name.size(); i < lineEnd; ++i) {
                    const char c = header[i];
                    if (c >= '0' && c <= '9')
                        value = value * 10 + static_cast<std::size_t>(c - '0');
                    else if (c != ' ' && c != '\t' && c != '\r')
                        break;
                }
                return value;
            }
        }
        lineStart = lineEnd + 1;
    }
    return 0;
}

// Where the header in data ends (just after its empty line), npos while incomplete.
std::size_t headerEnd(const std::string& data) {
    const std::size_t crlf = data.find("\r\n\r\n");
    const std::size_t lf = data.find("\n\n");
    if (crlf == std::string::npos && lf == std::string::npos)
        return std::string::npos;
    if (crlf != std::string::npos && (lf == std::string::npos || crlf + 2 <= lf))
        return crlf + 4;
    return lf + 2;
}

} // namespace

// ---- Exchange ----

Exchange Exchange::reply(std::string bytes) {
    Exchange exchange;
    exchange.steps.push_back({Step::Kind::Send, std::move(bytes), 0});
    return exchange;
}

Exchange Exchange::replyKeepOpen(std::string bytes) {
    Exchange exchange = reply(std::move(bytes));
    exchange.end = End::KeepOpen;
    return exchange;
}

Exchange Exchange::pieces(std::vector<std::string> parts, int pauseMs) {
    Exchange exchange;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i > 0)
            exchange.steps.push_back({Step::Kind::Pause, {}, pauseMs});
        exchange.steps.push_back({Step::Kind::Send, std::move(parts[i]), 0});
    }
    return exchange;
}

Exchange Exchange::slowly(const std::string& bytes, std::size_t chunk, int pauseMs) {
    std::vector<std::string> parts;
    if (chunk == 0)
        chunk = 1;
    for (std::size_t at = 0; at < bytes.size(); at += chunk)
        parts.push_back(bytes.substr(at, chunk));
    return pieces(std::move(parts), pauseMs);
}

Exchange Exchange::closeWithoutAnswer() {
    return Exchange{};
}

Exchange Exchange::resetAfter(std::string bytes) {
    Exchange exchange = reply(std::move(bytes));
    exchange.end = End::Reset;
    return exchange;
}

Exchange Exchange::holdAfter(std::string bytes) {
    Exchange exchange = reply(std::move(bytes));
    exchange.end = End::Hold;
    return exchange;
}

Exchange Exchange::greet(std::string bytes) {
    Exchange exchange = reply(std::move(bytes));
    exchange.read = Read::Nothing;
    return exchange;
}

Exchange Exchange::swallow(std::size_t limit) {
    Exchange exchange;
    exchange.read = Read::All;
    exchange.until = limit;
    return exchange;
}

Exchange Exchange::after(int ms) const {
    Exchange copy = *this;
    copy.delayMs = ms;
    return copy;
}

// ---- LoopbackServer ----

LoopbackServer::LoopbackServer(int receiveBuffer) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener_ < 0)
        throw std::runtime_error("loopback server: no socket");
    const int on = 1;
    ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (receiveBuffer > 0) // inherited by accepted connections
        ::setsockopt(listener_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_, 16) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(listener_);
        throw std::runtime_error("loopback server: cannot listen");
    }
    setNonBlocking(listener_);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { run(); });
}

LoopbackServer::~LoopbackServer() {
    {
        const std::lock_guard guard(lock_);
        stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
    ::close(listener_);
}

void LoopbackServer::script(std::vector<Exchange> exchanges) {
    {
        const std::lock_guard guard(lock_);
        for (auto& exchange : exchanges)
            script_.push_back(std::move(exchange));
        started_ = true;
    }
    changed_.notify_all();
}

std::vector<std::string> LoopbackServer::requests() const {
    const std::lock_guard guard(lock_);
    return requests_;
}

std::vector<int> LoopbackServer::requestConnections() const {
    const std::lock_guard guard(lock_);
    return requestConnections_;
}

int LoopbackServer::connections() const {
    const std::lock_guard guard(lock_);
    return connections_;
}

bool LoopbackServer::waitForRequests(std::size_t count, int timeoutMs) const {
    std::unique_lock guard(lock_);
    return changed_.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                             [&] { return requests_.size() >= count; });
}

bool LoopbackServer::waitForScript(int timeoutMs) const {
    std::unique_lock guard(lock_);
    return changed_.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                             [&] { return script_.empty() && playing_ == 0; });
}

bool LoopbackServer::stopping() const {
    const std::lock_guard guard(lock_);
    return stop_;
}

void LoopbackServer::sleepMs(int ms) const {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!stopping() && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min(ms, 5)));
}

void LoopbackServer::record(std::string request) {
    {
        const std::lock_guard guard(lock_);
        requests_.push_back(std::move(request));
        requestConnections_.push_back(connections_ - 1);
    }
    changed_.notify_all();
}

bool LoopbackServer::accept(int& connection) {
    if (!(waitFor(listener_, POLLIN, kPollMs) & POLLIN))
        return false;
    const int accepted = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (accepted < 0)
        return false;
    connection = accepted;
    {
        const std::lock_guard guard(lock_);
        ++connections_;
    }
    changed_.notify_all();
    return true;
}

bool LoopbackServer::readRequest(int connection, std::string& pending, const Exchange& exchange) {
    char buffer[16384];
    for (;;) {
        if (exchange.read == Exchange::Read::Request) {
            const std::size_t end = headerEnd(pending);
            if (end != std::string::npos) {
                const std::size_t total = end + contentLength(pending.substr(0, end));
                if (pending.size() >= total) {
                    record(pending.substr(0, total));
                    pending.erase(0, total);
                    return true;
                }
            }
        } else if (exchange.until != 0 && pending.size() >= exchange.until) {
            record(pending.substr(0, exchange.until));
            pending.erase(0, exchange.until);
            return true;
        }
        if (stopping())
            return false;
        if (!(waitFor(connection, POLLIN, kPollMs) & (POLLIN | POLLHUP | POLLERR)))
            continue;
        const ssize_t count = ::recv(connection, buffer, sizeof buffer, 0);
        if (count > 0) {
            pending.append(buffer, static_cast<std::size_t>(count));
            continue;
        }
        if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
            continue;
        // The peer has closed (or reset): what came is recorded as it is.
        if (!pending.empty() || exchange.read == Exchange::Read::All)
            record(pending);
        pending.clear();
        return exchange.read == Exchange::Read::All;
    }
}

void LoopbackServer::play(int connection, const Exchange& exchange) {
    for (const Step& step : exchange.steps) {
        if (step.kind == Step::Kind::Pause) {
            sleepMs(step.ms);
            continue;
        }
        std::size_t sent = 0;
        while (sent < step.bytes.size() && !stopping()) {
            const ssize_t count = ::send(connection, step.bytes.data() + sent,
                                         step.bytes.size() - sent, MSG_NOSIGNAL);
            if (count > 0) {
                sent += static_cast<std::size_t>(count);
                continue;
            }
            if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
                waitFor(connection, POLLOUT, kPollMs);
                continue;
            }
            return; // the peer is gone
        }
    }
}

void LoopbackServer::finish(int& connection, const Exchange& exchange) {
    char buffer[4096];
    switch (exchange.end) {
    case Exchange::End::KeepOpen:
        return;
    case Exchange::End::Reset: {
        const linger hard{1, 0};
        ::setsockopt(connection, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        break;
    }
    case Exchange::End::Close:
    case Exchange::End::Hold: {
        // Closing with unread input would reset the connection and could destroy data
        // still on its way to the peer: shut down first and read until the peer closes.
        if (exchange.end == Exchange::End::Close)
            ::shutdown(connection, SHUT_WR);
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (!stopping()) {
            if (exchange.end == Exchange::End::Close && std::chrono::steady_clock::now() > limit)
                break;
            if (!(waitFor(connection, POLLIN, kPollMs) & (POLLIN | POLLHUP | POLLERR)))
                continue;
            const ssize_t count = ::recv(connection, buffer, sizeof buffer, 0);
            if (count == 0 || (count < 0 && errno != EAGAIN && errno != EINTR))
                break;
        }
        break;
    }
    }
    ::close(connection);
    connection = -1;
}

void LoopbackServer::run() {
    int connection = -1;
    std::string pending;
    for (;;) {
        Exchange exchange;
        bool scripted = false;
        {
            std::unique_lock guard(lock_);
            changed_.wait(guard, [&] { return stop_ || started_; });
            if (stop_)
                break;
        }
        if (connection < 0) {
            if (!accept(connection))
                continue;
            pending.clear();
        }
        // The exchange is chosen once a connection is there, so that a script appended
        // while the server waited for the connection is played on it.
        {
            const std::lock_guard guard(lock_);
            if (!script_.empty()) {
                exchange = std::move(script_.front());
                script_.pop_front();
                ++playing_;
                scripted = true;
            }
        }
        if (scripted) {
            sleepMs(exchange.delayMs);
            if (exchange.read == Exchange::Read::Nothing ||
                readRequest(connection, pending, exchange))
                play(connection, exchange);
            else
                exchange.end = Exchange::End::Reset; // the peer went away mid-request
            finish(connection, exchange);
            {
                const std::lock_guard guard(lock_);
                --playing_;
            }
            changed_.notify_all();
            continue;
        }
        // Past the script: record the request and close without answering.
        Exchange closing = Exchange::closeWithoutAnswer();
        readRequest(connection, pending, closing);
        closing.end = Exchange::End::Reset;
        finish(connection, closing);
    }
    if (connection >= 0)
        ::close(connection);
}

} // namespace fetchora::testing
