#pragma once
// Storing a data file on an FTP server so that the previous backup under the same name is
// replaced only by a complete new one: the data goes to a temporary name beside it
// (kRemoteTemporarySuffix), the server's size of it is checked (where it tells sizes), and a
// rename puts it over the old file. A server that refuses renames gets the file under its own
// name directly, which is all such a server allows. After a failure or a cancel, cleanUp
// removes the temporary file where the server lets it; the old backup is never touched.
#include <functional>
#include <string>

#include "transfer/ftp/ftp_client.h"

namespace ts {

// Appended to the data file's name while it is on its way.
inline constexpr char kRemoteTemporarySuffix[] = "_tmp";
inline constexpr char kDirectStoreStatus[] =
    "The FTP server cannot rename files: storing the backup directly under its name";

class FtpReplacingStore {
public:
    // client: connected and in the remote folder.
    FtpReplacingStore(FtpClient& client, std::string remoteName);

    // status is raised once, with kDirectStoreStatus, when the server refuses the rename;
    // cancelled is asked before that second store.
    void store(const std::string& localFile, const std::function<void(const std::string&)>& status,
               const std::function<bool()>& cancelled);
    // Never throws. When the connection is gone (a cancel closes it) a second short session
    // with the client's settings does the clean-up.
    void cleanUp(const std::string& remoteFolder, Milliseconds timeout) noexcept;

private:
    void checkRemoteSize(const std::string& name, int64_t expected);

    FtpClient& client_;
    std::string remoteName_;
    std::string temporary_;
    bool temporaryMayExist_ = false;
};

}  // namespace ts
