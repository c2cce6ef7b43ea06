#include "engine/project.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

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

void TtsBackupProject::FileNameRefused(const std::string& storedName, const std::string& reason) {
    refusedFileNames_.push_back(RefusedFileName{storedName, reason});
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

void TtsBackupProject::Status(const std::string& text) const {
    if (onStatus_) onStatus_(text);
}

void TtsBackupProject::Progress(uint8_t percent) const {
    if (onProgress_) onProgress_(percent);
}

void TtsBackupProject::BeginUpload(TtsUploadConnection& client) {
    std::lock_guard lock(uploadMutex_);
    uploadClient_ = &client;
}

void TtsBackupProject::EndUpload() {
    std::lock_guard lock(uploadMutex_);
    uploadClient_ = nullptr;
}

bool TtsBackupProject::Uploading() const {
    std::lock_guard lock(uploadMutex_);
    return uploadClient_ != nullptr;
}

bool TtsBackupProject::CloseUploadConnection() {
    std::lock_guard lock(uploadMutex_);
    if (!uploadClient_) return false;
    uploadClient_->CloseControlConnection();
    return true;
}

void TtsBackupProject::UploadWork(int64_t workCount) const {
    if (!onProgress_ || transferSize_ <= 0) return;
    double percent = std::trunc(static_cast<double>(workCount) / static_cast<double>(transferSize_) * 100.0);
    onProgress_(static_cast<uint8_t>(std::clamp(percent, 0.0, 100.0)));
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

    name_ = record::getText(rec, kNameOffset);
    compressionLevel_ = record::getFixed<uint8_t>(rec, kCompressionLevelOffset);
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

}  // namespace ts
