#include "engine/failure.h"

#include <exception>
#include <filesystem>

#include "engine/work_folder.h"
#include "platform/stream/zlib_error.h"
#include "platform/tcp_socket.h"
#include "transfer/ftp/ftp_client.h"

namespace ts {

namespace {

// Messages that already name the file keep their wording.
std::string aboutFile(const std::string& file, const std::string& message) {
    if (file.empty() || message.find(file) != std::string::npos) return message;
    return file + ": " + message;
}

}  // namespace

Failure classifyCurrentException(const std::string& file, bool encrypted) {
    try {
        throw;
    } catch (const FlowFailure& e) {
        return Failure{e.failure().kind, aboutFile(file, e.failure().text)};
    } catch (const EFileEncrypted& e) {
        return Failure{FailureKind::WrongPassword, aboutFile(file, e.what())};
    } catch (const ECipherException& e) {
        if (encrypted)
            return Failure{FailureKind::WrongPassword,
                           aboutFile(file, std::string("wrong password or damaged data (") + e.what() + ")")};
        return Failure{FailureKind::DamagedDataFile, aboutFile(file, e.what())};
    } catch (const ECompressedDataError& e) {
        return Failure{FailureKind::DamagedDataFile, aboutFile(file, e.what())};
    } catch (const EReadError& e) {
        // A record cut short: the file ends inside it.
        return Failure{FailureKind::DamagedDataFile, aboutFile(file, e.what())};
    } catch (const EWorkFolderBusy& e) {
        return Failure{FailureKind::Other, aboutFile(file, e.what())};
    } catch (const EStreamError& e) {
        return Failure{FailureKind::FileSystem, aboutFile(file, e.what())};
    } catch (const std::filesystem::filesystem_error& e) {
        return Failure{FailureKind::FileSystem, aboutFile(file, e.what())};
    } catch (const EFtpLoginRefused& e) {
        return Failure{FailureKind::FtpLogin, aboutFile(file, e.what())};
    } catch (const EFtpError& e) {
        return Failure{FailureKind::Network, aboutFile(file, e.what())};
    } catch (const ESocketError& e) {
        return Failure{FailureKind::Network, aboutFile(file, e.what())};
    } catch (const std::exception& e) {
        return Failure{FailureKind::Other, aboutFile(file, e.what())};
    } catch (...) {
        return Failure{FailureKind::Other, aboutFile(file, "unknown error")};
    }
}

}  // namespace ts
