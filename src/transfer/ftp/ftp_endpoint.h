#pragma once
// Where an FTP host setting points: "name", "name:2121", "192.0.2.7:21", "[2001:db8::1]:2121"
// or a bare IPv6 address. Without a port the FTP port 21 is meant. A leading "ftpes://" asks
// for TLS (explicit, AUTH TLS on the FTP port, never falling back to plain text); "ftp://"
// says plain text in so many words, as does a setting without a scheme.
#include <cstdint>
#include <string>

namespace ts {

struct FtpEndpoint {
    static constexpr uint16_t kDefaultPort = 21;
    std::string host;
    uint16_t port = kDefaultPort;
    bool tls = false;

    // "host:port" ("[v6]:port"): the name trusted certificates are kept under.
    std::string hostAndPort() const;
};

// Throws EFtpError for an unknown scheme, an empty host, an unclosed "[" or a port outside 1 to 65535.
FtpEndpoint parseFtpHost(const std::string& setting);

}  // namespace ts
