// TlsSession: the client side of one TLS connection over a non-blocking socket descriptor
// that is already connected. It never blocks and never waits: each call does what the
// socket allows now and says whether it needs the socket to become readable or writable
// before it can go on. The server's certificate and host name are checked against the
// system's store (SSL_CERT_FILE and SSL_CERT_DIR as the environment names them when the
// session is made).
#pragma once

#include <memory>
#include <string>

namespace fetchora::tls {

// What a step of a session came to.
enum class Progress {
    Done,      // the step finished (handshake complete, bytes moved)
    WantRead,  // call again when the socket is readable
    WantWrite, // call again when the socket is writable
    Closed,    // the peer ended the session (close_notify or the end of the stream)
    Failed,    // the session is broken: failure() tells why
};

// The outcome of a read, peek or write: the bytes moved when progress is Done.
struct IoResult {
    Progress progress = Progress::Failed;
    int count = 0;
};

class TlsSession final {
public:
    // A session for the connected descriptor fd that expects a certificate for host (a
    // name, or a dotted IPv4 address checked as an address). Null, with error set, when
    // the TLS library cannot make one.
    static std::unique_ptr<TlsSession> create(int fd, const std::string& host, std::string& error);
    ~TlsSession();
    TlsSession(const TlsSession&) = delete;
    TlsSession& operator=(const TlsSession&) = delete;

    // One step of the handshake: Done once the server is verified and the session set up.
    Progress handshake();
    // Reads up to len decrypted bytes.
    IoResult read(void* buffer, int len);
    // Makes the next record's bytes ready without taking them: the count ready now.
    IoResult peek();
    // Encrypts and sends up to len bytes; after WantRead or WantWrite the same bytes must
    // be offered again.
    IoResult write(const void* buffer, int len);
    // Decrypted bytes held inside the session, ready for read without the socket.
    int pending() const;
    // Whether the session holds bytes of the peer that no socket readiness will announce
    // (decrypted, or read from the socket and not yet decrypted).
    bool hasBuffered() const;
    // Sends close_notify when the socket takes it now; never waits for the peer's.
    void shutdown();

    // Why the session failed, in words a person understands: "certificate has expired",
    // "host name does not match", "TLS handshake failed: ...".
    const std::string& failure() const { return failure_; }

private:
    struct Impl;
    explicit TlsSession(std::unique_ptr<Impl> impl);
    Progress fail(int sslResult, int sslError);
    IoResult ioResult(int result);

    std::unique_ptr<Impl> impl_;
    std::string failure_;
    bool handshakeDone_ = false;
};

} // namespace fetchora::tls
