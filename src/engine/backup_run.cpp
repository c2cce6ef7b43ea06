#include "engine/backup_run.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <optional>
#include <vector>

#include "engine/datafile/data_header.h"
#include "engine/flows.h"
#include "engine/ftp_upload.h"
#include "engine/project.h"
#include "engine/project_check.h"
#include "engine/work_folder.h"
#include "platform/atomic_file.h"
#include "platform/date_time.h"
#include "platform/debug_log.h"
#include "platform/exception.h"
#include "platform/profile/profile.h"
#include "platform/stream/parallel_deflate_stream.h"

namespace ts {

namespace {

constexpr const char* kTempDataName = "Temp.data";
constexpr const char* kTempCompressedName = "Temp.data_compressed";
// Data files and the temporary files can hold an FTP password and the user's mail.
constexpr unsigned kPrivateFileMode = 0600;

bool exists(const std::string& path) {
    return ::access(path.c_str(), F_OK) == 0 || errno != ENOENT;
}

// Removes a temporary file of the run; the text of what went wrong when it is still there.
std::optional<std::string> removeTemporary(const std::string& path) {
    if (::unlink(path.c_str()) == 0 || errno == ENOENT) return std::nullopt;
    return systemErrorText(errno);
}

// Tells, and puts into the failure's own text, that a temporary file outlived the failure.
[[noreturn]] void rethrowNamingLeftover(const std::string& path, const std::string& reason) {
    const std::string note = "; the temporary file \"" + path + "\" could not be removed: " + reason;
    debugLog("Backup: the temporary file \"" + path + "\" could not be removed: " + reason);
    try {
        throw;
    } catch (const EReadError&) {
        throw;
    } catch (const EStreamError& error) {
        throw EWriteError(error.what() + note);
    }
}

// Where an FTP destination's data file goes, as an address a user can read; never with the
// password.
std::string ftpAddressOf(const TtsBPDestination& destination, const std::string& fileName) {
    std::string folder = destination.RemoteFolder();
    while (!folder.empty() && folder.front() == '/') folder.erase(0, 1);
    if (!folder.empty() && folder.back() != '/') folder += '/';
    return "ftp://" + destination.UserName() + "@" + destination.Host() + "/" + folder + fileName;
}

// Takes the bytes of a destination that writes nothing.
class DiscardStream final : public Stream {
public:
    int64_t position() const override { return count_; }
    int64_t size() const override { return count_; }
    void seek(int64_t position) override {
        if (position != count_) throw EStreamError("A stream being captured cannot change its position");
    }
    int64_t read(void*, int64_t) override { throw EStreamError("A stream being captured cannot be read"); }
    int64_t write(const void*, int64_t count) override {
        count_ += std::max<int64_t>(count, 0);
        return count;
    }
    int64_t writeTransformed(uint8_t*, int64_t count, const std::shared_ptr<const BlockTransform>&) override {
        return write(nullptr, count);
    }

private:
    int64_t count_ = 0;
};

}  // namespace

// Between the items and the compressor: counts the plain bytes, moves the progress and stops
// the capture at the first write after a cancel.
class CaptureStream final : public Stream {
public:
    CaptureStream(Stream& dest, BackupRun& run) : dest_(dest), run_(run), stop_(run.stopToken()) {}

    int64_t position() const override { return count_; }
    int64_t size() const override { return count_; }
    void seek(int64_t position) override {
        if (position != count_) throw EStreamError("A stream being captured cannot change its position");
    }
    int64_t read(void*, int64_t) override { throw EStreamError("A stream being captured cannot be read"); }
    int64_t write(const void* buffer, int64_t count) override {
        poll();
        dest_.write(buffer, count);
        count_ += std::max<int64_t>(count, 0);
        return count;
    }
    int64_t writeTransformed(uint8_t* buffer, int64_t count, const std::shared_ptr<const BlockTransform>& transform) override {
        poll();
        dest_.writeTransformed(buffer, count, transform);
        count_ += std::max<int64_t>(count, 0);
        return count;
    }

private:
    void poll() {
        if (stop_.stop_requested()) throw RunStopped{};
        run_.captureProgress(count_);
    }
    Stream& dest_;
    BackupRun& run_;
    std::stop_token stop_;
    int64_t count_ = 0;
};

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

void BackupRun::notSaved(const std::string& realPath, const std::string& reason, Problem problem) {
    std::string warning = "\"" + realPath + "\" ";
    switch (problem) {
    case Problem::NotSaved: warning += "was not saved: "; break;
    case Problem::ChangedWhileRead: warning += "changed while it was read: "; break;
    case Problem::FolderNotListed: warning += "could not be listed, so no file in it was saved: "; break;
    }
    warning += reason;
    std::lock_guard lock(warningsMutex_);
    // A file listed twice (the project's own list and the profile's) is named once.
    if (std::find(warnings_.begin(), warnings_.end(), warning) != warnings_.end()) return;
    warnings_.push_back(std::move(warning));
    if (problem == Problem::NotSaved) ++filesNotSaved_;
}

void BackupRun::saved(Saved what, int64_t bytes) {
    switch (what) {
    case Saved::File:
        ++counts().filesSaved;
        counts().bytesSaved += bytes;
        break;
    case Saved::UnreadableFile: ++counts().unreadableFiles; break;
    case Saved::RegistryValue: ++counts().valuesSaved; break;
    }
}

void BackupRun::filesAhead(int64_t, int64_t bytes) {
    listBytes_ = bytes;
    listStart_ = captured_;
}

// By bytes, so one large file moves the bar as it is read; 100 is the end's to give.
void BackupRun::captureProgress(int64_t captured) {
    captured_ = captured;
    if (selectedItems_ <= 0) return;
    double within = 0;
    if (listBytes_ > 0)
        within = std::clamp(static_cast<double>(captured - listStart_) / static_cast<double>(listBytes_), 0.0, 1.0);
    const int percent = static_cast<int>(99.0 * (itemIndex_ + within) / selectedItems_);
    if (percent <= lastPercent_) return;
    lastPercent_ = percent;
    progress(static_cast<uint8_t>(percent));
}

void BackupRun::run() {
    debugLog("-Backup-");
    location_.clear();
    // Refused before a single file is read; a folder that vanishes after this is said so by
    // the creation of the data file.
    throwFirst(checkProject(project(), ProjectCheckFor::Running));
    const std::time_t start = std::time(nullptr);
    WorkFolderLock work(workFolder_.empty() ? project().WorkFolder() : workFolder_);
    std::optional<ProfileLock> profileLock;
    if (profile()) profileLock.emplace(profile()->runLockFolder());
    if (project().Destination().Kind() == TtsBPDestination::kKindLocalFolder)
        sweepLeftovers(project().Destination().LocalFolder(), start);
    // Runs no longer stage their data; one left by an older run only takes room.
    removeTemporary(work.file(kTempDataName));

    const TtsBPDestination& destination = project().Destination();
    switch (destination.Kind()) {
        case TtsBPDestination::kKindLocalFolder: {
            const std::string dataFile = destination.LocalFolder() + "/" + dataFileNameOf(project().Name());
            if (!writeDataFile(dataFile, true)) return;
            location_ = dataFile;
            break;
        }
        case TtsBPDestination::kKindFtp: {
            const std::string compressed = work.file(kTempCompressedName);
            if (!writeDataFile(compressed, false)) return;
            if (cancelled()) {
                removeTemporary(compressed);
                return;
            }
            try {
                if (!uploader_) {
                    ownUploader_ = std::make_unique<FtpUpload>(messages_);
                    uploader_ = ownUploader_.get();
                }
                uploader_->Upload(*this, destination, compressed, dataFileNameOf(project().Name()));
            } catch (...) {
                if (auto reason = removeTemporary(compressed)) rethrowNamingLeftover(compressed, *reason);
                throw;
            }
            // An upload returns once the server holds the new data file under its name, which
            // it put there only after entering the final step; an upload that skipped it and
            // met a cancel counts as cancelled.
            const bool ended = enterFinalStep();
            if (auto reason = removeTemporary(compressed))
                debugLog("Backup: the temporary file \"" + compressed + "\" could not be removed: " + *reason);
            if (!ended) return;
            location_ = ftpAddressOf(destination, dataFileNameOf(project().Name()));
            break;
        }
        default: {
            // Nothing is written, but the items are captured as for any other destination.
            DiscardStream nowhere;
            CaptureStream capture(nowhere, *this);
            try {
                writePlainStream(capture);
            } catch (const RunStopped&) {
                return;
            }
            // Nothing is put anywhere, but a cancel from now on comes after the end.
            if (!enterFinalStep()) return;
            break;
        }
    }
    debugLog("-Backup Finished-");
}

void BackupRun::writePlainStream(Stream& stream) {
    DataHeaderRec header;
    header.BackupTime = backupTime_ ? *backupTime_ : dateTimeNow();
    header.Encrypt = project().Encrypt();
    header.writeTo(stream);
    project().SaveToStream(stream);
    itemsFoundNothing_.clear();
    selectedItems_ = 0;
    for (const TtsBPSourceItem* item : project().Source().ItemList()) selectedItems_ += item->Selected() ? 1 : 0;
    itemIndex_ = 0;
    lastPercent_ = -1;
    for (TtsBPSourceItem* item : project().Source().ItemList()) {
        // Also between items that write nothing.
        throwIfStopped();
        status("Backup " + item->Caption() + " ...");
        listBytes_ = 0;
        if (!item->Selected()) continue;
        const auto moved = [this] { return tally().filesSaved + tally().unreadableFiles + tally().valuesSaved; };
        const int64_t before = moved();
        item->backup(stream, *this);
        if (moved() == before) itemsFoundNothing_.push_back(item->Caption());
        ++itemIndex_;
    }
}

bool BackupRun::writeDataFile(const std::string& path, bool final) {
    std::optional<AtomicFile> dest;
    dest.emplace(path, kPrivateFileMode);
    const std::string temporary = dest->temporaryPath();
    try {
        // The old file stays until the new one is whole: a cancel or a failure removes the
        // temporary file instead.
        ParallelDeflateStream zlib(dest->stream(), zlibLevelFor(project().CompressionLevel()));
        CaptureStream capture(zlib, *this);
        try {
            writePlainStream(capture);
        } catch (const RunStopped&) {
            return false;
        }
        status("Compress Data ...");
        if (cancelled()) return false;
        zlib.finish();
        progress(100);
        plainBytes_ = capture.size();
        dataFileBytes_ = zlib.compressedCount();
        if (final && !enterFinalStep()) return false;
        dest->commit();
        return true;
    } catch (...) {
        dest.reset();
        if (exists(temporary)) {
            if (auto reason = removeTemporary(temporary)) rethrowNamingLeftover(temporary, *reason);
        }
        throw;
    }
}

void BackupRun::uploadWork(int64_t sent) {
    if (transferSize_ <= 0) return;
    double percent = std::trunc(static_cast<double>(sent) / static_cast<double>(transferSize_) * 100.0);
    progress(static_cast<uint8_t>(std::clamp(percent, 0.0, 100.0)));
}

}  // namespace ts
