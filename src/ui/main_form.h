#pragma once
// The main window: the one top-level window and the place every flow starts from. It owns
// the settings records for the program's life, the project of the flow under way, and,
// while a run works, the progress dialog; every action and every close is refused then.
#include <QMainWindow>
#include <QPointer>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/project.h"
#include "platform/profile/profile.h"
#include "settings/reg_env_data.h"
#include "ui/progress_form.h"
#include "ui/worker_thread.h"

class QAction;
class QLabel;
class QMenuBar;
class QStatusBar;

namespace ts {
class SettingsFile;
}  // namespace ts

namespace ts::ui {

class Prompts;

// What the program works on: the profile chosen at start, or none when it could not be
// used, with the line the status bar shows either way.
struct ChosenProfile {
    std::unique_ptr<Profile> profile;
    QString description;
    QString problem;  // why there is no profile, and what to do about it
    QString notice;   // said once at start: the profile holds no Windows user data to back up
};

// The profile given on the command line or by the environment, as tessaly-cli chooses it;
// never throws.
ChosenProfile ChooseProfileForWindows(const std::optional<std::string>& explicitFolder,
                                         const std::vector<std::string>& driveOptions = {});

class TMainForm : public QMainWindow {
    Q_OBJECT
public:
    // settings and profile outlive the window; profile may hold no profile.
    TMainForm(Prompts& prompts, SettingsFile& settings, ChosenProfile& profile, QWidget* parent = nullptr);
    ~TMainForm() override;

    std::unique_ptr<TtsRegMainWindow> RegMainWindow;
    std::unique_ptr<TtsRegXPEnv> RegXPEnv;
    std::unique_ptr<TtsBackupProject> Project;
    bool AllowClose = true;
    QPointer<TtsThread> Thread;

    QMenuBar* ActionMainMenuBar;
    QLabel* BackgroundImage;
    QStatusBar* StatusBar;
    QAction* FileBackupAction;
    QAction* FileRestoreAction;
    QAction* FileExportAction;
    QAction* FileProjectManagerAction;
    QAction* FileExitAction;
    QAction* HelpTopicAction;
    QAction* HelpAboutAction;
    QAction* HelpVisitWebsiteAction;

    void FileBackupActionExecute();
    void FileRestoreActionExecute();
    void FileExportActionExecute();
    void FileProjectManagerActionExecute();
    void FileExitActionExecute();
    void HelpTopicActionExecute();
    void HelpAboutActionExecute();
    void HelpVisitWebsiteActionExecute();
    // A file given to the program (`tessaly FILE`, a double click in a file manager): a
    // project file (.tsly) opens as File > Backup opens one from disk, any other file in the
    // restore dialog as if chosen there.
    void OpenFile(const QString& path);

    // Run start for a project already in Project and a worker made for it: every action off,
    // the progress dialog up, the worker started. The end of the run frees the project.
    void RunStart(TtsThread* worker);

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void FormCreate();
    void FormShow();
    void FormDestroy();

    void SetActionsEnabled(bool Enabled);
    void ProgressPercent(uint8_t Percent);
    void ProgressState(const QString& Text);
    void CancelThread();
    void ThreadTerminate(TtsThread* sender);
    void ReportEndOfRun(const RunOutcome& outcome, bool restore);
    // The end of a run in one line, for a desktop notification.
    static QString EndOfRunLine(const RunOutcome& outcome, bool restore);
    // The restore flow, with dataFile read into the dialog at once when it is given.
    void RestoreFrom(const QString& dataFile);

    // Choice 0: a new project, edited, perhaps saved, then backed up.
    void BackupNewProject();
    // Choices 1 and 2: a project file opened (with its password), edited, saved back and,
    // when the user says so, backed up.
    void OpenAndBackUp(const std::string& path);
    // Runs one flow step, reporting what escapes it through the general error report.
    template <typename Step>
    void Guarded(Step&& step);
    // Profile-bound flows need a usable profile; false after saying so.
    bool HaveProfile();

    Prompts& prompts_;
    SettingsFile& settings_;
    ChosenProfile& profile_;
    QPointer<TProgressForm> progressForm_;
    bool shown_ = false;
    std::unique_ptr<UserMessages> runMessages_;
    std::unique_ptr<PlacedWindow> placement_;
};

}  // namespace ts::ui
