// The backup run: the plain data stream into "Temp.data", then one zlib stream into the data
// file (or into "Temp.data_compressed" for an upload).
#include <cstdio>
#include <vector>

#include "engine/data_file_upload.h"
#include "engine/datafile/data_header.h"
#include "platform/stream/parallel_deflate_stream.h"
#include "engine/progress_percent.h"
#include "engine/project.h"
#include "engine/work_folder.h"
#include "platform/atomic_file.h"
#include "platform/date_time.h"
#include "platform/exception.h"
#include "platform/debug_log.h"

namespace ts {

namespace {

constexpr int64_t kCopyBlockSize = 10240;
constexpr const char* kDataFileExtension = ".tsly_dat";
constexpr const char* kTempDataName = "Temp.data";
constexpr const char* kTempCompressedName = "Temp.data_compressed";
// Data files and the temporary files can hold an FTP password and the user's mail.
constexpr unsigned kPrivateFileMode = 0600;

// The project name becomes a file name in the destination folder, or on the server; a name
// that holds a path would put the data file somewhere else.
std::string dataFileName(const std::string& name) {
    if (name.empty() || name == "." || name == ".." || name.find_first_of("/\\") != std::string::npos)
        throw TsException("The project name \"" + name + "\" cannot name a data file: it must not be empty or hold \"/\" or \"\\\"");
    return name + kDataFileExtension;
}

std::string localDataFilePath(const std::string& folder, const std::string& name) {
    if (folder.empty()) throw TsException("The destination folder of the project \"" + name + "\" is not set");
    return folder + "/" + dataFileName(name);
}

// Temporary files are left behind only when a run fails; a stale one is harmless.
void removeIfPresent(const std::string& path) {
    std::remove(path.c_str());
}

}  // namespace

std::string TtsBackupProject::WorkFolder() const {
    return workFolder_.empty() ? defaultWorkFolderPath() : workFolder_;
}

void TtsBackupProject::Backup() {
    debugLog("-Backup-");
    ClearCancelled();
    WorkFolderLock work(WorkFolder());
    const std::string tempData = work.file(kTempDataName);

    BuildTempFile(tempData);
    if (Cancelled()) return;

    switch (Destination().Kind()) {
        case TtsBPDestination::kKindLocalFolder:
            CompressFile(tempData, localDataFilePath(Destination().LocalFolder(), Name()));
            break;
        case TtsBPDestination::kKindFtp: {
            const std::string compressed = work.file(kTempCompressedName);
            CompressFile(tempData, compressed);
            if (Cancelled()) return;
            const std::string remoteName = dataFileName(Name());
            if (!uploader_) throw TsException("Cannot upload \"" + remoteName + "\": this program offers no FTP upload");
            uploader_->Upload(*this, compressed, remoteName);
            removeIfPresent(compressed);
            break;
        }
        default:
            break;  // a destination no run knows: nothing is written
    }
    removeIfPresent(tempData);
    debugLog("-Backup Finished-");
}

void TtsBackupProject::BuildTempFile(const std::string& FileName) {
    FileStream file(FileName, FileStream::Mode::Create, kPrivateFileMode);
    DataHeaderRec header;
    header.BackupTime = dateTimeNow();
    header.Encrypt = Encrypt();
    header.writeTo(file);
    SaveToStream(file);
    for (TtsBPSourceItem* item : Source().ItemList()) {
        Status("Backup " + item->Caption() + " ...");
        if (item->Selected()) item->BackupToStream(file);
    }
}

void TtsBackupProject::CompressFile(const std::string& SourceName, const std::string& DestName) {
    Status("Compress Data ...");
    FileStream source(SourceName, FileStream::Mode::Read);
    // The old file stays until the new one is whole: a cancel or a failure removes the
    // partial file instead.
    AtomicFile dest(DestName, kPrivateFileMode);
    ParallelDeflateStream zlib(dest.stream(), zlibLevelFor(CompressionLevel()));

    const int64_t total = source.size();
    std::vector<uint8_t> buffer(static_cast<size_t>(kCopyBlockSize));
    int64_t done = 0;
    int64_t count = source.read(buffer.data(), kCopyBlockSize);
    while (count > 0 && !Cancelled()) {
        done += count;
        Progress(percentOf(done, total));
        zlib.write(buffer.data(), count);
        count = source.read(buffer.data(), kCopyBlockSize);
    }
    if (count > 0) return;  // cancelled with data left: the partial file goes
    zlib.finish();
    dest.commit();
}

}  // namespace ts
