#pragma once
// A backup project: the unit of work. It owns its source set, destination and schedule
// record, and is what the parts see as their project (the codec's switch and pass phrase,
// and the user profile). What a run reports, where it writes and its stop the run hands to
// the items itself. The runs are objects of their own (BackupRun, RestoreRun); Backup and
// Restore here hand on to them, and Cancel reaches the one under way. Its one serialised
// form is the project stream: the 528-byte project record, the four item records, the
// destination and schedule sections.
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/destination.h"
#include "engine/run_events.h"
#include "engine/scheme.h"
#include "engine/source.h"
#include "part/bp_object.h"

namespace ts {

struct DataFileContents;
class DataFileReader;
class InflateStream;
class Run;

// A saved file a restore did not write because its stored name would not land inside one of
// the user's special folders.
struct RefusedFileName {
    std::string storedName;  // as the data file holds it (placeholder form)
    std::string reason;
};

class TtsBackupProject : public ProjectLink {
public:
    static constexpr int64_t kRecordSize = 528;
    static constexpr const char* kIdentifier = "Tessaly Project File";
    static constexpr uint8_t kMaxCompressionLevel = 3;

    // The profile is the Windows user the items read and write; it may be given later with
    // SetUserProfile, before anything uses it.
    explicit TtsBackupProject(Profile* profile = nullptr);
    ~TtsBackupProject() override;
    TtsBackupProject(const TtsBackupProject&) = delete;
    TtsBackupProject& operator=(const TtsBackupProject&) = delete;

    // ProjectLink
    bool Encrypt() const override { return encrypt_; }
    std::string Password() const override { return password_; }
    // Raises TsException when no profile was given.
    Profile& UserProfile() const override;
    // A project made before its profile was known collects what the items find in the
    // profile (the favorites) once it is given, as if it had been made with it.
    void SetUserProfile(Profile* profile);
    bool HasUserProfile() const { return profile_ != nullptr; }

    const std::string& Name() const { return name_; }
    // Refuses (TsException, name unchanged) a name whose ANSI form exceeds 255 bytes.
    void SetName(const std::string& name);
    uint8_t CompressionLevel() const { return compressionLevel_; }
    // 0 none, 1 fastest, 2 default, 3 max; other values raise TsException.
    void SetCompressionLevel(uint8_t level);
    void SetEncrypt(bool encrypt) { encrypt_ = encrypt; }
    void SetPassword(const std::string& password) { password_ = password; }
    double CreateTime() const { return createTime_; }

    TtsBPSource& Source() const { return *source_; }
    TtsBPDestination& Destination() const { return *destination_; }
    TtsBPScheme& Scheme() const { return *scheme_; }

    // The events the runs started by Backup and Restore raise, on the thread that runs them.
    void SetOnStatus(std::function<void(const std::string&)> handler) { events_.onStatus = std::move(handler); }
    void SetOnProgress(std::function<void(uint8_t)> handler) { events_.onProgress = std::move(handler); }
    const RunEvents& Events() const { return events_; }

    // Cancels the run under way on this project, from any thread; nothing when none runs.
    void Cancel();
    // Whether the run under way was stopped by a cancel; false when none runs.
    bool Cancelled() const;

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

    // Where the runs of this project keep their temporary files (and hold their lock): the
    // folder set, or defaultWorkFolderPath().
    void SetWorkFolder(std::string path) { workFolder_ = std::move(path); }
    std::string WorkFolder() const;

    // A BackupRun with the project's events and profile; an FTP destination is uploaded
    // without a message box.
    void Backup();

    using ItemFilter = std::function<bool(const TtsBPSourceItem&)>;
    // Takes Encrypt from the data file's header and the project from its project stream,
    // reading no further.
    void LoadFromDataFile(const std::string& FileName);
    // A RestoreRun of every stored item (or those restoreItem accepts) with the project's
    // events and profile.
    void Restore(const std::string& FileName);
    void Restore(const std::string& FileName, const ItemFilter& restoreItem);
    // Reads the whole data file, writing nothing: header, project, what each stored item
    // holds, and the end of the compressed data. Fills contents as it goes, so what was read
    // before a failure is there when the exception leaves.
    void InspectDataFile(const std::string& FileName, DataFileContents& contents);

private:
    friend class Run;  // tells the project which run is under way, for Cancel and Cancelled
    void attachRun(Run* run);
    void detachRun(Run* run);
    // Takes Encrypt from the header of a data file and the project from its project stream.
    void loadFromDataFile(DataFileReader& reader);

    Profile* profile_;
    std::string name_ = "Unnamed";
    uint8_t compressionLevel_ = 2;
    double createTime_;
    bool encrypt_ = false;
    std::string password_;
    std::string workFolder_;
    RunEvents events_;

    mutable std::mutex runMutex_;
    Run* run_ = nullptr;  // not owned; the run object alive on this project

    std::unique_ptr<TtsBPSource> source_;
    std::unique_ptr<TtsBPDestination> destination_;
    std::unique_ptr<TtsBPScheme> scheme_;
};

}  // namespace ts
