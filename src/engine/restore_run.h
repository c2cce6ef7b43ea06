#pragma once
// One restore of a data file into a profile, reading the file in one pass: the items the
// filter accepts are written back, the others are read and passed over. It is one change to
// the profile: the files go to temporary files beside their targets and the registry values
// are only remembered until the whole data file was read and its end checked; then every
// file is put in place and user.reg saved once. A failure or a cancel before that leaves the
// profile as it was; a cancel once the files are being put in place is not taken.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/progress_percent.h"
#include "engine/project.h"
#include "engine/run.h"

namespace ts {

class DataFileReader;
class InflateStream;
class ProfileTransaction;
class RestoreSink;
class TtsBPSourceItem;
struct OpenedDataFile;

class RestoreRun : public Run {
public:

    // Opens dataFile when run() starts and takes the project from it. project: Password set
    // (as openDataFile returned it, or a bare project for an unencrypted file).
    RestoreRun(TtsBackupProject& project, Profile& profile, std::string dataFile, RunEvents events,
               ItemFilter filter = {});
    // Goes on reading the file openDataFile opened; opened.project must outlive the run.
    RestoreRun(OpenedDataFile& opened, Profile& profile, RunEvents events, ItemFilter filter = {});
    // On the project's own profile, if any (the project's Restore).
    RestoreRun(TtsBackupProject& project, std::string dataFile, RunEvents events, ItemFilter filter = {});
    ~RestoreRun() override;

    // The folder the run holds locked besides the profile itself; the project's WorkFolder()
    // unless set.
    void setWorkFolder(std::string path) { workFolder_ = std::move(path); }

    // On the worker thread. Refuses (FlowFailure WineRunning) before anything is written when
    // Wine runs on the profile. Returns normally when cancelled; throws on failure.
    void run();
    // The saved files this run refused to write, in the order met.
    const std::vector<RefusedFileName>& refusedNames() const { return refused_; }

private:
    // sink: where the chosen items go; none when the run has no profile to write.
    void restoreItems(InflateStream& stream, RestoreSink* sink);
    void consumed(int64_t done, int64_t total);

    std::string dataFile_;
    std::shared_ptr<DataFileReader> reader_;  // set when the project was already read from it
    ItemFilter filter_;
    std::string workFolder_;
    std::vector<RefusedFileName> refused_;
    ReadProgress progress_;
    std::unique_ptr<ProfileTransaction> transaction_;
};

// Reads the rest of a data file whose project was just loaded from reader, writing nothing:
// what each stored item holds, and the end of the compressed data. Fills contents as it goes,
// so what was read before a failure is there when the exception leaves.
void inspectStoredItems(TtsBackupProject& project, DataFileReader& reader, DataFileContents& contents);

}  // namespace ts
