// Every flow from the menu, end to end: the real dialogs driven by object name, the boxes
// and file choosers answered by script, real project files, data files and profiles.
#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>

#include "platform/debug_log.h"
#include "settings/reg_env_data.h"
#include "settings/settings_file.h"
#include "ui/main_form.h"
#include "ui/restore_form.h"
#include "ui/password_question.h"
#include "scripted_prompts.h"
#include "ui/select_project_form.h"
#include "main_window_fixture.h"
#include "ui_test_support.h"
#include "support/file_opens.h"
#include "support/temp_dir.h"

using namespace ts;
using namespace ts::ui;
namespace fs = std::filesystem;

using test::click;
using test::type;

class MainFormFlowsTest : public QObject, test::MainWindowFixture {
    Q_OBJECT

    std::unique_ptr<test::ModalScript> script;

    std::string projectPath() const { return samples->dir.file("Mail.tsly"); }

    void seedHistory(const std::vector<std::string>& paths) {
        SettingsFile seed(settingsPath());
        TtsRegXPEnv env(seed);
        for (const auto& path : paths) env.Projects().Add(path);
        env.WriteToRegistry();
    }
    std::vector<std::string> history() const { return form->RegXPEnv->Projects().ProjectFiles; }

    void writeProjectFile(const std::string& path, bool encrypt) {
        TtsBackupProject project(samples->alice.get());
        project.SetName("Mail");
        project.Destination().SetLocalFolder(samples->out());
        project.Source().FindItem("Favorites")->SetSelected(true);
        project.SetEncrypt(encrypt);
        project.SetPassword(encrypt ? "right" : "");
        project.SaveToFile(path);
    }
    std::string projectNameIn(const std::string& path, const std::string& password = {}) {
        TtsBackupProject project;
        project.SetEncrypt(!password.empty());
        project.SetPassword(password);
        project.LoadFromFile(path);
        return project.Name();
    }

    void choose(int index) {
        script->then("SelectProjectForm", [index](QWidget* dialog) {
            dialog->findChild<QRadioButton*>(QString("SelectGroupBoxItem%1").arg(index))->click();
            click(dialog, "OkButton");
        });
    }
    void editAndConfirm(const QString& name, const QString& folder = {}) {
        script->then("BackupForm", [name, folder](QWidget* dialog) {
            type(dialog, "ProjectNameEdit", name);
            if (!folder.isEmpty()) type(dialog, "DestFolderEdit", folder);
            click(dialog, "OkButton");
        });
    }
    // The history dialog opens its first row.
    void openFirstHistoryRow() {
        script->then("HistoryProjectsForm", [](QWidget* dialog) {
            auto* list = dialog->findChild<QTreeWidget*>();
            list->setCurrentItem(list->topLevelItem(0));
            click(dialog, "OpenButton");
        });
    }
    // File > Backup of a new project "Mail" into out(), saved to a project file at path first.
    void backUpANewProjectSavedAt(const std::string& path) {
        prompts->questions = {true};
        prompts->files = {QString::fromStdString(path)};
        choose(0);
        editAndConfirm("Mail", QString::fromStdString(samples->out()));
        trigger(form->FileBackupAction);
    }
    // Triggers the action and, when a run starts, waits for its end.
    void trigger(QAction* action) {
        action->trigger();
        QVERIFY(test::waitForRunEnd(*form));
        QVERIFY2(script->done(), qPrintable(script->seen.join(",")));
    }

private slots:
    void init() {
        setUpWindowTest();
        script = std::make_unique<test::ModalScript>();
    }
    void cleanup() {
        script.reset();
        tearDownWindowTest();
    }

    void aNewProjectIsSavedBackedUpAndRestoredIntoAnotherProfile() {
        openWindow();
        backUpANewProjectSavedAt(projectPath());
        QCOMPARE(test::shownTexts(*prompts), (QStringList{"Do you want to save these settings to a project file?", "Finished!"}));
        QCOMPARE(history(), std::vector<std::string>{projectPath()});
        QCOMPARE(projectNameIn(projectPath()), std::string("Mail"));
        const std::string dataFile = samples->out("Mail.tsly_dat");
        QVERIFY(fs::exists(dataFile));
        QVERIFY(!form->Project);

        form.reset();
        prompts->shown.clear();
        openWindow(samples->bob.get());
        prompts->files = {QString::fromStdString(dataFile)};
        script->then("RestoreForm", [](QWidget* dialog) {
            click(dialog, "SpeedButton1");
            click(dialog, "RestoreButton");
        });
        trigger(form->FileRestoreAction);
        QCOMPARE(test::shownTexts(*prompts), QStringList{"Finished!"});
        QVERIFY(fs::exists(samples->dir.file("bob/drive_c/users/bob/AppData/Roaming/Microsoft/Address Book/alice.wab")));
    }

    // The dialog opens the data file, proving its password, and the run goes on reading it:
    // one open from the menu to the end of the restore. A password typed into the dialog
    // after the question was cancelled opens the file again, but the run still does not.
    void aRestoreFromTheMenuOpensTheDataFileOnce_data() {
        QTest::addColumn<bool>("encrypted");
        QTest::addColumn<QString>("typed");
        QTest::newRow("plain") << false << QString();
        QTest::newRow("encrypted, answered in the password question") << true << QString();
        QTest::newRow("encrypted, typed into the restore dialog") << true << QString("right");
    }
    void aRestoreFromTheMenuOpensTheDataFileOnce() {
        QFETCH(bool, encrypted);
        QFETCH(QString, typed);
        const std::string dataFile = samples->backUpAlice(encrypted);
        test::FileOpens opens(dataFile);
        openWindow(samples->bob.get());
        prompts->files = {QString::fromStdString(dataFile)};
        if (encrypted) prompts->passwords = {typed.isEmpty() ? std::optional<QString>("right") : std::nullopt};
        int inDialog = -1;
        script->then("RestoreForm", [&](QWidget* dialog) {
            click(dialog, "SpeedButton1");
            if (!typed.isEmpty()) type(dialog, "PasswordEdit", typed);
            click(dialog, "RestoreButton");
            inDialog = opens.count();
        });
        trigger(form->FileRestoreAction);
        QCOMPARE(test::shownTexts(*prompts), QStringList{"Finished!"});
        QCOMPARE(prompts->passwordQuestions, encrypted ? 1 : 0);
        QVERIFY(fs::exists(samples->dir.file("bob/drive_c/users/bob/AppData/Roaming/Microsoft/Address Book/alice.wab")));
        QCOMPARE(opens.count(), inDialog);
        if (typed.isEmpty()) QCOMPARE(inDialog, 1);
    }

    // The profile (only read) and a data file of it export the same mail; the data file's
    // password is asked as for a restore, and the end report names what was written.
    void theProfileAndItsDataFileAreExported() {
        samples->backUpAlice(true);
        openWindow();
        const QString live = QString::fromStdString(samples->dir.file("live"));
        const QString stored = QString::fromStdString(samples->dir.file("stored"));
        prompts->folders = {live, stored};
        prompts->files = {QString::fromStdString(samples->out("Mail.tsly_dat"))};
        prompts->passwords = {QString("wrong"), QString("right")};
        script->then("ExportForm", [](QWidget* dialog) {
            click(dialog, "ExportButton");  // no file and no folder yet: refused
            dialog->findChild<QRadioButton*>("ProfileRadio")->setChecked(true);
            click(dialog, "FolderButton");
            click(dialog, "ExportButton");
        });
        trigger(form->FileExportAction);
        script->then("ExportForm", [](QWidget* dialog) {
            click(dialog, "FileButton");
            click(dialog, "FolderButton");
            dialog->findChild<QCheckBox*>("EmlCheckBox")->setChecked(true);
            click(dialog, "ExportButton");
        });
        trigger(form->FileExportAction);
        const QStringList shown = test::shownTexts(*prompts);
        QCOMPARE(shown.size(), 4);
        QCOMPARE(shown[0], QString("Please choose the backup file to export!"));
        QCOMPARE(shown[1], QString("Finished!"));
        const QString report = prompts->shown[1].informative;
        QVERIFY2(report.contains("messages in 14 mail folders"), qPrintable(report));
        QCOMPARE(shown[2], QString(kInvalidPasswordText));
        QCOMPARE(shown[3], QString("Finished!"));
        QCOMPARE(prompts->passwordQuestions, 2);
        // Each message of the mbox file is one .eml file of the data file's export, byte for byte.
        const fs::path inbox = fs::path(live.toStdString()) / "Mail/Main Identity/Inbox.mbox";
        const fs::path emls = fs::path(stored.toStdString()) / "Mail/Main Identity/Inbox";
        QVERIFY(fs::exists(inbox));
        std::ifstream mbox(inbox);
        int separators = 0;
        for (std::string line; std::getline(mbox, line);) separators += line.rfind("From ", 0) == 0;
        int files = 0;
        for (const auto& entry : fs::directory_iterator(emls)) files += entry.path().extension() == ".eml";
        QCOMPARE(separators, 60);
        QCOMPARE(files, 60);
        QVERIFY(!form->Project);
    }

    // A wrong answer is said so and the question comes again; the edited project is written
    // back to its file before the question to back up.
    void anEncryptedProjectFromTheHistoryIsOpenedEditedRewrittenAndBackedUp() {
        writeProjectFile(projectPath(), true);
        seedHistory({projectPath()});
        openWindow();
        prompts->passwords = {QString("wrong"), QString("right")};
        prompts->questions = {true};
        choose(1);
        openFirstHistoryRow();
        editAndConfirm("Mail2");
        trigger(form->FileBackupAction);
        QCOMPARE(test::shownTexts(*prompts), (QStringList{"Your password is invalid, please try again!", "Do you want to backup?", "Finished!"}));
        QCOMPARE(prompts->shown[0].caption, QString("Error"));
        QCOMPARE(prompts->passwordQuestions, 2);
        QCOMPARE(projectNameIn(projectPath(), "right"), std::string("Mail2"));
        QVERIFY(fs::exists(samples->out("Mail2.tsly_dat")));
        QCOMPARE(history(), std::vector<std::string>{projectPath()});
    }

    void flowsThatEndWithoutARun_data() {
        QTest::addColumn<int>("flow");
        QTest::newRow("start choice cancelled") << 0;
        QTest::newRow("new project, backup dialog cancelled") << 1;
        QTest::newRow("project file, password question cancelled") << 2;
        QTest::newRow("project file, No to backing up") << 3;
    }
    void flowsThatEndWithoutARun() {
        QFETCH(int, flow);
        writeProjectFile(projectPath(), flow == 2);
        const auto before = fs::last_write_time(projectPath());
        openWindow();
        if (flow == 0) {
            script->then("SelectProjectForm", [](QWidget* dialog) { click(dialog, "CancelButton"); });
        } else if (flow == 1) {
            choose(0);
            script->then("BackupForm", [](QWidget* dialog) { click(dialog, "CancelButton"); });
        } else {
            prompts->files = {QString::fromStdString(projectPath())};
            choose(2);
            if (flow == 3) editAndConfirm("Renamed");
        }
        trigger(form->FileBackupAction);
        QVERIFY(!test::progressDialog(*form));
        QVERIFY(!form->Project);
        QVERIFY(!form->Thread);
        QVERIFY(history().empty());
        QVERIFY(!fs::exists(samples->out("Mail.tsly_dat")));
        if (flow == 3) {
            QCOMPARE(test::shownTexts(*prompts), QStringList{"Do you want to backup?"});
            QCOMPARE(projectNameIn(projectPath()), std::string("Renamed"));
        } else {
            QVERIFY2(prompts->shown.empty(), qPrintable(test::shownTexts(*prompts).join("|")));
            QCOMPARE(fs::last_write_time(projectPath()), before);
        }
        for (QAction* action : form->actions()) QVERIFY(action->isEnabled());
    }

    // No to saving, or Yes and then no file chosen: the run goes on without a project file.
    void aNewProjectRunsWithoutAProjectFile_data() {
        QTest::addColumn<bool>("saveAnswer");
        QTest::newRow("No") << false;
        QTest::newRow("Yes, save dialog cancelled") << true;
    }
    void aNewProjectRunsWithoutAProjectFile() {
        QFETCH(bool, saveAnswer);
        openWindow();
        prompts->questions = {saveAnswer};
        choose(0);
        editAndConfirm("Mail", QString::fromStdString(samples->out()));
        trigger(form->FileBackupAction);
        QCOMPARE(test::shownTexts(*prompts).back(), QString("Finished!"));
        QVERIFY(history().empty());
        QVERIFY(fs::exists(samples->out("Mail.tsly_dat")));
    }

    // Saving a new project where the history already points adds the path a second time.
    void aSavedPathAlreadyInTheHistoryStandsTwice() {
        seedHistory({projectPath()});
        openWindow();
        backUpANewProjectSavedAt(projectPath());
        QCOMPARE(history(), (std::vector<std::string>{projectPath(), projectPath()}));
    }

    // A project file whose compression level is outside 0 to 3 is damaged, said so with its
    // name when it is opened, from the disk or from the history; no backup dialog opens.
    void aProjectFileWithAnUnknownLevelIsDamaged_data() {
        QTest::addColumn<int>("choice");
        QTest::newRow("from the storage device") << 2;
        QTest::newRow("from the history") << 1;
    }
    void aProjectFileWithAnUnknownLevelIsDamaged() {
        QFETCH(int, choice);
        writeProjectFile(projectPath(), false);
        std::vector<uint8_t> bytes = test::readHostFile(projectPath());
        bytes[512] = 7;
        test::writeHostFile(projectPath(), bytes);
        if (choice == 1) seedHistory({projectPath()});
        openWindow();
        prompts->files = {QString::fromStdString(projectPath())};
        choose(choice);
        if (choice == 1) {
            script->then("HistoryProjectsForm", [](QWidget* dialog) {
                auto* list = dialog->findChild<QTreeWidget*>();
                QCOMPARE(list->topLevelItem(0)->text(0), QString("[Damaged]"));
                list->setCurrentItem(list->topLevelItem(0));
                click(dialog, "OpenButton");
            });
        }
        trigger(form->FileBackupAction);
        QCOMPARE(prompts->shown.size(), size_t(1));
        const QString text = prompts->shown[0].text;
        QCOMPARE(prompts->shown[0].caption, QString("Tessaly"));
        QVERIFY2(text.contains(QString::fromStdString(projectPath())) && text.contains("damaged") &&
                     text.contains("compression level 7"),
                 qPrintable(text));
        QVERIFY(!form->Project);
        for (QAction* action : form->actions()) QVERIFY(action->isEnabled());
    }

    // `tessaly FILE` (a double click in a file manager): a data file opens read in the restore
    // dialog, a project file as one opened from the disk.
    void aFileGivenToTheProgramOpensInItsFlow() {
        openWindow();
        prompts->questions = {false};
        choose(0);
        editAndConfirm("Mail", QString::fromStdString(samples->out()));
        trigger(form->FileBackupAction);
        const std::string dataFile = samples->out("Mail.tsly_dat");
        QVERIFY(fs::exists(dataFile));
        form.reset();
        prompts->shown.clear();

        openWindow(samples->bob.get());
        test::FileOpens opens(dataFile);
        int reads = -1;
        script->then("RestoreForm", [&reads, &opens](QWidget* dialog) {
            reads = opens.count();
            click(dialog, "RestoreButton");
        });
        form->OpenFile(QString::fromStdString(dataFile));
        QVERIFY(test::waitForRunEnd(*form));
        QCOMPARE(reads, 1);
        QCOMPARE(test::shownTexts(*prompts), QStringList{"Finished!"});
        QVERIFY(fs::exists(samples->dir.file("bob/drive_c/users/bob/AppData/Roaming/Microsoft/Address Book/alice.wab")));

        writeProjectFile(projectPath(), false);
        prompts->shown.clear();
        prompts->questions = {false};
        editAndConfirm("Renamed");
        form->OpenFile(QString::fromStdString(projectPath()));
        QVERIFY(script->done());
        QCOMPARE(test::shownTexts(*prompts), QStringList{"Do you want to backup?"});
        QCOMPARE(projectNameIn(projectPath()), std::string("Renamed"));
    }

    void aHistoryEntryWhoseFileIsGoneIsReportedByTheGeneralErrorReport() {
        const std::string gone = samples->dir.file("gone.tsly");
        seedHistory({gone});
        openWindow();
        choose(1);
        openFirstHistoryRow();
        trigger(form->FileBackupAction);
        QCOMPARE(prompts->shown.size(), size_t(1));
        QCOMPARE(prompts->shown[0].caption, QString("Tessaly"));
        QVERIFY2(prompts->shown[0].text.contains("gone.tsly"), qPrintable(prompts->shown[0].text));
        QVERIFY(prompts->shown[0].text.endsWith('.') || prompts->shown[0].text.endsWith('!'));
        QVERIFY(!form->Project);
    }
};

QTEST_MAIN(MainFormFlowsTest)
#include "main_form_flows_test.moc"
