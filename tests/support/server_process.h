#pragma once
// A real server program a test starts as an ordinary child process on a loopback port of its
// own (never as the system's service), in a process group that goes with it.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include <sys/types.h>

#include "support/temp_dir.h"

namespace ts::test {

// A loopback port nothing listens on right now.
uint16_t freeLoopbackPort(bool ipv6);
// The text of a file; "" when it cannot be read.
std::string fileText(const std::filesystem::path& path);
void replaceAll(std::string& text, const std::string& from, const std::string& to);
// Runs a shell command with its output discarded; its exit status.
int runQuietly(const std::string& command);

class ServerProcess {
public:
    ServerProcess() = default;
    ~ServerProcess() { stop(); }
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    // Runs argv with standard output and error into outputFile; true once the program accepts
    // connections on the loopback port, false when it ended (another took the port) or did not
    // listen within 10 seconds.
    bool start(const std::vector<std::string>& argv, const std::string& outputFile, uint16_t port, bool ipv6 = false);
    // Kills the whole group.
    void stop();

private:
    pid_t pid_ = -1;
};

}  // namespace ts::test

namespace ts::test {

// argv run with a tmpfs of `bytes` over folder, seen by that process alone (a mount namespace
// of its own), for servers whose disk must fill up. Empty when this system cannot do it.
// A server program from Debian packages that conflict with the installed vsftpd, unpacked on
// first use into the build folder (tests/support/unpack-debian-server.sh); the program's path,
// or "" with the reason in why.
std::string unpackedServerProgram(const std::string& program, const std::string& packages, std::string& why);
// Where unpackedServerProgram puts the packages' files.
std::filesystem::path unpackedServersFolder();

// A self-signed certificate for "localhost" and its key, with openssl.
void makeSelfSignedCertificate(const std::filesystem::path& key, const std::filesystem::path& certificate);
// As `openssl x509 -noout -fingerprint -sha256` prints it.
std::string certificateFingerprint(const std::filesystem::path& certificate);

std::vector<std::string> withSmallDisk(const std::filesystem::path& folder, int64_t bytes, std::vector<std::string> argv);

}  // namespace ts::test

namespace ts::test {

// What the tests' servers run from unpacked packages share: one user with a home holding the
// upload folder, a temporary folder for everything else, a loopback port.
class UnpackedFtpServer {
public:
    static constexpr char kUser[] = "tester";
    static constexpr char kPassword[] = "right-Password-1";
    static constexpr char kFolder[] = "backups";

    uint16_t port() const { return port_; }
    std::string host() const { return "127.0.0.1:" + std::to_string(port_); }
    std::filesystem::path folder() const { return dir_.path() / "home" / kFolder; }

protected:
    TempDir dir_;
    ServerProcess process_;
    uint16_t port_ = 0;
};

}  // namespace ts::test
