#pragma once
// One backup of a project: the plain data stream into "Temp.data" in the work folder, then
// one zlib stream into the data file in the destination folder, or into
// "Temp.data_compressed", which is then uploaded. A worker thread holds the object and calls
// run(); any other thread may cancel it.
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/data_file_upload.h"
#include "engine/run.h"

namespace ts {

class UserMessages;

class BackupRun : public Run, public UploadRunLink {
public:
    // project and profile outlive the run; messages shows the upload failure box (may be null).
    BackupRun(TtsBackupProject& project, Profile& profile, RunEvents events, UserMessages* messages);
    // On the project's own profile, if it has one.
    explicit BackupRun(TtsBackupProject& project, RunEvents events = {}, UserMessages* messages = nullptr);
    ~BackupRun() override;

    // The folder of the temporary files; the project's WorkFolder() unless set. A run holds
    // it locked; a second run at the same time fails at once.
    void setWorkFolder(std::string path) { workFolder_ = std::move(path); }
    // What stores the data file of an FTP destination; not owned. The FTP upload unless set.
    void setUploader(TtsDataFileUpload* uploader) { uploader_ = uploader; }

    // On the worker thread. Checks the name and the destination before anything is captured
    // (FlowFailure), then builds, compresses and, for FTP, uploads. Returns normally when
    // cancelled (check cancelled()); throws on failure.
    void run();
    // Also closes the control connection of an upload under way.
    void cancel() override;
    // What the run noted without failing, for the front end to show after it (read it once
    // run() has returned): one line for each file saved as an error record, naming the file
    // and why; a file listed twice is named once.
    const std::vector<std::string>& warnings() const { return warnings_; }
    void fileNotSaved(const std::string& realPath, const std::string& reason) override;

    // The two steps of run(), each usable alone.
    void buildTempFile(const std::string& fileName);
    // Replaces destName only when the compression ran to its end; a cancelled or failed one
    // leaves an existing file as it was.
    void compressFile(const std::string& sourceName, const std::string& destName);

    // UploadRunLink
    void uploadStatus(const std::string& text) override { status(text); }
    void uploadWorkBegin(int64_t total) override { transferSize_ = total; }
    void uploadWork(int64_t sent) override;
    bool uploadCancelled() const override { return cancelled(); }
    void beginUpload(TtsUploadConnection& connection) override;
    void endUpload() override;
    bool uploading() const;
    // Closes the control connection of an upload under way without cancelling the run, as a
    // broken connection would; false when no upload runs.
    bool closeUploadConnection();
    int64_t transferSize() const { return transferSize_; }

    // After a run that ended well: where the data file went (a path, or an ftp:// address
    // without the password), the bytes of the plain data stream and of the data file.
    const std::string& dataFileLocation() const { return location_; }
    int64_t plainBytes() const { return plainBytes_; }
    int64_t dataFileBytes() const { return dataFileBytes_; }

private:
    UserMessages* messages_;
    std::string workFolder_;
    TtsDataFileUpload* uploader_ = nullptr;
    std::unique_ptr<TtsDataFileUpload> ownUploader_;
    int64_t transferSize_ = 0;
    std::mutex warningsMutex_;  // the items may report from a thread of the pipeline
    std::vector<std::string> warnings_;
    std::string location_;
    int64_t plainBytes_ = 0;
    int64_t dataFileBytes_ = 0;

    mutable std::mutex uploadMutex_;
    TtsUploadConnection* connection_ = nullptr;  // not owned; set only while uploading
};

}  // namespace ts
