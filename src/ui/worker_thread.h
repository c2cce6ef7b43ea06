#pragma once
// The worker threads of a backup and a restore. A worker holds the core's run object for
// one project, runs it at the lowest priority a normal user may set, and hands the run's
// status texts and percentages to the interface thread as queued signals: in the order
// raised, with the percentages between two texts folded into the last one, so a fast run
// cannot flood the event queue. When the body is over, Terminated is emitted on the
// interface thread after every event before it; the worker frees itself afterwards, and the
// project it ran on may be freed by a Terminated handler.
#include <QThread>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "engine/export_run.h"
#include "engine/failure.h"
#include "engine/project.h"
#include "engine/run_events.h"
#include "platform/user_messages.h"

namespace ts {
class BackupRun;
class RestoreRun;
class Profile;
}  // namespace ts

namespace ts::ui {

// Nice 19 and the idle I/O class for the calling thread only. Returns false when the system
// refused either (the run then goes on at the priority it has).
bool LowerCurrentThreadPriority();

// How a run ended, complete when Terminated is emitted.
struct RunOutcome {
    bool cancelled = false;
    std::optional<Failure> failure;           // the run ended with an exception
    bool reportedByRun = false;               // the run showed its own message box on the way
    std::vector<std::string> warnings;        // a backup's notes, e.g. files saved as error records
    std::vector<RefusedFileName> refusedNames;  // a restore's stored names it would not write
    std::vector<std::string> itemsFoundNothing;  // a backup's selected items with nothing to save
    double seconds = 0;                         // the body's time
    std::string report;                         // what a finished run wrote, in one line
    std::string writtenFolder;                  // the local folder a backup wrote its data file into
    std::optional<std::string> exportSummary;  // an export's: what it wrote (warnings beside it)
};

class TtsThread : public QThread {
    Q_OBJECT
public:
    ~TtsThread() override;

    TtsBackupProject& Project() const { return project_; }
    // Asks the run to stop; any thread, any time, idempotent. Does nothing once the run's
    // end has been handled.
    void Cancel();
    const RunOutcome& Outcome() const { return outcome_; }

signals:
    void OnStatus(const QString& text);
    void OnProgress(int percent);
    // On the interface thread, after every OnStatus and OnProgress of the run.
    void Terminated(ts::ui::TtsThread* sender);

protected:
    TtsThread(TtsBackupProject& project, std::string file);
    // The events the run object raises; they queue into this worker.
    RunEvents Events();
    // The messages a run shows itself: passed on to target, and noted in the outcome.
    UserMessages* RunMessages(UserMessages* target);

    // The body's work on the worker thread; throws what the run throws.
    virtual void Execute() = 0;
    virtual void CancelRun() = 0;
    virtual void TakeResults(RunOutcome& outcome) = 0;
    // Frees the run object; on the interface thread once the body is over.
    virtual void ReleaseRun() = 0;
    // For the destructors of the kinds: cancel and wait for a body still running.
    void StopBeforeDestruction();
    // Each status text on the worker thread, before it is queued: where a run can be traced
    // or held step by step. A kind that overrides it stops the body in its own destructor.
    virtual void StatusRaised(const std::string& text) { (void)text; }

private:
    void run() final;
    void queueStatus(const std::string& text);
    void queueProgress(uint8_t percent);
    void postFlushLocked();
    void flushEvents();
    void bodyFinished();

    class MessagesProxy;

    TtsBackupProject& project_;
    std::string file_;
    RunOutcome outcome_;
    std::unique_ptr<MessagesProxy> messages_;
    std::atomic<bool> runShowedMessage_{false};

    struct PendingEvent {
        bool isProgress;
        std::string text;
        uint8_t percent;
    };
    std::mutex eventsMutex_;
    std::vector<PendingEvent> pending_;
    bool flushPosted_ = false;

    std::mutex bodyMutex_;
    std::mutex runMutex_;  // guards the run object against a cancel while it is released
    bool released_ = false;
};

class TtsBackupThread : public TtsThread {
    Q_OBJECT
public:
    // messages shows what the run shows itself (the upload failure); may be null.
    TtsBackupThread(TtsBackupProject& project, Profile& profile, UserMessages* messages);
    ~TtsBackupThread() override;

protected:
    void Execute() override;
    void CancelRun() override;
    void TakeResults(RunOutcome& outcome) override;
    void ReleaseRun() override;

private:
    std::unique_ptr<BackupRun> run_;
};

// A restore of every stored item: of a data file openDataFile opened (its project must
// outlive the worker), which the run goes on reading, or of a file the run opens itself.
class TtsRestoreThread : public TtsThread {
    Q_OBJECT
public:
    TtsRestoreThread(OpenedDataFile& opened, Profile& profile);
    TtsRestoreThread(TtsBackupProject& project, Profile& profile, const std::string& FileName);
    ~TtsRestoreThread() override;

protected:
    void Execute() override;
    void CancelRun() override;
    void TakeResults(RunOutcome& outcome) override;
    void ReleaseRun() override;

private:
    std::string fileName_;
    std::unique_ptr<RestoreRun> run_;
};

// An export of a data file openDataFile opened (its project must outlive the worker), or of
// the profile for a project made over it.
class ExportThread : public TtsThread {
    Q_OBJECT
public:
    ExportThread(OpenedDataFile& opened, Profile& profile, ExportRun::Options options);
    ExportThread(TtsBackupProject& project, Profile& profile, ExportRun::Options options);
    ~ExportThread() override;

protected:
    void Execute() override;
    void CancelRun() override;
    void TakeResults(RunOutcome& outcome) override;
    void ReleaseRun() override;

private:
    std::unique_ptr<ExportRun> run_;
};

}  // namespace ts::ui
