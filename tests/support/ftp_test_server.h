#pragma once
// A real FTP server (pyftpdlib under the system Python) on 127.0.0.1 with a temporary home
// folder, for the lifetime of the object.
#include <cstdint>
#include <filesystem>
#include <string>

#include <sys/types.h>

#include "support/temp_dir.h"

namespace ts::test {

class PyFtpServer {
public:
    struct Options {
        std::string user = "tester";
        std::string password = "s3cret-Pass";
        bool refuseActive = false;
    };

    // Throws std::runtime_error, with the server's own output, when it does not come up.
    explicit PyFtpServer(Options options);
    PyFtpServer() : PyFtpServer(Options{}) {}
    ~PyFtpServer();
    PyFtpServer(const PyFtpServer&) = delete;
    PyFtpServer& operator=(const PyFtpServer&) = delete;

    uint16_t port() const { return port_; }
    // "127.0.0.1:PORT", the form the client's host setting takes.
    std::string host() const { return "127.0.0.1:" + std::to_string(port_); }
    const Options& options() const { return options_; }
    std::filesystem::path home() const { return dir_.path() / "home"; }
    std::string log() const;

private:
    Options options_;
    TempDir dir_;
    pid_t pid_ = -1;
    uint16_t port_ = 0;
};

// The server script, for benchmarks that start it themselves.
std::string ftpServerScriptPath();

}  // namespace ts::test
