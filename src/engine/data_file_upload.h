#pragma once
// How a backup run hands a finished data file to an FTP destination. The run compresses into
// its work folder and then calls Upload; status texts, progress and the failure message of
// the upload belong to the implementation.
#include <string>

namespace ts {

class TtsBackupProject;

class TtsDataFileUpload {
public:
    virtual ~TtsDataFileUpload() = default;
    // Stores localFile under remoteName in the destination's remote folder; raises on any
    // failure. Runs on the run's thread; a cancel from another thread may close the
    // connection through the project's upload scope.
    virtual void Upload(TtsBackupProject& project, const std::string& localFile, const std::string& remoteName) = 0;
};

}  // namespace ts
