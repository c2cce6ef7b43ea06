#include "engine/ftp_upload.h"

#include "engine/project.h"
#include "platform/debug_log.h"
#include "platform/stream/stream.h"
#include "transfer/ftp/ftp_trust_store.h"

namespace ts {

namespace {

// What a cancel may do to the running client: close its control connection at once.
class FtpUploadConnection : public TtsUploadConnection {
public:
    explicit FtpUploadConnection(FtpClient& client) : client_(client) {}
    void CloseControlConnection() override { client_.close(); }

private:
    FtpClient& client_;
};

void prepareClient(FtpClient& client, const TtsBPDestination& destination, const FtpTimeouts& timeouts) {
    client.setUserName(destination.UserName());
    client.setPassword(destination.FtpPassword());
    client.setHost(destination.Host());
    client.setTimeouts(timeouts);
    const FtpEndpoint endpoint = parseFtpHost(destination.Host());
    if (endpoint.tls) client.setTrustedFingerprint(FtpTrustStore().fingerprintFor(endpoint.hostAndPort()));
}

int64_t localSize(const std::string& file) { return FileStream(file, FileStream::Mode::Read).size(); }

// A server that says how much it holds must hold all of it before the old backup goes.
void checkRemoteSize(FtpClient& client, const std::string& remoteName, int64_t expected) {
    const std::optional<int64_t> size = client.remoteSize(remoteName);
    if (!size) {
        debugLog("FTP: the server does not tell file sizes (SIZE); relying on its transfer reply");
        return;
    }
    if (*size != expected)
        throw EFtpError("The FTP server holds " + std::to_string(*size) + " bytes of \"" + remoteName + "\" after " +
                        std::to_string(expected) + " were sent");
}

}  // namespace

void TtsFtpUpload::removeTemporary(FtpClient& client, const TtsBPDestination& destination,
                                   const std::string& temporary) const {
    // A cancel or a lost connection leaves the client closed; a short second session cleans
    // up, and a server that will not have it keeps a file that only its name marks as ours.
    try {
        if (!client.connected()) {
            FtpTimeouts brief = timeouts_;
            brief.connect = brief.idle = std::min(timeouts_.connect, kCleanupTimeout);
            prepareClient(client, destination, brief);
            client.connect();
            client.changeDirectory(destination.RemoteFolder());
        }
        client.remove(temporary);
        debugLog("FTP: removed the unfinished \"" + temporary + "\"");
    } catch (const std::exception& error) {
        debugLog("FTP: could not remove the unfinished \"" + temporary + "\": " + error.what());
    }
}

void TtsFtpUpload::Upload(TtsBackupProject& project, const std::string& localFile, const std::string& remoteName) {
    const TtsBPDestination& destination = project.Destination();
    // Released on every path; its destructor closes the connection without logging out.
    FtpClient client;
    // The data goes to a name of its own first: the previous backup stays whole until the new
    // one is complete on the server, whatever happens to the transfer.
    const std::string temporary = remoteName + kRemoteTemporarySuffix;
    bool temporaryMayExist = false;
    try {
        prepareClient(client, destination, timeouts_);
        project.Status("Connect to host");
        client.connect();
        project.Status("Prepare transferring");
        client.changeDirectory(destination.RemoteFolder());
        client.OnWorkBegin = [&project](FtpClient&, FtpWorkMode, int64_t total) { project.UploadWorkBegin(total); };
        client.OnWork = [&project](FtpClient&, FtpWorkMode, int64_t sent) { project.UploadWork(sent); };
        project.Status("Transferring ...");
        FtpUploadConnection connection(client);
        UploadScope uploading(project, connection);
        // A cancel that came while connecting had no connection to close yet.
        if (project.Cancelled()) client.close();
        const int64_t size = localSize(localFile);
        temporaryMayExist = true;
        client.store(localFile, temporary);
        checkRemoteSize(client, temporary, size);
        try {
            client.rename(temporary, remoteName);
            temporaryMayExist = false;
        } catch (const EFtpReplyError& refused) {
            if (!client.connected() || project.Cancelled()) throw;
            // From here a failure leaves the complete new backup under the temporary name.
            temporaryMayExist = false;
            debugLog("FTP: the server refused to rename \"" + temporary + "\" to \"" + remoteName + "\" (" +
                     refused.what() + "); storing under the final name directly");
            project.Status(kDirectStoreStatus);
            client.store(localFile, remoteName);
            checkRemoteSize(client, remoteName, size);
            client.remove(temporary);
        }
    } catch (...) {
        if (temporaryMayExist) removeTemporary(client, destination, temporary);
        if (messages_) messages_->ShowMessage(kTransferFailedText, kErrorCaption, MessageIcon::Error);
        throw;
    }
}

}  // namespace ts
