#pragma once
// A real vsftpd on 127.0.0.1, for as long as the object lives: an ordinary child process with
// tests/support/vsftpd.conf, its own port, home and log, optionally with explicit TLS under a
// self-signed certificate made for it with openssl.
#include <cstdint>
#include <filesystem>
#include <string>

#include <sys/types.h>

#include "support/server_process.h"
#include "support/temp_dir.h"

namespace ts::test {

class Vsftpd {
public:
    struct Options {
        bool portEnabled = true;  // false: PORT and EPRT are refused ("550 Permission denied.")
        bool tls = false;         // TLS required for log-in and data, session reuse required
        bool ipv6 = false;        // on ::1 instead of 127.0.0.1
        int64_t diskBytes = 0;    // > 0: the upload folder is a disk of this size, which fills up
    };
    static constexpr char kUser[] = "anonymous";
    static constexpr char kPassword[] = "right-Password-1";
    static constexpr char kProgram[] = "/usr/sbin/vsftpd";

    static bool available();

    // Throws std::runtime_error with the server's log when it does not come up.
    explicit Vsftpd(Options options);
    Vsftpd() : Vsftpd(Options{}) {}
    Vsftpd(const Vsftpd&) = delete;
    Vsftpd& operator=(const Vsftpd&) = delete;

    uint16_t port() const { return port_; }
    std::string host() const { return (options_.ipv6 ? "[::1]:" : "127.0.0.1:") + std::to_string(port_); }
    // The remote folder the tests upload into, and its place on disk.
    static constexpr char kFolder[] = "backups";
    std::filesystem::path folder() const { return dir_.path() / "home" / kFolder; }
    // The certificate's SHA-256 fingerprint as `openssl x509 -noout -fingerprint -sha256` prints it.
    std::string fingerprint() const;
    std::string log() const;

private:
    // False when the port was taken after all.
    bool start();

    Options options_;
    TempDir dir_;
    ServerProcess process_;
    uint16_t port_ = 0;
};

}  // namespace ts::test
