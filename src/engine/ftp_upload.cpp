#include "engine/ftp_upload.h"

#include "engine/destination.h"
#include "engine/ftp_replacing_store.h"
#include "transfer/ftp/ftp_trust_store.h"

namespace ts {

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
        // A cancel closes the connection from the canceller's thread, at once when it came
        // while connecting; the callback's end waits for a close under way, so the client is
        // never closed after the upload let it go.
        std::stop_callback closeOnCancel(run.uploadStopToken(), [&client] { client.close(); });
        replacing.store(localFile, [&run] { return run.uploadFinalStep(); });
    } catch (...) {
        replacing.cleanUp(destination.RemoteFolder(), kCleanupTimeout);
        if (messages_) messages_->ShowMessage(kTransferFailedText, kErrorCaption, MessageIcon::Error);
        throw;
    }
}

}  // namespace ts
