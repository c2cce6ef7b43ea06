#pragma once
// One extract of a data file into a plain folder, reading the file in one pass: the saved
// files of the items the filter accepts land below the folder under readable names, their
// registry keys in one .reg file per item; the other items are read and passed over. No
// Wine prefix is written, so Wine may run meanwhile.
#include <memory>
#include <string>
#include <vector>

#include "engine/progress_percent.h"
#include "engine/restore_run.h"
#include "items/capture/extract_sink.h"

namespace ts {

class ExtractRun : public Run {
public:

    // Goes on reading the file openDataFile opened; opened.project must outlive the run.
    // profile decides which saved names may be written, as for a restore into it. With
    // replace, files and .reg files already in folder are replaced; without, the run fails
    // (EFileExists) at the first one that is there.
    ExtractRun(OpenedDataFile& opened, Profile& profile, std::string folder, bool replace, RunEvents events,
               ItemFilter filter = {});
    ~ExtractRun() override;

    // On the worker thread; creates the folder when missing. Returns normally when
    // cancelled; throws on failure. Files are put in place only once the whole data file
    // was read and found whole: a failure or a cancel leaves nothing of this run in the
    // folder.
    void run();

    const ExtractTally& extracted() const { return tally_; }
    const std::vector<RefusedFileName>& refusedNames() const { return refused_; }
    // The captions of the items extracted, in file order.
    const std::vector<std::string>& items() const { return items_; }

    // The .reg file of an item: its caption, made a file name.
    static std::string regFileNameOf(const std::string& caption);

private:
    std::string file_;
    std::shared_ptr<DataFileReader> reader_;
    std::string folder_;
    bool replace_;
    ItemFilter filter_;
    ReadProgress progress_;
    ExtractTally tally_;
    std::vector<RefusedFileName> refused_;
    std::vector<std::string> items_;
};

}  // namespace ts
