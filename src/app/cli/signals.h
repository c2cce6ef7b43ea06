#pragma once
// Ctrl-C and SIGTERM: the first one cancels the run under way as the interface's Cancel
// button would (the run's cancel flag, and the connection of a running upload), so it
// stops at its next polling point and cleans up; a second one, or one that comes when no
// run is under way, ends the program at once with exit code 130. A terminal whose echo was
// turned off for a password prompt gets it back either way.
#include <termios.h>

#include <thread>

namespace ts {
class Run;
}

namespace ts::cli {

void installSignalHandlers();

// While alive, a signal cancels `run` instead of ending the program (the run's cancel also
// closes the connection of an upload under way). The cancel itself
// runs on a thread of its own, since closing a connection is no work for a signal handler.
class CancelOnSignal {
public:
    explicit CancelOnSignal(Run& run);
    ~CancelOnSignal();
    CancelOnSignal(const CancelOnSignal&) = delete;
    CancelOnSignal& operator=(const CancelOnSignal&) = delete;

private:
    std::thread canceller_;
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
