#pragma once
// The upload of a backup to its FTP destination: connect and log in, enter the remote
// folder, store the data file under a temporary name, check its size and rename it over the
// previous backup, with the run's status texts and progress. A failure or a cancel removes
// the temporary file where it can and never touches the previous backup. A server that will
// not rename gets the data file under its own name directly. Any failure is first shown as
// "Transferring failed, please check your ftp settings!" (caption "Error") and then leaves
// the run as it was raised.
#include <string>

#include "engine/data_file_upload.h"
#include "platform/user_messages.h"
#include "transfer/ftp/ftp_client.h"

namespace ts {

inline constexpr char kTransferFailedText[] = "Transferring failed, please check your ftp settings!";
inline constexpr char kErrorCaption[] = "Error";
// Appended to the data file's name while it is on its way.
inline constexpr char kRemoteTemporarySuffix[] = "_tmp";
inline constexpr char kDirectStoreStatus[] =
    "The FTP server cannot rename files: storing the backup directly under its name";

class TtsBPDestination;

class TtsFtpUpload : public TtsDataFileUpload {
public:
    // messages may be null: the failure then only leaves the run as an exception.
    explicit TtsFtpUpload(UserMessages* messages, FtpTimeouts timeouts = {}) : messages_(messages), timeouts_(timeouts) {}

    // While the file is sent, a cancel on another thread may close the connection through
    // the project's CloseUploadConnection.
    void Upload(TtsBackupProject& project, const std::string& localFile, const std::string& remoteName) override;

private:
    static constexpr Milliseconds kCleanupTimeout{5000};
    void removeTemporary(FtpClient& client, const TtsBPDestination& destination, const std::string& temporary) const;

    UserMessages* messages_;
    FtpTimeouts timeouts_;
};

}  // namespace ts
