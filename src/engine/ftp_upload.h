#pragma once
// The upload of a backup to its FTP destination: connect and log in, enter the remote
// folder, store the data file so that it replaces the previous one only once it is complete
// (FtpReplacingStore), with the run's status texts and progress. Any failure is first shown
// as "Transferring failed, please check your ftp settings!" (caption "Error") and then leaves
// the run as it was raised.
#include <string>

#include "engine/data_file_upload.h"
#include "platform/user_messages.h"
#include "transfer/ftp/ftp_client.h"

namespace ts {

inline constexpr char kTransferFailedText[] = "Transferring failed, please check your ftp settings!";
inline constexpr char kErrorCaption[] = "Error";

class FtpUpload : public DataFileUpload {
public:
    // messages may be null: the failure then only leaves the run as an exception.
    explicit FtpUpload(UserMessages* messages, FtpTimeouts timeouts = {}) : messages_(messages), timeouts_(timeouts) {}

    // From its connect on, a cancel of the run on another thread closes the connection.
    void Upload(UploadRunLink& run, const TtsBPDestination& destination, const std::string& localFile,
                const std::string& remoteName) override;

private:
    // How long the clean-up after a failure may take per step.
    static constexpr Milliseconds kCleanupTimeout{5000};

    UserMessages* messages_;
    FtpTimeouts timeouts_;
};

}  // namespace ts
