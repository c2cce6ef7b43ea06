#include "transfer/ftp/ftp_client.h"

#include <algorithm>
#include <chrono>
#include <vector>

#include "platform/debug_log.h"
#include "platform/stream/stream.h"
#include "transfer/ftp/ftp_data_address.h"
#include "transfer/ftp/ftp_throughput.h"

namespace ts {
namespace {

const char kNotConnected[] = "Not connected to an FTP server";

// A line break inside a setting would let it smuggle in a command of its own.
void checkCommandArgument(const char* what, const std::string& value) {
    if (value.find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
        throw EFtpError(std::string("The FTP ") + what + " must not contain line breaks");
}

// What happened on the wire and why the client changed course, for the debug log.
void logStep(const std::string& text) { debugLog("FTP: " + text); }

// Restores the reply wait when it leaves scope.
class ReplyWait {
public:
    ReplyWait(Milliseconds& wait, Milliseconds temporary) : wait_(wait), saved_(wait) { wait_ = temporary; }
    ~ReplyWait() { wait_ = saved_; }

private:
    Milliseconds& wait_;
    Milliseconds saved_;
};

}  // namespace

FtpClient::FtpClient() = default;

FtpClient::~FtpClient() { close(); }

void FtpClient::setTrustedFingerprint(std::string fingerprint) {
    if (fingerprint.empty()) {
        trustedFingerprint_.clear();
        return;
    }
    auto normalized = normalizeFingerprint(fingerprint);
    if (!normalized) throw EFtpError("\"" + fingerprint + "\" is not a SHA-256 fingerprint (64 hex digits)");
    trustedFingerprint_ = *normalized;
}

void FtpClient::close() {
    std::lock_guard lock(mutex_);
    connected_ = false;
    interrupter_.trigger();
    if (busy_) {
        // The driving thread wakes up, fails and releases the socket itself.
        control_.shutdown();
    } else {
        control_.close();
        replies_.reset();
    }
}

void FtpClient::dropConnection() {
    std::lock_guard lock(mutex_);
    busy_ = false;
    connected_ = false;
    control_.close();
    replies_.reset();
}

template <typename Body>
void FtpClient::runOperation(bool keepConnectionOnReplyError, Body&& body) {
    {
        std::lock_guard lock(mutex_);
        busy_ = true;
    }
    try {
        body();
    } catch (const ESocketInterrupted&) {
        dropConnection();
        throw EFtpError("The FTP connection was closed");
    } catch (const EFtpRenameUnanswered&) {
        // Whatever the connection did, its state is unknown; the message says so.
        dropConnection();
        throw;
    } catch (const EFtpReplyError& error) {
        if (keepConnectionOnReplyError && !interrupter_.triggered() && connected_) {
            std::lock_guard lock(mutex_);
            busy_ = false;
        } else {
            dropConnection();
        }
        throw;  // its text went through hidePassword when it was made
    } catch (const EFtpError& error) {
        dropConnection();
        if (interrupter_.triggered()) throw EFtpError("The FTP connection was closed");
        std::string text = hidePassword(error.what());
        if (text != error.what()) throw EFtpError(text);
        throw;
    } catch (...) {
        dropConnection();
        if (interrupter_.triggered()) throw EFtpError("The FTP connection was closed");
        throw;
    }
    std::lock_guard lock(mutex_);
    busy_ = false;
    if (interrupter_.triggered()) {
        connected_ = false;
        control_.close();
        replies_.reset();
    }
}

std::string FtpClient::hidePassword(std::string text) const {
    // Only a server echoing it could put the password into a message: however short, it is
    // hidden, and so are the other forms the server may have turned it into.
    return maskSecrets(std::move(text), passwordForms(password_));
}

FtpReply FtpClient::readReply() {
    if (!replies_) throw EFtpError(kNotConnected);
    replyDeadline_ = std::chrono::steady_clock::now() + replyWait_;
    FtpReply reply = replies_->read();
    debugLog("FTP< " + hidePassword(reply.text()));
    return reply;
}

void FtpClient::sendCommand(const std::string& line) {
    debugLog("FTP> " + (line.rfind("PASS ", 0) == 0 ? std::string("PASS ********") : line));
    lastVerb_ = line.substr(0, line.find(' '));
    const std::string wire = line + "\r\n";
    try {
        control_.sendAll(wire.data(), wire.size(), timeouts_.idle);
    } catch (const ESocketTimeout&) {
        throw EFtpError("The FTP server took no command for " + describeDuration(timeouts_.idle));
    }
}

FtpReply FtpClient::command(const std::string& line) {
    sendCommand(line);
    return readReply();
}

void FtpClient::throwReplyError(const FtpReply& reply) const {
    throw EFtpReplyError(reply.code, hidePassword(reply.text()), lastVerb_);
}

void FtpClient::expect(const FtpReply& reply, std::initializer_list<int> accepted) const {
    if (std::find(accepted.begin(), accepted.end(), reply.code) == accepted.end()) throwReplyError(reply);
}

void FtpClient::expectLogin(const FtpReply& reply, std::initializer_list<int> accepted) const {
    if (std::find(accepted.begin(), accepted.end(), reply.code) != accepted.end()) return;
    if (!endpoint_.tls && reply.asksForEncryption()) {
        std::string secure = endpoint_.hostAndPort();
        if (endpoint_.port == FtpEndpoint::kDefaultPort) secure.resize(secure.size() - 3);
        throw EFtpTlsRequired(reply.code, "The FTP server accepts only encrypted sessions; set the host to ftpes://" +
                                              secure + " to use TLS (" + hidePassword(reply.text()) + ")");
    }
    if (reply.code == 530)
        throw EFtpLoginRefused(reply.code, "The FTP server refused the log-in: " + hidePassword(reply.text()));
    throwReplyError(reply);
}

void FtpClient::connect() { connect(timeouts_.connect); }

void FtpClient::connect(Milliseconds connectTimeout) {
    checkCommandArgument("host", host_);
    checkCommandArgument("user name", userName_);
    checkCommandArgument("password", password_);
    FtpEndpoint endpoint = parseFtpHost(host_);
    close();
    interrupter_.reset();
    endpoint_ = std::move(endpoint);
    folder_.reset();
    serverFingerprint_.clear();
    runOperation(false, [&] { openSession(connectTimeout); });
}

void FtpClient::openSession(Milliseconds connectTimeout) {
    TcpSocket socket = TcpSocket::connect(endpoint_.host, endpoint_.port, connectTimeout, &interrupter_);
    {
        std::lock_guard lock(mutex_);
        control_ = FtpChannel(std::move(socket));
        replies_ = std::make_unique<FtpReplyReader>([this](char* buffer, size_t size) {
            // The whole reply within the wait: a server dribbling a byte at a time gets no more.
            const auto left = std::chrono::ceil<Milliseconds>(replyDeadline_ - std::chrono::steady_clock::now());
            try {
                if (left <= Milliseconds::zero()) throw ESocketTimeout("no reply");
                return control_.receiveSome(buffer, size, std::min(replyWait_, left));
            } catch (const ESocketTimeout&) {
                throw EFtpError("The FTP server did not answer within " + describeDuration(replyWait_));
            }
        });
        replies_->setSecrets(passwordForms(password_));
    }
    replyWait_ = timeouts_.idle;
    logStep("connected to " + control_.socket().peerAddress().toString() + (endpoint_.tls ? " (TLS asked for)" : ""));
    expectLogin(readReply(), {220});
    if (endpoint_.tls) {
        FtpReply reply = command("AUTH TLS");
        if (reply.code != 234)
            throw EFtpReplyError(reply.code, "The FTP server does not offer TLS (" + hidePassword(reply.text()) + ")");
        tls_ = std::make_unique<FtpTlsContext>(endpoint_.host, trustedFingerprint_);
        try {
            control_.startTls(*tls_, FtpChannel::Role::Control, connectTimeout);
        } catch (const EFtpUntrustedCertificate& error) {
            serverFingerprint_ = error.fingerprint();
            throw;
        }
        serverFingerprint_ = control_.peerFingerprint();
        logStep(control_.protocolVersion() + " session established, server certificate SHA-256 " + serverFingerprint_);
    }
    FtpReply reply = command("USER " + userName_);
    expectLogin(reply, {230, 331});
    if (reply.code == 331) expectLogin(command("PASS " + password_), {230});
    if (endpoint_.tls) {
        expect(command("PBSZ 0"), {200});
        expect(command("PROT P"), {200});
    }
    expect(command("TYPE I"), {200});
    expect(command("SYST"), {200, 215, 500});
    connected_ = true;
}

void FtpClient::reconnect() {
    {
        std::lock_guard lock(mutex_);
        control_.close();
        replies_.reset();
    }
    connected_ = false;
    openSession(timeouts_.connect);
    if (folder_) expect(command("CWD " + *folder_), {200, 250});
}

void FtpClient::requireConnection() const {
    // Checked once the operation counts as busy: from then on close() only shuts the socket
    // down, so a close that came first is seen here and one that comes later wakes the wait.
    if (interrupter_.triggered()) throw ESocketInterrupted();
    if (!connected_) throw EFtpError(kNotConnected);
}

void FtpClient::changeDirectory(const std::string& folder) {
    checkCommandArgument("remote folder", folder);
    runOperation(true, [&] {
        requireConnection();
        expect(command("CWD " + folder), {200, 250});
        folder_ = folder;
    });
}

std::optional<int64_t> FtpClient::remoteSize(const std::string& remoteName) {
    checkCommandArgument("remote file name", remoteName);
    std::optional<int64_t> size;
    runOperation(true, [&] {
        requireConnection();
        FtpReply reply = command("SIZE " + remoteName);
        if (reply.code != 213) return;
        const std::string& line = reply.lines.back();
        size_t digits = line.find_first_of("0123456789", 4);
        if (digits == std::string::npos) return;
        int64_t value = 0;
        for (size_t i = digits; i < line.size() && line[i] >= '0' && line[i] <= '9' && value < (int64_t{1} << 58); ++i)
            value = value * 10 + (line[i] - '0');
        size = value;
    });
    return size;
}

void FtpClient::rename(const std::string& from, const std::string& to) {
    checkCommandArgument("remote file name", from);
    checkCommandArgument("remote file name", to);
    runOperation(true, [&] {
        requireConnection();
        expect(command("RNFR " + from), {350});
        FtpReply reply;
        try {
            ReplyWait wait(replyWait_, timeouts_.renameReply);
            sendCommand("RNTO " + to);
            reply = readReply();
        } catch (const std::exception& error) {
            const bool closed = interrupter_.triggered() || dynamic_cast<const ESocketInterrupted*>(&error);
            throw EFtpRenameUnanswered(closed ? std::string("The FTP connection was closed") : std::string(error.what()));
        }
        expect(reply, {250});
    });
}

void FtpClient::remove(const std::string& remoteName) {
    checkCommandArgument("remote file name", remoteName);
    runOperation(true, [&] {
        requireConnection();
        expect(command("DELE " + remoteName), {250});
    });
}

std::string FtpClient::store(const std::string& localFileName, const std::string& remoteName,
                             const std::string& passiveRetryName) {
    checkCommandArgument("remote file name", remoteName);
    checkCommandArgument("remote file name", passiveRetryName);
    std::string storedAs = remoteName;
    runOperation(true, [&] {
        requireConnection();
        FileStream file(localFileName, FileStream::Mode::Read);
        lastDataMode_ = FtpDataMode::Active;
        if (storeActive(file, remoteName)) return;
        lastDataMode_ = FtpDataMode::Passive;
        file.seek(0);
        if (!passiveRetryName.empty()) storedAs = passiveRetryName;
        storePassive(file, storedAs);
    });
    return storedAs;
}

bool FtpClient::storeActive(FileStream& file, const std::string& remoteName) {
    const SocketAddress server = control_.socket().peerAddress();
    SocketAddress local = control_.socket().localAddress();
    local.setPort(0);
    TcpSocket listener = TcpSocket::listen(local, &interrupter_);
    const SocketAddress listening = listener.localAddress();
    // PORT can only name an IPv4 address; EPRT names either.
    const std::string portCommand = listening.isIPv4() ? "PORT " + portCommandArgument(listening)
                                                       : "EPRT " + eprtCommandArgument(listening);
    FtpReply reply = command(portCommand);
    if (reply.code != 200) {
        if (reply.code < 400) throwReplyError(reply);
        logStep("the server refused active mode (" + reply.text() + "); switching to passive mode");
        return false;
    }
    sendCommand("STOR " + remoteName);
    // The server may connect before or after it answers STOR; watch for both until the time
    // the server has to connect runs out, which a firewall that drops its connection makes us
    // wait for.
    const auto deadline = std::chrono::steady_clock::now() + timeouts_.activeConnect;
    TcpSocket dataSocket;
    bool answered = false;
    while (!dataSocket.isOpen()) {
        bool controlReady = !answered && (replies_->hasBufferedInput() || control_.hasPendingInput());
        if (!controlReady) {
            const auto left = std::chrono::ceil<Milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left <= Milliseconds::zero()) {
                abandonActiveStore();
                return false;
            }
            std::vector<const TcpSocket*> watched{&listener};
            if (!answered) watched.push_back(&control_.socket());
            try {
                controlReady = TcpSocket::waitReadable(watched, left) == 1;
            } catch (const ESocketTimeout&) {
                continue;  // the deadline check above takes over
            }
        }
        if (controlReady) {
            reply = readReply();
            if (reply.code == 425 || reply.code == 426) {
                logStep("the server could not open the data connection (" + reply.text() + "); switching to passive mode");
                return false;
            }
            expect(reply, {125, 150});
            answered = true;
            continue;
        }
        dataSocket = listener.accept(timeouts_.activeConnect);
        // Anyone may connect to the announced port, and the first to do so would get the
        // data: only the server we logged in to is let in.
        const SocketAddress caller = dataSocket.peerAddress();
        if (caller.family() != server.family() || caller.hostText() != server.hostText()) {
            logStep("refused a data connection from " + caller.toString() + ": only the server (" + server.hostText() +
                    ") may connect");
            dataSocket.close();
        }
    }
    listener.close();
    if (!answered) {
        reply = readReply();
        if (reply.code == 425 || reply.code == 426) {
            logStep("the server gave up the data connection (" + reply.text() + "); switching to passive mode");
            return false;
        }
        expect(reply, {125, 150});
    }
    FtpChannel data(std::move(dataSocket));
    if (tls_) data.startTls(*tls_, FtpChannel::Role::Data, timeouts_.connect);
    sendFile(data, file);
    finishStore();
    return true;
}

void FtpClient::abandonActiveStore() {
    logStep("no data connection from the server within " + describeDuration(timeouts_.activeConnect) +
            " of STOR; aborting it and switching to passive mode");
    try {
        ReplyWait wait(replyWait_, timeouts_.abortReply);
        // The server may still answer the STOR (150, then 425 or 426) before it answers ABOR
        // (225 or 226).
        FtpReply reply = command("ABOR");
        for (int extra = 0; extra < 3 && reply.code / 100 != 2; ++extra) {
            if (reply.code / 100 == 5) break;
            reply = readReply();
        }
        if (reply.code / 100 == 2) return;
        logStep("ABOR was not accepted (" + reply.text() + ")");
    } catch (const ESocketInterrupted&) {
        throw;
    } catch (const std::exception& error) {
        if (interrupter_.triggered()) throw ESocketInterrupted();
        logStep(std::string("the control connection was lost during ABOR (") + error.what() + ")");
    }
    logStep("connecting again for passive mode");
    reconnect();
}

void FtpClient::storePassive(FileStream& file, const std::string& remoteName) {
    // The data connection goes to the server we talk to, whatever address PASV names: that
    // address is often a private one behind NAT, and trusting it would allow bounce attacks.
    SocketAddress server = control_.socket().peerAddress();
    FtpReply reply = command("EPSV");
    uint16_t port = 0;
    if (reply.code == 229) {
        port = parseEpsvReplyPort(reply.text());
    } else if (server.isIPv4()) {
        reply = command("PASV");
        expect(reply, {227});
        port = parsePasvReplyPort(reply.text());
    } else {
        throwReplyError(reply);
    }
    server.setPort(port);
    TcpSocket dataSocket = TcpSocket::connect(server, timeouts_.connect, &interrupter_);
    expect(command("STOR " + remoteName), {125, 150});
    FtpChannel data(std::move(dataSocket));
    if (tls_) data.startTls(*tls_, FtpChannel::Role::Data, timeouts_.connect);
    sendFile(data, file);
    finishStore();
}

void FtpClient::sendFile(FtpChannel& data, FileStream& file) {
    using Clock = std::chrono::steady_clock;
    if (OnWorkBegin) OnWorkBegin(*this, FtpWorkMode::Write, file.size());
    std::vector<char> block(kBlockSize);
    int64_t sent = 0;
    FtpThroughputWatch throughput(timeouts_.throughputWindow, timeouts_.minimumBytes, Clock::now());
    for (;;) {
        const int64_t count = file.read(block.data(), static_cast<int64_t>(block.size()));
        if (count == 0) break;
        for (int64_t done = 0; done < count;) {
            // TLS may write without ever waiting, and so without seeing the interrupter.
            if (interrupter_.triggered()) throw ESocketInterrupted();
            const auto windowEnd = throughput.deadline();
            size_t now = 0;
            try {
                now = whileSending([&] {
                    return data.sendUntil(block.data() + done, static_cast<size_t>(count - done), timeouts_.idle, windowEnd);
                });
            } catch (const ESocketTimeout&) {
                throw EFtpError("The FTP data connection made no progress for " + describeDuration(timeouts_.idle));
            }
            done += static_cast<int64_t>(now);
            throughput.moved(static_cast<int64_t>(now), Clock::now());
            if (Clock::now() >= throughput.deadline())
                throw EFtpError("The FTP data connection moved fewer than " + std::to_string(timeouts_.minimumBytes) +
                                " bytes in " + describeDuration(timeouts_.throughputWindow) + " (at least " +
                                std::to_string(timeouts_.minimumBytes) + " are needed)");
        }
        sent += count;
        if (OnWork) OnWork(*this, FtpWorkMode::Write, sent);
    }
    whileSending([&] { data.finish(timeouts_.idle); });
}

template <typename Step>
auto FtpClient::whileSending(Step&& step) -> decltype(step()) {
    try {
        return step();
    } catch (const ESocketInterrupted&) {
        throw;
    } catch (const ESocketTimeout&) {
        throw;
    } catch (const EFtpError& error) {
        failWithServersReason(error.what());
    } catch (const ESocketError& error) {
        failWithServersReason(error.what());
    }
}

void FtpClient::failWithServersReason(const std::string& sendError) {
    if (interrupter_.triggered()) throw ESocketInterrupted();
    logStep("sending failed (" + sendError + "); reading the server's reason");
    FtpReply reply;
    try {
        ReplyWait wait(replyWait_, timeouts_.failureReply);
        reply = readReply();
    } catch (const ESocketInterrupted&) {
        throw;
    } catch (const std::exception& error) {
        logStep(std::string("no reason came (") + error.what() + ")");
        throw EFtpError(sendError);
    }
    if (reply.code < 400) throw EFtpError(sendError);
    throw EFtpReplyError(reply.code, "The FTP server ended the transfer: " + hidePassword(reply.text()), "STOR");
}

void FtpClient::finishStore() {
    FtpReply reply = readReply();
    if (reply.code == 426 || reply.code == 450) {
        // Some servers follow with 226; others (vsftpd) say no more, and their 426 is the
        // failure it reads as.
        try {
            ReplyWait wait(replyWait_, timeouts_.abortReply);
            expect(readReply(), {226, 225});
        } catch (const EFtpReplyError&) {
            throw;
        } catch (const EFtpError&) {
            if (interrupter_.triggered()) throw;
            throwReplyError(reply);
        }
        return;
    }
    expect(reply, {225, 226, 250});
}

}  // namespace ts
