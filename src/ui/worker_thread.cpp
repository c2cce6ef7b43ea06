#include "ui/worker_thread.h"

#include <chrono>
#include <filesystem>

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "engine/profile_choice.h"
#include "engine/run_report.h"
#include "engine/backup_run.h"
#include "engine/flows.h"
#include "engine/restore_run.h"
#include "platform/profile/profile.h"

namespace ts::ui {

namespace {

// From linux/ioprio.h, which not every C library installs.
constexpr int kIoprioWhoProcess = 1;
constexpr int kIoprioClassShift = 13;
constexpr int kIoprioClassIdle = 3;

pid_t linuxThreadId() {
    return static_cast<pid_t>(::syscall(SYS_gettid));
}

}  // namespace

bool LowerCurrentThreadPriority() {
    // On Linux the nice value and the I/O priority of a thread id belong to that thread
    // alone, so the interface thread keeps its own; threads the run starts inherit both.
    const pid_t tid = linuxThreadId();
    bool niceSet = ::setpriority(PRIO_PROCESS, static_cast<id_t>(tid), 19) == 0;
    bool ioSet = ::syscall(SYS_ioprio_set, kIoprioWhoProcess, tid, kIoprioClassIdle << kIoprioClassShift) == 0;
    return niceSet && ioSet;
}

class TtsThread::MessagesProxy : public UserMessages {
public:
    MessagesProxy(UserMessages& target, std::atomic<bool>& shown) : target_(target), shown_(shown) {}
    void ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon) override {
        shown_.store(true);
        target_.ShowMessage(text, caption, icon);
    }

private:
    UserMessages& target_;
    std::atomic<bool>& shown_;
};

TtsThread::TtsThread(TtsBackupProject& project, std::string file) : project_(project), file_(std::move(file)) {
    connect(this, &QThread::finished, this, &TtsThread::bodyFinished, Qt::QueuedConnection);
}

TtsThread::~TtsThread() = default;

void TtsThread::StopBeforeDestruction() {
    // Only does anything when a worker is torn down with the program; on a normal path the
    // body is over before the worker frees itself.
    if (isRunning()) {
        Cancel();
        wait();
    }
}

RunEvents TtsThread::Events() {
    RunEvents events;
    events.onStatus = [this](const std::string& text) {
        StatusRaised(text);
        queueStatus(text);
    };
    events.onProgress = [this](uint8_t percent) { queueProgress(percent); };
    return events;
}

UserMessages* TtsThread::RunMessages(UserMessages* target) {
    if (!target) return nullptr;
    messages_ = std::make_unique<MessagesProxy>(*target, runShowedMessage_);
    return messages_.get();
}

void TtsThread::Cancel() {
    std::lock_guard lock(runMutex_);
    if (!released_) CancelRun();
}

void TtsThread::run() {
    LowerCurrentThreadPriority();
    std::optional<Failure> failure;
    const auto started = std::chrono::steady_clock::now();
    try {
        Execute();
    } catch (...) {
        failure = classifyCurrentException(file_);
    }
    // Everything the body did is handed over under this lock: it orders the body before
    // the end-of-run handling in a way thread checkers can see (Qt's queue uses its own).
    std::lock_guard lock(bodyMutex_);
    outcome_.failure = std::move(failure);
    outcome_.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
}

void TtsThread::queueStatus(const std::string& text) {
    std::lock_guard lock(eventsMutex_);
    pending_.push_back({false, text, 0});
    postFlushLocked();
}

void TtsThread::queueProgress(uint8_t percent) {
    std::lock_guard lock(eventsMutex_);
    if (!pending_.empty() && pending_.back().isProgress) {
        pending_.back().percent = percent;
    } else {
        pending_.push_back({true, {}, percent});
    }
    postFlushLocked();
}

void TtsThread::postFlushLocked() {
    // One hand-over in the queue at a time; what arrives meanwhile rides along with it.
    if (flushPosted_) return;
    flushPosted_ = true;
    QMetaObject::invokeMethod(this, &TtsThread::flushEvents, Qt::QueuedConnection);
}

void TtsThread::flushEvents() {
    std::vector<PendingEvent> events;
    {
        std::lock_guard lock(eventsMutex_);
        events.swap(pending_);
        flushPosted_ = false;
    }
    for (const PendingEvent& event : events) {
        if (event.isProgress) {
            emit OnProgress(event.percent);
        } else {
            emit OnStatus(QString::fromStdString(event.text));
        }
    }
}

void TtsThread::bodyFinished() {
    { std::lock_guard bodyOver(bodyMutex_); }
    flushEvents();
    {
        std::lock_guard lock(runMutex_);
        TakeResults(outcome_);
        ReleaseRun();
        released_ = true;
    }
    outcome_.reportedByRun = runShowedMessage_.load();
    if (outcome_.failure && outcome_.failure->kind == FailureKind::Cancelled) outcome_.cancelled = true;
    emit Terminated(this);
    deleteLater();
}

TtsBackupThread::TtsBackupThread(TtsBackupProject& project, Profile& profile, UserMessages* messages)
    : TtsThread(project, {}) {
    run_ = std::make_unique<BackupRun>(project, profile, Events(), RunMessages(messages));
}

TtsBackupThread::~TtsBackupThread() {
    StopBeforeDestruction();
}

void TtsBackupThread::Execute() {
    run_->run();
}

void TtsBackupThread::CancelRun() {
    run_->cancel();
}

void TtsBackupThread::TakeResults(RunOutcome& outcome) {
    outcome.cancelled = run_->cancelled();
    outcome.warnings = run_->warnings();
    outcome.itemsFoundNothing = run_->itemsFoundNothing();
    if (outcome.cancelled || outcome.failure || run_->dataFileLocation().empty()) return;
    outcome.report = backupReport(*run_, outcome.seconds, "named in the details");
    if (run_->project().Destination().Kind() == TtsBPDestination::kKindLocalFolder)
        outcome.writtenFolder = std::filesystem::path(run_->dataFileLocation()).parent_path().string();
}

void TtsBackupThread::ReleaseRun() {
    run_.reset();
}

TtsRestoreThread::TtsRestoreThread(OpenedDataFile& opened, Profile& profile)
    : TtsThread(*opened.project, opened.file), fileName_(opened.file) {
    run_ = std::make_unique<RestoreRun>(opened, profile, Events());
}

TtsRestoreThread::TtsRestoreThread(TtsBackupProject& project, Profile& profile, const std::string& FileName)
    : TtsThread(project, FileName), fileName_(FileName) {
    run_ = std::make_unique<RestoreRun>(project, profile, fileName_, Events());
}

TtsRestoreThread::~TtsRestoreThread() {
    StopBeforeDestruction();
}

void TtsRestoreThread::Execute() {
    run_->run();
}

void TtsRestoreThread::CancelRun() {
    run_->cancel();
}

void TtsRestoreThread::TakeResults(RunOutcome& outcome) {
    outcome.cancelled = run_->cancelled();
    outcome.refusedNames = run_->refusedNames();
    if (outcome.cancelled || outcome.failure) return;
    std::vector<std::string> items;
    for (const TtsBPSourceItem* item : run_->project().Source().ItemList())
        if (item->Selected()) items.push_back(item->Caption());
    outcome.report = restoreReport(items, fileName_, run_->tally(), outcome.refusedNames.size(), outcome.seconds) +
                     "; into " + (run_->profile() ? profileNamed(*run_->profile()) : std::string("the profile"));
}

void TtsRestoreThread::ReleaseRun() {
    run_.reset();
}

ExportThread::ExportThread(OpenedDataFile& opened, Profile& profile, ExportRun::Options options)
    : TtsThread(*opened.project, opened.file) {
    run_ = std::make_unique<ExportRun>(opened, profile, std::move(options), Events());
}

ExportThread::ExportThread(TtsBackupProject& project, Profile& profile, ExportRun::Options options)
    : TtsThread(project, profile.folder()) {
    run_ = std::make_unique<ExportRun>(project, profile, std::move(options), Events());
}

ExportThread::~ExportThread() {
    StopBeforeDestruction();
}

void ExportThread::Execute() {
    run_->run();
}

void ExportThread::CancelRun() {
    run_->cancel();
}

void ExportThread::TakeResults(RunOutcome& outcome) {
    outcome.cancelled = run_->cancelled();
    outcome.warnings = run_->warnings();
    const ExportTally& tally = run_->exported();
    outcome.exportSummary = std::to_string(tally.files) + " files written: " + std::to_string(tally.messages) +
                            " messages in " + std::to_string(tally.mailFolders) + " mail folders, " +
                            std::to_string(tally.favorites) + " favorites, " + std::to_string(tally.contacts) +
                            " contacts and " + std::to_string(tally.contactGroups) + " groups, " +
                            std::to_string(tally.accounts) +
                            " accounts (passwords are not exported).";
}

void ExportThread::ReleaseRun() {
    run_.reset();
}

}  // namespace ts::ui
