#pragma once
// A relay between the client and a real FTP server on loopback that makes active mode fail as
// firewalls do.
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "platform/tcp_socket.h"

namespace ts::test {

// Passes the control connection through and points every PORT at a port whose connections
// are never answered (what a client behind a firewall that drops incoming connections sees),
// or with `refuse` at a port nothing listens on (a firewall that rejects them).
class SwallowingRelay {
public:
    explicit SwallowingRelay(uint16_t serverPort, bool refuse = false);
    ~SwallowingRelay();
    bool swallows() const { return swallows_; }
    std::string host() const { return "127.0.0.1:" + std::to_string(listener_.localAddress().port()); }

private:
    void serve();
    void pump(TcpSocket& client, TcpSocket& server);

    uint16_t serverPort_;
    uint16_t hole_ = 0;
    TcpSocket blackHole_;
    std::vector<TcpSocket> queued_;
    bool swallows_ = false;
    SocketInterrupter stop_;
    TcpSocket listener_;
    std::thread thread_;
    std::vector<std::thread> pumps_;
};

}  // namespace ts::test
