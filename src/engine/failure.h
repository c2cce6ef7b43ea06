#pragma once
// One reading of what went wrong, for every front end: the kind decides what a front end
// does (exit code, which box, whether to offer the password again), the text is what the
// user reads.
#include <string>

#include "platform/exception.h"

namespace ts {

enum class FailureKind {
    WrongPassword,    // wrong or missing password
    DamagedDataFile,  // a data or project file that is cut short or whose data is damaged
    NotADataFile,     // a file of another kind altogether
    FileSystem,       // a file or folder that cannot be opened, created, read or written
    Network,          // the FTP server cannot be reached or the connection broke
    FtpLogin,         // the FTP server refused the log-in (EFtpLoginRefused)
    WineRunning,      // Wine runs on the profile: its registry must not be written now
    RefusedNames,     // a restore did not write some saved files (their names were refused)
    Cancelled,
    Usage,            // the request itself is wrong (a project name that cannot name a file)
    Other,
};

struct Failure {
    FailureKind kind = FailureKind::Other;
    std::string text;  // one line, user-facing, names the file where there is one
};

class DataFileReader;

// Call inside a catch block: what the exception being handled means for the user. `file` is
// the project or data file the operation was about (may be empty); the text names it unless
// the message already does. Only the password check (EFileEncrypted) is a wrong password,
// and only when `encrypted` (the file's header said so); a file whose structure does not
// hold is damaged whatever the password.
Failure classifyCurrentException(const std::string& file, bool encrypted = true);

// Call inside a catch block of code reading the data file of `reader`: a failure of the
// file's own data leaves as FlowFailure(DamagedDataFile) "the data file is damaged at byte N"
// (N: the compressed bytes read when it showed). EFileEncrypted stays a wrong password only
// while the password is unproven: the file is encrypted and `passwordChecked` is false (the
// destination and schedule sections have not decoded yet). Anything else (a file that cannot
// be written, a cancel) passes unchanged.
[[noreturn]] void rethrowDataFileFailure(DataFileReader& reader, bool passwordChecked);

// An exception carrying a Failure; the flows and the runs throw it for the failures they
// find themselves.
class FlowFailure : public TsException {
public:
    explicit FlowFailure(Failure failure) : TsException(failure.text), failure_(std::move(failure)) {}
    FlowFailure(FailureKind kind, std::string text) : FlowFailure(Failure{kind, std::move(text)}) {}
    const Failure& failure() const { return failure_; }

private:
    Failure failure_;
};

}  // namespace ts
