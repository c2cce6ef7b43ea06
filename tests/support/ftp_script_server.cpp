#include "support/ftp_script_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstdio>

#include <gtest/gtest.h>

namespace ts::test {
namespace {

constexpr Milliseconds kScriptWait{10000};

SocketAddress loopback(uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return SocketAddress(reinterpret_cast<sockaddr*>(&address), sizeof address);
}

}  // namespace

ScriptedFtpSession::ScriptedFtpSession(TcpSocket control, std::function<void(const std::string&)> record)
    : control_(std::move(control)), record_(std::move(record)) {}

void ScriptedFtpSession::send(const std::string& text) { control_.sendAll(text.data(), text.size(), kScriptWait); }

std::string ScriptedFtpSession::readCommand() {
    for (;;) {
        auto end = buffer_.find("\r\n");
        if (end != std::string::npos) {
            std::string line = buffer_.substr(0, end);
            buffer_.erase(0, end + 2);
            record_(line);
            return line;
        }
        char chunk[4096];
        size_t got = control_.receiveSome(chunk, sizeof chunk, kScriptWait);
        if (got == 0) return "";
        buffer_.append(chunk, got);
    }
}

void ScriptedFtpSession::acceptAnotherConnection() {
    control_ = listener_->accept(kScriptWait);
    buffer_.clear();
}

void ScriptedFtpSession::expectCommand(const std::string& command) { EXPECT_EQ(readCommand(), command); }

void ScriptedFtpSession::logIn() {
    reply("220 Scripted server ready");
    EXPECT_EQ(readCommand().substr(0, 5), "USER ");
    reply("331 Password required");
    EXPECT_EQ(readCommand().substr(0, 5), "PASS ");
    reply("230 Logged in");
    expectCommand("TYPE I");
    reply("200 Type set to I");
    expectCommand("SYST");
    reply("215 UNIX Type: L8");
}

TcpSocket ScriptedFtpSession::connectToPort(const std::string& portCommand) {
    unsigned h1, h2, h3, h4, p1, p2;
    if (std::sscanf(portCommand.c_str(), "PORT %u,%u,%u,%u,%u,%u", &h1, &h2, &h3, &h4, &p1, &p2) != 6) {
        ADD_FAILURE() << "not a PORT command: " << portCommand;
        throw ESocketError("bad PORT command");
    }
    EXPECT_EQ(h1 * 1000000 + h2 * 10000 + h3 * 100 + h4, 127000001u) << "PORT names the control connection's address";
    return TcpSocket::connect(loopback(static_cast<uint16_t>(p1 * 256 + p2)), kScriptWait, &interrupter_);
}

std::vector<uint8_t> ScriptedFtpSession::receiveAll(TcpSocket& data) {
    std::vector<uint8_t> bytes;
    char chunk[65536];
    while (size_t got = data.receiveSome(chunk, sizeof chunk, kScriptWait)) bytes.insert(bytes.end(), chunk, chunk + got);
    return bytes;
}

bool ScriptedFtpSession::waitForClientClose(Milliseconds timeout) {
    char chunk[256];
    try {
        while (control_.receiveSome(chunk, sizeof chunk, timeout) > 0) {
        }
        return true;
    } catch (const ESocketTimeout&) {
        return false;
    } catch (const ESocketInterrupted&) {
        throw;
    } catch (const ESocketError&) {
        return true;  // reset by the client
    }
}

ScriptedFtpServer::ScriptedFtpServer(Script script) : listener_(TcpSocket::listen(loopback(0), &stop_)) {
    port_ = listener_.localAddress().port();
    thread_ = std::thread([this, script = std::move(script)] {
        try {
            TcpSocket control = listener_.accept(kScriptWait);
            ScriptedFtpSession session(std::move(control), [this](const std::string& line) {
                std::lock_guard lock(mutex_);
                commands_.push_back(line);
            });
            session.setListener(&listener_);
            {
                std::lock_guard lock(mutex_);
                session_ = &session;
            }
            try {
                script(session);
            } catch (const std::exception& error) {
                std::lock_guard lock(mutex_);
                scriptError_ = error.what();
            }
            std::lock_guard lock(mutex_);
            session_ = nullptr;
        } catch (const std::exception& error) {
            std::lock_guard lock(mutex_);
            scriptError_ = error.what();
        }
    });
}

ScriptedFtpServer::~ScriptedFtpServer() {
    {
        std::lock_guard lock(mutex_);
        stop_.trigger();
        if (session_) session_->interrupter().trigger();
    }
    join();
}

void ScriptedFtpServer::join() {
    if (thread_.joinable()) thread_.join();
}

std::vector<std::string> ScriptedFtpServer::commands() const {
    std::lock_guard lock(mutex_);
    return commands_;
}

std::string ScriptedFtpServer::scriptError() const {
    std::lock_guard lock(mutex_);
    return scriptError_;
}

}  // namespace ts::test
