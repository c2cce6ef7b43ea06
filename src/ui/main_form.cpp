#include "ui/main_form.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QScreen>
#include <QStatusBar>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>

#include "engine/failure.h"
#include "engine/flows.h"
#include "engine/profile_choice.h"
#include "platform/exception.h"
#include "settings/settings_file.h"
#include "ui/about_form.h"
#include "ui/backup_form.h"
#include "ui/export_form.h"
#include "ui/history_projects_form.h"
#include "ui/html_help.h"
#include "ui/password_question.h"
#include "ui/pictures.h"
#include "ui/progress_form.h"
#include "ui/project_manager_form.h"
#include "ui/prompts.h"
#include "ui/restore_form.h"
#include "ui/select_project_form.h"
#include "ui/widget_placement.h"
#include "ui/window_layout.h"


namespace ts::ui {

namespace {

constexpr char kSaveFilter[] = "Tessaly File(*.tsly)|*.tsly";
constexpr char kOpenFilter[] = "Tessaly Project File(*.tsly)|*.tsly|All File(s)(*.*)|*.*";
constexpr char kWrongPasswordText[] = "Your password is invalid, please try again!";
constexpr char kRestoreWrongPasswordText[] = "Please check your password, the password is invalid! Restore terminated!";

// The boxes a run shows itself (the upload's failure), raised on the worker thread: shown
// on the interface thread while the worker waits for the user to close them. The request
// and its answer pass under a lock of our own, so what the two threads share is ordered
// where thread checkers see it.
class InterfaceMessages : public QObject, public UserMessages {
public:
    InterfaceMessages(QWidget& window, Prompts& prompts) : window_(window), prompts_(prompts) {}

    void ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon) override {
        if (QThread::currentThread() == thread()) {
            show(text, caption, icon);
            return;
        }
        Request request{text, caption, icon};
        std::unique_lock lock(mutex_);
        waiting_.push_back(&request);
        QMetaObject::invokeMethod(this, &InterfaceMessages::showWaiting, Qt::QueuedConnection);
        answered_.wait(lock, [&] { return request.done; });
    }

private:
    struct Request {
        std::string text;
        std::string caption;
        MessageIcon icon;
        bool done = false;
    };

    void show(const std::string& text, const std::string& caption, MessageIcon icon) {
        prompts_.message(&window_, QString::fromStdString(text), QString::fromStdString(caption), icon);
    }

    void showWaiting() {
        Request* request;
        {
            std::lock_guard lock(mutex_);
            if (waiting_.empty()) return;
            request = waiting_.front();
            waiting_.pop_front();
        }
        show(request->text, request->caption, request->icon);
        {
            std::lock_guard lock(mutex_);
            request->done = true;
        }
        answered_.notify_all();
    }

    QWidget& window_;
    Prompts& prompts_;
    std::mutex mutex_;
    std::condition_variable answered_;
    std::deque<Request*> waiting_;
};

QAction* makeAction(QObject* owner, const char* name, const QString& text, const QString& hint, QKeySequence shortcut = {}) {
    auto* action = new QAction(text, owner);
    action->setObjectName(name);
    action->setStatusTip(hint);
    action->setToolTip(hint);
    // The window's own shortcuts only: Ctrl+X in a dialog's text field is Cut.
    if (!shortcut.isEmpty()) action->setShortcut(shortcut);
    return action;
}

// The main window's place on the screen; its size stays what the picture makes it, and a
// place left from another screen layout never puts it out of reach.
class MainWindowPlacement : public WidgetPlacement {
public:
    explicit MainWindowPlacement(QWidget& window) : WidgetPlacement(window), window_(window) {}
    void SetLeft(int32_t value) override { left_ = value; }
    // The stored place is applied once both edges are known, as one move.
    void SetTop(int32_t value) override {
        if (left_) moveFrameTo(reachable(QPoint(*left_, value)));
    }
    void SetWidth(int32_t) override {}
    void SetHeight(int32_t) override {}

private:
    // The title bar, by which the window is moved, stays on a screen's free area; a place
    // that already keeps it there is taken exactly.
    QPoint reachable(QPoint frameTopLeft) const {
        QRect frame = window_.frameGeometry();
        frame.moveTopLeft(frameTopLeft);
        const QScreen* screen = QGuiApplication::screenAt(frame.center());
        if (!screen) screen = QGuiApplication::screenAt(frame.topLeft());
        if (!screen) screen = QGuiApplication::primaryScreen();
        if (!screen) return frameTopLeft;
        const QRect free = screen->availableGeometry();
        const int titleBar = std::max(8, window_.geometry().top() - window_.frameGeometry().top());
        const int grip = std::min(100, frame.width());
        QPoint place = frameTopLeft;
        place.setY(std::clamp(place.y(), free.top(), std::max(free.top(), free.bottom() - titleBar)));
        place.setX(std::clamp(place.x(), free.left() - frame.width() + grip, std::max(free.left(), free.right() - grip)));
        return place;
    }
    QWidget& window_;
    std::optional<int32_t> left_;
};

}  // namespace

ChosenProfile ChooseProfileForWindows(const std::optional<std::string>& explicitFolder,
                                         const std::vector<std::string>& driveOptions) {
    ChosenProfile chosen;
    try {
        ProfileLocation location = explicitFolder ? ProfileLocation{*explicitFolder, false}
                                                  : chooseProfileFolder(processEnvironment());
        chosen.profile = chooseProfile(explicitFolder, false, parseDriveFolders(driveOptions));
        if (location.ownDefault && chosen.profile->folder() == location.folder) {
            chosen.description = QString("Profile: %1, the program's own profile (%2)")
                                     .arg(QString::fromStdString(chosen.profile->userName()),
                                          QString::fromStdString(chosen.profile->folder()));
        } else {
            chosen.description = QString::fromStdString(describeProfile(*chosen.profile));
        }
        if (!profileHoldsUserData(*chosen.profile)) {
            chosen.description += " - no Windows mail data in it";
            chosen.notice = QString("The profile %1 holds no Windows mail data: no mail store, accounts, address book, "
                                    "favorites or browser settings, so a backup of it would save nothing.\n"
                                    "To back up another profile, start the program with --profile DIR, or set "
                                    "WINEPREFIX to the Wine prefix that holds the data. A restore into this profile "
                                    "works as it is.")
                                .arg(QString::fromStdString(chosen.profile->folder()));
        }
    } catch (const std::exception& e) {
        chosen.profile.reset();
        chosen.problem = QString::fromStdString(e.what());
        if (!chosen.problem.isEmpty() && chosen.problem.back().isLetterOrNumber()) chosen.problem += '.';
        chosen.problem +=
            "\nBackup and Restore stay off until the program is started on a usable profile: give its folder "
            "with --profile DIR, or set WINEPREFIX to a Wine prefix; close Wine on that prefix first if it runs.";
        chosen.description = "No usable profile";
    }
    return chosen;
}

TMainForm::TMainForm(Prompts& prompts, SettingsFile& settings, ChosenProfile& profile, QWidget* parent)
    : QMainWindow(parent), prompts_(prompts), settings_(settings), profile_(profile) {
    setObjectName("MainForm");
    setWindowTitle("Tessaly");
    setWindowIcon(programIcon());
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);

    FileBackupAction = makeAction(this, "FileBackupAction", "&Backup", "Start backup ...", QKeySequence(Qt::CTRL | Qt::Key_B));
    FileRestoreAction =
        makeAction(this, "FileRestoreAction", "&Restore", "Restore from backup file", QKeySequence(Qt::CTRL | Qt::Key_R));
    FileExportAction = makeAction(this, "FileExportAction", "&Export ...",
                                  "Export mail, contacts, favorites and accounts for other programs", QKeySequence(Qt::CTRL | Qt::Key_E));
    FileProjectManagerAction = makeAction(this, "FileProjectManagerAction", "&Project Manager ...", {});
    FileExitAction = makeAction(this, "FileExitAction", "&Exit", "Exit backup application", QKeySequence(Qt::CTRL | Qt::Key_X));
    // Ctrl+Q is how desktop programs quit; the menu names the first of the two.
    FileExitAction->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_X), QKeySequence(Qt::CTRL | Qt::Key_Q)});
    HelpTopicAction = makeAction(this, "HelpTopicAction", "&Topic", "Show help topic", QKeySequence(QKeySequence::HelpContents));
    HelpAboutAction = makeAction(this, "HelpAboutAction", "&About", "About Tessaly");
    HelpVisitWebsiteAction = makeAction(this, "HelpVisitWebsiteAction", "Visit Our Website", "Open and browse our website");
    for (QAction* action : {FileBackupAction, FileRestoreAction, FileExportAction, FileProjectManagerAction, FileExitAction})
        action->setProperty("category", "File");
    for (QAction* action : {HelpTopicAction, HelpAboutAction, HelpVisitWebsiteAction}) action->setProperty("category", "Help");
    addActions({FileBackupAction, FileRestoreAction, FileExportAction, FileProjectManagerAction, FileExitAction,
                HelpTopicAction, HelpAboutAction, HelpVisitWebsiteAction});

    ActionMainMenuBar = new QMenuBar(this);
    ActionMainMenuBar->setObjectName("ActionMainMenuBar");
    QMenu* fileMenu = ActionMainMenuBar->addMenu("&File");
    fileMenu->setObjectName("FileMenu");
    fileMenu->addAction(FileBackupAction);
    fileMenu->addAction(FileRestoreAction);
    fileMenu->addAction(FileExportAction);
    fileMenu->addSeparator();
    fileMenu->addAction(FileProjectManagerAction);
    fileMenu->addSeparator();
    // The menu entry shows the exit letter the way File menus usually do.
    QAction* exitEntry = fileMenu->addAction("E&xit\tCtrl+X");
    exitEntry->setObjectName("FileExitMenuItem");
    exitEntry->setStatusTip(FileExitAction->statusTip());
    connect(exitEntry, &QAction::triggered, FileExitAction, &QAction::trigger);
    connect(FileExitAction, &QAction::enabledChanged, exitEntry, &QAction::setEnabled);
    QMenu* helpMenu = ActionMainMenuBar->addMenu("&Help");
    helpMenu->setObjectName("HelpMenu");
    helpMenu->addAction(HelpTopicAction);
    helpMenu->addAction(HelpAboutAction);
    helpMenu->addSeparator();
    QAction* websiteEntry = helpMenu->addAction("&Visit Our Website");
    websiteEntry->setObjectName("HelpVisitWebsiteMenuItem");
    websiteEntry->setStatusTip(HelpVisitWebsiteAction->statusTip());
    connect(websiteEntry, &QAction::triggered, HelpVisitWebsiteAction, &QAction::trigger);
    connect(HelpVisitWebsiteAction, &QAction::enabledChanged, websiteEntry, &QAction::setEnabled);
    setMenuBar(ActionMainMenuBar);

    BackgroundImage = new QLabel(this);
    BackgroundImage->setObjectName("BackgroundImage");
    BackgroundImage->setPixmap(backgroundPicture());
    BackgroundImage->setFixedSize(BackgroundImage->pixmap().size());
    setCentralWidget(BackgroundImage);

    StatusBar = new QStatusBar(this);
    StatusBar->setObjectName("StatusBar");
    StatusBar->setSizeGripEnabled(false);
    setStatusBar(StatusBar);
    auto* profileLabel = new QLabel(profile_.description, StatusBar);
    profileLabel->setObjectName("ProfileLabel");
    profileLabel->setTextFormat(Qt::PlainText);  // a folder's name, shown as it is
    StatusBar->addWidget(profileLabel, 1);

    connect(FileBackupAction, &QAction::triggered, this, &TMainForm::FileBackupActionExecute);
    connect(FileRestoreAction, &QAction::triggered, this, &TMainForm::FileRestoreActionExecute);
    connect(FileExportAction, &QAction::triggered, this, &TMainForm::FileExportActionExecute);
    connect(FileProjectManagerAction, &QAction::triggered, this, &TMainForm::FileProjectManagerActionExecute);
    connect(FileExitAction, &QAction::triggered, this, &TMainForm::FileExitActionExecute);
    connect(HelpTopicAction, &QAction::triggered, this, &TMainForm::HelpTopicActionExecute);
    connect(HelpAboutAction, &QAction::triggered, this, &TMainForm::HelpAboutActionExecute);
    connect(HelpVisitWebsiteAction, &QAction::triggered, this, &TMainForm::HelpVisitWebsiteActionExecute);

    runMessages_ = std::make_unique<InterfaceMessages>(*this, prompts_);
    FormCreate();
}

TMainForm::~TMainForm() {
    FormDestroy();
}

void TMainForm::FormCreate() {
    // The picture sets the client area: its width by its height plus the two bars. On a
    // screen too small for that (a laptop at twice the scale) the picture shrinks, so the
    // menu and the status bar stay in view.
    const int bars = ActionMainMenuBar->sizeHint().height() + StatusBar->sizeHint().height();
    QSize picture = BackgroundImage->pixmap().size();
    const QRect area = usableArea(nullptr);
    if (!area.isEmpty() && (picture.width() > area.width() || picture.height() + bars > area.height())) {
        picture.scale(area.width(), std::max(1, area.height() - bars), Qt::KeepAspectRatio);
        BackgroundImage->setPixmap(backgroundPicture().scaled(picture, Qt::KeepAspectRatio, Qt::SmoothTransformation));
        BackgroundImage->setFixedSize(picture);
    }
    setFixedSize(picture.width(), picture.height() + bars);
    RegXPEnv = std::make_unique<TtsRegXPEnv>(settings_);
    try {
        RegXPEnv->ReadFromRegistry();
    } catch (const std::exception& e) {
        // The history read up to the bad entry is kept; the window opens regardless.
        prompts_.generalError(this, QString::fromStdString(e.what()));
    }
    AllowClose = true;
}

void TMainForm::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!shown_) {
        shown_ = true;
        FormShow();
    }
}

void TMainForm::FormShow() {
    setGeometry(fittedPlace(size(), usableArea(this)));
    placement_ = std::make_unique<MainWindowPlacement>(*this);
    RegMainWindow = std::make_unique<TtsRegMainWindow>(settings_, placement_.get());
    try {
        RegMainWindow->ReadFromRegistry();
    } catch (const std::exception&) {
        // A placement that cannot be read leaves the window centred.
    }
}

void TMainForm::closeEvent(QCloseEvent* event) {
    // FormCloseQuery: a worker and its progress dialog live only inside this window.
    if (AllowClose) {
        event->accept();
    } else {
        event->ignore();
    }
}

void TMainForm::FormDestroy() {
    try {
        if (RegMainWindow) RegMainWindow->WriteToRegistry();
        RegXPEnv->WriteToRegistry();
    } catch (const std::exception& e) {
        prompts_.generalError(nullptr, QString::fromStdString(e.what()));
    }
    RegMainWindow.reset();
    RegXPEnv.reset();
}

void TMainForm::SetActionsEnabled(bool Enabled) {
    for (QAction* action : {FileBackupAction, FileRestoreAction, FileExportAction, FileProjectManagerAction,
                            FileExitAction, HelpTopicAction, HelpAboutAction, HelpVisitWebsiteAction})
        action->setEnabled(Enabled);
    AllowClose = Enabled;
}

void TMainForm::ProgressPercent(uint8_t Percent) {
    if (!progressForm_) return;
    progressForm_->ProgressBar->setValue(Percent);
    progressForm_->PercentLabel->setText(TProgressForm::PercentText(Percent));
}

void TMainForm::ProgressState(const QString& Text) {
    if (!progressForm_) return;
    progressForm_->ShowState(Text);
}

void TMainForm::CancelThread() {
    if (Thread) Thread->Cancel();
}

void TMainForm::RunStart(TtsThread* worker) {
    SetActionsEnabled(false);
    progressForm_ = new TProgressForm(this);
    progressForm_->OnCancel = [this](QObject*) { CancelThread(); };
    progressForm_->show();
    Thread = worker;
    connect(worker, &TtsThread::OnProgress, this, [this](int percent) { ProgressPercent(static_cast<uint8_t>(percent)); });
    connect(worker, &TtsThread::OnStatus, this, &TMainForm::ProgressState);
    connect(worker, &TtsThread::Terminated, this, &TMainForm::ThreadTerminate);
    worker->start();
}

void TMainForm::ThreadTerminate(TtsThread* sender) {
    if (!progressForm_) return;
    // Someone who went on with other work (neither this window nor its progress dialog is
    // active) hears of the end from the desktop as well.
    const QWidget* active = QApplication::activeWindow();
    const bool away = !active || (active != this && active != progressForm_.data());
    delete progressForm_;
    progressForm_ = nullptr;
    const bool restore = qobject_cast<TtsRestoreThread*>(sender) != nullptr;
    if (away) prompts_.notify("Tessaly", EndOfRunLine(sender->Outcome(), restore));
    ReportEndOfRun(sender->Outcome(), restore);
    Project.reset();
    Thread = nullptr;
    SetActionsEnabled(true);
}

void TMainForm::ReportEndOfRun(const RunOutcome& outcome, bool restore) {
    if (outcome.cancelled) {
        prompts_.endOfRun(this, "User canceled!",
                          restore ? "Nothing was restored: the profile is as it was."
                                  : "No data file was written; one written before under this name is as it was.",
                          {}, {});
        return;
    }
    if (outcome.failure) {
        const QString text = QString::fromStdString(outcome.failure->text);
        if (restore) {
            if (outcome.failure->kind == FailureKind::WrongPassword) {
                prompts_.error(this, kRestoreWrongPasswordText);
            } else {
                prompts_.error(this, text + "\nRestore terminated!");
            }
        } else if (!outcome.reportedByRun) {
            // The upload's failure box was the run's own report already.
            prompts_.error(this, text);
        }
        return;
    }
    if (outcome.exportSummary) {
        QStringList details;
        for (const std::string& warning : outcome.warnings) details << QString::fromStdString(warning);
        QString informative = QString::fromStdString(*outcome.exportSummary);
        if (!details.isEmpty())
            informative += QString("\n%1 warning%2; the details name %3.")
                               .arg(details.size())
                               .arg(details.size() == 1 ? "" : "s")
                               .arg(details.size() == 1 ? "it" : "each");
        prompts_.endOfRun(this, "Finished!", informative, details.join('\n'), {});
        return;
    }
    // "Finished!" stays the message; what the run wrote, and what the user should know
    // about it, goes below it.
    QStringList notes, details;
    if (!outcome.report.empty()) notes << QString::fromStdString(outcome.report) + ".";
    if (!outcome.refusedNames.empty()) {
        for (const RefusedFileName& refused : outcome.refusedNames)
            details << QString::fromStdString(refused.storedName + " (" + refused.reason + ")");
        const auto count = static_cast<int>(outcome.refusedNames.size());
        notes << QString("%1 saved file%2 not restored: the stored name%3 would not land inside your folders.")
                     .arg(count)
                     .arg(count == 1 ? " was" : "s were")
                     .arg(count == 1 ? "" : "s");
    }
    if (!outcome.warnings.empty()) {
        for (const std::string& warning : outcome.warnings) details << QString::fromStdString(warning);
        const bool one = outcome.warnings.size() == 1;
        notes << QString("%1 file%2 could not be saved; the details name %3.")
                     .arg(outcome.warnings.size())
                     .arg(one ? "" : "s")
                     .arg(one ? "it" : "each");
    }
    // A backup that found nothing to save is no success worth a silent "Finished!".
    for (const std::string& caption : outcome.itemsFoundNothing)
        notes << QString("%1: nothing found in this profile.").arg(QString::fromStdString(caption));
    if (!outcome.itemsFoundNothing.empty() && profile_.profile)
        notes << QString("The profile is %1; start the program with --profile DIR or WINEPREFIX set to choose another.")
                     .arg(QString::fromStdString(profile_.profile->folder()));
    prompts_.endOfRun(this, "Finished!", notes.join('\n'), details.join('\n'),
                      QString::fromStdString(outcome.writtenFolder));
}

QString TMainForm::EndOfRunLine(const RunOutcome& outcome, bool restore) {
    const QString what = restore ? "Restore" : "Backup";
    if (outcome.cancelled) return "User canceled! " + what + " stopped; nothing was changed.";
    if (outcome.failure) return what + " failed: " + QString::fromStdString(outcome.failure->text);
    if (outcome.report.empty()) return "Finished!";
    return "Finished! " + QString::fromStdString(outcome.report);
}

void TMainForm::OpenFile(const QString& path) {
    if (!AllowClose || !HaveProfile()) return;
    if (path.endsWith(".tsly", Qt::CaseInsensitive)) {
        Guarded([&] { OpenAndBackUp(path.toStdString()); });
    } else {
        RestoreFrom(path);
    }
}

template <typename Step>
void TMainForm::Guarded(Step&& step) {
    try {
        step();
    } catch (const std::exception& e) {
        // A flow that failed before its run started leaves no project behind.
        if (!Thread) Project.reset();
        prompts_.generalError(this, QString::fromStdString(e.what()));
    }
}

bool TMainForm::HaveProfile() {
    if (profile_.profile) return true;
    prompts_.error(this, profile_.problem);
    return false;
}

void TMainForm::FileBackupActionExecute() {
    if (!AllowClose || !HaveProfile()) return;
    Guarded([&] {
        int choice;
        {
            TSelectProjectForm select(this);
            if (select.exec() != QDialog::Accepted) return;
            choice = select.ItemIndex();
        }
        switch (choice) {
            case 0:
                BackupNewProject();
                break;
            case 1: {
                THistoryProjectsForm history(prompts_, this);
                history.SetProjects(&RegXPEnv->Projects());
                if (history.exec() != QDialog::Accepted) return;
                // OK without a chosen row chooses nothing.
                if (history.SelectedRow() < 0) return;
                OpenAndBackUp(history.SelectedPath());
                break;
            }
            case 2: {
                std::optional<QString> path = prompts_.openFile(this, kOpenFilter, "tsly");
                if (!path) return;
                OpenAndBackUp(path->toStdString());
                break;
            }
            default:
                break;
        }
    });
}

void TMainForm::BackupNewProject() {
    TBackupForm form(prompts_, this);
    // A new project starts at the project's own default level; the stored option is carried
    // for the settings file only.
    Project = std::make_unique<TtsBackupProject>(profile_.profile.get());
    form.SetProject(Project.get());
    if (form.exec() != QDialog::Accepted) {
        Project.reset();
        return;
    }
    if (prompts_.question(this, "Do you want to save these settings to a project file?")) {
        if (std::optional<QString> path = prompts_.saveFile(this, kSaveFilter, "tsly")) {
            Project->SaveToFile(path->toStdString());
            RegXPEnv->Projects().Add(path->toStdString());
        }
    }
    RunStart(new TtsBackupThread(*Project, *profile_.profile, runMessages_.get()));
}

void TMainForm::OpenAndBackUp(const std::string& path) {
    DialogPasswordQuestion question(prompts_, this, kWrongPasswordText);
    try {
        Project = openProjectFile(path, *profile_.profile, question);
    } catch (const FlowFailure& failure) {
        if (failure.failure().kind != FailureKind::WrongPassword) throw;
        prompts_.error(this, kWrongPasswordText);
        return;
    }
    if (!Project) return;  // the password question was cancelled
    TBackupForm form(prompts_, this);
    form.SetProject(Project.get());
    if (form.exec() != QDialog::Accepted) {
        Project.reset();
        return;
    }
    Project->SaveToFile(path);
    if (!prompts_.question(this, "Do you want to backup?")) {
        Project.reset();
        return;
    }
    RunStart(new TtsBackupThread(*Project, *profile_.profile, runMessages_.get()));
}

void TMainForm::FileRestoreActionExecute() {
    if (!AllowClose || !HaveProfile()) return;
    RestoreFrom({});
}

void TMainForm::RestoreFrom(const QString& dataFile) {
    Guarded([&] {
        TRestoreForm form(prompts_, this);
        form.SetProfile(profile_.profile.get());
        // Read once the dialog stands, so a password question opens over it.
        if (!dataFile.isEmpty()) QTimer::singleShot(0, &form, [&form, dataFile] { form.OpenDataFile(dataFile); });
        if (form.exec() != QDialog::Accepted) return;
        // The run goes on reading the file the dialog opened and proved the password of.
        std::optional<OpenedDataFile> opened = form.TakeOpenedFile();
        if (!opened) return;
        auto* worker = new TtsRestoreThread(*opened, *profile_.profile);
        // The window keeps the project the run works on until the run has ended.
        Project = std::move(opened->project);
        RunStart(worker);
    });
}

void TMainForm::FileExportActionExecute() {
    if (!AllowClose || !HaveProfile()) return;
    Guarded([&] {
        ExportForm form(prompts_, this);
        if (form.exec() != QDialog::Accepted) return;
        const ExportRun::Options options{form.folderName(), false, form.oneFilePerMessage()};
        Profile& profile = *profile_.profile;
        if (!form.fromDataFile()) {
            Project = std::make_unique<TtsBackupProject>(&profile);
            for (TtsBPSourceItem* item : Project->Source().ItemList()) item->SetSelected(true);
            RunStart(new ExportThread(*Project, profile, options));
            return;
        }
        DialogPasswordQuestion question(prompts_, this);
        std::optional<OpenedDataFile> opened = openDataFile(form.dataFileName(), profile, question);
        if (!opened) return;
        auto* worker = new ExportThread(*opened, profile, options);
        // The window keeps the project the run works on until the run has ended.
        Project = std::move(opened->project);
        RunStart(worker);
    });
}

void TMainForm::FileProjectManagerActionExecute() {
    if (!AllowClose) return;
    Guarded([&] {
        TProjectManagerForm manager(prompts_, this);
        manager.SetProjects(&RegXPEnv->Projects());
        manager.exec();
    });
}

void TMainForm::FileExitActionExecute() {
    close();
}

void TMainForm::HelpTopicActionExecute() {
    if (!AllowClose) return;
    Guarded([&] { HtmlHelp(this, helpFilePath(), HH_DISPLAY_TOPIC, 0); });
}

void TMainForm::HelpAboutActionExecute() {
    if (!AllowClose) return;
    Guarded([&] {
        TAboutForm about(prompts_, this);
        about.exec();
    });
}

void TMainForm::HelpVisitWebsiteActionExecute() {
    if (!AllowClose) return;
    prompts_.openUrl(TAboutForm::kWebsite);
}

}  // namespace ts::ui
