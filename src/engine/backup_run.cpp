#include "engine/backup_run.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <optional>
#include <vector>

#include "engine/datafile/data_header.h"
#include "engine/flows.h"
#include "engine/ftp_upload.h"
#include "engine/progress_percent.h"
#include "engine/project.h"
#include "engine/work_folder.h"
#include "platform/atomic_file.h"
#include "platform/date_time.h"
#include "platform/debug_log.h"
#include "platform/exception.h"
#include "platform/profile/profile.h"
#include "platform/stream/parallel_deflate_stream.h"

namespace ts {

namespace {

constexpr int64_t kCopyBlockSize = 10240;
constexpr const char* kTempDataName = "Temp.data";
constexpr const char* kTempCompressedName = "Temp.data_compressed";
// Data files and the temporary files can hold an FTP password and the user's mail.
constexpr unsigned kPrivateFileMode = 0600;

// Temporary files are left behind only when a run fails; a stale one is harmless.
void removeIfPresent(const std::string& path) {
    std::remove(path.c_str());
}

// What can be told before a single item is captured: the name must make a file name, and a
// local destination must name a folder. Whether the folder is there and writable is the
// front end's check; should it vanish meanwhile, creating the data file says so.
void checkBeforeCapture(const TtsBackupProject& project) {
    dataFileNameOf(project.Name());
    if (project.Destination().Kind() == TtsBPDestination::kKindLocalFolder && project.Destination().LocalFolder().empty())
        throw FlowFailure(FailureKind::Usage,
                          "The destination folder of the project \"" + project.Name() + "\" is not set");
}

// Where an FTP destination's data file goes, as an address a user can read; never with the
// password.
std::string ftpAddressOf(const TtsBPDestination& destination, const std::string& fileName) {
    std::string folder = destination.RemoteFolder();
    while (!folder.empty() && folder.front() == '/') folder.erase(0, 1);
    if (!folder.empty() && folder.back() != '/') folder += '/';
    return "ftp://" + destination.UserName() + "@" + destination.Host() + "/" + folder + fileName;
}

}  // namespace

BackupRun::BackupRun(TtsBackupProject& project, Profile& profile, RunEvents events, UserMessages* messages)
    : Run(project, &profile, std::move(events)), messages_(messages) {
    attach();
}

BackupRun::BackupRun(TtsBackupProject& project, RunEvents events, UserMessages* messages)
    : Run(project, nullptr, std::move(events)), messages_(messages) {
    attach();
}

BackupRun::~BackupRun() {
    detach();
}

void BackupRun::cancel() {
    Run::cancel();
    std::lock_guard lock(uploadMutex_);
    if (connection_) connection_->CloseControlConnection();
}

void BackupRun::run() {
    debugLog("-Backup-");
    location_.clear();
    checkBeforeCapture(project());
    const std::time_t start = std::time(nullptr);
    WorkFolderLock work(workFolder_.empty() ? project().WorkFolder() : workFolder_);
    std::optional<ProfileLock> profileLock;
    if (profile()) profileLock.emplace(profile()->folder());
    if (project().Destination().Kind() == TtsBPDestination::kKindLocalFolder)
        sweepLeftovers(project().Destination().LocalFolder(), start);
    const std::string tempData = work.file(kTempDataName);

    buildTempFile(tempData);
    if (cancelled()) return;

    const TtsBPDestination& destination = project().Destination();
    switch (destination.Kind()) {
        case TtsBPDestination::kKindLocalFolder: {
            const std::string dataFile = destination.LocalFolder() + "/" + dataFileNameOf(project().Name());
            compressFile(tempData, dataFile);
            if (cancelled()) return;
            location_ = dataFile;
            break;
        }
        case TtsBPDestination::kKindFtp: {
            const std::string compressed = work.file(kTempCompressedName);
            compressFile(tempData, compressed);
            if (cancelled()) return;
            if (!uploader_) {
                ownUploader_ = std::make_unique<TtsFtpUpload>(messages_);
                uploader_ = ownUploader_.get();
            }
            uploader_->Upload(*this, destination, compressed, dataFileNameOf(project().Name()));
            removeIfPresent(compressed);
            location_ = ftpAddressOf(destination, dataFileNameOf(project().Name()));
            break;
        }
        default:
            break;  // a destination no run knows: nothing is written
    }
    removeIfPresent(tempData);
    debugLog("-Backup Finished-");
}

void BackupRun::buildTempFile(const std::string& fileName) {
    FileStream file(fileName, FileStream::Mode::Create, kPrivateFileMode);
    DataHeaderRec header;
    header.BackupTime = dateTimeNow();
    header.Encrypt = project().Encrypt();
    header.writeTo(file);
    project().SaveToStream(file);
    for (TtsBPSourceItem* item : project().Source().ItemList()) {
        status("Backup " + item->Caption() + " ...");
        if (item->Selected()) item->BackupToStream(file);
    }
}

void BackupRun::compressFile(const std::string& sourceName, const std::string& destName) {
    status("Compress Data ...");
    FileStream source(sourceName, FileStream::Mode::Read);
    // The old file stays until the new one is whole: a cancel or a failure removes the
    // partial file instead.
    AtomicFile dest(destName, kPrivateFileMode);
    ParallelDeflateStream zlib(dest.stream(), zlibLevelFor(project().CompressionLevel()));

    const int64_t total = source.size();
    std::vector<uint8_t> buffer(static_cast<size_t>(kCopyBlockSize));
    int64_t done = 0;
    int64_t count = source.read(buffer.data(), kCopyBlockSize);
    while (count > 0 && !cancelled()) {
        done += count;
        progress(percentOf(done, total));
        zlib.write(buffer.data(), count);
        count = source.read(buffer.data(), kCopyBlockSize);
    }
    if (count > 0) return;  // cancelled with data left: the partial file goes
    zlib.finish();
    plainBytes_ = total;
    dataFileBytes_ = dest.stream().size();
    dest.commit();
}

void BackupRun::uploadWork(int64_t sent) {
    if (transferSize_ <= 0) return;
    double percent = std::trunc(static_cast<double>(sent) / static_cast<double>(transferSize_) * 100.0);
    progress(static_cast<uint8_t>(std::clamp(percent, 0.0, 100.0)));
}

void BackupRun::beginUpload(TtsUploadConnection& connection) {
    std::lock_guard lock(uploadMutex_);
    connection_ = &connection;
    // A cancel that came while connecting had no connection to close yet.
    if (cancelled()) connection_->CloseControlConnection();
}

void BackupRun::endUpload() {
    std::lock_guard lock(uploadMutex_);
    connection_ = nullptr;
}

bool BackupRun::closeUploadConnection() {
    std::lock_guard lock(uploadMutex_);
    if (!connection_) return false;
    connection_->CloseControlConnection();
    return true;
}

bool BackupRun::uploading() const {
    std::lock_guard lock(uploadMutex_);
    return connection_ != nullptr;
}

// The project keeps its own Backup() for callers that run it directly; it hands on to a run.
std::string TtsBackupProject::WorkFolder() const {
    return workFolder_.empty() ? defaultWorkFolderPath() : workFolder_;
}

void TtsBackupProject::Backup() {
    BackupRun(*this, events_).run();
}

void TtsBackupProject::BuildTempFile(const std::string& FileName) {
    BackupRun(*this, events_).buildTempFile(FileName);
}

void TtsBackupProject::CompressFile(const std::string& SourceName, const std::string& DestName) {
    BackupRun(*this, events_).compressFile(SourceName, DestName);
}

}  // namespace ts
