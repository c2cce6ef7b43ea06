#pragma once
// A one-connection FTP server whose every answer a test writes by hand, for the replies a real
// server will not give on demand. The script runs on a thread of its own; gtest expectations
// inside it report as usual.
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/tcp_socket.h"

namespace ts::test {

class ScriptedFtpSession {
public:
    ScriptedFtpSession(TcpSocket control, std::function<void(const std::string&)> record);

    // Sends text as it stands (the caller writes the line ends).
    void send(const std::string& text);
    // Sends one reply line with CR LF.
    void reply(const std::string& line) { send(line + "\r\n"); }
    // The next command line without its CR LF; "" when the client closed the connection.
    std::string readCommand();
    // Reads a command and expects it to be exactly `command`.
    void expectCommand(const std::string& command);
    // Greeting 220, USER -> 331, PASS -> 230, TYPE I -> 200, SYST -> 215.
    void logIn();
    // Connects to the address of a "PORT h1,h2,h3,h4,p1,p2" command.
    TcpSocket connectToPort(const std::string& portCommand);
    // Everything the client sends on data until it closes it.
    std::vector<uint8_t> receiveAll(TcpSocket& data);
    // True when the client closes the control connection within timeout.
    bool waitForClientClose(Milliseconds timeout);
    SocketInterrupter& interrupter() { return interrupter_; }
    // Takes the client's next control connection in place of the current one (a client that
    // logs in again).
    void acceptAnotherConnection();
    void setListener(TcpSocket* listener) { listener_ = listener; }

private:
    TcpSocket* listener_ = nullptr;
    SocketInterrupter interrupter_;
    TcpSocket control_;
    std::string buffer_;
    std::function<void(const std::string&)> record_;
};

class ScriptedFtpServer {
public:
    using Script = std::function<void(ScriptedFtpSession&)>;

    explicit ScriptedFtpServer(Script script);
    // Ends any wait of the script and joins its thread.
    ~ScriptedFtpServer();
    ScriptedFtpServer(const ScriptedFtpServer&) = delete;
    ScriptedFtpServer& operator=(const ScriptedFtpServer&) = delete;

    // "127.0.0.1:PORT".
    std::string host() const { return "127.0.0.1:" + std::to_string(port_); }
    // Waits for the script to end on its own.
    void join();
    std::vector<std::string> commands() const;
    // What ended the script early, if anything did (a wait that was cut off, for example).
    std::string scriptError() const;

private:
    SocketInterrupter stop_;
    TcpSocket listener_;
    uint16_t port_ = 0;
    mutable std::mutex mutex_;
    std::vector<std::string> commands_;
    std::string scriptError_;
    ScriptedFtpSession* session_ = nullptr;
    std::thread thread_;
};

}  // namespace ts::test
