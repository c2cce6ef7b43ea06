#pragma once
// One backup of a project: the items write the plain data stream straight into the parallel
// compressor, which writes the data file beside its place in the destination folder (renamed
// over it at the end), or "Temp.data_compressed" in the work folder, which is then uploaded.
// Capture, encryption and compression run side by side and nothing else goes to disk. A
// worker thread holds the object and calls run(); any other thread may cancel it.
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "engine/data_file_upload.h"
#include "engine/run.h"
#include "part/capture_report.h"
#include "platform/stream/stream.h"

namespace ts {

class UserMessages;

// The run is the capture report it hands down to the items.
class BackupRun : public Run, public UploadRunLink, private CaptureReport {
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
    void setUploader(DataFileUpload* uploader) { uploader_ = uploader; }

    // The header's backup time (days since 30 December 1899); now unless set.
    void setBackupTime(double days) { backupTime_ = days; }

    // On the worker thread. Checks the name and the destination before anything is captured
    // (FlowFailure), then captures and compresses and, for FTP, uploads. Returns normally when
    // cancelled (check cancelled()); throws on failure, after removing its temporary files
    // (when one cannot be removed, the message says so). A cancel stops the capture at its
    // next write and closes the connection of an upload under way; once the new data file
    // has begun to take the old one's place, a cancel is ignored and the run ends well.
    void run();
    // What the run noted without failing, for the front end to show after it (read it once
    // run() has returned): one line for each file saved as an error record, naming the file
    // and why; a file listed twice is named once.
    // One line for each file or folder not saved as it was, in the order met.
    const std::vector<std::string>& warnings() const { return warnings_; }
    // How many of them are files saved as the error record.
    size_t filesNotSaved() const { return filesNotSaved_; }
    // The captions of the selected items that saved no file and no registry value: the
    // profile holds nothing of theirs.
    const std::vector<std::string>& itemsFoundNothing() const { return itemsFoundNothing_; }

    // UploadRunLink
    void uploadStatus(const std::string& text) override { status(text); }
    void uploadWorkBegin(int64_t total) override { transferSize_ = total; }
    void uploadWork(int64_t sent) override;
    std::stop_token uploadStopToken() const override { return stopToken(); }
    bool uploadFinalStep() override { return enterFinalStep(); }
    int64_t transferSize() const { return transferSize_; }

    // After a run that ended well: where the data file went (a path, or an ftp:// address
    // without the password), the bytes of the plain data stream and of the data file.
    const std::string& dataFileLocation() const { return location_; }
    int64_t plainBytes() const { return plainBytes_; }
    int64_t dataFileBytes() const { return dataFileBytes_; }

private:
    friend class CaptureStream;
    // CaptureReport
    void notSaved(const std::string& realPath, const std::string& reason, Problem problem) override;
    void saved(Saved what, int64_t bytes) override;
    void filesAhead(int64_t count, int64_t bytes) override;

    // The header, the project stream and every selected item, in order; throws RunStopped at
    // the first write or item after a cancel.
    void writePlainStream(Stream& stream);
    // Captures into a compressed file at path; false when cancelled (nothing then is left at
    // path's side). When final, the rename over path is the run's last step.
    bool writeDataFile(const std::string& path, bool final);
    // captured: the plain bytes the capture has taken so far.
    void captureProgress(int64_t captured);

    UserMessages* messages_;
    std::optional<double> backupTime_;
    // The capture's share of the bar: one equal slice per selected item, moved within the
    // slice by the bytes taken against the bytes the item's file list announced.
    int selectedItems_ = 0;
    int itemIndex_ = 0;
    int64_t listBytes_ = 0;
    int64_t listStart_ = 0;  // captured bytes when the list under way began
    int64_t captured_ = 0;
    int lastPercent_ = -1;
    std::vector<std::string> itemsFoundNothing_;
    std::string workFolder_;
    DataFileUpload* uploader_ = nullptr;
    std::unique_ptr<DataFileUpload> ownUploader_;
    int64_t transferSize_ = 0;
    std::mutex warningsMutex_;  // the items may report from a thread of the pipeline
    std::vector<std::string> warnings_;
    size_t filesNotSaved_ = 0;
    std::string location_;
    int64_t plainBytes_ = 0;
    int64_t dataFileBytes_ = 0;
};

}  // namespace ts
