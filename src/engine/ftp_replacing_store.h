#pragma once
// Storing a data file on an FTP server so that the previous backup under the same name is
// replaced only by a complete new one. The data goes to a temporary name beside it
// (kRemoteTemporarySuffix; a passive retry after an abandoned active try uses a second one,
// kRemoteRetrySuffix, as the server may still hold the first), the server's size of it is
// checked (where it tells sizes), and a rename puts it over the old file. Nothing is ever
// stored under the final name. A server that will not rename over an existing file has the old
// one deleted first, once the new one is complete. Temporary files an earlier run left are
// deleted before the store (a server that refuses overwrites would refuse it otherwise).
//
// After a failure or a cancel before the rename, cleanUp removes the temporary files where
// the server lets it. From the rename on, the temporary file is a complete backup: it stays,
// and the message names it.
#include <functional>
#include <string>
#include <vector>

#include "transfer/ftp/ftp_client.h"

namespace ts {

// Appended to the data file's name while it is on its way.
inline constexpr char kRemoteTemporarySuffix[] = "_tmp";
inline constexpr char kRemoteRetrySuffix[] = "_tmp2";

class FtpReplacingStore {
public:
    // client: connected and in the remote folder.
    FtpReplacingStore(FtpClient& client, std::string remoteName);

    // enterFinalStep is asked once the new file is complete on the server, before anything
    // touches the final name: false (the run was cancelled) stops there; after true, the run
    // must not close the connection, and each step waits a bounded time for its answer.
    void store(const std::string& localFile, const std::function<bool()>& enterFinalStep);
    // Never throws. When the connection is gone (a cancel closes it) a second short session
    // with the client's settings does the clean-up.
    void cleanUp(const std::string& remoteFolder, Milliseconds timeout) noexcept;

private:
    void checkRemoteSize(const std::string& name, int64_t expected);
    // DELE that may find nothing to delete; false when the server refused it.
    bool removeIfThere(const std::string& name);
    void replaceFinal(const std::string& stored);

    FtpClient& client_;
    std::string remoteName_;
    std::string temporary_;
    std::string retryTemporary_;
    std::vector<std::string> unfinished_;  // names that may hold an incomplete file of this run
};

}  // namespace ts
