// The restore run, and reading a data file's stored items without writing anything. Each
// reads the data file in one streaming pass; nothing is inflated twice and the plain stream
// is never staged on disk.
#include "engine/restore_run.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <optional>

#include "engine/datafile/data_file_contents.h"
#include "engine/datafile/data_file_reader.h"
#include "engine/failure.h"
#include "engine/flows.h"
#include "engine/progress_percent.h"
#include "engine/project.h"
#include "engine/work_folder.h"
#include "items/capture/inventory_sink.h"
#include "items/capture/profile_restore_sink.h"
#include "platform/atomic_file.h"
#include "part/restore_sink.h"
#include "platform/exception.h"
#include "platform/profile/profile.h"
#include "platform/profile/profile_transaction.h"
#include "platform/registry/registry_hive.h"
#include "platform/debug_log.h"

namespace ts {

namespace {

// Restored files that are new were not forced to disk one by one; one sync of the whole
// file system does it before the run reports its end.
void syncRestoredFiles(Profile* profile) {
    if (profile && !profile->syncToDisk()) debugLog("Restore: the restored files could not be forced to disk");
}

// A restore into a folder that holds no profile yet makes one. Until the restore has put
// everything in place, what it made goes again when it ends, so that a wrong password, a
// damaged file or a cancel leaves no half profile behind.
class NewProfileUndo {
public:
    // Makes the folder when it is missing, so that it can be locked before anything else.
    void makeFolderOf(const Profile& profile) {
        folder_ = profile.folder();
        const bool held = profile.kind() != ProfileKind::WinePrefix || std::filesystem::exists(folder_ + "/user.reg");
        if (held) return;
        std::error_code error;
        if (!std::filesystem::exists(folder_, error)) {
            madeFolder_ = std::filesystem::create_directories(folder_, error);
            if (error) throw TsException("Cannot create the profile folder \"" + folder_ + "\". " + error.message());
            // It will hold the user's mail and passwords.
            std::filesystem::permissions(folder_, std::filesystem::perms::owner_all, error);
        }
    }
    void layoutMade() { madeLayout_ = true; }
    void keep() { keep_ = true; }

    ~NewProfileUndo() {
        if (keep_ || (!madeFolder_ && !madeLayout_)) return;
        const std::filesystem::path folder(folder_);
        if (madeFolder_) {
            const int parent = ::open(folder.parent_path().empty() ? "." : folder.parent_path().c_str(),
                                      O_PATH | O_DIRECTORY | O_CLOEXEC);
            if (parent < 0) return;
            removeFolderTree(parent, folder.filename().string());
            ::close(parent);
            return;
        }
        const int fd = ::open(folder_.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) return;
        ::unlinkat(fd, "user.reg", 0);
        for (const char* made : {"drive_c", "dosdevices"}) removeFolderTree(fd, made);
        ::close(fd);
    }

private:
    std::string folder_;
    bool madeFolder_ = false;
    bool madeLayout_ = false;
    bool keep_ = false;
};

}  // namespace

RestoreRun::RestoreRun(TtsBackupProject& project, Profile& profile, std::string dataFile, RunEvents events,
                       ItemFilter filter)
    : Run(project, &profile, std::move(events)), dataFile_(std::move(dataFile)), filter_(std::move(filter)) {
    attach();
}

RestoreRun::RestoreRun(OpenedDataFile& opened, Profile& profile, RunEvents events, ItemFilter filter)
    : Run(*opened.project, &profile, std::move(events)),
      dataFile_(opened.file),
      reader_(std::move(opened.reader)),
      filter_(std::move(filter)) {
    attach();
}

RestoreRun::RestoreRun(TtsBackupProject& project, std::string dataFile, RunEvents events, ItemFilter filter)
    : Run(project, nullptr, std::move(events)), dataFile_(std::move(dataFile)), filter_(std::move(filter)) {
    attach();
}

RestoreRun::~RestoreRun() {
    detach();
}

void RestoreRun::consumed(int64_t done, int64_t total) {
    progress_.consumed(done, total, [this](uint8_t percent) { progress(percent); });
}

void RestoreRun::run() {
    debugLog("-Restore-");
    refused_.clear();
    progress_.reset();
    // Leftovers of a killed run are older than this; our own files of this run are not.
    const std::time_t start = std::time(nullptr);
    // Wine would overwrite the restored registry values at its next save; nothing is written.
    if (profile()) throwFirst(checkBeforeRestore(*profile()));
    WorkFolderLock work(workFolder_.empty() ? project().WorkFolder() : workFolder_);
    // Two runs writing one profile at once would interleave their changes, whatever their
    // work folders.
    std::optional<ProfileLock> profileLock;
    // Declared after the lock, so that it undoes while the lock is still held.
    NewProfileUndo newProfile;
    if (profile()) {
        newProfile.makeFolderOf(*profile());
        profileLock.emplace(profile()->runLockFolder());
    }
    status("Decompress Data ...");
    // The project was read already when the file came from openDataFile.
    const bool projectRead = reader_ != nullptr;
    std::shared_ptr<DataFileReader> reader = projectRead ? std::move(reader_) : std::make_shared<DataFileReader>(dataFile_);
    consumed(reader->consumed(), reader->compressedSize());
    if (cancelled()) return;
    // A cancel takes effect at the next block read, inside an item too.
    reader->setOnConsumed([this](int64_t done, int64_t total) {
        consumed(done, total);
        throwIfStopped();
    });

    if (reader->header()) {
        Profile* target = profile();
        bool passwordChecked = projectRead;
        // The items write through the run's own sink into its transaction; the sink keeps what
        // it wrote and refused, taken over by the run also when the restore fails.
        std::optional<ProfileRestoreSink> sink;
        if (target) {
            transaction_ = std::make_unique<ProfileTransaction>(*target, ProfileTransaction::Mode::Deferred, start);
            sink.emplace(*transaction_);
        }
        const auto takeReport = [&] {
            if (!sink) return;
            for (const auto& [name, reason] : sink->refused()) refused_.push_back(RefusedFileName{name, reason});
            counts().filesRestored = sink->restored().files;
            counts().bytesRestored = sink->restored().bytes;
            counts().valuesRestored = sink->restored().values;
            sink.reset();
        };
        try {
            if (!projectRead) {
                project().SetEncrypt(reader->header()->Encrypt);
                // The items restored are those the file holds: the item records come from it.
                project().LoadFromStream(reader->stream());
                passwordChecked = true;
            }
            // The password is known right by now: a fresh profile gets its layout.
            if (target && target->kind() == ProfileKind::WinePrefix &&
                !std::filesystem::exists(target->folder() + "/user.reg")) {
                createProfileLayout(target->folder());
                newProfile.layoutMade();
            }
            restoreItems(reader->stream(), sink ? &*sink : nullptr);
            throwIfStopped();
            // The same end as a check insists on: nothing is put in place from a file whose
            // checksum fails, that is cut short or that has bytes after its end.
            reader->stream().verifyNothingFollows();
        } catch (...) {
            takeReport();
            transaction_.reset();  // removes the temporary files
            if (cancelled()) {
                debugLog("-Restore Cancelled-");
                return;
            }
            rethrowDataFileFailure(*reader, passwordChecked);
        }
        takeReport();
        if (!enterFinalStep()) {
            transaction_.reset();
            debugLog("-Restore Cancelled-");
            return;
        }
        // From here what is put in place stays, even when a later step fails.
        newProfile.keep();
        try {
            if (transaction_) transaction_->commit();
        } catch (...) {
            transaction_.reset();
            syncRestoredFiles(target);
            throw;
        }
        transaction_.reset();
        syncRestoredFiles(target);
    }
    if (!cancelled()) progress(100);
    if (!refused_.empty()) debugLog("Restore: " + std::to_string(refused_.size()) + " saved file names refused");
    debugLog("-Restore Finished-");
}

void RestoreRun::restoreItems(InflateStream& stream, RestoreSink* sink) {
    readStoredItems(stream, filter_, [&](TtsBPSourceItem& item) {
        status("Restore " + item.Caption() + " ...");
        // Without a profile there is nowhere to write: the project raises its refusal.
        if (!sink) project().UserProfile();
        item.RestoreFromStream(stream, *sink);
    });
}

void inspectStoredItems(TtsBackupProject& project, DataFileReader& reader, DataFileContents& contents) {
    contents.isDataFile = true;
    contents.header = *reader.header();
    contents.projectRead = true;
    contents.items.clear();
    InflateStream& stream = reader.stream();
    try {
        for (TtsBPSourceItem* item : project.Source().ItemList())
            contents.items.push_back(
                DataFileItemContents{item->Caption(), item->Selected(), false, InventorySink(contents.listFiles)});
        size_t index = 0;
        for (TtsBPSourceItem* item : project.Source().ItemList()) {
            DataFileItemContents& entry = contents.items[index++];
            if (!entry.stored) continue;
            item->RestoreToSink(stream, entry.inventory);
            entry.read = true;
        }
        stream.verifyNothingFollows();
    } catch (...) {
        rethrowDataFileFailure(reader, true);
    }
    contents.complete = true;
}

}  // namespace ts
