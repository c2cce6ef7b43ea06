#include "engine/failure.h"

#include <exception>
#include <filesystem>

#include "engine/datafile/data_file_reader.h"
#include "engine/work_folder.h"
#include "items/capture/backup_reg_item.h"
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

// A data file whose header asks for a password its records were never encrypted with: a
// damaged header, whatever the header bytes say.
constexpr const char* kPlainWhereEncrypted =
    "the file is damaged (its header says it is encrypted, but its records are stored plain)";

}  // namespace

Failure classifyCurrentException(const std::string& file, bool encrypted) {
    try {
        throw;
    } catch (const FlowFailure& e) {
        return Failure{e.failure().kind, aboutFile(file, e.failure().text)};
    } catch (const EPlainWhereEncrypted&) {
        return Failure{FailureKind::DamagedDataFile, aboutFile(file, kPlainWhereEncrypted)};
    } catch (const EFileEncrypted& e) {
        // Without encryption no password is to blame.
        if (!encrypted) return Failure{FailureKind::DamagedDataFile, aboutFile(file, "the file is damaged (" + std::string(e.what()) + ")")};
        return Failure{FailureKind::WrongPassword, aboutFile(file, e.what())};
    } catch (const ECipherException& e) {
        // The cipher meets a payload that is not whole blocks, or ends early: the layout is
        // broken, which no password does.
        return Failure{FailureKind::DamagedDataFile, aboutFile(file, "the file is damaged (" + std::string(e.what()) + ")")};
    } catch (const ECompressedDataError& e) {
        return Failure{FailureKind::DamagedDataFile, aboutFile(file, e.what())};
    } catch (const EReadError& e) {
        // A record cut short: the file ends inside it.
        return Failure{FailureKind::DamagedDataFile, aboutFile(file, e.what())};
    } catch (const EDataDamaged& e) {
        return Failure{FailureKind::DamagedDataFile, aboutFile(file, e.what())};
    } catch (const EKeyTreeIncomplete& e) {
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

void rethrowDataFileFailure(DataFileReader& reader, bool passwordChecked) {
    std::string reason;
    try {
        throw;
    } catch (const EPlainWhereEncrypted&) {
        reason = kPlainWhereEncrypted;
    } catch (const EFileEncrypted& e) {
        if (!passwordChecked && reader.header() && reader.header()->Encrypt) throw;
        reason = e.what();
    } catch (const ECipherException& e) {
        reason = e.what();
    } catch (const ECompressedDataError& e) {
        reason = e.what();
    } catch (const EReadError&) {
        reason = "it ends inside a record";
    } catch (const EKeyTreeIncomplete& e) {
        reason = e.what();
    } catch (const EDataDamaged& e) {
        reason = e.what();
    } catch (const std::out_of_range& e) {
        reason = e.what();
    }
    throw FlowFailure(FailureKind::DamagedDataFile,
                      reader.fileName() + ": the data file is damaged at byte " +
                          std::to_string(reader.stream().compressedConsumed()) + " (" + reason + ")");
}

}  // namespace ts
