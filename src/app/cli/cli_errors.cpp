#include "app/cli/cli_errors.h"

#include <exception>

#include "engine/failure.h"

namespace ts::cli {

int exitCodeOf(FailureKind kind) {
    switch (kind) {
        case FailureKind::WrongPassword: return kExitPassword;
        case FailureKind::FtpLogin: return kExitFtpLogin;
        case FailureKind::Cancelled: return kExitCancelled;
        default: return kExitFailure;
    }
}

CommandFailure describeFailure(const std::string& file, bool encrypted) {
    try {
        throw;
    } catch (const CommandFailure& failure) {
        return failure;
    } catch (const PasswordError& e) {
        Failure failure = classifyCurrentException(file, encrypted);
        return CommandFailure(failure.text, kExitPassword);
    } catch (...) {
        Failure failure = classifyCurrentException(file, encrypted);
        return CommandFailure(failure.text, exitCodeOf(failure.kind));
    }
}

std::string currentErrorText() {
    try {
        throw;
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "unknown error";
    }
}

}  // namespace ts::cli
