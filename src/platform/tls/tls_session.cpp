// TlsSession over OpenSSL: one client context for the process (remade when the
// environment names another certificate store), sessions on non-blocking descriptors,
// and the failures of the handshake and of the certificate check in plain words.
#include "platform/tls/tls_session.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace fetchora::tls {

namespace {

// The reason of the TLS library's last error ("sslv3 alert handshake failure").
std::string lastLibraryError() {
    const unsigned long code = ERR_peek_last_error();
    const char* reason = code != 0 ? ERR_reason_error_string(code) : nullptr;
    return reason != nullptr ? std::string(reason) : std::string("unknown error");
}

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value == nullptr ? std::string() : std::string(value);
}

// The client context, shared by every session. SSL_CTX_set_default_verify_paths reads
// SSL_CERT_FILE and SSL_CERT_DIR when it runs, so a change of either makes a new context;
// sessions made before keep theirs (each session holds a reference to its context).
class ClientContext final {
public:
    // A reference the caller must give back with SSL_CTX_free; null when none can be made.
    SSL_CTX* acquire(std::string& error) {
        const std::lock_guard guard(lock_);
        const std::string file = environment("SSL_CERT_FILE");
        const std::string dir = environment("SSL_CERT_DIR");
        if (context_ == nullptr || file != file_ || dir != dir_) {
            SSL_CTX* fresh = make(error);
            if (fresh == nullptr)
                return nullptr;
            SSL_CTX_free(context_);
            context_ = fresh;
            file_ = file;
            dir_ = dir;
        }
        SSL_CTX_up_ref(context_);
        return context_;
    }

private:
    static SSL_CTX* make(std::string& error) {
        SSL_CTX* context = SSL_CTX_new(TLS_client_method());
        if (context == nullptr) {
            error = "TLS is not available: " + lastLibraryError();
            return nullptr;
        }
        SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
        SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
        // A server that ends the stream without close_notify ends it all the same: the
        // body's own length tells a cut response, as it does without TLS.
        SSL_CTX_set_options(context, SSL_OP_IGNORE_UNEXPECTED_EOF | SSL_OP_NO_RENEGOTIATION);
        SSL_CTX_set_mode(context, SSL_MODE_ENABLE_PARTIAL_WRITE |
                                      SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER |
                                      SSL_MODE_RELEASE_BUFFERS);
        if (SSL_CTX_set_default_verify_paths(context) != 1) {
            error = "TLS certificate store cannot be read: " + lastLibraryError();
            SSL_CTX_free(context);
            return nullptr;
        }
        return context;
    }

    std::mutex lock_;
    SSL_CTX* context_ = nullptr;
    std::string file_;
    std::string dir_;
};

// Never destroyed: sessions may outlive static destruction order.
ClientContext& clientContext() {
    static auto* instance = new ClientContext;
    return *instance;
}

bool isDottedAddress(const std::string& host) {
    in_addr address{};
    return ::inet_pton(AF_INET, host.c_str(), &address) == 1;
}

// The certificate check's failure in words.
std::string verifyFailure(long result) {
    switch (result) {
    case X509_V_ERR_HOSTNAME_MISMATCH:
        return "host name does not match the certificate";
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
        return "IP address does not match the certificate";
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_CERT_UNTRUSTED:
        return std::string("certificate is not trusted: ") + X509_verify_cert_error_string(result);
    default:
        return X509_verify_cert_error_string(result);
    }
}

} // namespace

struct TlsSession::Impl {
    SSL* ssl = nullptr;
    ~Impl() { SSL_free(ssl); }
};

TlsSession::TlsSession(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

TlsSession::~TlsSession() = default;

std::unique_ptr<TlsSession> TlsSession::create(int fd, const std::string& host,
                                               std::string& error) {
    ERR_clear_error();
    SSL_CTX* context = clientContext().acquire(error);
    if (context == nullptr)
        return nullptr;
    auto impl = std::make_unique<Impl>();
    impl->ssl = SSL_new(context);
    SSL_CTX_free(context); // the session holds its own reference now
    if (impl->ssl == nullptr || SSL_set_fd(impl->ssl, fd) != 1) {
        error = "TLS session cannot be made: " + lastLibraryError();
        return nullptr;
    }
    SSL* ssl = impl->ssl;
    bool checked = false;
    if (isDottedAddress(host)) {
        // An address is checked against the certificate's IP entries; it is no server name.
        checked = X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), host.c_str()) == 1;
    } else {
        SSL_set_hostflags(ssl, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        // The server name indication (SSL_set_tlsext_host_name, without its C cast).
        checked = SSL_ctrl(ssl, SSL_CTRL_SET_TLSEXT_HOSTNAME, TLSEXT_NAMETYPE_host_name,
                           const_cast<char*>(host.c_str())) == 1 &&
                  SSL_set1_host(ssl, host.c_str()) == 1;
    }
    if (!checked) {
        error = "TLS cannot check the host name \"" + host + "\"";
        return nullptr;
    }
    SSL_set_connect_state(ssl);
    return std::unique_ptr<TlsSession>(new TlsSession(std::move(impl)));
}

Progress TlsSession::fail(int sslResult, int sslError) {
    const int savedErrno = errno;
    const std::string stage = handshakeDone_ ? "TLS connection failed: " : "TLS handshake failed: ";
    if (!handshakeDone_) {
        const long verify = SSL_get_verify_result(impl_->ssl);
        if (verify != X509_V_OK) {
            failure_ = verifyFailure(verify);
            ERR_clear_error();
            return Progress::Failed;
        }
    }
    if (sslError == SSL_ERROR_SSL && !handshakeDone_ &&
        ERR_GET_REASON(ERR_peek_last_error()) == SSL_R_WRONG_VERSION_NUMBER) {
        // What a plain HTTP server's answer to a ClientHello looks like.
        failure_ = stage + "the server does not speak TLS (wrong version number)";
    } else if (sslError == SSL_ERROR_SSL) {
        failure_ = stage + lastLibraryError();
    } else if (sslError == SSL_ERROR_SYSCALL && sslResult != 0 && savedErrno != 0) {
        failure_ = stage + std::strerror(savedErrno);
    } else {
        failure_ = stage + "the server closed the connection";
    }
    ERR_clear_error();
    return Progress::Failed;
}

Progress TlsSession::handshake() {
    if (handshakeDone_)
        return Progress::Done;
    ERR_clear_error();
    const int result = SSL_connect(impl_->ssl);
    if (result == 1) {
        handshakeDone_ = true;
        return Progress::Done;
    }
    const int error = SSL_get_error(impl_->ssl, result);
    if (error == SSL_ERROR_WANT_READ)
        return Progress::WantRead;
    if (error == SSL_ERROR_WANT_WRITE)
        return Progress::WantWrite;
    return fail(result, error);
}

IoResult TlsSession::ioResult(int result) {
    if (result > 0)
        return {Progress::Done, result};
    const int error = SSL_get_error(impl_->ssl, result);
    switch (error) {
    case SSL_ERROR_WANT_READ:
        return {Progress::WantRead, 0};
    case SSL_ERROR_WANT_WRITE:
        return {Progress::WantWrite, 0};
    case SSL_ERROR_ZERO_RETURN:
        ERR_clear_error();
        return {Progress::Closed, 0};
    default:
        return {fail(result, error), 0};
    }
}

IoResult TlsSession::read(void* buffer, int len) {
    if (len <= 0)
        return {Progress::Done, 0};
    ERR_clear_error();
    return ioResult(SSL_read(impl_->ssl, buffer, len));
}

IoResult TlsSession::peek() {
    const int ready = SSL_pending(impl_->ssl);
    if (ready > 0)
        return {Progress::Done, ready};
    char probe = 0;
    ERR_clear_error();
    const IoResult result = ioResult(SSL_peek(impl_->ssl, &probe, 1));
    if (result.progress != Progress::Done)
        return result;
    return {Progress::Done, std::max(SSL_pending(impl_->ssl), 1)};
}

IoResult TlsSession::write(const void* buffer, int len) {
    if (len <= 0)
        return {Progress::Done, 0};
    ERR_clear_error();
    return ioResult(SSL_write(impl_->ssl, buffer, len));
}

int TlsSession::pending() const {
    return SSL_pending(impl_->ssl);
}

bool TlsSession::hasBuffered() const {
    return SSL_has_pending(impl_->ssl) == 1;
}

void TlsSession::shutdown() {
    if (!handshakeDone_ || (SSL_get_shutdown(impl_->ssl) & SSL_SENT_SHUTDOWN) != 0)
        return;
    ERR_clear_error();
    SSL_shutdown(impl_->ssl);
    ERR_clear_error();
}

} // namespace fetchora::tls
