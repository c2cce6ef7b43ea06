#include "engine/ftp_replacing_store.h"

#include "platform/debug_log.h"
#include "platform/stream/stream.h"

namespace ts {

FtpReplacingStore::FtpReplacingStore(FtpClient& client, std::string remoteName)
    : client_(client), remoteName_(std::move(remoteName)), temporary_(remoteName_ + kRemoteTemporarySuffix) {}

// A server that says how much it holds must hold all of it before the old backup goes.
void FtpReplacingStore::checkRemoteSize(const std::string& name, int64_t expected) {
    const std::optional<int64_t> size = client_.remoteSize(name);
    if (!size) {
        debugLog("FTP: the server does not tell file sizes (SIZE); relying on its transfer reply");
        return;
    }
    if (*size != expected)
        throw EFtpError("The FTP server holds " + std::to_string(*size) + " bytes of \"" + name + "\" after " +
                        std::to_string(expected) + " were sent");
}

void FtpReplacingStore::store(const std::string& localFile, const std::function<void(const std::string&)>& status,
                              const std::function<bool()>& cancelled) {
    const int64_t size = FileStream(localFile, FileStream::Mode::Read).size();
    temporaryMayExist_ = true;
    client_.store(localFile, temporary_);
    checkRemoteSize(temporary_, size);
    try {
        client_.rename(temporary_, remoteName_);
        temporaryMayExist_ = false;
        return;
    } catch (const EFtpReplyError& refused) {
        if (!client_.connected() || cancelled()) throw;
        debugLog("FTP: the server refused to rename \"" + temporary_ + "\" to \"" + remoteName_ + "\" (" +
                 refused.what() + "); storing under the final name directly");
    }
    // From here a failure leaves the complete new backup under the temporary name.
    temporaryMayExist_ = false;
    status(kDirectStoreStatus);
    client_.store(localFile, remoteName_);
    checkRemoteSize(remoteName_, size);
    client_.remove(temporary_);
}

void FtpReplacingStore::cleanUp(const std::string& remoteFolder, Milliseconds timeout) noexcept {
    if (!temporaryMayExist_) return;
    // A server that will not have it keeps a file that only its name marks as ours.
    try {
        if (!client_.connected()) {
            FtpTimeouts brief = client_.timeouts();
            brief.connect = brief.idle = std::min(brief.connect, timeout);
            client_.setTimeouts(brief);
            client_.connect();
            client_.changeDirectory(remoteFolder);
        }
        client_.remove(temporary_);
        debugLog("FTP: removed the unfinished \"" + temporary_ + "\"");
    } catch (const std::exception& error) {
        debugLog("FTP: could not remove the unfinished \"" + temporary_ + "\": " + error.what());
    }
}

}  // namespace ts
