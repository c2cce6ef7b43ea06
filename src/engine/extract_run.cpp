#include "engine/extract_run.h"

#include "engine/datafile/data_file_reader.h"
#include "engine/failure.h"
#include "engine/flows.h"
#include "engine/project.h"
#include "platform/atomic_file.h"
#include "platform/debug_log.h"
#include "platform/exception.h"

namespace ts {

ExtractRun::ExtractRun(OpenedDataFile& opened, Profile& profile, std::string folder, bool replace, RunEvents events,
                       ItemFilter filter)
    : Run(*opened.project, &profile, std::move(events)),
      file_(opened.file),
      reader_(std::move(opened.reader)),
      folder_(std::move(folder)),
      replace_(replace),
      filter_(std::move(filter)) {
    attach();
}

ExtractRun::~ExtractRun() {
    detach();
}

std::string ExtractRun::regFileNameOf(const std::string& caption) {
    // The caption comes from the data file: it must not name a folder or leave this one.
    std::string name;
    for (char c : caption) name.push_back(c == '/' || static_cast<unsigned char>(c) < ' ' ? '_' : c);
    if (name.find_first_not_of(". ") == std::string::npos) name = "Registry";
    return name + ".reg";
}

void ExtractRun::run() {
    debugLog("-Extract-");
    progress_.reset();
    tally_ = {};
    refused_.clear();
    items_.clear();
    // The project was read from this reader: the items' data follow where it stopped.
    if (!reader_) throw TsException("The data file \"" + file_ + "\" was read already; open it again to extract it");
    // A folder made for an extract that put nothing in place goes again (when empty).
    struct MadeFolder {
        std::string path;
        bool keep = false;
        ~MadeFolder() {
            if (!path.empty() && !keep) ::rmdir(path.c_str());
        }
    } madeFolder{makeFolderPath(folder_) ? folder_ : std::string()};
    status("Extract Data ...");
    std::shared_ptr<DataFileReader> reader = std::move(reader_);
    reader->setOnConsumed([this](int64_t done, int64_t total) {
        progress_.consumed(done, total, [this](uint8_t percent) { progress(percent); });
    });
    progress_.consumed(reader->consumed(), reader->compressedSize(), [this](uint8_t percent) { progress(percent); });
    if (cancelled() || !reader->header()) return;

    InflateStream& stream = reader->stream();
    ExtractSink sink(folder_, *profile(), replace_);
    // Names held back are told also when the extract fails.
    const auto collectRefused = [&] {
        for (const auto& [name, reason] : sink.refused()) refused_.push_back(RefusedFileName{name, reason});
    };
    try {
        readStoredItems(stream, filter_, [&](TtsBPSourceItem& item) {
            status("Extract " + item.Caption() + " ...");
            sink.beginItem(regFileNameOf(item.Caption()), KeyRoots(item.RestoredKeyRoots()));
            item.RestoreToSink(stream, sink);
            sink.endItem();
            items_.push_back(item.Caption());
        });
        // Nothing is put in place from a file that is cut short, fails its checksum or has
        // bytes after its end: the sink removes what it wrote when it goes.
        if (cancelled()) return;
        stream.verifyNothingFollows();
    } catch (...) {
        collectRefused();
        items_.clear();
        rethrowDataFileFailure(*reader, true);
    }
    collectRefused();
    // A cancel that came after the last check still leaves nothing; one from here is too late.
    if (!enterFinalStep()) return;
    madeFolder.keep = true;
    sink.commit();
    tally_ = sink.tally();
    // New files were not forced to disk one by one; one sync of the file system does it.
    if (!syncFileSystemOf(folder_)) debugLog("Extract: the extracted files could not be forced to disk");
    if (!cancelled()) progress(100);
    debugLog("-Extract Finished-");
}

}  // namespace ts
