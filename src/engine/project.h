#pragma once
// A backup project: the unit of work. It owns its source set, destination and schedule
// record, and is what the parts see as their project (the codec's switch and pass phrase,
// the cancel flag, the user profile). Its one serialised form is the project stream: the
// 528-byte project record, the four item records, the destination and schedule sections.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/destination.h"
#include "part/bp_object.h"
#include "engine/scheme.h"
#include "engine/source.h"

namespace ts {

struct DataFileContents;
class InflateStream;
class TtsDataFileUpload;

// A saved file a restore did not write because its stored name would not land inside one of
// the user's special folders.
struct RefusedFileName {
    std::string storedName;  // as the data file holds it (placeholder form)
    std::string reason;
};

// What a cancel on another thread may do to the FTP client of a running upload.
class TtsUploadConnection {
public:
    virtual ~TtsUploadConnection() = default;
    // Closes the control connection at once without sending a command. Called from another
    // thread than the one using the client.
    virtual void CloseControlConnection() = 0;
};

class TtsBackupProject : public TtsProjectLink {
public:
    static constexpr int64_t kRecordSize = 528;
    static constexpr const char* kIdentifier = "Tessaly Project File";
    static constexpr uint8_t kMaxCompressionLevel = 3;

    using StatusEvent = std::function<void(const std::string&)>;
    using ProgressEvent = std::function<void(uint8_t)>;

    // The profile is the Windows user the items read and write; it may be given later with
    // SetUserProfile, before anything uses it.
    explicit TtsBackupProject(Profile* profile = nullptr);
    ~TtsBackupProject() override;
    TtsBackupProject(const TtsBackupProject&) = delete;
    TtsBackupProject& operator=(const TtsBackupProject&) = delete;

    // TtsProjectLink
    bool Encrypt() const override { return encrypt_; }
    std::string Password() const override { return password_; }
    bool Cancelled() const override { return cancelled_.load(); }
    // Raises TsException when no profile was given.
    Profile& UserProfile() const override;
    void SetUserProfile(Profile* profile) { profile_ = profile; }
    // Kept for RefusedFileNames.
    void FileNameRefused(const std::string& storedName, const std::string& reason) override;

    const std::string& Name() const { return name_; }
    // Refuses (TsException, name unchanged) a name whose ANSI form exceeds 255 bytes.
    void SetName(const std::string& name);
    uint8_t CompressionLevel() const { return compressionLevel_; }
    // 0 none, 1 fastest, 2 default, 3 max; other values raise TsException.
    void SetCompressionLevel(uint8_t level);
    void SetEncrypt(bool encrypt) { encrypt_ = encrypt; }
    void SetPassword(const std::string& password) { password_ = password; }
    double CreateTime() const { return createTime_; }
    int64_t TransferSize() const { return transferSize_; }

    TtsBPSource& Source() const { return *source_; }
    TtsBPDestination& Destination() const { return *destination_; }
    TtsBPScheme& Scheme() const { return *scheme_; }

    // Events, raised on the thread that runs the operation.
    void SetOnStatus(StatusEvent handler) { onStatus_ = std::move(handler); }
    void SetOnProgress(ProgressEvent handler) { onProgress_ = std::move(handler); }
    void Status(const std::string& text) const;
    void Progress(uint8_t percent) const;

    // Cancellation: Cancel may be called on any thread; the runs clear the flag when they
    // start and poll Cancelled.
    void Cancel() { cancelled_.store(true); }
    void ClearCancelled() { cancelled_.store(false); }

    // The upload of a run. While an upload is under way a cancel on another thread may close
    // its control connection; EndUpload waits for such a close to finish, so the client can
    // never be closed after the run has let it go. Use UploadScope rather than these two.
    void BeginUpload(TtsUploadConnection& client);
    void EndUpload();
    bool Uploading() const;
    // Closes the running upload's control connection; false when no upload runs.
    bool CloseUploadConnection();

    // The FTP client's work notifications: the announced total, then the bytes sent so far,
    // reported through OnProgress as a truncated percentage (nothing while the total is 0).
    void UploadWorkBegin(int64_t workCountMax) { transferSize_ = workCountMax; }
    void UploadWork(int64_t workCount) const;

    // The project stream at the stream's position. Returns the bytes written.
    int32_t SaveToStream(Stream& stream);
    // Reads a project stream. A stream that does not begin with the identifier changes
    // nothing and returns the bytes read. EFileEncrypted (wrong or missing password) passes
    // out after the record and the item heads were taken; the schedule keeps its values then,
    // and so does the destination unless a wrong password happened to decode it (about one
    // read in 256, which the schedule right after it then catches).
    int32_t LoadFromStream(Stream& stream);

    // Writes a project file (mode 0600: it may hold an FTP password) through a temporary
    // file beside it, renamed over the old one only when complete.
    void SaveToFile(const std::string& fileName);
    void LoadFromFile(const std::string& fileName);

    // The backup run (backup_run.cpp). Its temporary files live in the work folder, which a
    // run holds locked; a second run at the same time fails at once.
    void SetWorkFolder(std::string path) { workFolder_ = std::move(path); }
    // The folder set, or defaultWorkFolderPath().
    std::string WorkFolder() const;
    // What stores the data file of an FTP destination; not owned. Without one, a backup to
    // an FTP destination fails after compressing.
    void SetUploader(TtsDataFileUpload* uploader) { uploader_ = uploader; }
    void Backup();
    void BuildTempFile(const std::string& FileName);
    // Replaces DestName only when the compression ran to its end; a cancelled or failed
    // one leaves an existing file as it was.
    void CompressFile(const std::string& SourceName, const std::string& DestName);

    // The restore run (restore_run.cpp). The data file is read in one pass.
    using ItemFilter = std::function<bool(const TtsBPSourceItem&)>;
    // Takes Encrypt from the data file's header and the project from its project stream,
    // reading no further.
    void LoadFromDataFile(const std::string& FileName);
    // Restores every item the data file holds.
    void Restore(const std::string& FileName);
    // Restores the stored items restoreItem accepts; the others are read and passed over.
    // The registry values restored are saved into the profile's user.reg at the end, also
    // when the restore fails or is cancelled after it began writing: the files written stay
    // written, and the registry keeps in step with them.
    void Restore(const std::string& FileName, const ItemFilter& restoreItem);
    // The saved files the last restore refused to write, in the order met (the items passed
    // over refuse nothing: they write nothing).
    const std::vector<RefusedFileName>& RefusedFileNames() const { return refusedFileNames_; }
    // Reads the whole data file, writing nothing: header, project, what each stored item
    // holds, and the end of the compressed data. Fills contents as it goes, so what was read
    // before a failure is there when the exception leaves.
    void InspectDataFile(const std::string& FileName, DataFileContents& contents);

private:
    // The items of a restore, from the project stream to the end of the data.
    void restoreItems(InflateStream& stream, const ItemFilter& restoreItem);

    std::string workFolder_;
    TtsDataFileUpload* uploader_ = nullptr;
    Profile* profile_;
    std::string name_ = "Unnamed";
    uint8_t compressionLevel_ = 2;
    double createTime_;
    bool encrypt_ = false;
    std::string password_;
    int64_t transferSize_ = 0;
    std::vector<RefusedFileName> refusedFileNames_;
    StatusEvent onStatus_;
    ProgressEvent onProgress_;
    std::atomic<bool> cancelled_{false};

    mutable std::mutex uploadMutex_;
    TtsUploadConnection* uploadClient_ = nullptr;  // not owned; set only while uploading

    std::unique_ptr<TtsBPSource> source_;
    std::unique_ptr<TtsBPDestination> destination_;
    std::unique_ptr<TtsBPScheme> scheme_;
};

// Marks an upload as under way for as long as it lives.
class UploadScope {
public:
    UploadScope(TtsBackupProject& project, TtsUploadConnection& client) : project_(project) {
        project_.BeginUpload(client);
    }
    ~UploadScope() { project_.EndUpload(); }
    UploadScope(const UploadScope&) = delete;
    UploadScope& operator=(const UploadScope&) = delete;

private:
    TtsBackupProject& project_;
};

}  // namespace ts
