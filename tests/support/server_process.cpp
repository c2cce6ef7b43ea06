#include "support/server_process.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <thread>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/temp_dir.h"

namespace ts::test {
namespace {

sockaddr_in6 loopbackAddress(bool ipv6, uint16_t port, socklen_t& length) {
    sockaddr_in6 storage{};
    if (ipv6) {
        storage.sin6_family = AF_INET6;
        storage.sin6_port = htons(port);
        storage.sin6_addr = in6addr_loopback;
        length = sizeof(sockaddr_in6);
    } else {
        auto* v4 = reinterpret_cast<sockaddr_in*>(&storage);
        v4->sin_family = AF_INET;
        v4->sin_port = htons(port);
        v4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        length = sizeof(sockaddr_in);
    }
    return storage;
}

bool accepts(bool ipv6, uint16_t port) {
    socklen_t length;
    sockaddr_in6 address = loopbackAddress(ipv6, port, length);
    int fd = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), length) == 0;
    ::close(fd);
    return ok;
}

}  // namespace

uint16_t freeLoopbackPort(bool ipv6) {
    socklen_t length;
    sockaddr_in6 address = loopbackAddress(ipv6, 0, length);
    int fd = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("no free loopback port");
    ::close(fd);
    return ntohs(address.sin6_port);  // the port sits at the same place in both families
}

std::string fileText(const std::filesystem::path& path) {
    try {
        auto bytes = readHostFile(path.string());
        return std::string(bytes.begin(), bytes.end());
    } catch (const std::exception&) {
        return "";
    }
}

void replaceAll(std::string& text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

int runQuietly(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()); }

bool ServerProcess::start(const std::vector<std::string>& argv, const std::string& outputFile, uint16_t port,
                          bool ipv6) {
    stop();
    std::vector<char*> args;
    for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    const pid_t parent = ::getpid();
    pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        ::setpgid(0, 0);  // the sessions it forks go with it
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) ::_exit(127);
        int out = ::open(outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out >= 0) {
            ::dup2(out, STDOUT_FILENO);
            ::dup2(out, STDERR_FILENO);
        }
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    ::setpgid(pid, pid);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        if (::waitpid(pid, nullptr, WNOHANG) == pid) return false;  // gone: the port was taken after all
        if (accepts(ipv6, port)) {
            pid_ = pid;
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::kill(-pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    return false;
}

void ServerProcess::stop() {
    if (pid_ <= 0) return;
    ::kill(-pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

}  // namespace ts::test

namespace ts::test {

std::vector<std::string> withSmallDisk(const std::filesystem::path& folder, int64_t bytes, std::vector<std::string> argv) {
    // Without root, a user namespace of its own grants the mount.
    const std::string unshare = ::getuid() == 0 ? "unshare -m" : "unshare -rm";
    if (runQuietly(unshare + " true") != 0) return {};
    std::vector<std::string> wrapped{"unshare", ::getuid() == 0 ? "-m" : "-rm", "sh", "-c",
                                     "mount -t tmpfs -o size=" + std::to_string(bytes) + " tmpfs \"$0\" && exec \"$@\"",
                                     folder.string()};
    wrapped.insert(wrapped.end(), argv.begin(), argv.end());
    return wrapped;
}

}  // namespace ts::test

namespace ts::test {

std::filesystem::path unpackedServersFolder() { return std::filesystem::path(TESSALY_BINARY_DIR) / "ftp-servers"; }

std::string unpackedServerProgram(const std::string& program, const std::string& packages, std::string& why) {
    const auto path = unpackedServersFolder() / program;
    const std::string unpack = std::string(TESSALY_SOURCE_DIR) + "/tests/support/unpack-debian-server.sh '" +
                               unpackedServersFolder().string() + "' " + packages;
    if (runQuietly(unpack) != 0 || ::access(path.c_str(), X_OK) != 0) {
        why = "could not unpack " + packages + " (apt-get download)";
        return "";
    }
    return path.string();
}

void makeSelfSignedCertificate(const std::filesystem::path& key, const std::filesystem::path& certificate) {
    if (runQuietly("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=localhost -keyout '" + key.string() +
                   "' -out '" + certificate.string() + "'") != 0)
        throw std::runtime_error("openssl could not make the test certificate");
}

std::string certificateFingerprint(const std::filesystem::path& certificate) {
    const std::string command = "openssl x509 -noout -fingerprint -sha256 -in '" + certificate.string() + "'";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return "";
    char line[256] = {};
    const bool read = std::fgets(line, sizeof line, pipe) != nullptr;
    ::pclose(pipe);
    std::string text = read ? line : "";
    auto equals = text.find('=');
    if (equals == std::string::npos) return "";
    text = text.substr(equals + 1);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

}  // namespace ts::test
