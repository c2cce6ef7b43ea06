#include "engine/ftp_replacing_store.h"

#include "platform/debug_log.h"
#include "platform/stream/stream.h"

namespace ts {

namespace {

std::string quoted(const std::string& name) { return "\"" + name + "\""; }

}  // namespace

FtpReplacingStore::FtpReplacingStore(FtpClient& client, std::string remoteName)
    : client_(client),
      remoteName_(std::move(remoteName)),
      temporary_(remoteName_ + kRemoteTemporarySuffix),
      retryTemporary_(remoteName_ + kRemoteRetrySuffix) {}

// A server that says how much it holds must hold all of it before the old backup goes.
void FtpReplacingStore::checkRemoteSize(const std::string& name, int64_t expected) {
    const std::optional<int64_t> size = client_.remoteSize(name);
    if (!size) {
        debugLog("FTP: the server does not tell file sizes (SIZE); relying on its transfer reply");
        return;
    }
    if (*size != expected)
        throw EFtpError("The FTP server holds " + std::to_string(*size) + " bytes of " + quoted(name) + " after " +
                        std::to_string(expected) + " were sent");
}

bool FtpReplacingStore::removeIfThere(const std::string& name) {
    try {
        client_.remove(name);
        return true;
    } catch (const EFtpReplyError&) {
        // Most often there was nothing to delete.
        if (!client_.connected()) throw;
        return false;
    }
}

void FtpReplacingStore::store(const std::string& localFile, const std::function<bool()>& enterFinalStep) {
    const int64_t size = FileStream(localFile, FileStream::Mode::Read).size();
    unfinished_ = {temporary_, retryTemporary_};
    for (const auto& name : unfinished_)
        if (removeIfThere(name)) debugLog("FTP: deleted " + quoted(name) + ", left by an earlier run");
    const std::string stored = client_.store(localFile, temporary_, retryTemporary_);
    // The abandoned active try may have left part of a file, once the server lets it go.
    if (stored != temporary_) removeIfThere(temporary_);
    checkRemoteSize(stored, size);
    if (!enterFinalStep()) throw EFtpError("The upload was cancelled");
    // From here the temporary file is a complete backup, which no clean-up removes.
    unfinished_.clear();
    replaceFinal(stored);
}

void FtpReplacingStore::replaceFinal(const std::string& stored) {
    const std::string names = quoted(stored) + " to " + quoted(remoteName_);
    const std::string keptNew = "the new backup is complete on the server as " + quoted(stored);
    auto renameOrReport = [&](const std::string& afterwards) {
        try {
            client_.rename(stored, remoteName_);
        } catch (const EFtpRenameUnanswered& error) {
            throw EFtpError("No answer came to the rename of " + names + " (" + error.what() +
                            "), so whether it was done is unknown: the new backup is complete on the server as " +
                            quoted(remoteName_) + " or, if the rename was not done, as " + quoted(stored) + afterwards);
        }
    };
    try {
        renameOrReport(", and the previous backup is still " + quoted(remoteName_));
        return;
    } catch (const EFtpReplyError& refused) {
        if (refused.command() != "RNTO" || !client_.connected())
            throw EFtpError("The FTP server refused to rename " + names + " (" + refused.what() + "); " + keptNew +
                            ", the previous backup is unchanged");
        // A server that keeps existing files from being overwritten (proftpd's AllowOverwrite
        // off) takes the rename once the old file is gone.
        debugLog("FTP: the server refused to rename " + names + " (" + refused.what() +
                 "); deleting the previous backup first");
        if (!removeIfThere(remoteName_))
            throw EFtpError("The FTP server refused to rename " + names + " (" + refused.what() +
                            ") and to delete the previous backup; " + keptNew + ", the previous backup is unchanged");
    }
    try {
        renameOrReport(" (the previous backup was deleted)");
    } catch (const EFtpReplyError& refused) {
        throw EFtpError("The FTP server refused to rename " + names + " after the previous backup was deleted (" +
                        refused.what() + "); " + keptNew);
    }
}

void FtpReplacingStore::cleanUp(const std::string& remoteFolder, Milliseconds timeout) noexcept {
    if (unfinished_.empty()) return;
    // A server that will not have it keeps a file that only its name marks as ours.
    try {
        if (!client_.connected()) {
            FtpTimeouts brief = client_.timeouts();
            brief.connect = brief.idle = std::min(brief.connect, timeout);
            client_.setTimeouts(brief);
            client_.connect();
            client_.changeDirectory(remoteFolder);
        }
        for (const auto& name : unfinished_)
            if (removeIfThere(name)) debugLog("FTP: removed the unfinished " + quoted(name));
    } catch (const std::exception& error) {
        debugLog(std::string("FTP: could not remove the unfinished temporary files: ") + error.what());
    }
    unfinished_.clear();
}

}  // namespace ts
