#include "engine/project.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#include "engine/backup_run.h"
#include "engine/datafile/data_file_contents.h"
#include "engine/datafile/data_file_reader.h"
#include "engine/failure.h"
#include "engine/restore_run.h"
#include "engine/work_folder.h"
#include "part/record_coding.h"
#include "part/text_field.h"
#include "platform/atomic_file.h"
#include "platform/date_time.h"
#include "platform/exception.h"

namespace ts {

namespace {

// Offsets in the project record.
constexpr size_t kIdentifierOffset = 0;
constexpr size_t kNameOffset = 256;
constexpr size_t kCompressionLevelOffset = 512;
constexpr size_t kCreateTimeOffset = 520;

using ProjectRec = std::array<uint8_t, TtsBackupProject::kRecordSize>;

// Reads until the buffer is full or the stream ends; returns the bytes read.
int64_t readUpTo(Stream& stream, uint8_t* buffer, int64_t count) {
    int64_t done = 0;
    while (done < count) {
        int64_t got = stream.read(buffer + done, count - done);
        if (got <= 0) break;
        done += got;
    }
    return done;
}

bool beginsWithIdentifier(const ProjectRec& rec, int64_t count) {
    size_t length = std::strlen(TtsBackupProject::kIdentifier);
    return count > static_cast<int64_t>(length) &&
           std::memcmp(&rec[kIdentifierOffset], TtsBackupProject::kIdentifier, length + 1) == 0;
}

}  // namespace

TtsBackupProject::TtsBackupProject(Profile* profile)
    : profile_(profile),
      createTime_(dateTimeNow()),
      source_(std::make_unique<TtsBPSource>(this)),
      destination_(std::make_unique<TtsBPDestination>(this)),
      scheme_(std::make_unique<TtsBPScheme>(this)) {}

TtsBackupProject::~TtsBackupProject() {
    source_.reset();
    destination_.reset();
    scheme_.reset();
}

Profile& TtsBackupProject::UserProfile() const {
    if (!profile_)
        throw TsException("The backup project \"" + name_ + "\" has no user profile to work on");
    return *profile_;
}

void TtsBackupProject::SetUserProfile(Profile* profile) {
    const bool first = !profile_ && profile;
    profile_ = profile;
    if (first) source_->ProfileGiven();
}

bool TtsBackupProject::Cancelled() const {
    std::lock_guard lock(runMutex_);
    return run_ && run_->cancelled();
}

void TtsBackupProject::Cancel() {
    std::lock_guard lock(runMutex_);
    if (run_) run_->cancel();
}

void TtsBackupProject::attachRun(Run* run) {
    std::lock_guard lock(runMutex_);
    if (run_) throw TsException("The backup project \"" + name_ + "\" is already being backed up or restored");
    run_ = run;
}

void TtsBackupProject::detachRun(Run* run) {
    std::lock_guard lock(runMutex_);
    if (run_ == run) run_ = nullptr;
}

void TtsBackupProject::SetName(const std::string& name) {
    name_ = checkedFieldText(name, "Project name");
}

void TtsBackupProject::SetCompressionLevel(uint8_t level) {
    if (level > kMaxCompressionLevel)
        throw TsException("Unknown compression level " + std::to_string(level) +
                          " (0 none, 1 fastest, 2 default, 3 max)");
    compressionLevel_ = level;
}

int32_t TtsBackupProject::SaveToStream(Stream& stream) {
    ProjectRec rec{};
    record::putText(rec, kIdentifierOffset, kIdentifier, "Project identifier");
    record::putText(rec, kNameOffset, name_, "Project name");
    record::putFixed(rec, kCompressionLevelOffset, compressionLevel_);
    record::putFixed(rec, kCreateTimeOffset, createTime_);
    stream.write(rec.data(), kRecordSize);
    int32_t count = static_cast<int32_t>(kRecordSize);
    count += source_->WriteToStream(stream);
    count += destination_->WriteToStream(stream);
    count += scheme_->WriteToStream(stream);
    return count;
}

int32_t TtsBackupProject::LoadFromStream(Stream& stream) {
    ProjectRec rec{};
    int64_t read = readUpTo(stream, rec.data(), kRecordSize);
    if (!beginsWithIdentifier(rec, read)) return static_cast<int32_t>(read);
    // A project record cut short is a damaged file, not a foreign one.
    if (read < kRecordSize) throw EReadError();

    // A level no writer gives would only fail later, when a backup or the dialog uses it.
    const auto level = record::getFixed<uint8_t>(rec, kCompressionLevelOffset);
    if (level > kMaxCompressionLevel)
        throw EDataDamaged("compression level " + std::to_string(level) + ", where 0 to " +
                           std::to_string(kMaxCompressionLevel) + " are known");
    name_ = record::getText(rec, kNameOffset);
    compressionLevel_ = level;
    createTime_ = record::getFixed<double>(rec, kCreateTimeOffset);
    int32_t count = static_cast<int32_t>(kRecordSize);
    count += source_->ReadFromStream(stream);
    count += destination_->ReadFromStream(stream);
    count += scheme_->ReadFromStream(stream);
    return count;
}

void TtsBackupProject::SaveToFile(const std::string& fileName) {
    AtomicFile file(fileName, 0600);
    SaveToStream(file.stream());
    file.commit();
}

void TtsBackupProject::LoadFromFile(const std::string& fileName) {
    FileStream file(fileName, FileStream::Mode::Read);
    LoadFromStream(file);
}

// The runs themselves are objects of their own; the project's calls hand on to them.
std::string TtsBackupProject::WorkFolder() const {
    return workFolder_.empty() ? defaultWorkFolderPath() : workFolder_;
}

void TtsBackupProject::Backup() {
    BackupRun(*this, events_).run();
}

void TtsBackupProject::Restore(const std::string& FileName) {
    RestoreRun(*this, FileName, events_).run();
}

void TtsBackupProject::Restore(const std::string& FileName, const ItemFilter& restoreItem) {
    RestoreRun(*this, FileName, events_, restoreItem).run();
}

void TtsBackupProject::loadFromDataFile(DataFileReader& reader) {
    SetEncrypt(reader.header()->Encrypt);
    try {
        LoadFromStream(reader.stream());
    } catch (...) {
        rethrowDataFileFailure(reader, false);
    }
}

void TtsBackupProject::LoadFromDataFile(const std::string& FileName) {
    DataFileReader reader(FileName);
    if (!reader.header()) return;  // not a data file: the project stays as it was
    loadFromDataFile(reader);
}

void TtsBackupProject::InspectDataFile(const std::string& FileName, DataFileContents& contents) {
    const bool listFiles = contents.listFiles;
    contents = DataFileContents{};
    contents.listFiles = listFiles;
    DataFileReader reader(FileName);
    if (!reader.header()) return;
    contents.isDataFile = true;
    contents.header = *reader.header();
    loadFromDataFile(reader);
    inspectStoredItems(*this, reader, contents);
}

}  // namespace ts
