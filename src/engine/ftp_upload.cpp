#include "engine/ftp_upload.h"

#include "engine/ftp_replacing_store.h"
#include "engine/project.h"
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

}  // namespace

void TtsFtpUpload::Upload(TtsBackupProject& project, const std::string& localFile, const std::string& remoteName) {
    const TtsBPDestination& destination = project.Destination();
    // Released on every path; its destructor closes the connection without logging out.
    FtpClient client;
    client.setUserName(destination.UserName());
    client.setPassword(destination.FtpPassword());
    client.setHost(destination.Host());
    client.setTimeouts(timeouts_);
    // The data goes to a name of its own first, so the previous backup stays whole until the
    // new one is complete on the server.
    FtpReplacingStore replacing(client, remoteName);
    try {
        const FtpEndpoint endpoint = parseFtpHost(destination.Host());
        if (endpoint.tls) client.setTrustedFingerprint(FtpTrustStore().fingerprintFor(endpoint.hostAndPort()));
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
        replacing.store(
            localFile, [&project](const std::string& text) { project.Status(text); },
            [&project] { return project.Cancelled(); });
    } catch (...) {
        replacing.cleanUp(destination.RemoteFolder(), kCleanupTimeout);
        if (messages_) messages_->ShowMessage(kTransferFailedText, kErrorCaption, MessageIcon::Error);
        throw;
    }
}

}  // namespace ts
