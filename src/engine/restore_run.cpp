// The restore side: reading a data file's project, restoring its items, and reading it whole
// without writing anything. Each reads the data file in one streaming pass; nothing is
// inflated twice and the plain stream is never staged on disk.
#include "engine/datafile/data_file_contents.h"
#include "engine/datafile/data_file_reader.h"
#include "engine/project.h"
#include "engine/work_folder.h"
#include "items/capture/inventory_sink.h"
#include "part/restore_sink.h"
#include "platform/exception.h"
#include "platform/profile/profile.h"
#include "platform/registry/registry_hive.h"
#include "platform/debug_log.h"

namespace ts {

namespace {

// The registry values restored live in the profile's hive in memory until it is saved. After
// a failure halfway the files already written stay written, so the values already replayed are
// saved too (the save replaces user.reg whole or not at all). The restore's own failure is the
// one to report: a failed save here is only logged.
// Restored files that are new were not forced to disk one by one; one sync of the whole
// file system does it before the run reports its end.
void syncRestoredFiles(Profile* profile) {
    if (profile && !profile->syncToDisk()) debugLog("Restore: the restored files could not be forced to disk");
}

void saveRegistryAfterFailure(Profile* profile) {
    if (!profile) return;
    try {
        profile->hive().save();
    } catch (const std::exception& error) {
        debugLog(std::string("Restore: the registry values restored before the failure were not saved: ") +
                 error.what());
    }
}

}  // namespace

void TtsBackupProject::LoadFromDataFile(const std::string& FileName) {
    DataFileReader reader(FileName);
    if (!reader.header()) return;  // not a data file: the project stays as it was
    SetEncrypt(reader.header()->Encrypt);
    LoadFromStream(reader.stream());
}

void TtsBackupProject::Restore(const std::string& FileName) {
    Restore(FileName, [](const TtsBPSourceItem&) { return true; });
}

void TtsBackupProject::Restore(const std::string& FileName, const ItemFilter& restoreItem) {
    debugLog("-Restore-");
    ClearCancelled();
    refusedFileNames_.clear();
    // Two runs writing one profile at once would interleave their changes.
    WorkFolderLock work(WorkFolder());
    Status("Decompress Data ...");
    DataFileReader reader(FileName);
    Progress(50);
    if (Cancelled()) return;
    Progress(100);

    if (reader.header()) {
        try {
            restoreItems(reader.stream(), restoreItem);
        } catch (...) {
            saveRegistryAfterFailure(profile_);
            syncRestoredFiles(profile_);
            throw;
        }
        if (profile_) profile_->hive().save();
        syncRestoredFiles(profile_);
    }
    if (!refusedFileNames_.empty())
        debugLog("Restore: " + std::to_string(refusedFileNames_.size()) + " saved file names refused");
    debugLog("-Restore Finished-");
}

void TtsBackupProject::restoreItems(InflateStream& stream, const ItemFilter& restoreItem) {
    // The items restored are those the file holds: the item records come from it.
    LoadFromStream(stream);
    InventorySink passedOver;
    for (TtsBPSourceItem* item : Source().ItemList()) {
        if (Cancelled()) break;
        if (!item->Selected()) continue;
        if (restoreItem(*item)) {
            Status("Restore " + item->Caption() + " ...");
            item->RestoreFromStream(stream);
        } else {
            // Its data must still be read to reach the items after it.
            Status("Skip " + item->Caption() + " ...");
            passedOver.clear();
            item->RestoreToSink(stream, passedOver);
        }
    }
    // Everything is in place by now; reading the end still shows a damaged checksum.
    if (!Cancelled()) stream.skipToEnd();
}

void TtsBackupProject::InspectDataFile(const std::string& FileName, DataFileContents& contents) {
    contents = DataFileContents{};
    DataFileReader reader(FileName);
    if (!reader.header()) return;
    contents.isDataFile = true;
    contents.header = *reader.header();

    InflateStream& stream = reader.stream();
    SetEncrypt(contents.header.Encrypt);
    LoadFromStream(stream);
    contents.projectRead = true;
    for (TtsBPSourceItem* item : Source().ItemList()) {
        contents.items.push_back(DataFileItemContents{item->Caption(), item->Selected(), false, {}});
    }
    size_t index = 0;
    for (TtsBPSourceItem* item : Source().ItemList()) {
        DataFileItemContents& entry = contents.items[index++];
        if (!entry.stored) continue;
        item->RestoreToSink(stream, entry.inventory);
        entry.read = true;
    }
    stream.verifyComplete();
    contents.complete = true;
}

}  // namespace ts
