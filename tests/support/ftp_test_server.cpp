#include "support/ftp_test_server.h"

#include <chrono>
#include <csignal>
#include <stdexcept>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace ts::test {
namespace {

const char kPython[] = "/usr/bin/python3";

// The first line the child writes: its port.
std::string readFirstLine(int fd, std::chrono::milliseconds timeout) {
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return line;
        pollfd pfd{fd, POLLIN, 0};
        if (::poll(&pfd, 1, static_cast<int>(left.count())) <= 0) continue;
        char c;
        if (::read(fd, &c, 1) != 1 || c == '\n') return line;
        line += c;
    }
}

}  // namespace

std::string ftpServerScriptPath() { return std::string(TESSALY_SOURCE_DIR) + "/tests/support/ftp_server.py"; }

PyFtpServer::PyFtpServer(Options options) : options_(std::move(options)) {
    std::filesystem::create_directory(home());
    const std::string logFile = (dir_.path() / "server.log").string();
    std::vector<std::string> args = {kPython, ftpServerScriptPath(), "--home", home().string(),
                                     "--user", options_.user, "--password", options_.password};
    if (options_.refuseActive) args.push_back("--refuse-active");

    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    const pid_t parent = ::getpid();
    pid_ = ::fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        // The server must not outlive a test process that crashes.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) ::_exit(127);
        ::dup2(pipeFds[1], STDOUT_FILENO);
        int log = ::open(logFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (log >= 0) ::dup2(log, STDERR_FILENO);
        std::vector<char*> argv;
        for (auto& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        ::execv(kPython, argv.data());
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    std::string line = readFirstLine(pipeFds[0], std::chrono::seconds(20));
    ::close(pipeFds[0]);
    int port = 0;
    try {
        port = std::stoi(line);
    } catch (const std::exception&) {
    }
    if (port <= 0 || port > 65535) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
        throw std::runtime_error("The test FTP server (" + std::string(kPython) + " with pyftpdlib) did not start: " +
                                 log());
    }
    port_ = static_cast<uint16_t>(port);
}

PyFtpServer::~PyFtpServer() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
}

std::string PyFtpServer::log() const {
    try {
        auto bytes = readHostFile((dir_.path() / "server.log").string());
        return std::string(bytes.begin(), bytes.end());
    } catch (const std::exception&) {
        return "(no server log)";
    }
}

}  // namespace ts::test
