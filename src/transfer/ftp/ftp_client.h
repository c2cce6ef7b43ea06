#pragma once
// An FTP client that logs in, changes directory and stores one file in binary mode.
//
// Data connections are active (the client listens, the server connects back). When the server
// cannot reach the client (a 425 answer, or no connection in time: NAT and firewalls), the
// store is retried once in passive mode on the same control connection, so servers that reach
// us see nothing beyond PORT and STOR.
//
// One thread drives the client; close() may come from any other thread and ends whatever the
// driving thread waits for at once.
#include <atomic>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>

#include "platform/tcp_socket.h"
#include "transfer/ftp/ftp_reply.h"

namespace ts {

class FileStream;

// A reply code the step does not accept; the message is the server's reply.
class EFtpReplyError : public EFtpError {
public:
    EFtpReplyError(int code, const std::string& replyText) : EFtpError(replyText), code_(code) {}
    int code() const { return code_; }

private:
    int code_;
};

struct FtpTimeouts {
    Milliseconds connect{30000};        // opening the control or a passive data connection
    Milliseconds idle{120000};          // a reply or a data send that makes no progress
    Milliseconds activeConnect{30000};  // the server connecting back to our listening socket
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
    void changeDirectory(const std::string& folder);
    // Sends the local file under remoteName (never appending).
    void store(const std::string& localFileName, const std::string& remoteName);

    // Closes the control connection at once, without QUIT or ABOR; may be called from any
    // thread. A connect, reply wait or transfer under way fails promptly.
    void close();
    bool connected() const { return connected_; }
    // How the data of the last store went.
    FtpDataMode lastDataMode() const { return lastDataMode_; }

private:
    template <typename Body>
    void runOperation(bool keepConnectionOnFailure, Body&& body);
    void dropConnection();
    void requireConnection() const;

    FtpReply readReply();
    FtpReply command(const std::string& line);
    // Throws EFtpReplyError unless reply.code is one of accepted.
    void expect(const FtpReply& reply, std::initializer_list<int> accepted) const;
    [[noreturn]] void throwReplyError(const FtpReply& reply) const;
    std::string hidePassword(std::string text) const;

    // False when the server could not open the active data connection.
    bool storeActive(FileStream& file, const std::string& remoteName);
    bool acceptActiveConnection(TcpSocket& listener, TcpSocket& data);
    void abandonPendingStore();
    void storePassive(FileStream& file, const std::string& remoteName);
    void sendFile(TcpSocket& data, FileStream& file);
    void finishStore();

    std::string host_;
    std::string userName_;
    std::string password_;
    FtpTimeouts timeouts_;

    SocketInterrupter interrupter_;
    mutable std::mutex mutex_;  // guards control_ against close() from another thread
    TcpSocket control_;
    std::unique_ptr<FtpReplyReader> replies_;
    bool busy_ = false;
    std::atomic<bool> connected_{false};
    FtpDataMode lastDataMode_ = FtpDataMode::Active;
};

}  // namespace ts
