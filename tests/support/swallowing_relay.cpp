#include "support/swallowing_relay.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace ts::test {
namespace {

using namespace std::chrono_literals;

SocketAddress loopback(uint16_t port) {
    sockaddr_in raw{};
    raw.sin_family = AF_INET;
    raw.sin_port = htons(port);
    raw.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return SocketAddress(reinterpret_cast<sockaddr*>(&raw), sizeof raw);
}

}  // namespace

SwallowingRelay::SwallowingRelay(uint16_t serverPort, bool refuse) : serverPort_(serverPort) {
    blackHole_ = TcpSocket::listen(loopback(0));
    hole_ = blackHole_.localAddress().port();
    if (refuse) {
        blackHole_.close();
        swallows_ = true;
    } else {
        // A listener with a full accept queue leaves further SYNs unanswered.
        ::listen(blackHole_.descriptor(), 0);
        try {
            for (int i = 0; i < 8; ++i) queued_.push_back(TcpSocket::connect(blackHole_.localAddress(), 200ms));
        } catch (const ESocketTimeout&) {
            swallows_ = true;
        }
    }
    listener_ = TcpSocket::listen(loopback(0), &stop_);
    thread_ = std::thread([this] { serve(); });
}

SwallowingRelay::~SwallowingRelay() {
    stop_.trigger();
    thread_.join();
    for (auto& pump : pumps_) pump.join();
}

void SwallowingRelay::serve() {
    try {
        for (;;) {
            TcpSocket client = listener_.accept(kWaitForever);
            TcpSocket server = TcpSocket::connect(loopback(serverPort_), 5s, &stop_);
            pumps_.emplace_back([this, c = std::move(client), s = std::move(server)]() mutable { pump(c, s); });
        }
    } catch (const std::exception&) {
    }
}

void SwallowingRelay::pump(TcpSocket& client, TcpSocket& server) {
    const uint16_t hole = hole_;
    std::string pending;
    char buffer[65536];
    try {
        for (;;) {
            const TcpSocket* both[] = {&client, &server};
            if (TcpSocket::waitReadable(both, kWaitForever) == 1) {
                size_t got = server.receiveSome(buffer, sizeof buffer, 5s);
                if (got == 0) return;
                client.sendAll(buffer, got, 5s);
                continue;
            }
            size_t got = client.receiveSome(buffer, sizeof buffer, 5s);
            if (got == 0) return;
            pending.append(buffer, got);
            for (size_t end; (end = pending.find("\r\n")) != std::string::npos;) {
                std::string line = pending.substr(0, end + 2);
                pending.erase(0, end + 2);
                if (line.rfind("PORT ", 0) == 0)
                    line = "PORT 127,0,0,1," + std::to_string(hole >> 8) + "," + std::to_string(hole & 0xff) + "\r\n";
                server.sendAll(line.data(), line.size(), 5s);
            }
        }
    } catch (const std::exception&) {
    }
}

}  // namespace ts::test
