#pragma once
// The test of FTP settings that the backup dialog and `tessaly-cli test-ftp` offer: connect
// and log in with what the user typed (with the TLS handshake for an ftpes:// host), and
// enter the remote folder when one is set, so that a test never says ok for settings whose
// backup would fail at CWD. The client stays connected after a success.
#include <exception>
#include <string>

#include "platform/tcp_socket.h"

namespace ts {

class FtpClient;

inline constexpr char kFtpTestOkText[] = "FTP Test ok!";
inline constexpr char kFtpTestFailedText[] =
    "Can not create the connection, please verify your FTP settings and make sure your internet "
    "connection is valid, then try again!";
inline constexpr Milliseconds kFtpTestConnectTimeout{30000};
// The whole test, however slowly a server answers each step.
inline constexpr Milliseconds kFtpTestDeadline{60000};

struct FtpSettingsToCheck {
    std::string host;
    std::string userName;
    std::string password;
    std::string remoteFolder;        // "" for none
    // A fingerprint to trust for this test; "" takes the one pinned for the host, if any
    // (FtpTrustStore).
    std::string trustedFingerprint;
    Milliseconds deadline = kFtpTestDeadline;
};

struct FtpSettingsCheck {
    bool ok = false;
    // kFtpTestOkText or kFtpTestFailedText: the first message the user sees.
    std::string message;
    // On failure the error's own text, which the general error report shows after message,
    // and the error itself for callers that pass it on to that report.
    std::string errorText;
    std::exception_ptr error;
    // The server refused the user name or password.
    bool loginRefused = false;
    // The TLS server's certificate fingerprint ("" for plain text), and whether it failed the
    // checks: then the user may compare it with the server's and pin it.
    std::string serverFingerprint;
    bool untrustedCertificate = false;
    // Untrusted, and not the certificate pinned for the host: an attack or a renewal.
    bool certificateChanged = false;
};

// Closes client's connection if it has one (no QUIT), sets host, user name and password as
// they stand, connects with log-in within connectTimeout, then changes to the remote folder;
// when settings.deadline passes first, the connection is closed and the test fails.
FtpSettingsCheck checkFtpSettings(FtpClient& client, const FtpSettingsToCheck& settings,
                                  Milliseconds connectTimeout = kFtpTestConnectTimeout);
FtpSettingsCheck checkFtpSettings(FtpClient& client, const std::string& host, const std::string& userName,
                                  const std::string& password, Milliseconds connectTimeout = kFtpTestConnectTimeout);

}  // namespace ts
