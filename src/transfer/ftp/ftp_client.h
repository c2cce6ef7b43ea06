#pragma once
// An FTP client that logs in, changes directory and stores, renames, measures and deletes
// files in binary mode, in plain text or with explicit TLS ("ftpes://host").
//
// Data connections are active (the client listens, the server connects back; a connection
// from any other address than the server's is refused). When active mode cannot work (PORT or
// EPRT refused, 425 or 426 at STOR, or no connection from the server within
// FtpTimeouts::activeConnect of STOR), the store moves to passive mode, EPSV and then PASV,
// once. An ABOR that goes unanswered costs the control connection; the client then logs in
// again for the passive try. Every step goes to the debug log.
//
// One thread drives the client; close() may come from any other thread and ends whatever the
// driving thread waits for at once.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/tcp_socket.h"
#include "transfer/ftp/ftp_endpoint.h"
#include "transfer/ftp/ftp_reply.h"
#include "transfer/ftp/ftp_tls.h"

namespace ts {

class FileStream;

// A reply code the step does not accept; the message is the server's reply.
class EFtpReplyError : public EFtpError {
public:
    EFtpReplyError(int code, const std::string& replyText, std::string command = "")
        : EFtpError(replyText), code_(code), command_(std::move(command)) {}
    int code() const { return code_; }
    // The verb of the command the reply answered ("RNTO"); "" when not known.
    const std::string& command() const { return command_; }

private:
    int code_;
    std::string command_;
};

// RNTO went out and no answer came (in time, or the connection went): the server may or may
// not have renamed the file.
class EFtpRenameUnanswered : public EFtpError {
public:
    using EFtpError::EFtpError;
};

// The server refused the user name or password (530 at USER or PASS).
class EFtpLoginRefused : public EFtpReplyError {
public:
    using EFtpReplyError::EFtpReplyError;
};

// A plain-text session met a server that accepts only encrypted ones.
class EFtpTlsRequired : public EFtpReplyError {
public:
    using EFtpReplyError::EFtpReplyError;
};

// A store that moves fewer than kFtpMinimumBytes within any kFtpThroughputWindow (a sliding
// window: the last 60 seconds at every moment) fails: a server that takes a byte now and then
// never lets the idle timer run out, and would hold a backup for ever.
inline constexpr int64_t kFtpMinimumBytes = 1024;
inline constexpr Milliseconds kFtpThroughputWindow{60000};

struct FtpTimeouts {
    Milliseconds connect{30000};        // opening the control or a passive data connection
    Milliseconds idle{120000};          // a reply or a data send that makes no progress
    Milliseconds activeConnect{30000};  // from STOR to the server's connection to our listener
    Milliseconds abortReply{10000};     // the answers to ABOR; after that the connection counts as lost
    Milliseconds throughputWindow = kFtpThroughputWindow;
    int64_t minimumBytes = kFtpMinimumBytes;  // within any throughputWindow of a store
    Milliseconds renameReply{30000};          // the answer to RNTO, after which the outcome is unknown
    Milliseconds failureReply{5000};          // the server's reason, read after its data connection broke
};

enum class FtpWorkMode { Read, Write };
enum class FtpDataMode { Active, Passive };

class FtpClient {
public:
    static constexpr size_t kBlockSize = 32768;

    using WorkBeginEvent = std::function<void(FtpClient& sender, FtpWorkMode mode, int64_t workCountMax)>;
    using WorkEvent = std::function<void(FtpClient& sender, FtpWorkMode mode, int64_t workCount)>;

    FtpClient();
    ~FtpClient();
    FtpClient(const FtpClient&) = delete;
    FtpClient& operator=(const FtpClient&) = delete;

    // "name", "name:port" or "[IPv6]:port"; port 21 when none is given.
    void setHost(std::string host) { host_ = std::move(host); }
    void setUserName(std::string userName) { userName_ = std::move(userName); }
    void setPassword(std::string password) { password_ = std::move(password); }
    void setTimeouts(const FtpTimeouts& timeouts) { timeouts_ = timeouts; }
    // The SHA-256 fingerprint (any form normalizeFingerprint takes) a TLS server's certificate
    // is trusted by when it fails the usual checks; "" for none.
    void setTrustedFingerprint(std::string fingerprint);
    const std::string& host() const { return host_; }
    const std::string& userName() const { return userName_; }
    const FtpTimeouts& timeouts() const { return timeouts_; }

    // Raised by store(): work-begin once with the file's size, work after every block with
    // the bytes sent so far.
    WorkBeginEvent OnWorkBegin;
    WorkEvent OnWork;

    // Opens the control connection, reads the greeting, logs in, sets binary type and asks
    // for the system type. A connected client is closed first. On failure the connection is
    // closed before the error leaves.
    void connect();
    void connect(Milliseconds connectTimeout);
    // After a reconnect the client enters the same folder again.
    void changeDirectory(const std::string& folder);
    // Sends the local file under remoteName (never appending). A passive try after an
    // abandoned active one goes to passiveRetryName when one is given: the server may still
    // hold the first name for the abandoned transfer. Returns the name the file went to.
    std::string store(const std::string& localFileName, const std::string& remoteName,
                      const std::string& passiveRetryName = "");
    // SIZE; nullopt when the server does not offer it.
    std::optional<int64_t> remoteSize(const std::string& remoteName);
    // RNFR and RNTO; replaces an existing `to` where the server does. Once RNTO is sent its
    // answer gets FtpTimeouts::renameReply; without one, EFtpRenameUnanswered.
    void rename(const std::string& from, const std::string& to);
    // DELE.
    void remove(const std::string& remoteName);

    // Closes the control connection at once, without QUIT or ABOR; may be called from any
    // thread. A connect, reply wait or transfer under way fails promptly.
    void close();
    bool connected() const { return connected_; }
    // How the data of the last store went.
    FtpDataMode lastDataMode() const { return lastDataMode_; }
    // The SHA-256 fingerprint of the TLS server's certificate, once seen ("" for plain text).
    const std::string& serverFingerprint() const { return serverFingerprint_; }
    // The host setting as parsed by the last connect.
    const FtpEndpoint& endpoint() const { return endpoint_; }

private:
    template <typename Body>
    void runOperation(bool keepConnectionOnFailure, Body&& body);
    void dropConnection();
    void requireConnection() const;
    void openSession(Milliseconds connectTimeout);
    void reconnect();

    FtpReply readReply();
    void sendCommand(const std::string& line);
    FtpReply command(const std::string& line);
    // Throws EFtpReplyError unless reply.code is one of accepted.
    void expect(const FtpReply& reply, std::initializer_list<int> accepted) const;
    [[noreturn]] void throwReplyError(const FtpReply& reply) const;
    // The user and password answers: a refused log-in, or a server that wants TLS.
    void expectLogin(const FtpReply& reply, std::initializer_list<int> accepted) const;
    std::string hidePassword(std::string text) const;

    // False when active mode failed in a way passive mode may not.
    bool storeActive(FileStream& file, const std::string& remoteName);
    void abandonActiveStore();
    void storePassive(FileStream& file, const std::string& remoteName);
    void sendFile(FtpChannel& data, FileStream& file);
    // Runs a step that sends on the data connection; when the connection breaks, the error
    // becomes the server's reason (failWithServersReason).
    template <typename Step>
    auto whileSending(Step&& step) -> decltype(step());
    // After the data connection broke: the server's reply, when one comes within
    // FtpTimeouts::failureReply, says why (a full disk, a quota); otherwise sendError stands.
    [[noreturn]] void failWithServersReason(const std::string& sendError);
    void finishStore();

    std::string host_;
    std::string userName_;
    std::string password_;
    std::string trustedFingerprint_;
    FtpTimeouts timeouts_;
    Milliseconds replyWait_{120000};
    std::chrono::steady_clock::time_point replyDeadline_;
    std::string lastVerb_;  // of the last command sent, for the reply errors

    FtpEndpoint endpoint_;
    std::optional<std::string> folder_;
    std::unique_ptr<FtpTlsContext> tls_;
    std::string serverFingerprint_;

    SocketInterrupter interrupter_;
    mutable std::mutex mutex_;  // guards control_ against close() from another thread
    FtpChannel control_;
    std::unique_ptr<FtpReplyReader> replies_;
    bool busy_ = false;
    std::atomic<bool> connected_{false};
    FtpDataMode lastDataMode_ = FtpDataMode::Active;
};

}  // namespace ts
