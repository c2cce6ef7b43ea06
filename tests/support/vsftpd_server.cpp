#include "support/vsftpd_server.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <stdexcept>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace ts::test {
namespace {

std::string textOf(const std::filesystem::path& path) {
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

// A port nothing listens on right now; vsftpd binds it a moment later.
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

bool accepts(bool ipv6, uint16_t port) {
    socklen_t length;
    sockaddr_in6 address = loopbackAddress(ipv6, port, length);
    int fd = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), length) == 0;
    ::close(fd);
    return ok;
}

int runQuietly(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()); }

}  // namespace

bool Vsftpd::available() { return ::access(kProgram, X_OK) == 0; }

Vsftpd::Vsftpd(Options options) : options_(options) {
    const auto root = dir_.path();
    std::filesystem::create_directories(root / "home" / kFolder);
    std::filesystem::create_directories(root / "empty");
    writeHostFile((root / "passwords").string(), std::string(kPassword) + "\n");
    if (options_.tls &&
        runQuietly("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=localhost -keyout '" +
                   (root / "key.pem").string() + "' -out '" + (root / "cert.pem").string() + "'") != 0)
        throw std::runtime_error("openssl could not make the test certificate");
    for (int attempt = 0; attempt < 3 && pid_ < 0; ++attempt) start();
    if (pid_ < 0) throw std::runtime_error("vsftpd did not start: " + log());
}

void Vsftpd::start() {
    const auto root = dir_.path();
    port_ = freeLoopbackPort(options_.ipv6);
    std::string config = textOf(std::string(TESSALY_SOURCE_DIR) + "/tests/support/vsftpd.conf");
    replaceAll(config, "@PORT@", std::to_string(port_));
    replaceAll(config, "@EMPTY@", (root / "empty").string());
    replaceAll(config, "@PASSWORDS@", (root / "passwords").string());
    replaceAll(config, "@HOME@", (root / "home").string());
    replaceAll(config, "@LOG@", (root / "vsftpd.log").string());
    replaceAll(config, "@PORT_ENABLE@", options_.portEnabled ? "YES" : "NO");
    if (options_.ipv6) {
        replaceAll(config, "listen=YES\nlisten_ipv6=NO\nlisten_address=127.0.0.1\n",
                   "listen=NO\nlisten_ipv6=YES\nlisten_address6=::1\n");
        replaceAll(config, "pasv_address=127.0.0.1\n", "");
    }
    if (options_.tls)
        config += "ssl_enable=YES\nallow_anon_ssl=YES\nforce_anon_logins_ssl=YES\nforce_anon_data_ssl=YES\n"
                  "require_ssl_reuse=YES\nssl_ciphers=HIGH\nrsa_cert_file=" +
                  (root / "cert.pem").string() + "\nrsa_private_key_file=" + (root / "key.pem").string() + "\n";
    const std::string configFile = (root / "vsftpd.conf").string();
    writeHostFile(configFile, config);
    const std::string output = (root / "vsftpd.out").string();
    const pid_t parent = ::getpid();
    pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        ::setpgid(0, 0);  // the sessions it forks go with it
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) ::_exit(127);
        int out = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out >= 0) {
            ::dup2(out, STDOUT_FILENO);
            ::dup2(out, STDERR_FILENO);
        }
        ::execl(kProgram, kProgram, configFile.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::setpgid(pid, pid);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        if (::waitpid(pid, nullptr, WNOHANG) == pid) return;  // gone: the port was taken after all
        if (accepts(options_.ipv6, port_)) {
            pid_ = pid;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::kill(-pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
}

Vsftpd::~Vsftpd() {
    if (pid_ > 0) {
        ::kill(-pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
}

std::string Vsftpd::fingerprint() const {
    const std::string command =
        "openssl x509 -noout -fingerprint -sha256 -in '" + (dir_.path() / "cert.pem").string() + "'";
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

std::string Vsftpd::log() const { return textOf(dir_.path() / "vsftpd.out") + textOf(dir_.path() / "vsftpd.log"); }

}  // namespace ts::test
