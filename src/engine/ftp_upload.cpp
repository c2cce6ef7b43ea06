#include "engine/ftp_upload.h"

#include "engine/destination.h"
#include "engine/ftp_replacing_store.h"
#include "transfer/ftp/ftp_trust_store.h"

namespace ts {

namespace {

// What a cancel may do to the running client: close its control connection at once.
class FtpUploadConnection : public UploadConnection {
public:
    explicit FtpUploadConnection(FtpClient& client) : client_(client) {}
    void CloseControlConnection() override { client_.close(); }

private:
    FtpClient& client_;
};

}  // namespace

void FtpUpload::Upload(UploadRunLink& run, const TtsBPDestination& destination, const std::string& localFile,
                          const std::string& remoteName) {
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
        run.uploadStatus("Connect to host");
        client.connect();
        run.uploadStatus("Prepare transferring");
        client.changeDirectory(destination.RemoteFolder());
        client.OnWorkBegin = [&run](FtpClient&, FtpWorkMode, int64_t total) { run.uploadWorkBegin(total); };
        client.OnWork = [&run](FtpClient&, FtpWorkMode, int64_t sent) { run.uploadWork(sent); };
        run.uploadStatus("Transferring ...");
        FtpUploadConnection connection(client);
        // A cancel that came while connecting had no connection to close yet: the scope
        // closes it at once.
        UploadScope uploading(run, connection);
        replacing.store(localFile, [&run] { return run.uploadFinalStep(); });
    } catch (...) {
        replacing.cleanUp(destination.RemoteFolder(), kCleanupTimeout);
        if (messages_) messages_->ShowMessage(kTransferFailedText, kErrorCaption, MessageIcon::Error);
        throw;
    }
}

}  // namespace ts
