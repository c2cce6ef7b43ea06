#include "app/cli/passwords.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <optional>
#include <termios.h>
#include <unistd.h>

#include "app/cli/cli_errors.h"
#include "app/cli/signals.h"
#include "app/cli/terminal_text.h"

namespace ts::cli {

namespace {

std::optional<std::string> environmentValue(const char* name) {
    const char* value = std::getenv(name);
    if (!value) return std::nullopt;
    return std::string(value);
}

class Terminal {
public:
    Terminal() : fd_(::open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY)) {}
    ~Terminal() {
        if (fd_ >= 0) ::close(fd_);
    }
    bool available() const { return fd_ >= 0; }

    // One line typed without echo, its line end removed.
    std::string readHidden(const std::string& prompt) {
        writeText(prompt);
        termios saved{};
        bool echoOff = ::tcgetattr(fd_, &saved) == 0;
        std::optional<RestoreTerminalOnSignal> restoreOnSignal;
        if (echoOff) {
            restoreOnSignal.emplace(fd_, saved);
            termios silent = saved;
            silent.c_lflag &= ~static_cast<tcflag_t>(ECHO);
            silent.c_lflag |= ECHONL;
            ::tcsetattr(fd_, TCSAFLUSH, &silent);
        }
        std::string line;
        char c;
        ssize_t n;
        while ((n = ::read(fd_, &c, 1)) == 1 || (n < 0 && errno == EINTR)) {
            if (n == 1 && c == '\n') break;
            if (n == 1) line.push_back(c);
        }
        if (echoOff) ::tcsetattr(fd_, TCSAFLUSH, &saved);
        if (n == 0 && line.empty()) throw PasswordError("no password was entered");
        if (!line.empty() && line.back() == '\r') line.pop_back();
        return line;
    }
    void writeText(const std::string& text) { (void)!::write(fd_, text.data(), text.size()); }

private:
    int fd_;
};

std::string prompt(const std::string& question, const std::string& missingMessage, bool confirm) {
    Terminal terminal;
    if (!terminal.available()) throw PasswordError(missingMessage);
    std::string first = terminal.readHidden(visibleText(question) + ": ");
    if (confirm && terminal.readHidden("Repeat it: ") != first) throw PasswordError("the two passwords differ");
    return first;
}

}  // namespace

std::string archivePassword(const std::string& what, bool confirm) {
    if (auto value = environmentValue("TESSALY_PASSWORD")) return *value;
    return prompt("Password for " + what,
                  what + " needs a password: set TESSALY_PASSWORD or run on a terminal", confirm);
}

std::optional<std::string> CliPasswordQuestion::askPassword(const std::string& file, bool) {
    return archivePassword(file, false);
}

std::string ftpPassword(const std::string& user, const std::string& host) {
    if (auto value = environmentValue("TESSALY_FTP_PASSWORD")) return *value;
    return prompt("FTP password of " + user + " at " + host,
                  "the FTP account needs a password: set TESSALY_FTP_PASSWORD or run on a terminal", false);
}

}  // namespace ts::cli
