#pragma once
// TLS for FTP, explicit (AUTH TLS on the FTP port). One context serves a control connection
// and its data connections; the data connections resume the control connection's session,
// which servers use to tell that the data comes from the client that logged in (some refuse
// anything else).
//
// A server certificate is trusted when it chains to the system's trust store and names the
// host, or when its SHA-256 fingerprint is the one the user pinned for that host (the only way
// to trust a self-signed server).
#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "platform/tcp_socket.h"
#include "transfer/ftp/ftp_reply.h"

struct ssl_st;

namespace ts {

// The server's certificate failed the checks and was not pinned. fingerprint() is what the
// user may pin after comparing it with the server's own.
class EFtpUntrustedCertificate : public EFtpError {
public:
    EFtpUntrustedCertificate(const std::string& message, std::string fingerprint)
        : EFtpError(message), fingerprint_(std::move(fingerprint)) {}
    const std::string& fingerprint() const { return fingerprint_; }

private:
    std::string fingerprint_;
};

// The server's certificate failed the checks and is not the one the user pinned for it: an
// attack on the connection, or a certificate the server renewed.
class EFtpCertificateChanged : public EFtpUntrustedCertificate {
public:
    EFtpCertificateChanged(const std::string& message, std::string fingerprint, std::string pinned)
        : EFtpUntrustedCertificate(message, std::move(fingerprint)), pinned_(std::move(pinned)) {}
    const std::string& pinned() const { return pinned_; }

private:
    std::string pinned_;
};

// "AB:CD:...:EF" (32 bytes, upper case, colons) from hex with or without colons, in either
// case, as `openssl x509 -fingerprint -sha256` prints it; nullopt for anything else.
std::optional<std::string> normalizeFingerprint(const std::string& text);

class FtpTlsContext {
public:
    // host: the name (or address) the certificate must carry; pinned: a normalized
    // fingerprint or "".
    FtpTlsContext(std::string host, std::string pinned);
    ~FtpTlsContext();
    FtpTlsContext(const FtpTlsContext&) = delete;
    FtpTlsContext& operator=(const FtpTlsContext&) = delete;

    struct Impl;
    Impl& impl() { return *impl_; }

private:
    std::unique_ptr<Impl> impl_;
};

// A TCP connection that may carry TLS once startTls() has run.
class FtpChannel {
public:
    FtpChannel() = default;
    explicit FtpChannel(TcpSocket socket) : socket_(std::move(socket)) {}
    ~FtpChannel();
    FtpChannel(FtpChannel&& other) noexcept;
    FtpChannel& operator=(FtpChannel&& other) noexcept;

    enum class Role { Control, Data };
    // Handshakes as the TLS client. Control: checks the certificate (EFtpUntrustedCertificate)
    // and keeps the session for the data connections. Data: resumes that session and expects
    // the control connection's certificate.
    void startTls(FtpTlsContext& context, Role role, Milliseconds timeout);
    bool secure() const { return ssl_ != nullptr; }
    // The SHA-256 fingerprint of the server's certificate; "" before startTls.
    const std::string& peerFingerprint() const { return fingerprint_; }
    // "TLSv1.3", "TLSv1.2"; "" before startTls.
    std::string protocolVersion() const;

    void sendAll(const void* data, size_t size, Milliseconds idleTimeout);
    // Sends until all is sent or deadline passes, and returns the bytes sent; fails when the
    // peer takes nothing for idleTimeout before then. A TLS record cut off by the deadline
    // counts as not sent: call again with the same data and size.
    size_t sendUntil(const void* data, size_t size, Milliseconds idleTimeout,
                     std::chrono::steady_clock::time_point deadline);
    // 0 at the end of the stream.
    size_t receiveSome(void* buffer, size_t size, Milliseconds idleTimeout);
    // Bytes TLS has decrypted but not handed out yet; the socket does not show them as readable.
    bool hasPendingInput() const;
    // Ends the sending side so the server knows the data is complete (TLS close_notify), then
    // closes.
    void finish(Milliseconds timeout);

    TcpSocket& socket() { return socket_; }
    const TcpSocket& socket() const { return socket_; }
    bool isOpen() const { return socket_.isOpen(); }
    // Safe while another thread uses the channel: its wait ends.
    void shutdown() noexcept { socket_.shutdown(); }
    void close() noexcept;

private:
    template <typename Operation>
    int drive(Operation operation, Milliseconds timeout, const char* what);

    TcpSocket socket_;
    ::ssl_st* ssl_ = nullptr;
    std::string fingerprint_;
};

}  // namespace ts
