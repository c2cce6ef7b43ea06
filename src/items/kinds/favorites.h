#pragma once
// The item "Favorites": every ".url" file in the user's favorites folder and below. Unlike the
// other file items it keeps its list of files as part of its state and its record.
#include <string>
#include <vector>

#include "items/kinds/item_kind.h"

namespace ts {

class TtsBPFavorites : public ItemKind {
public:
    static constexpr const char* kCaption = "Favorites";
    static constexpr const char* kMask = "*.url";
    static constexpr const char* kEndField = "(end)";
    // The most entries a record read back may list: far more favorites than anyone keeps,
    // and their names still fit in a few tens of MiB.
    static constexpr size_t kMaxFiles = 65536;

    // Collects Files from the project's profile now, when the project has one.
    explicit TtsBPFavorites(ProjectLink* project);

    // Collects from the profile now given, ahead of what a project file added, as the
    // constructor would have; a name already held is not added again.
    void ProfileGiven();

    // Real paths of the favorite files, unsorted. The item itself never holds a name twice
    // (letter case aside); a caller may.
    const std::vector<std::string>& Files() const { return files_; }
    std::vector<std::string>& Files() { return files_; }
    int64_t ExtraValue() const { return extraValue_; }
    void SetExtraValue(int64_t value) { extraValue_ = value; }

    // The record: the head, one 256-byte name field per entry of Files, the "(end)" field,
    // the extra value. An entry too long for its field is left out of the record (a debug
    // log line names it); it stays in Files and is still backed up.
    int32_t WriteToStream(Stream& stream) override;
    // Appends the stored names that Files does not hold yet (letter case aside); a stream
    // that ends before the "(end)" field and the value raises EReadError, one listing more
    // than kMaxFiles different names EDataDamaged, and either leaves Files as it was.
    int32_t ReadFromStream(Stream& stream) override;
    // Collects Files afresh from the profile and writes one file list block of it.
    int32_t backup(Stream& stream, CaptureReport& report) override;

private:
    // The favorite files found in the profile, if the project has one.
    std::vector<std::string> collect() const;

    // Into the profile, Files is emptied first and then holds the real path each file record
    // went to ("<file error>" for an error record); into another sink Files stays as it was.
    int64_t ReadData(Stream& stream, RestoreSink& sink, bool intoProfile) override;

    std::vector<std::string> files_;
    int64_t extraValue_ = 0;
};

}  // namespace ts
