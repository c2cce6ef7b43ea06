#include "app/cli/signals.h"

#include <atomic>
#include <csignal>
#include <unistd.h>

#include "app/cli/cli_errors.h"
#include "engine/project.h"

namespace ts::cli {

namespace {

std::atomic<TtsBackupProject*> cancelTarget{nullptr};
std::atomic<int> signalsSeen{0};
std::atomic<int> terminalFd{-1};
termios terminalSettings{};

void onSignal(int) {
    int fd = terminalFd.load();
    if (fd >= 0) {
        ::tcsetattr(fd, TCSANOW, &terminalSettings);
        (void)!::write(fd, "\n", 1);
    }
    TtsBackupProject* project = cancelTarget.load();
    if (project && signalsSeen.fetch_add(1) == 0) {
        project->Cancel();  // an atomic store: safe here
        static const char note[] = "\nCancelling ... (press Ctrl-C again to stop at once)\n";
        (void)!::write(STDERR_FILENO, note, sizeof note - 1);
        return;
    }
    ::_exit(kExitCancelled);
}

}  // namespace

void installSignalHandlers() {
    static_assert(std::atomic<TtsBackupProject*>::is_always_lock_free);
    static_assert(std::atomic<int>::is_always_lock_free);
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    ::signal(SIGPIPE, SIG_IGN);  // a closed connection or pipe is an error, not a death
}

CancelOnSignal::CancelOnSignal(TtsBackupProject& project) {
    signalsSeen.store(0);
    cancelTarget.store(&project);
}

CancelOnSignal::~CancelOnSignal() {
    cancelTarget.store(nullptr);
}

RestoreTerminalOnSignal::RestoreTerminalOnSignal(int fd, const termios& settings) {
    terminalSettings = settings;
    terminalFd.store(fd);
}

RestoreTerminalOnSignal::~RestoreTerminalOnSignal() {
    terminalFd.store(-1);
}

}  // namespace ts::cli
