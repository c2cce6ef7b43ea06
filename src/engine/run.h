#pragma once
// What every run (backup, restore, extract, export) shares: the project and profile it works
// on, its events, its stop and the totals. A run is stopped one way: its cancel requests the stop
// of its one std::stop_source, unless the run has entered its final step. The run's work
// polls the stop token it hands down (the stream the items write or read throws RunStopped
// at its next block), and an upload closes its connection from a stop_callback. While a run
// object lives, its project's Cancel and Cancelled are this cancel and this stop; everything
// else the run hands down to the items itself (a backup its report, a restore its sink).
#include <functional>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string>

#include "engine/run_events.h"

namespace ts {

class InflateStream;
class Profile;
class ProfileRunScope;
class TtsBackupProject;
class TtsBPSourceItem;

// The totals of one run, for the line a front end shows at its end.
struct RunTally {
    int64_t filesSaved = 0;       // file records with contents (a backup)
    int64_t bytesSaved = 0;       // their contents
    int64_t unreadableFiles = 0;  // saved as error records: they could not be read
    int64_t valuesSaved = 0;      // registry values in the items' saved data
    int64_t filesRestored = 0;    // files written into the profile (a restore)
    int64_t bytesRestored = 0;
    int64_t valuesRestored = 0;   // registry values written into the profile
};

class Run {
public:
    // Which of a data file's stored items a run works on; empty: every one.
    using ItemFilter = std::function<bool(const TtsBPSourceItem&)>;

    Run(const Run&) = delete;
    Run& operator=(const Run&) = delete;

    // Any thread, any time, idempotent. A cancel before run() makes run() stop at its first
    // polling point; one after the run entered its final step is ignored, and so is one
    // after the run ended well.
    void cancel();
    bool cancelled() const { return stop_.stop_requested(); }
    // What the run's work polls, and what an upload ties the close of its connection to.
    std::stop_token stopToken() const { return stop_.get_token(); }

    TtsBackupProject& project() const { return project_; }
    // The profile the items read and write; nullptr when neither the run nor the project
    // was given one.
    Profile* profile() const { return profile_; }

    void status(const std::string& text) const;
    void progress(uint8_t percent) const;

    const RunTally& tally() const { return tally_; }

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
    // The one point after which a cancel is ignored: from here the run puts its work in
    // place, which a stop could only leave half done. False when a cancel came first: the
    // run must then stop without putting anything in place.
    bool enterFinalStep();
    // Throws RunStopped when a cancel came.
    void throwIfStopped() const;
    RunTally& counts() { return tally_; }
    // Reads a data file's items in their stored order: each one filter takes goes to
    // readChosen; every other stored one is read past, saying so, since its data must still
    // be read to reach the items after it. Stops between items at a cancel: false then.
    bool readStoredItems(InflateStream& stream, const ItemFilter& filter,
                         const std::function<void(TtsBPSourceItem&)>& readChosen);

private:
    TtsBackupProject& project_;
    Profile* profile_;
    // The profile's lookups are read once for the run's whole life.
    std::unique_ptr<ProfileRunScope> profileScope_;
    RunEvents events_;
    std::stop_source stop_;
    std::mutex finalStepMutex_;  // orders a cancel against the entry into the final step
    bool finalStep_ = false;
    RunTally tally_;
};

}  // namespace ts
