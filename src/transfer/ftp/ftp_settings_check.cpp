#include "transfer/ftp/ftp_settings_check.h"

#include "transfer/ftp/ftp_client.h"
#include "transfer/ftp/ftp_trust_store.h"

namespace ts {

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
        client.connect(connectTimeout);
        if (!settings.remoteFolder.empty()) client.changeDirectory(settings.remoteFolder);
        check.ok = true;
        check.message = kFtpTestOkText;
    } catch (const std::exception& error) {
        check.message = kFtpTestFailedText;
        check.errorText = error.what();
        check.error = std::current_exception();
        check.loginRefused = dynamic_cast<const EFtpLoginRefused*>(&error) != nullptr;
        check.untrustedCertificate = dynamic_cast<const EFtpUntrustedCertificate*>(&error) != nullptr;
    }
    check.serverFingerprint = client.serverFingerprint();
    return check;
}

FtpSettingsCheck checkFtpSettings(FtpClient& client, const std::string& host, const std::string& userName,
                                  const std::string& password, Milliseconds connectTimeout) {
    return checkFtpSettings(client, FtpSettingsToCheck{host, userName, password, "", ""}, connectTimeout);
}

}  // namespace ts
