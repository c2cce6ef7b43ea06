#pragma once
// Ctrl-C and SIGTERM: the first one cancels the run under way through the project's cancel
// flag, so it stops at its next polling point and cleans up; a second one, or one that comes
// when no run is under way, ends the program at once with exit code 130. A terminal whose
// echo was turned off for a password prompt gets it back either way.
#include <termios.h>

namespace ts {
class TtsBackupProject;
}

namespace ts::cli {

void installSignalHandlers();

// While alive, a signal cancels `project` instead of ending the program.
class CancelOnSignal {
public:
    explicit CancelOnSignal(TtsBackupProject& project);
    ~CancelOnSignal();
    CancelOnSignal(const CancelOnSignal&) = delete;
    CancelOnSignal& operator=(const CancelOnSignal&) = delete;
};

// While alive, a signal restores these terminal settings on fd before anything else.
class RestoreTerminalOnSignal {
public:
    RestoreTerminalOnSignal(int fd, const termios& settings);
    ~RestoreTerminalOnSignal();
    RestoreTerminalOnSignal(const RestoreTerminalOnSignal&) = delete;
    RestoreTerminalOnSignal& operator=(const RestoreTerminalOnSignal&) = delete;
};

}  // namespace ts::cli
