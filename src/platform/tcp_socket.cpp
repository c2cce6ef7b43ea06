#include "platform/tcp_socket.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include "platform/stream/stream.h"

namespace ts {
namespace {

using Clock = std::chrono::steady_clock;

// Polls fds plus the interrupter (when given) until something is ready or the time-out
// passes. Returns false on time-out; throws ESocketInterrupted when the interrupter fired.
bool pollReady(std::vector<pollfd>& fds, Milliseconds timeout, int interrupterFd) {
    if (interrupterFd >= 0) fds.push_back({interrupterFd, POLLIN, 0});
    const bool forever = timeout < Milliseconds::zero();
    const auto deadline = Clock::now() + (forever ? Milliseconds::zero() : timeout);
    for (;;) {
        int waitMs = -1;
        if (!forever) {
            auto left = std::chrono::ceil<Milliseconds>(deadline - Clock::now());
            waitMs = static_cast<int>(std::clamp<int64_t>(left.count(), 0, INT32_MAX));
        }
        int ready = ::poll(fds.data(), fds.size(), waitMs);
        if (ready < 0) {
            if (errno == EINTR) continue;
            throw ESocketError("Waiting on the network failed: " + systemErrorText(errno));
        }
        if (interrupterFd >= 0 && fds.back().revents != 0) throw ESocketInterrupted();
        if (ready > 0) return true;
        if (!forever && Clock::now() >= deadline) return false;
    }
}

int interrupterDescriptor(const SocketInterrupter* interrupter) {
    return interrupter ? interrupter->descriptor() : -1;
}

void throwIfInterrupted(const SocketInterrupter* interrupter) {
    if (interrupter && interrupter->triggered()) throw ESocketInterrupted();
}

int newSocket(int family) {
    int fd = ::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) throw ESocketError("Cannot create a network socket: " + systemErrorText(errno));
    return fd;
}

// Control lines are small and must not wait for Nagle's timer.
void disableNagle(int fd) {
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

std::string endpointText(const std::string& host, uint16_t port) {
    return host + " port " + std::to_string(port);
}

[[noreturn]] void throwConnectError(const std::string& target, int error, Milliseconds timeout) {
    if (error == ETIMEDOUT && timeout >= Milliseconds::zero())
        throw ESocketTimeout("Cannot connect to " + target + ": no answer within " + describeDuration(timeout));
    throw ESocketError("Cannot connect to " + target + ": " + systemErrorText(error));
}

}  // namespace

std::string describeDuration(Milliseconds duration) {
    auto ms = duration.count();
    if (ms % 1000 == 0) {
        auto seconds = ms / 1000;
        return std::to_string(seconds) + (seconds == 1 ? " second" : " seconds");
    }
    return std::to_string(ms) + (ms == 1 ? " millisecond" : " milliseconds");
}

// --- SocketInterrupter

SocketInterrupter::SocketInterrupter() : fd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
    if (fd_ < 0) throw ESocketError("Cannot create an event descriptor: " + systemErrorText(errno));
}

SocketInterrupter::~SocketInterrupter() { ::close(fd_); }

void SocketInterrupter::trigger() {
    uint64_t one = 1;
    // The counter cannot overflow in practice; a failed write leaves it already readable.
    [[maybe_unused]] auto written = ::write(fd_, &one, sizeof one);
}

void SocketInterrupter::reset() {
    uint64_t value = 0;
    [[maybe_unused]] auto read = ::read(fd_, &value, sizeof value);
}

bool SocketInterrupter::triggered() const {
    pollfd fd{fd_, POLLIN, 0};
    return ::poll(&fd, 1, 0) > 0;
}

// --- SocketAddress

SocketAddress::SocketAddress(const sockaddr* address, socklen_t length)
    : length_(std::min<socklen_t>(length, sizeof storage_)) {
    std::memcpy(&storage_, address, length_);
}

uint16_t SocketAddress::port() const {
    if (family() == AF_INET) return ntohs(reinterpret_cast<const sockaddr_in*>(&storage_)->sin_port);
    if (family() == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6*>(&storage_)->sin6_port);
    return 0;
}

void SocketAddress::setPort(uint16_t port) {
    if (family() == AF_INET) reinterpret_cast<sockaddr_in*>(&storage_)->sin_port = htons(port);
    if (family() == AF_INET6) reinterpret_cast<sockaddr_in6*>(&storage_)->sin6_port = htons(port);
}

std::array<uint8_t, 4> SocketAddress::ipv4Bytes() const {
    std::array<uint8_t, 4> bytes{};
    if (isIPv4()) std::memcpy(bytes.data(), &reinterpret_cast<const sockaddr_in*>(&storage_)->sin_addr, 4);
    return bytes;
}

std::string SocketAddress::hostText() const {
    char text[INET6_ADDRSTRLEN] = {};
    if (family() == AF_INET)
        ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(&storage_)->sin_addr, text, sizeof text);
    else if (family() == AF_INET6)
        ::inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(&storage_)->sin6_addr, text, sizeof text);
    return text;
}

std::string SocketAddress::toString() const {
    std::string host = hostText();
    if (family() == AF_INET6) host = "[" + host + "]";
    return host + ":" + std::to_string(port());
}

// --- TcpSocket

TcpSocket::~TcpSocket() { close(); }

TcpSocket::TcpSocket(TcpSocket&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), interrupter_(other.interrupter_) {}

TcpSocket& TcpSocket::operator=(TcpSocket&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = std::exchange(other.fd_, -1);
        interrupter_ = other.interrupter_;
    }
    return *this;
}

void TcpSocket::close() noexcept {
    if (fd_ >= 0) ::close(std::exchange(fd_, -1));
}

void TcpSocket::shutdown() noexcept {
    if (fd_ >= 0) ::shutdown(fd_, SHUT_RDWR);
}

void TcpSocket::shutdownSending() noexcept {
    if (fd_ >= 0) ::shutdown(fd_, SHUT_WR);
}

// Connects socket to address; returns 0, the system's error number, or ETIMEDOUT when the
// time-out passed without an answer.
int TcpSocket::connectTo(const SocketAddress& address, Milliseconds timeout) {
    if (::connect(fd_, address.raw(), address.length()) == 0) return 0;
    if (errno != EINPROGRESS) return errno;
    std::vector<pollfd> fds{{fd_, POLLOUT, 0}};
    if (!pollReady(fds, timeout, interrupterDescriptor(interrupter_))) return ETIMEDOUT;
    int error = 0;
    socklen_t length = sizeof error;
    ::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &length);
    return error;
}

TcpSocket TcpSocket::connect(const std::string& host, uint16_t port, Milliseconds timeout,
                             const SocketInterrupter* interrupter) {
    throwIfInterrupted(interrupter);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_ADDRCONFIG;
    addrinfo* found = nullptr;
    int status = ::getaddrinfo(host.c_str(), nullptr, &hints, &found);
    if (status != 0) {
        std::string reason = status == EAI_SYSTEM ? systemErrorText(errno) : ::gai_strerror(status);
        throw ESocketError("Cannot resolve host \"" + host + "\": " + reason);
    }
    std::vector<SocketAddress> addresses;
    for (addrinfo* entry = found; entry; entry = entry->ai_next)
        if (entry->ai_family == AF_INET || entry->ai_family == AF_INET6)
            addresses.emplace_back(entry->ai_addr, entry->ai_addrlen);
    ::freeaddrinfo(found);
    // Active data connections need an IPv4 control connection.
    std::stable_partition(addresses.begin(), addresses.end(),
                          [](const SocketAddress& address) { return address.isIPv4(); });
    if (addresses.empty()) throw ESocketError("Cannot resolve host \"" + host + "\": no IP address");

    const bool forever = timeout < Milliseconds::zero();
    const auto deadline = Clock::now() + (forever ? Milliseconds::zero() : timeout);
    int error = ETIMEDOUT;
    for (auto& address : addresses) {
        address.setPort(port);
        Milliseconds left = kWaitForever;
        if (!forever) {
            left = std::chrono::duration_cast<Milliseconds>(deadline - Clock::now());
            if (left <= Milliseconds::zero()) {
                error = ETIMEDOUT;
                break;
            }
        }
        TcpSocket socket(newSocket(address.family()), interrupter);
        error = socket.connectTo(address, left);
        if (error == 0) {
            disableNagle(socket.fd_);
            return socket;
        }
    }
    throwConnectError(endpointText(host, port), error, timeout);
}

TcpSocket TcpSocket::connect(const SocketAddress& address, Milliseconds timeout,
                             const SocketInterrupter* interrupter) {
    throwIfInterrupted(interrupter);
    TcpSocket socket(newSocket(address.family()), interrupter);
    int error = socket.connectTo(address, timeout);
    if (error != 0) throwConnectError(endpointText(address.hostText(), address.port()), error, timeout);
    disableNagle(socket.fd_);
    return socket;
}

TcpSocket TcpSocket::listen(SocketAddress address, const SocketInterrupter* interrupter) {
    TcpSocket socket(newSocket(address.family()), interrupter);
    if (::bind(socket.fd_, address.raw(), address.length()) < 0 || ::listen(socket.fd_, 1) < 0)
        throw ESocketError("Cannot listen on " + address.hostText() + ": " + systemErrorText(errno));
    return socket;
}

void TcpSocket::waitFor(short events, Milliseconds timeout, const char* what) const {
    std::vector<pollfd> fds{{fd_, events, 0}};
    if (!pollReady(fds, timeout, interrupterDescriptor(interrupter_)))
        throw ESocketTimeout(std::string(what) + " for " + describeDuration(timeout));
}

TcpSocket TcpSocket::accept(Milliseconds timeout) {
    for (;;) {
        throwIfInterrupted(interrupter_);
        int fd = ::accept4(fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd >= 0) {
            disableNagle(fd);
            return TcpSocket(fd, interrupter_);
        }
        if (errno == EINTR || errno == ECONNABORTED) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            throw ESocketError("Cannot accept a connection: " + systemErrorText(errno));
        waitFor(POLLIN, timeout, "No connection arrived");
    }
}

void TcpSocket::sendAll(const void* data, size_t size, Milliseconds idleTimeout) {
    auto bytes = static_cast<const uint8_t*>(data);
    while (size > 0) {
        const size_t sent = sendSome(bytes, size, idleTimeout);
        bytes += sent;
        size -= sent;
    }
}

size_t TcpSocket::sendSome(const void* data, size_t size, Milliseconds timeout) {
    for (;;) {
        throwIfInterrupted(interrupter_);
        ssize_t sent = ::send(fd_, data, size, MSG_NOSIGNAL);
        if (sent > 0) return static_cast<size_t>(sent);
        if (sent < 0 && errno == EINTR) continue;
        if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            throw ESocketError("Sending failed: " + systemErrorText(errno));
        waitFor(POLLOUT, timeout, "The peer accepted no data");
    }
}

size_t TcpSocket::receiveSome(void* buffer, size_t size, Milliseconds idleTimeout) {
    for (;;) {
        throwIfInterrupted(interrupter_);
        ssize_t received = ::recv(fd_, buffer, size, 0);
        if (received >= 0) return static_cast<size_t>(received);
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            throw ESocketError("Receiving failed: " + systemErrorText(errno));
        waitFor(POLLIN, idleTimeout, "Nothing arrived");
    }
}

size_t TcpSocket::waitReadable(std::span<const TcpSocket* const> sockets, Milliseconds timeout) {
    std::vector<pollfd> fds;
    const SocketInterrupter* interrupter = nullptr;
    for (const TcpSocket* socket : sockets) {
        fds.push_back({socket->fd_, POLLIN, 0});
        if (socket->interrupter_) interrupter = socket->interrupter_;
    }
    const size_t count = fds.size();
    if (!pollReady(fds, timeout, interrupterDescriptor(interrupter)))
        throw ESocketTimeout("Nothing arrived for " + describeDuration(timeout));
    for (size_t i = 0; i < count; ++i)
        if (fds[i].revents != 0) return i;
    return 0;
}

SocketAddress TcpSocket::localAddress() const {
    sockaddr_storage storage{};
    socklen_t length = sizeof storage;
    if (::getsockname(fd_, reinterpret_cast<sockaddr*>(&storage), &length) < 0)
        throw ESocketError("Cannot read the socket's local address: " + systemErrorText(errno));
    return SocketAddress(reinterpret_cast<sockaddr*>(&storage), length);
}

SocketAddress TcpSocket::peerAddress() const {
    sockaddr_storage storage{};
    socklen_t length = sizeof storage;
    if (::getpeername(fd_, reinterpret_cast<sockaddr*>(&storage), &length) < 0)
        throw ESocketError("Cannot read the socket's peer address: " + systemErrorText(errno));
    return SocketAddress(reinterpret_cast<sockaddr*>(&storage), length);
}

}  // namespace ts
