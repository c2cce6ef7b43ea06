#include "transfer/ftp/ftp_client.h"

#include <algorithm>
#include <vector>

#include "platform/stream/stream.h"
#include "transfer/ftp/ftp_data_address.h"
#include "transfer/ftp/ftp_endpoint.h"

namespace ts {
namespace {

const char kNotConnected[] = "Not connected to an FTP server";

// A line break inside a setting would let it smuggle in a command of its own.
void checkCommandArgument(const char* what, const std::string& value) {
    if (value.find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
        throw EFtpError(std::string("The FTP ") + what + " must not contain line breaks");
}

}  // namespace

FtpClient::FtpClient() = default;

FtpClient::~FtpClient() { close(); }

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
    } catch (const EFtpReplyError& error) {
        if (keepConnectionOnReplyError && !interrupter_.triggered()) {
            std::lock_guard lock(mutex_);
            busy_ = false;
        } else {
            dropConnection();
        }
        std::string text = hidePassword(error.what());
        if (text != error.what()) throw EFtpReplyError(error.code(), text);
        throw;
    } catch (const EFtpError& error) {
        dropConnection();
        std::string text = hidePassword(error.what());
        if (text != error.what()) throw EFtpError(text);
        throw;
    } catch (...) {
        dropConnection();
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
    // Only a server echoing it could put the password into a message. Very short passwords
    // would turn ordinary words into stars, and tell little anyway.
    if (password_.size() < 4) return text;
    for (size_t at = text.find(password_); at != std::string::npos; at = text.find(password_, at + 8))
        text.replace(at, password_.size(), "********");
    return text;
}

FtpReply FtpClient::readReply() {
    if (!replies_) throw EFtpError(kNotConnected);
    return replies_->read();
}

FtpReply FtpClient::command(const std::string& line) {
    const std::string wire = line + "\r\n";
    try {
        control_.sendAll(wire.data(), wire.size(), timeouts_.idle);
    } catch (const ESocketTimeout&) {
        throw EFtpError("The FTP server took no command for " + describeDuration(timeouts_.idle));
    }
    return readReply();
}

void FtpClient::throwReplyError(const FtpReply& reply) const { throw EFtpReplyError(reply.code, reply.text()); }

void FtpClient::expect(const FtpReply& reply, std::initializer_list<int> accepted) const {
    if (std::find(accepted.begin(), accepted.end(), reply.code) == accepted.end()) throwReplyError(reply);
}

void FtpClient::connect() { connect(timeouts_.connect); }

void FtpClient::connect(Milliseconds connectTimeout) {
    checkCommandArgument("host", host_);
    checkCommandArgument("user name", userName_);
    checkCommandArgument("password", password_);
    const FtpEndpoint endpoint = parseFtpHost(host_);
    close();
    interrupter_.reset();
    runOperation(false, [&] {
        TcpSocket socket = TcpSocket::connect(endpoint.host, endpoint.port, connectTimeout, &interrupter_);
        {
            std::lock_guard lock(mutex_);
            control_ = std::move(socket);
            replies_ = std::make_unique<FtpReplyReader>([this](char* buffer, size_t size) {
                try {
                    return control_.receiveSome(buffer, size, timeouts_.idle);
                } catch (const ESocketTimeout&) {
                    throw EFtpError("The FTP server did not answer within " + describeDuration(timeouts_.idle));
                }
            });
        }
        expect(readReply(), {220});
        FtpReply reply = command("USER " + userName_);
        expect(reply, {230, 331});
        if (reply.code == 331) expect(command("PASS " + password_), {230});
        expect(command("TYPE I"), {200});
        expect(command("SYST"), {200, 215, 500});
        connected_ = true;
    });
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
    });
}

void FtpClient::store(const std::string& localFileName, const std::string& remoteName) {
    checkCommandArgument("remote file name", remoteName);
    runOperation(true, [&] {
        requireConnection();
        FileStream file(localFileName, FileStream::Mode::Read);
        lastDataMode_ = FtpDataMode::Active;
        // PORT can only name an IPv4 address.
        if (control_.localAddress().isIPv4() && storeActive(file, remoteName)) return;
        lastDataMode_ = FtpDataMode::Passive;
        file.seek(0);
        storePassive(file, remoteName);
    });
}

bool FtpClient::storeActive(FileStream& file, const std::string& remoteName) {
    SocketAddress local = control_.localAddress();
    local.setPort(0);
    TcpSocket listener = TcpSocket::listen(local, &interrupter_);
    FtpReply reply = command("PORT " + portCommandArgument(listener.localAddress()));
    if (reply.code == 425) return false;
    expect(reply, {200});
    reply = command("STOR " + remoteName);
    if (reply.code == 425) return false;
    expect(reply, {125, 150});
    TcpSocket data;
    if (!acceptActiveConnection(listener, data)) return false;
    listener.close();
    sendFile(data, file);
    finishStore();
    return true;
}

bool FtpClient::acceptActiveConnection(TcpSocket& listener, TcpSocket& data) {
    // A server that cannot reach us says so on the control connection; watch both.
    bool controlReady = replies_->hasBufferedInput();
    if (!controlReady) {
        const TcpSocket* watched[] = {&listener, &control_};
        try {
            controlReady = TcpSocket::waitReadable(watched, timeouts_.activeConnect) == 1;
        } catch (const ESocketTimeout&) {
            abandonPendingStore();
            return false;
        }
    }
    if (controlReady) {
        FtpReply reply = readReply();
        if (reply.code == 425) return false;
        throwReplyError(reply);
    }
    data = listener.accept(timeouts_.activeConnect);
    return true;
}

void FtpClient::abandonPendingStore() {
    // The server may still answer the STOR (425 or 426) before it answers ABOR (225 or 226).
    FtpReply reply = command("ABOR");
    for (int extra = 0; extra < 2 && reply.code / 100 == 4; ++extra) reply = readReply();
    if (reply.code / 100 != 2)
        throw EFtpReplyError(reply.code, "The FTP server did not connect to the data port within " +
                                             describeDuration(timeouts_.activeConnect) + ": " + reply.text());
}

void FtpClient::storePassive(FileStream& file, const std::string& remoteName) {
    // The data connection goes to the server we talk to, whatever address PASV names: that
    // address is often a private one behind NAT, and trusting it would allow bounce attacks.
    SocketAddress server = control_.peerAddress();
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
    TcpSocket data = TcpSocket::connect(server, timeouts_.connect, &interrupter_);
    expect(command("STOR " + remoteName), {125, 150});
    sendFile(data, file);
    finishStore();
}

void FtpClient::sendFile(TcpSocket& data, FileStream& file) {
    if (OnWorkBegin) OnWorkBegin(*this, FtpWorkMode::Write, file.size());
    std::vector<char> block(kBlockSize);
    int64_t sent = 0;
    for (;;) {
        const int64_t count = file.read(block.data(), static_cast<int64_t>(block.size()));
        if (count == 0) break;
        try {
            data.sendAll(block.data(), static_cast<size_t>(count), timeouts_.idle);
        } catch (const ESocketTimeout&) {
            throw EFtpError("The FTP data connection made no progress for " + describeDuration(timeouts_.idle));
        }
        sent += count;
        if (OnWork) OnWork(*this, FtpWorkMode::Write, sent);
    }
    data.close();
}

void FtpClient::finishStore() {
    FtpReply reply = readReply();
    if (reply.code == 426 || reply.code == 450) {
        expect(readReply(), {226, 225});
        return;
    }
    expect(reply, {225, 226, 250});
}

}  // namespace ts
