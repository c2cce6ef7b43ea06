// The restore side: reading a data file's project, restoring its items, and reading it whole
// without writing anything. Each reads the data file in one streaming pass; nothing is
// inflated twice and the plain stream is never staged on disk.
#include "engine/restore_run.h"

#include <algorithm>

#include "engine/datafile/data_file_contents.h"
#include "engine/datafile/data_file_reader.h"
#include "engine/failure.h"
#include "engine/flows.h"
#include "engine/progress_percent.h"
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

void RestoreRun::fileNameRefused(const std::string& storedName, const std::string& reason) {
    refused_.push_back(RefusedFileName{storedName, reason});
}

void RestoreRun::consumed(int64_t done, int64_t total) {
    progress_.consumed(done, total, [this](uint8_t percent) { progress(percent); });
}

void RestoreRun::run() {
    debugLog("-Restore-");
    refused_.clear();
    progress_.reset();
    // Wine would overwrite the restored registry values at its next save; nothing is written.
    if (profile()) throwFirst(checkBeforeRestore(*profile()));
    // Two runs writing one profile at once would interleave their changes.
    WorkFolderLock work(workFolder_.empty() ? project().WorkFolder() : workFolder_);
    status("Decompress Data ...");
    // The project was read already when the file came from openDataFile.
    const bool projectRead = reader_ != nullptr;
    std::shared_ptr<DataFileReader> reader = projectRead ? std::move(reader_) : std::make_shared<DataFileReader>(dataFile_);
    reader->setOnConsumed([this](int64_t done, int64_t total) { consumed(done, total); });
    consumed(reader->consumed(), reader->compressedSize());
    if (cancelled()) return;

    if (reader->header()) {
        Profile* target = profile();
        bool passwordChecked = projectRead;
        try {
            if (!projectRead) {
                project().SetEncrypt(reader->header()->Encrypt);
                // The items restored are those the file holds: the item records come from it.
                project().LoadFromStream(reader->stream());
                passwordChecked = true;
            }
            restoreItems(reader->stream());
        } catch (...) {
            saveRegistryAfterFailure(target);
            syncRestoredFiles(target);
            rethrowDataFileFailure(*reader, passwordChecked);
        }
        if (target) target->hive().save();
        syncRestoredFiles(target);
    }
    if (!cancelled()) progress(100);
    if (!refused_.empty()) debugLog("Restore: " + std::to_string(refused_.size()) + " saved file names refused");
    debugLog("-Restore Finished-");
}

void RestoreRun::restoreItems(InflateStream& stream) {
    InventorySink passedOver;
    for (TtsBPSourceItem* item : project().Source().ItemList()) {
        if (cancelled()) break;
        if (!item->Selected()) continue;
        if (!filter_ || filter_(*item)) {
            status("Restore " + item->Caption() + " ...");
            item->RestoreFromStream(stream);
        } else {
            // Its data must still be read to reach the items after it.
            status("Skip " + item->Caption() + " ...");
            passedOver.clear();
            item->RestoreToSink(stream, passedOver);
        }
    }
    // Everything is in place by now; reading the end still shows a damaged checksum.
    if (!cancelled()) stream.skipToEnd();
}

void TtsBackupProject::Restore(const std::string& FileName) {
    RestoreRun(*this, FileName, events_).run();
}

void TtsBackupProject::Restore(const std::string& FileName, const ItemFilter& restoreItem) {
    RestoreRun(*this, FileName, events_, restoreItem).run();
}

void TtsBackupProject::LoadFromDataFile(const std::string& FileName) {
    DataFileReader reader(FileName);
    if (!reader.header()) return;  // not a data file: the project stays as it was
    SetEncrypt(reader.header()->Encrypt);
    try {
        LoadFromStream(reader.stream());
    } catch (...) {
        rethrowDataFileFailure(reader, false);
    }
}

void TtsBackupProject::InspectDataFile(const std::string& FileName, DataFileContents& contents) {
    const bool listFiles = contents.listFiles;
    contents = DataFileContents{};
    contents.listFiles = listFiles;
    DataFileReader reader(FileName);
    if (!reader.header()) return;
    contents.isDataFile = true;
    contents.header = *reader.header();

    InflateStream& stream = reader.stream();
    SetEncrypt(contents.header.Encrypt);
    try {
        LoadFromStream(stream);
        contents.projectRead = true;
        for (TtsBPSourceItem* item : Source().ItemList()) {
            contents.items.push_back(DataFileItemContents{item->Caption(), item->Selected(), false, InventorySink(listFiles)});
        }
        size_t index = 0;
        for (TtsBPSourceItem* item : Source().ItemList()) {
            DataFileItemContents& entry = contents.items[index++];
            if (!entry.stored) continue;
            item->RestoreToSink(stream, entry.inventory);
            entry.read = true;
        }
        stream.verifyComplete();
    } catch (...) {
        rethrowDataFileFailure(reader, contents.projectRead);
    }
    contents.complete = true;
}

}  // namespace ts
