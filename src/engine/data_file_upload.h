#pragma once
// How a backup run hands a finished data file to an FTP destination. The run compresses into
// its work folder and then calls Upload; the upload talks only to the run (status texts,
// progress, the cancel flag, the connection a cancel may close), never to the project.
#include <cstdint>
#include <string>

namespace ts {

class TtsBPDestination;

// What a cancel on another thread may do to the FTP client of a running upload.
class UploadConnection {
public:
    virtual ~UploadConnection() = default;
    // Closes the control connection at once without sending a command. Called from another
    // thread than the one using the client.
    virtual void CloseControlConnection() = 0;
};

// What an upload sees of the run it belongs to.
class UploadRunLink {
public:
    virtual ~UploadRunLink() = default;
    virtual void uploadStatus(const std::string& text) = 0;
    // The announced total, then the bytes sent so far (reported as a truncated percentage).
    virtual void uploadWorkBegin(int64_t total) = 0;
    virtual void uploadWork(int64_t sent) = 0;
    virtual bool uploadCancelled() const = 0;
    // The upload is about to put the new data file in place of the old one: from a true answer
    // on, a cancel no longer stops the run nor closes the connection. False when the run was
    // cancelled already.
    virtual bool uploadFinalStep() = 0;
    // While an upload is under way a cancel on another thread may close its connection;
    // endUpload waits for such a close to finish, so the client is never closed after the
    // upload let it go. Use UploadScope rather than these two.
    virtual void beginUpload(UploadConnection& connection) = 0;
    virtual void endUpload() = 0;
};

class DataFileUpload {
public:
    virtual ~DataFileUpload() = default;
    // Stores localFile under remoteName in the destination's remote folder; raises on any
    // failure. Runs on the run's thread.
    virtual void Upload(UploadRunLink& run, const TtsBPDestination& destination, const std::string& localFile,
                        const std::string& remoteName) = 0;
};

// Marks an upload as under way for as long as it lives.
class UploadScope {
public:
    UploadScope(UploadRunLink& run, UploadConnection& connection) : run_(run) { run_.beginUpload(connection); }
    ~UploadScope() { run_.endUpload(); }
    UploadScope(const UploadScope&) = delete;
    UploadScope& operator=(const UploadScope&) = delete;

private:
    UploadRunLink& run_;
};

}  // namespace ts
