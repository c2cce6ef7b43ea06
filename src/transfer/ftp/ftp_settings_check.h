#pragma once
// The test of FTP settings that the backup dialog offers: connect and log in with what the
// user typed, and say whether that worked. The client stays connected after a success.
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

struct FtpSettingsCheck {
    bool ok = false;
    // kFtpTestOkText or kFtpTestFailedText: the first message the user sees.
    std::string message;
    // On failure the error's own text, which the general error report shows after message,
    // and the error itself for callers that pass it on to that report.
    std::string errorText;
    std::exception_ptr error;
};

// Closes client's connection if it has one (no QUIT), sets host, user name and password as
// they stand, and connects with log-in within connectTimeout.
FtpSettingsCheck checkFtpSettings(FtpClient& client, const std::string& host, const std::string& userName,
                                  const std::string& password, Milliseconds connectTimeout = kFtpTestConnectTimeout);

}  // namespace ts
