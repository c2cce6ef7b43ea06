#pragma once
// The upload of a backup to its FTP destination: connect and log in, enter the remote
// folder, store the data file, with the run's status texts and progress. Any failure is
// first shown as "Transferring failed, please check your ftp settings!" (caption "Error")
// and then leaves the run as it was raised.
#include <functional>
#include <string>

#include "engine/data_file_upload.h"
#include "transfer/ftp_client.h"

namespace ts {

inline constexpr char kTransferFailedText[] = "Transferring failed, please check your ftp settings!";
inline constexpr char kErrorCaption[] = "Error";

class TtsFtpUpload : public TtsDataFileUpload {
public:
    // Shows a message to the user and returns when it has been seen (text, caption).
    using ShowMessage = std::function<void(const std::string& text, const std::string& caption)>;

    explicit TtsFtpUpload(ShowMessage showMessage, FtpTimeouts timeouts = {})
        : showMessage_(std::move(showMessage)), timeouts_(timeouts) {}

    // While the file is sent, a cancel on another thread may close the connection through
    // the project's CloseUploadConnection.
    void Upload(TtsBackupProject& project, const std::string& localFile, const std::string& remoteName) override;

private:
    ShowMessage showMessage_;
    FtpTimeouts timeouts_;
};

}  // namespace ts
