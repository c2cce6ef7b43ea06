#include "transfer/ftp/ftp_tls.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <utility>

#include <arpa/inet.h>
#include <poll.h>

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

namespace ts {
namespace {

std::string openSslErrorText() {
    std::string text;
    while (unsigned long code = ERR_get_error()) {
        char buffer[256];
        ERR_error_string_n(code, buffer, sizeof buffer);
        if (!text.empty()) text += "; ";
        text += buffer;
    }
    return text.empty() ? "no further detail" : text;
}

bool isAddress(const std::string& host) {
    unsigned char raw[16];
    return inet_pton(AF_INET, host.c_str(), raw) == 1 || inet_pton(AF_INET6, host.c_str(), raw) == 1;
}

std::string sha256Fingerprint(X509* certificate) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!X509_digest(certificate, EVP_sha256(), digest, &length)) return "";
    static const char hex[] = "0123456789ABCDEF";
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        if (i) text += ':';
        text += hex[digest[i] >> 4];
        text += hex[digest[i] & 15];
    }
    return text;
}

// Marks the SSL objects of control connections, whose sessions the data connections resume.
int controlMarker;

}  // namespace

std::optional<std::string> normalizeFingerprint(const std::string& text) {
    std::string digits;
    for (char c : text) {
        if (c == ':') continue;
        if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
        digits += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    if (digits.size() != 64) return std::nullopt;
    std::string normalized;
    for (size_t i = 0; i < digits.size(); i += 2) {
        if (i) normalized += ':';
        normalized += digits.substr(i, 2);
    }
    return normalized;
}

struct FtpTlsContext::Impl {
    SSL_CTX* ctx = nullptr;
    std::string host;
    std::string pinned;
    std::string fingerprint;  // of the control connection's certificate
    SSL_SESSION* session = nullptr;

    static int onNewSession(SSL* ssl, SSL_SESSION* session) {
        if (SSL_get_app_data(ssl) != &controlMarker) return 0;
        auto* self = static_cast<Impl*>(SSL_CTX_get_app_data(SSL_get_SSL_CTX(ssl)));
        if (self->session) SSL_SESSION_free(self->session);
        self->session = session;
        return 1;  // the reference is ours now
    }
};

FtpTlsContext::FtpTlsContext(std::string host, std::string pinned) : impl_(std::make_unique<Impl>()) {
    impl_->host = std::move(host);
    impl_->pinned = std::move(pinned);
    impl_->ctx = SSL_CTX_new(TLS_client_method());
    if (!impl_->ctx) throw EFtpError("Cannot set up TLS: " + openSslErrorText());
    // TLS 1.2 or 1.3, whichever the server offers last (a data connection resumes the control
    // connection's session, and so its version).
    SSL_CTX_set_min_proto_version(impl_->ctx, TLS1_2_VERSION);
    SSL_CTX_set_default_verify_paths(impl_->ctx);
    // A server that drops the connection without close_notify ends the stream, nothing worse:
    // the FTP replies say whether a transfer was complete.
    SSL_CTX_set_options(impl_->ctx, SSL_OP_IGNORE_UNEXPECTED_EOF);
    SSL_CTX_set_session_cache_mode(impl_->ctx, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
    SSL_CTX_sess_set_new_cb(impl_->ctx, &Impl::onNewSession);
    SSL_CTX_set_app_data(impl_->ctx, impl_.get());
}

FtpTlsContext::~FtpTlsContext() {
    if (impl_->session) SSL_SESSION_free(impl_->session);
    SSL_CTX_free(impl_->ctx);
}

FtpChannel::~FtpChannel() { close(); }

FtpChannel::FtpChannel(FtpChannel&& other) noexcept
    : socket_(std::move(other.socket_)), ssl_(std::exchange(other.ssl_, nullptr)), fingerprint_(std::move(other.fingerprint_)) {}

FtpChannel& FtpChannel::operator=(FtpChannel&& other) noexcept {
    if (this != &other) {
        close();
        socket_ = std::move(other.socket_);
        ssl_ = std::exchange(other.ssl_, nullptr);
        fingerprint_ = std::move(other.fingerprint_);
    }
    return *this;
}

void FtpChannel::close() noexcept {
    if (ssl_) SSL_free(std::exchange(ssl_, nullptr));
    socket_.close();
}

template <typename Operation>
int FtpChannel::drive(Operation operation, Milliseconds timeout, const char* what) {
    for (;;) {
        ERR_clear_error();
        int result = operation();
        if (result > 0) return result;
        int error = SSL_get_error(ssl_, result);
        switch (error) {
            case SSL_ERROR_WANT_READ:
                socket_.waitFor(POLLIN, timeout, what);
                break;
            case SSL_ERROR_WANT_WRITE:
                socket_.waitFor(POLLOUT, timeout, what);
                break;
            case SSL_ERROR_ZERO_RETURN:
                return 0;
            case SSL_ERROR_SYSCALL:
                if (ERR_peek_error() == 0) {
                    if (errno == 0) return 0;
                    throw ESocketError(std::string("TLS connection failed: ") + std::strerror(errno));
                }
                [[fallthrough]];
            default:
                throw EFtpError("TLS failed: " + openSslErrorText());
        }
    }
}

void FtpChannel::startTls(FtpTlsContext& context, Role role, Milliseconds timeout) {
    FtpTlsContext::Impl& tls = context.impl();
    ssl_ = SSL_new(tls.ctx);
    if (!ssl_ || !SSL_set_fd(ssl_, socket_.descriptor())) throw EFtpError("Cannot set up TLS: " + openSslErrorText());
    if (role == Role::Control) {
        SSL_set_app_data(ssl_, &controlMarker);
        if (!isAddress(tls.host)) SSL_set_tlsext_host_name(ssl_, tls.host.c_str());
        X509_VERIFY_PARAM* param = SSL_get0_param(ssl_);
        X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        if (isAddress(tls.host))
            X509_VERIFY_PARAM_set1_ip_asc(param, tls.host.c_str());
        else
            X509_VERIFY_PARAM_set1_host(param, tls.host.c_str(), 0);
    } else {
        if (!isAddress(tls.host)) SSL_set_tlsext_host_name(ssl_, tls.host.c_str());
        if (tls.session) SSL_set_session(ssl_, tls.session);
    }
    // The handshake goes through whatever the certificate is; the check below decides, so the
    // message can name the reason and the fingerprint.
    SSL_set_verify(ssl_, SSL_VERIFY_NONE, nullptr);
    try {
        if (drive([&] { return SSL_connect(ssl_); }, timeout, "The TLS handshake got no answer") <= 0)
            throw EFtpError("The FTP server closed the connection during the TLS handshake");
    } catch (const ESocketTimeout&) {
        throw EFtpError("The FTP server did not complete the TLS handshake within " + describeDuration(timeout));
    }
    X509* certificate = SSL_get1_peer_certificate(ssl_);
    if (!certificate) throw EFtpError("The FTP server sent no certificate");
    fingerprint_ = sha256Fingerprint(certificate);
    X509_free(certificate);
    if (role == Role::Data) {
        if (fingerprint_ != tls.fingerprint)
            throw EFtpError("The FTP data connection presented another certificate than the control connection");
        return;
    }
    tls.fingerprint = fingerprint_;
    const long verified = SSL_get_verify_result(ssl_);
    if (verified == X509_V_OK || fingerprint_ == tls.pinned) return;
    if (!tls.pinned.empty())
        throw EFtpCertificateChanged("The FTP server's certificate differs from the one pinned for it: its SHA-256 "
                                     "fingerprint is " + fingerprint_ + ", the pinned one " + tls.pinned +
                                         ". This may be an attack on the connection, or the server's certificate "
                                         "was renewed",
                                     fingerprint_, tls.pinned);
    throw EFtpUntrustedCertificate("The FTP server's certificate is not trusted (" +
                                       std::string(X509_verify_cert_error_string(verified)) +
                                       "); its SHA-256 fingerprint is " + fingerprint_,
                                   fingerprint_);
}

void FtpChannel::sendAll(const void* data, size_t size, Milliseconds idleTimeout) {
    if (!ssl_) return socket_.sendAll(data, size, idleTimeout);
    auto bytes = static_cast<const char*>(data);
    while (size > 0) {
        const int chunk = static_cast<int>(std::min<size_t>(size, 1 << 30));
        int sent = drive([&] { return SSL_write(ssl_, bytes, chunk); }, idleTimeout, "The peer accepted no data");
        if (sent == 0) throw ESocketError("Sending failed: the peer closed the connection");
        bytes += sent;
        size -= static_cast<size_t>(sent);
    }
}

size_t FtpChannel::sendUntil(const void* data, size_t size, Milliseconds idleTimeout,
                             std::chrono::steady_clock::time_point deadline) {
    auto bytes = static_cast<const char*>(data);
    size_t done = 0;
    while (done < size) {
        const auto left = std::chrono::ceil<Milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left <= Milliseconds::zero()) break;
        const Milliseconds wait = std::min(idleTimeout, left);
        try {
            if (!ssl_) {
                done += socket_.sendSome(bytes + done, size - done, wait);
                continue;
            }
            const int chunk = static_cast<int>(std::min<size_t>(size - done, 1 << 30));
            const int sent = drive([&] { return SSL_write(ssl_, bytes + done, chunk); }, wait, "The peer accepted no data");
            if (sent == 0) throw ESocketError("Sending failed: the peer closed the connection");
            done += static_cast<size_t>(sent);
        } catch (const ESocketTimeout&) {
            if (wait == idleTimeout) throw;
        }
    }
    return done;
}

size_t FtpChannel::receiveSome(void* buffer, size_t size, Milliseconds idleTimeout) {
    if (!ssl_) return socket_.receiveSome(buffer, size, idleTimeout);
    const int chunk = static_cast<int>(std::min<size_t>(size, 1 << 30));
    return static_cast<size_t>(drive([&] { return SSL_read(ssl_, buffer, chunk); }, idleTimeout, "Nothing arrived"));
}

std::string FtpChannel::protocolVersion() const { return ssl_ ? SSL_get_version(ssl_) : ""; }

bool FtpChannel::hasPendingInput() const { return ssl_ && SSL_pending(ssl_) > 0; }

void FtpChannel::finish(Milliseconds timeout) {
    if (ssl_) {
        // One close_notify is enough; the server's answer to it does not matter.
        ERR_clear_error();
        int result = SSL_shutdown(ssl_);
        if (result < 0 && SSL_get_error(ssl_, result) == SSL_ERROR_WANT_WRITE) {
            socket_.waitFor(POLLOUT, timeout, "The peer accepted no data");
            SSL_shutdown(ssl_);
        }
        // Under TLS 1.3 the server sends session tickets after the handshake, which an upload
        // never reads. Closing a socket with unread input resets the connection and drops what
        // is still queued to send: the server then misses the data's end ("426 Failure reading
        // network stream."). So the client ends its side and reads until the server, having
        // read everything, closes its own.
        socket_.shutdownSending();
        char discarded[4096];
        try {
            while (socket_.receiveSome(discarded, sizeof discarded, timeout) > 0) {
            }
        } catch (const ESocketInterrupted&) {
            throw;
        } catch (const ESocketError&) {
            // a reset or a silent server: the FTP reply tells whether the data arrived
        }
    }
    close();
}

}  // namespace ts
