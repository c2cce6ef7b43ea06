#pragma once
// The failures the command line maps to its own exit codes.
#include <stdexcept>
#include <string>

#include "engine/failure.h"

namespace ts::cli {

enum ExitCode : int {
    kExitSuccess = 0,
    kExitFailure = 1,
    kExitUsage = 2,
    kExitPassword = 3,
    kExitFtpLogin = 4,
    kExitCancelled = 130,
};

// The command line itself is wrong: exit code 2.
class UsageError : public std::runtime_error {
public:
    UsageError(std::string command, const std::string& message)
        : std::runtime_error(message), command_(std::move(command)) {}
    const std::string& command() const { return command_; }

private:
    std::string command_;
};

// No password could be had, or the one given is wrong: exit code 3.
class PasswordError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace ts::cli

namespace ts::cli {

// A failed command, already worded for the user (one line naming the file and the cause).
class CommandFailure : public std::runtime_error {
public:
    CommandFailure(const std::string& message, int exitCode) : std::runtime_error(message), exitCode_(exitCode) {}
    int exitCode() const { return exitCode_; }

private:
    int exitCode_;
};

// The exit code of a failure the engine classified: wrong or missing passwords 3, a log-in
// the FTP server refused 4, a cancel 130, everything else 1.
int exitCodeOf(FailureKind kind);

// The exception being handled, as a CommandFailure about `file`, worded and classified by
// the engine. A cipher failure counts as a wrong password when the file is encrypted. Call
// only inside a catch block.
CommandFailure describeFailure(const std::string& file, bool encrypted);

// The message of the exception being handled. Call only inside a catch block.
std::string currentErrorText();

}  // namespace ts::cli
