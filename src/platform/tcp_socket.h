#pragma once
// TCP over POSIX sockets with time-outs, and a way for another thread to end any wait at once.
// Every socket is non-blocking underneath; each wait is a poll() that also watches the
// socket's interrupter, so a blocked connect, accept, send or receive ends when it fires.
#include <array>
#include <chrono>
#include <cstdint>
#include <span>
#include <string>

#include <sys/socket.h>

#include "platform/exception.h"

namespace ts {

using Milliseconds = std::chrono::milliseconds;
// Waits with this time-out never end on their own.
inline constexpr Milliseconds kWaitForever{-1};

class ESocketError : public TsException {
public:
    using TsException::TsException;
};

// A wait that saw no progress for its whole time-out.
class ESocketTimeout : public ESocketError {
public:
    using ESocketError::ESocketError;
};

// The wait was ended by the socket's interrupter (a close from another thread).
class ESocketInterrupted : public ESocketError {
public:
    ESocketInterrupted() : ESocketError("The connection was closed") {}
};

// "30 seconds", "1 second", "250 milliseconds": for messages about time-outs.
std::string describeDuration(Milliseconds duration);

// An eventfd that, once triggered, makes every wait watching it end with ESocketInterrupted
// until it is reset. trigger() may be called from any thread.
class SocketInterrupter {
public:
    SocketInterrupter();
    ~SocketInterrupter();
    SocketInterrupter(const SocketInterrupter&) = delete;
    SocketInterrupter& operator=(const SocketInterrupter&) = delete;

    void trigger();
    void reset();
    bool triggered() const;
    int descriptor() const { return fd_; }

private:
    int fd_ = -1;
};

// An IPv4 or IPv6 socket address.
class SocketAddress {
public:
    SocketAddress() = default;
    SocketAddress(const sockaddr* address, socklen_t length);

    int family() const { return storage_.ss_family; }
    bool isIPv4() const { return family() == AF_INET; }
    uint16_t port() const;
    void setPort(uint16_t port);
    // The four bytes of an IPv4 address, network order; only for isIPv4().
    std::array<uint8_t, 4> ipv4Bytes() const;
    // "127.0.0.1" or "::1".
    std::string hostText() const;
    // "127.0.0.1:21" or "[::1]:21".
    std::string toString() const;

    const sockaddr* raw() const { return reinterpret_cast<const sockaddr*>(&storage_); }
    socklen_t length() const { return length_; }

private:
    sockaddr_storage storage_{};
    socklen_t length_ = 0;
};

class TcpSocket {
public:
    TcpSocket() = default;
    ~TcpSocket();
    TcpSocket(TcpSocket&& other) noexcept;
    TcpSocket& operator=(TcpSocket&& other) noexcept;
    TcpSocket(const TcpSocket&) = delete;
    TcpSocket& operator=(const TcpSocket&) = delete;

    // Resolves host and connects to the first address that answers, IPv4 addresses first.
    // The time-out covers all addresses together. Throws ESocketError naming host and port
    // with the system's reason, ESocketTimeout, or ESocketInterrupted.
    static TcpSocket connect(const std::string& host, uint16_t port, Milliseconds timeout,
                             const SocketInterrupter* interrupter = nullptr);
    static TcpSocket connect(const SocketAddress& address, Milliseconds timeout,
                             const SocketInterrupter* interrupter = nullptr);
    // A listening socket on address (port 0: the system chooses one).
    static TcpSocket listen(SocketAddress address, const SocketInterrupter* interrupter = nullptr);

    // Waits up to timeout for a connection on this listening socket.
    TcpSocket accept(Milliseconds timeout);
    // Sends all bytes; fails when the peer accepts nothing for idleTimeout.
    void sendAll(const void* data, size_t size, Milliseconds idleTimeout);
    // Sends what the peer takes now, waiting up to timeout for room for at least one byte;
    // returns the count (> 0).
    size_t sendSome(const void* data, size_t size, Milliseconds timeout);
    // Receives what is there, waiting up to idleTimeout for at least one byte; 0 at the
    // peer's end of stream.
    size_t receiveSome(void* buffer, size_t size, Milliseconds idleTimeout);

    // Waits until one of sockets is readable (or has a pending connection); returns its index.
    // The interrupters of all sockets are watched.
    static size_t waitReadable(std::span<const TcpSocket* const> sockets, Milliseconds timeout);

    // Ends both directions: a blocked peer sees the end of the stream. Safe to call while
    // another thread uses the socket.
    void shutdown() noexcept;
    // Ends the sending direction only (the peer sees the end of the stream); receiving goes on.
    void shutdownSending() noexcept;
    void close() noexcept;
    bool isOpen() const { return fd_ >= 0; }

    SocketAddress localAddress() const;
    SocketAddress peerAddress() const;
    int descriptor() const { return fd_; }

    // Waits for events (POLLIN/POLLOUT), watching the interrupter; throws ESocketTimeout with
    // `what` in its message. For protocol layers (TLS) that drive the descriptor themselves.
    void waitFor(short events, Milliseconds timeout, const char* what) const;

private:
    TcpSocket(int fd, const SocketInterrupter* interrupter) : fd_(fd), interrupter_(interrupter) {}
    int connectTo(const SocketAddress& address, Milliseconds timeout);

    int fd_ = -1;
    const SocketInterrupter* interrupter_ = nullptr;
};

}  // namespace ts
