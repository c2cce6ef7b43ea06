#include "transfer/ftp/ftp_settings_check.h"

#include "transfer/ftp/ftp_client.h"

namespace ts {

FtpSettingsCheck checkFtpSettings(FtpClient& client, const std::string& host, const std::string& userName,
                                  const std::string& password, Milliseconds connectTimeout) {
    if (client.connected()) client.close();
    client.setHost(host);
    client.setUserName(userName);
    client.setPassword(password);
    FtpSettingsCheck check;
    try {
        client.connect(connectTimeout);
        check.ok = true;
        check.message = kFtpTestOkText;
    } catch (const std::exception& error) {
        check.message = kFtpTestFailedText;
        check.errorText = error.what();
        check.error = std::current_exception();
    }
    return check;
}

}  // namespace ts
