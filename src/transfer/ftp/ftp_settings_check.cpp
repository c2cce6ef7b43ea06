#include "transfer/ftp/ftp_settings_check.h"

#include <condition_variable>
#include <mutex>
#include <thread>

#include "transfer/ftp/ftp_client.h"
#include "transfer/ftp/ftp_trust_store.h"

namespace ts {
namespace {

// Closes the client when the deadline passes before the watch ends.
class DeadlineWatch {
public:
    DeadlineWatch(FtpClient& client, Milliseconds deadline)
        : thread_([this, &client, deadline] {
              std::unique_lock lock(mutex_);
              if (wake_.wait_for(lock, deadline, [this] { return ended_; })) return;
              expired_ = true;
              client.close();
          }) {}
    ~DeadlineWatch() { end(); }
    // True when the deadline closed the client.
    bool end() {
        {
            std::lock_guard lock(mutex_);
            ended_ = true;
        }
        wake_.notify_all();
        if (thread_.joinable()) thread_.join();
        return expired_;
    }

private:
    std::mutex mutex_;
    std::condition_variable wake_;
    bool ended_ = false;
    bool expired_ = false;
    std::thread thread_;
};

}  // namespace

FtpSettingsCheck checkFtpSettings(FtpClient& client, const FtpSettingsToCheck& settings, Milliseconds connectTimeout) {
    if (client.connected()) client.close();
    FtpSettingsCheck check;
    try {
        client.setHost(settings.host);
        client.setUserName(settings.userName);
        client.setPassword(settings.password);
        std::string pin = settings.trustedFingerprint;
        if (pin.empty()) {
            const FtpEndpoint endpoint = parseFtpHost(settings.host);
            if (endpoint.tls) pin = FtpTrustStore().fingerprintFor(endpoint.hostAndPort());
        }
        client.setTrustedFingerprint(pin);
        DeadlineWatch watch(client, settings.deadline);
        try {
            client.connect(connectTimeout);
            if (!settings.remoteFolder.empty()) client.changeDirectory(settings.remoteFolder);
        } catch (const EFtpError&) {
            if (watch.end()) throw EFtpError("The FTP server did not complete the test within " + describeDuration(settings.deadline));
            throw;
        }
        if (watch.end()) throw EFtpError("The FTP server did not complete the test within " + describeDuration(settings.deadline));
        check.ok = true;
        check.message = kFtpTestOkText;
    } catch (const std::exception& error) {
        check.message = kFtpTestFailedText;
        check.errorText = error.what();
        check.error = std::current_exception();
        check.loginRefused = dynamic_cast<const EFtpLoginRefused*>(&error) != nullptr;
        check.untrustedCertificate = dynamic_cast<const EFtpUntrustedCertificate*>(&error) != nullptr;
        check.certificateChanged = dynamic_cast<const EFtpCertificateChanged*>(&error) != nullptr;
    }
    check.serverFingerprint = client.serverFingerprint();
    return check;
}

FtpSettingsCheck checkFtpSettings(FtpClient& client, const std::string& host, const std::string& userName,
                                  const std::string& password, Milliseconds connectTimeout) {
    return checkFtpSettings(client, FtpSettingsToCheck{host, userName, password, "", "", kFtpTestDeadline}, connectTimeout);
}

}  // namespace ts
