#include "app/cli/signals.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

#include "app/cli/cli_errors.h"
#include "engine/run.h"

namespace ts::cli {

namespace {

constexpr char kSignalled = 'c';
constexpr char kStop = 's';

std::atomic<bool> cancelArmed{false};
std::atomic<int> signalsSeen{0};
std::atomic<int> terminalFd{-1};
termios terminalSettings{};
int wakePipe[2] = {-1, -1};

void onSignal(int) {
    int fd = terminalFd.load();
    if (fd >= 0) {
        ::tcsetattr(fd, TCSANOW, &terminalSettings);
        (void)!::write(fd, "\n", 1);
    }
    if (cancelArmed.load() && signalsSeen.fetch_add(1) == 0) {
        (void)!::write(wakePipe[1], &kSignalled, 1);
        return;
    }
    ::_exit(kExitCancelled);
}

char awaitWake() {
    char c = 0;
    while (::read(wakePipe[0], &c, 1) < 0 && errno == EINTR) {
    }
    return c;
}

}  // namespace

void installSignalHandlers() {
    static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<int>::is_always_lock_free);
    if (::pipe2(wakePipe, O_CLOEXEC) != 0) return;  // without it, signals simply end the program
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    ::signal(SIGPIPE, SIG_IGN);  // a closed connection or pipe is an error, not a death
}

CancelOnSignal::CancelOnSignal(Run& run) {
    if (wakePipe[0] < 0) return;
    signalsSeen.store(0);
    canceller_ = std::thread([&run] {
        if (awaitWake() != kSignalled) return;
        static const char note[] = "\nCancelling ... (press Ctrl-C again to stop at once)\n";
        (void)!::write(STDERR_FILENO, note, sizeof note - 1);
        run.cancel();
    });
    cancelArmed.store(true);
}

CancelOnSignal::~CancelOnSignal() {
    if (!canceller_.joinable()) return;
    cancelArmed.store(false);
    // Wakes the thread when no signal did; after a signal this byte is simply never read.
    (void)!::write(wakePipe[1], &kStop, 1);
    canceller_.join();
    // Drain what is left for the next run.
    int flags = ::fcntl(wakePipe[0], F_GETFL);
    ::fcntl(wakePipe[0], F_SETFL, flags | O_NONBLOCK);
    char c;
    while (::read(wakePipe[0], &c, 1) == 1) {
    }
    ::fcntl(wakePipe[0], F_SETFL, flags);
}

RestoreTerminalOnSignal::RestoreTerminalOnSignal(int fd, const termios& settings) {
    terminalSettings = settings;
    terminalFd.store(fd);
}

RestoreTerminalOnSignal::~RestoreTerminalOnSignal() {
    terminalFd.store(-1);
}

}  // namespace ts::cli
