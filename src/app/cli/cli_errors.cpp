#include "app/cli/cli_errors.h"

#include <exception>

#include "platform/exception.h"
#include "transfer/ftp/ftp_client.h"

namespace ts::cli {

namespace {

// Messages that already name the file keep their wording.
std::string aboutFile(const std::string& file, const std::string& message) {
    if (file.empty() || message.find(file) != std::string::npos) return message;
    return file + ": " + message;
}

}  // namespace

CommandFailure describeFailure(const std::string& file, bool encrypted) {
    try {
        throw;
    } catch (const CommandFailure& failure) {
        return failure;
    } catch (const PasswordError& e) {
        return CommandFailure(aboutFile(file, e.what()), kExitPassword);
    } catch (const EFtpLoginRefused& e) {
        return CommandFailure(aboutFile(file, e.what()), kExitFtpLogin);
    } catch (const EFileEncrypted& e) {
        return CommandFailure(aboutFile(file, e.what()), kExitPassword);
    } catch (const ECipherException& e) {
        if (encrypted)
            return CommandFailure(aboutFile(file, std::string("wrong password or damaged data (") + e.what() + ")"),
                                  kExitPassword);
        return CommandFailure(aboutFile(file, e.what()), kExitFailure);
    } catch (const std::exception& e) {
        return CommandFailure(aboutFile(file, e.what()), kExitFailure);
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
