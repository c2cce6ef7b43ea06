#pragma once
// What a backup run and a restore run share: the project and profile they work on, their
// events, and the cancel flag. While a run object lives, its project answers Cancelled and
// FileNameRefused from it (the items ask the project), and the project's Cancel reaches it.
#include <atomic>
#include <memory>
#include <string>

#include "engine/run_events.h"
#include "part/bp_object.h"

namespace ts {

class Profile;
class ProfileRunScope;
class ProfileTransaction;
class TtsBackupProject;

// The totals of one run, for the line a front end shows at its end.
struct RunTally {
    int64_t filesSaved = 0;       // file records with contents (a backup)
    int64_t bytesSaved = 0;       // their contents
    int64_t unreadableFiles = 0;  // saved as error records: they could not be read
    int64_t valuesSaved = 0;      // registry values saved, the project record's included
    int64_t filesRestored = 0;    // files written into the profile (a restore)
    int64_t bytesRestored = 0;
    int64_t valuesRestored = 0;   // registry values written into the profile
};

class Run {
public:
    Run(const Run&) = delete;
    Run& operator=(const Run&) = delete;

    // Any thread, any time, idempotent. A cancel before run() makes run() stop at its first
    // polling point.
    virtual void cancel() { cancelled_.store(true); }
    bool cancelled() const { return cancelled_.load(); }

    TtsBackupProject& project() const { return project_; }
    // The profile the items read and write; nullptr when neither the run nor the project
    // was given one.
    Profile* profile() const { return profile_; }

    void status(const std::string& text) const;
    void progress(uint8_t percent) const;

    // A restore into the profile refused a saved file; a backup run ignores it.
    virtual void fileNameRefused(const std::string& storedName, const std::string& reason);
    // A backup could not save a file as it was; a restore run never meets it.
    virtual void fileNotSaved(const std::string& realPath, const std::string& reason,
                              TtsProjectLink::CaptureProblem problem);
    // Where a restore's items write; a backup run has none.
    virtual ProfileTransaction* restoreTransaction() const { return nullptr; }
    // Counts what the items moved (the project hands it on from them).
    void tally(TtsProjectLink::Moved what, int64_t bytes);
    const RunTally& tally() const { return tally_; }
    // An item starts saving a list of count files of bytes in all (see TtsProjectLink::FilesAhead).
    virtual void filesAhead(int64_t count, int64_t bytes) { (void)count, (void)bytes; }

protected:
    // With a profile, the project works on it from now on.
    Run(TtsBackupProject& project, Profile* profile, RunEvents events);
    virtual ~Run();
    // The project answers from the run (and cancels it) between these two. The derived runs
    // call attach last in their constructors and detach first in their destructors, so a
    // cancel from another thread never meets a run half made or half destroyed. attach raises
    // TsException when another run is alive on the project.
    void attach();
    void detach();
    // Forgets a cancel that came too late to stop anything: the work it meant to stop is done.
    void withdrawCancel() { cancelled_.store(false); }

private:
    TtsBackupProject& project_;
    Profile* profile_;
    // The profile's lookups are read once for the run's whole life.
    std::unique_ptr<ProfileRunScope> profileScope_;
    RunEvents events_;
    std::atomic<bool> cancelled_{false};
    RunTally tally_;
};

}  // namespace ts
