// The main window with real runs on real sample profiles: its look, its settings, the state
// while a worker runs, the end of a run for every way a run can end.
#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QComboBox>
#include <QTimer>
#include <QApplication>
#include <QScreen>
#include <QRegularExpression>
#include <QUrl>
#include <QRadioButton>
#include <QStatusBar>
#include <QTreeWidget>
#include <QTest>

#include <sys/stat.h>

#include <filesystem>

#include "engine/backup_run.h"
#include "platform/debug_log.h"
#include "settings/reg_env_data.h"
#include "settings/settings_file.h"
#include "support/crafted_data_file.h"
#include "support/ftp_test_server.h"
#include "ui/main_form.h"
#include "ui/progress_form.h"
#include "scripted_prompts.h"
#include "main_window_fixture.h"
#include "ui_test_support.h"

using namespace ts;
using namespace ts::ui;
namespace fs = std::filesystem;

namespace {

const QString kRestoreWrongPassword = "Please check your password, the password is invalid! Restore terminated!";

}  // namespace

class MainFormTest : public QObject, test::MainWindowFixture {
    Q_OBJECT

    // A project of the window's own, as a flow leaves it just before the run starts.
    TtsBackupProject& newProject(bool allItems = true) {
        form->Project = samples->mailProject(*samples->alice, allItems);
        return *form->Project;
    }

    // Starts a restore into bob's profile as the restore flow does after the dialog's OK.
    test::Watched<TtsRestoreThread>* startRestore(const std::string& file, const std::string& password = {}) {
        form->Project = std::make_unique<TtsBackupProject>(samples->bob.get());
        form->Project->SetWorkFolder(samples->work());
        form->Project->SetPassword(password);
        auto* worker = new test::Watched<TtsRestoreThread>(*form->Project, *samples->bob, file);
        return worker;
    }

    bool waitForRunEnd() { return test::waitForRunEnd(*form); }

    // A backup of a project of the window's own, started from the window; it stops at gate
    // when it comes to its compression.
    void startBackupHeldAtCompression(test::WorkerGate& gate) {
        auto* worker = new test::Watched<TtsBackupThread>(newProject(), *samples->alice, nullptr);
        gate.stopAtStatus(*worker, "Compress Data ...");
        form->RunStart(worker);
    }

private slots:
    void init() { setUpWindowTest(); }
    void cleanup() { tearDownWindowTest(); }

    void theWindowHasItsCaptionMenusShortcutsAndSize() {
        openWindow();
        QCOMPARE(form->windowTitle(), QString("Tessaly"));
        QCOMPARE(form->objectName(), QString("MainForm"));
        QVERIFY(!(form->windowFlags() & Qt::WindowMinimizeButtonHint));
        QVERIFY(!(form->windowFlags() & Qt::WindowMaximizeButtonHint));
        QCOMPARE(form->BackgroundImage->size(), QSize(640, 480));
        QCOMPARE(form->size(), QSize(640, 480 + form->ActionMainMenuBar->height() + form->StatusBar->height()));
        QCOMPARE(form->minimumSize(), form->maximumSize());

        struct Entry { QString menu, entry; QAction* action; QKeySequence shortcut; QString hint; };
        const Entry entries[] = {
            {"&File", "&Backup", form->FileBackupAction, QKeySequence(Qt::CTRL | Qt::Key_B), "Start backup ..."},
            {"&File", "&Restore", form->FileRestoreAction, QKeySequence(Qt::CTRL | Qt::Key_R), "Restore from backup file"},
            {"&File", "&Export ...", form->FileExportAction, QKeySequence(Qt::CTRL | Qt::Key_E),
             "Export mail, contacts, favorites and accounts for other programs"},
            {"&File", "", nullptr, {}, {}},
            {"&File", "&Project Manager ...", form->FileProjectManagerAction, {}, ""},
            {"&File", "", nullptr, {}, {}},
            {"&File", "E&xit\tCtrl+X", form->FileExitAction, QKeySequence(Qt::CTRL | Qt::Key_X), "Exit backup application"},
            {"&Help", "&Topic", form->HelpTopicAction, QKeySequence(Qt::Key_F1), "Show help topic"},
            {"&Help", "&About", form->HelpAboutAction, {}, "About Tessaly"},
            {"&Help", "", nullptr, {}, {}},
            {"&Help", "&Visit Our Website", form->HelpVisitWebsiteAction, {}, "Open and browse our website"},
        };
        QList<QAction*> menus = form->ActionMainMenuBar->actions();
        QCOMPARE(menus.size(), 2);
        int index[2] = {0, 0};
        for (const Entry& e : entries) {
            const int m = e.menu == "&File" ? 0 : 1;
            QCOMPARE(menus[m]->text(), e.menu);
            QAction* entry = menus[m]->menu()->actions().value(index[m]++);
            QVERIFY(entry);
            QCOMPARE(entry->isSeparator(), e.entry.isEmpty());
            if (e.entry.isEmpty()) continue;
            QCOMPARE(entry->text(), e.entry);
            QCOMPARE(e.action->shortcut(), e.shortcut);
            QCOMPARE(e.action->statusTip(), e.hint);
        }
        QCOMPARE(form->FileExitAction->text(), QString("&Exit"));
        QCOMPARE(form->HelpVisitWebsiteAction->text(), QString("Visit Our Website"));
        auto* profileLabel = form->StatusBar->findChild<QLabel*>("ProfileLabel");
        QVERIFY(profileLabel);
        QVERIFY(profileLabel->text().contains(QString::fromStdString(samples->dir.file("alice"))));
    }

    void settingsAreReadAtCreationAndPlacementAtShowAndBothStoredAtTheEnd() {
        {
            SettingsFile seed(settingsPath());
            TtsRegXPEnv env(seed);
            env.Projects().Add("/data/one.tsly");
            env.Projects().Add("/data/two.tsly");
            env.WriteToRegistry();
        }
        openWindow();
        QCOMPARE(form->RegXPEnv->Projects().ProjectFiles, (std::vector<std::string>{"/data/one.tsly", "/data/two.tsly"}));
        QVERIFY(form->RegMainWindow);
        form->RegXPEnv->Projects().Add("/data/one.tsly");  // the history may hold a path twice
        form->move(30, 40);
        const QPoint placed = form->frameGeometry().topLeft();
        form.reset();

        SettingsFile after(settingsPath());
        TtsRegXPEnv env(after);
        env.ReadFromRegistry();
        QCOMPARE(env.Projects().ProjectFiles,
                 (std::vector<std::string>{"/data/one.tsly", "/data/two.tsly", "/data/one.tsly"}));
        openWindow();
        QCOMPARE(form->frameGeometry().topLeft(), placed);
    }

    // A window put back where it was stored stays there start after start (frame, not client
    // area); a stored place that would hide the title bar is pulled back onto the screen.
    void theWindowComesBackExactlyWhereItWasAndItsTitleBarStaysOnScreen() {
        openWindow();
        form->move(200, 150);
        const QPoint placed = form->frameGeometry().topLeft();
        for (int start = 0; start < 3; ++start) {
            form.reset();
            openWindow();
            QTRY_COMPARE(form->frameGeometry().topLeft(), placed);
        }
        form.reset();
        for (QPoint far : {QPoint(-5000, -3000), QPoint(30000, 20000)}) {
            {
                SettingsFile seed(settingsPath());
                seed.hive().setValue("Software\\Tessaly\\Main Window", RegValue::dword("Left", static_cast<uint32_t>(far.x())));
                seed.hive().setValue("Software\\Tessaly\\Main Window", RegValue::dword("Top", static_cast<uint32_t>(far.y())));
                seed.save();
            }
            openWindow();
            const QRect free = form->screen()->availableGeometry();
            const QRect frame = form->frameGeometry();
            QVERIFY2(free.contains(QPoint(frame.center().x(), frame.top())) ||
                         free.contains(QPoint(frame.left() + 50, frame.top())) ||
                         free.contains(QPoint(frame.right() - 50, frame.top())),
                     qPrintable(QString("frame at %1,%2").arg(frame.left()).arg(frame.top())));
            QVERIFY(frame.top() >= free.top());
            form.reset();
        }
    }

    // The compression level kept in the settings is not a new project's: it starts at
    // "Default", whatever the settings hold.
    void aNewProjectStartsAtTheDefaultLevelWhateverTheSettingsHold() {
        {
            SettingsFile seed(settingsPath());
            seed.hive().setValue("Software\\Tessaly\\Options", RegValue::dword("CompressionLevel", 7));
            seed.save();
        }
        openWindow();
        int level = -1;
        QTimer::singleShot(0, [&] {
            auto* select = QApplication::activeModalWidget();
            QVERIFY(select);
            select->findChild<QPushButton*>("OkButton")->click();
            QTimer::singleShot(50, [&] {
                auto* backup = QApplication::activeModalWidget();
                QVERIFY(backup && backup->objectName() == "BackupForm");
                level = backup->findChild<QComboBox*>("CompressionLevelComboBox")->currentIndex();
                backup->findChild<QPushButton*>("CancelButton")->click();
            });
        });
        form->FileBackupActionExecute();
        QCOMPARE(level, 2);
        QVERIFY(prompts->shown.empty());
    }

    // While the worker stands still in its compression, every way to start something or to
    // close the window is refused; the run then ends with "Finished!" and all is allowed again.
    void duringARunEveryActionAndTheCloseAreRefused() {
        openWindow();
        test::WorkerGate gate;
        startBackupHeldAtCompression(gate);
        QVERIFY(gate.waitReached());

        QVERIFY(test::progressDialog(*form) && test::progressDialog(*form)->isVisible());
        for (QAction* action : form->actions()) QVERIFY2(!action->isEnabled(), qPrintable(action->objectName()));
        for (QAction* menu : form->ActionMainMenuBar->actions())
            for (QAction* entry : menu->menu()->actions())
                QVERIFY2(entry->isSeparator() || !entry->isEnabled(), qPrintable(entry->text()));
        QVERIFY(!form->AllowClose);
        QVERIFY(!form->close());
        form->activateWindow();
        for (int key : {Qt::Key_B, Qt::Key_R, Qt::Key_E, Qt::Key_X})
            QTest::keyClick(form.get(), static_cast<Qt::Key>(key), Qt::ControlModifier);
        form->FileBackupActionExecute();
        form->FileRestoreActionExecute();
        form->FileExportActionExecute();
        form->FileProjectManagerActionExecute();
        form->HelpAboutActionExecute();
        form->HelpTopicActionExecute();
        form->HelpVisitWebsiteActionExecute();
        QVERIFY(form->isVisible());
        QVERIFY(prompts->shown.empty());
        QVERIFY(prompts->openedUrls.isEmpty());

        gate.letGo();
        QVERIFY(waitForRunEnd());
        QCOMPARE(test::shownTexts(*prompts), QStringList{"Finished!"});
        QCOMPARE(prompts->shown.front().caption, QString("Information"));
        QVERIFY(!test::progressDialog(*form));
        QVERIFY(!form->Project);
        QVERIFY(fs::exists(samples->out("Mail.tsly_dat")));
        for (QAction* action : form->actions()) QVERIFY(action->isEnabled());
        QVERIFY(form->close());
    }

    void thePercentLabelFollowsTheBar() {
        openWindow();
        newProject();
        auto* worker = new TtsBackupThread(*form->Project, *samples->alice, nullptr);
        form->RunStart(worker);
        QStringList seen;
        bool matches = true;
        // Connected after the window's own handler, so it sees what that handler set.
        connect(worker, &TtsThread::OnProgress, this, [&](int percent) {
            TProgressForm* dialog = test::progressDialog(*form);
            seen << dialog->PercentLabel->text();
            matches &= dialog->ProgressBar->value() == percent && dialog->PercentLabel->text() == QString("%1 %").arg(percent);
        });
        QVERIFY(waitForRunEnd());
        QVERIFY(matches);
        QVERIFY(!seen.isEmpty());
        QCOMPARE(seen.back(), QString("100 %"));
    }

    void cancelDuringCompressionEndsWithUserCanceledOnly() {
        openWindow();
        test::WorkerGate gate;
        startBackupHeldAtCompression(gate);
        QVERIFY(gate.waitReached());
        QPushButton* cancel = test::progressDialog(*form)->CancelButton;
        QTest::mouseClick(cancel, Qt::LeftButton);
        QVERIFY(!cancel->isEnabled());
        gate.letGo();
        QVERIFY(waitForRunEnd());
        QCOMPARE(test::shownTexts(*prompts), QStringList{"User canceled!"});
        QCOMPARE(prompts->shown[0].informative,
                 QString("No data file was written; one written before under this name is as it was."));
        QVERIFY(!fs::exists(samples->out("Mail.tsly_dat")));
    }

    void cancelDuringARestoresItemLoopEndsWithUserCanceledOnly() {
        const std::string file = samples->backUpAlice();
        openWindow();
        auto* worker = startRestore(file);
        test::WorkerGate gate;
        gate.stopAt(*worker, [](const std::string& text) { return text.rfind("Restore ", 0) == 0; });
        form->RunStart(worker);
        QVERIFY(gate.waitReached());
        QTest::mouseClick(test::progressDialog(*form)->CancelButton, Qt::LeftButton);
        gate.letGo();
        QVERIFY(waitForRunEnd());
        QCOMPARE(test::shownTexts(*prompts), QStringList{"User canceled!"});
        QCOMPARE(prompts->shown[0].informative, QString("Nothing was restored: the profile is as it was."));
    }

    // A backup that wrote no data file says why, never "Finished!".
    void aFailedBackupIsReportedAsAnError() {
        openWindow();
        newProject().Destination().SetLocalFolder(samples->dir.file("no-such-folder"));
        form->RunStart(new TtsBackupThread(*form->Project, *samples->alice, nullptr));
        QVERIFY(waitForRunEnd());
        QCOMPARE(prompts->shown.size(), size_t(1));
        QCOMPARE(prompts->shown[0].caption, QString("Error"));
        QVERIFY2(prompts->shown[0].text.contains("no-such-folder"), qPrintable(prompts->shown[0].text));
        QVERIFY(!test::shownTexts(*prompts).contains("Finished!"));
    }

    void aFailedRestoreSaysWhatFailed_data() {
        QTest::addColumn<int>("kind");
        QTest::newRow("wrong password") << 0;
        QTest::newRow("not zlib data") << 1;
        QTest::newRow("missing file") << 2;
    }
    void aFailedRestoreSaysWhatFailed() {
        QFETCH(int, kind);
        std::string file;
        std::string password;
        if (kind == 0) {
            file = samples->backUpAlice(true);
            password = "wrong";
        } else if (kind == 1) {
            file = samples->out("junk.tsly_dat");
            test::writeHostFile(file, std::string(5000, 'x'));
        } else {
            file = samples->out("gone.tsly_dat");
        }
        openWindow();
        form->RunStart(startRestore(file, password));
        QVERIFY(waitForRunEnd());
        QCOMPARE(prompts->shown.size(), size_t(1));
        const auto& box = prompts->shown[0];
        QCOMPARE(box.caption, QString("Error"));
        if (kind == 0) {
            QCOMPARE(box.text, kRestoreWrongPassword);
        } else {
            QVERIFY2(box.text.endsWith("\nRestore terminated!"), qPrintable(box.text));
            QVERIFY2(box.text.contains(QString::fromStdString(file)), qPrintable(box.text));
            QVERIFY(!box.text.contains("password"));
        }
    }

    void aRestoreIntoAnotherProfileEndsWithFinished() {
        const std::string file = samples->backUpAlice();
        openWindow();
        form->RunStart(startRestore(file));
        QVERIFY(waitForRunEnd());
        QCOMPARE(test::shownTexts(*prompts), QStringList{"Finished!"});
        QVERIFY(fs::exists(samples->dir.file("bob/drive_c/users/bob")));
        // Below it, what was written where, as the command line's closing line says it.
        const auto& box = prompts->shown[0];
        const QRegularExpression report(
            "^Restored 4 items \\(Windows Address Book, Favorites, IE Settings, Outlook Express Data\\) from " +
            QRegularExpression::escape(QString::fromStdString(file)) +
            ": [1-9][0-9]* files \\([0-9.]+ [KM]?i?B(ytes)?\\), [1-9][0-9]* registry values, [0-9.]+ s; into the Wine prefix " +
            QRegularExpression::escape(QString::fromStdString(samples->bob->folder())) + "\\.$");
        QVERIFY2(report.match(box.informative).hasMatch(), qPrintable(box.informative));
        QVERIFY2(box.folder.isEmpty(), "a restore writes into the profile, not one folder to open");
    }

    // A backup into a folder ends with where its data file went and what it holds, and offers
    // to open that folder.
    void aFinishedBackupSaysWhatItWroteAndOpensItsFolder() {
        openWindow();
        TtsBackupProject& project = newProject();
        prompts->openFolder = {true};
        form->RunStart(new TtsBackupThread(project, *samples->alice, nullptr));
        QVERIFY(waitForRunEnd());
        QCOMPARE(test::shownTexts(*prompts), QStringList{"Finished!"});
        const auto& box = prompts->shown[0];
        const QString dataFile = QString::fromStdString(samples->out("Mail.tsly_dat"));
        QVERIFY2(box.informative.startsWith("Wrote " + dataFile + ": 4 items ("), qPrintable(box.informative));
        QVERIFY2(QRegularExpression(" files, [0-9.]+ [KM]i?B in, [0-9.]+ [KM]?i?B(ytes)? out, [0-9.]+ s\\.$")
                     .match(box.informative)
                     .hasMatch(),
                 qPrintable(box.informative));
        QCOMPARE(box.folder, QString::fromStdString(samples->out()));
        QCOMPARE(prompts->openedUrls, QStringList{QUrl::fromLocalFile(QString::fromStdString(samples->out())).toString()});
    }

    // A run that ends while the user works in another window is also told by a desktop
    // notification, in one line; one that ends in front of the user is not.
    void aRunEndingBehindAnotherWindowIsNotified() {
        openWindow();
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
        form->RunStart(new TtsBackupThread(newProject(), *samples->alice, nullptr));
        QVERIFY(waitForRunEnd());
        QVERIFY2(prompts->notifications.isEmpty(), qPrintable(prompts->notifications.join('|')));

        // The user turns to another window while the run works.
        QWidget elsewhere;
        elsewhere.show();
        test::WorkerGate gate;
        auto* worker = new test::Watched<TtsBackupThread>(newProject(), *samples->alice, nullptr);
        gate.stopAt(*worker, [](const std::string&) { return true; });
        form->RunStart(worker);
        QVERIFY(gate.waitReached());
        elsewhere.activateWindow();
        QTRY_VERIFY(elsewhere.isActiveWindow());
        gate.letGo();
        QVERIFY(waitForRunEnd());
        QCOMPARE(prompts->notifications.size(), 1);
        const QString line = prompts->notifications[0];
        QVERIFY2(line.startsWith("Tessaly: Finished! Wrote " + QString::fromStdString(samples->out("Mail.tsly_dat"))),
                 qPrintable(line));
        QVERIFY(!line.contains('\n'));
        QCOMPARE(test::shownTexts(*prompts), (QStringList{"Finished!", "Finished!"}));
    }

    // Names that would land outside the user's folders are held back, and the end says how
    // many and which; the rest is restored.
    void aRestoreThatHeldBackNamesSaysHowManyAndWhich() {
        const std::string file = samples->out("crafted.tsly_dat");
        const std::string escapes[] = {"[CSIDL_APPDATA]\\..\\..\\..\\.bashrc", "[CSIDL_APPDATA]\\..\\..\\evil.txt"};
        test::writeCraftedDataFile(file, {{escapes[0], "evil"},
                                          {"[CSIDL_APPDATA]\\Microsoft\\Address Book\\bob.wab", "book"},
                                          {escapes[1], "evil"}});
        openWindow();
        form->RunStart(startRestore(file));
        QVERIFY(waitForRunEnd());
        QCOMPARE(prompts->shown.size(), size_t(1));
        const auto& box = prompts->shown[0];
        QCOMPARE(box.caption, QString("Information"));
        QCOMPARE(box.text, QString("Finished!"));
        QVERIFY2(box.informative.contains("\n2 saved files were not restored"), qPrintable(box.informative));
        const QStringList details = box.details.split('\n');
        QCOMPARE(details.size(), 2);
        for (int i = 0; i < 2; ++i) QVERIFY2(details[i].startsWith(QString::fromStdString(escapes[i]) + " ("), qPrintable(details[i]));
        QVERIFY(fs::exists(samples->dir.file("bob/drive_c/users/bob/AppData/Roaming/Microsoft/Address Book/bob.wab")));
    }

    // A file the backup could not save is named at the end; the rest is saved.
    void aBackupThatCouldNotSaveAFileNamesItAtTheEnd() {
        test::writeHostFile(samples->dir.file("alice/drive_c/users/alice/Favorites/a:b.url"), std::string("x"));
        openWindow();
        TtsBackupProject& project = newProject(false);
        project.Source().FindItem("Favorites")->SetSelected(true);
        form->RunStart(new TtsBackupThread(project, *samples->alice, nullptr));
        QVERIFY(waitForRunEnd());
        QCOMPARE(prompts->shown.size(), size_t(1));
        const auto& box = prompts->shown[0];
        QCOMPARE(box.caption, QString("Information"));
        QCOMPARE(box.text, QString("Finished!"));
        QVERIFY2(box.informative.contains("\n1 file could not be saved"), qPrintable(box.informative));
        QVERIFY2(box.details.startsWith("\"C:\\users\\alice\\Favorites\\a:b.url\" was not saved: "), qPrintable(box.details));
        QVERIFY(fs::exists(samples->out("Mail.tsly_dat")));
    }

    // A backup whose items found nothing is no plain "Finished!": each such item is named,
    // with how to choose another profile; an item that saved something is not named.
    void aBackupOfItemsThatFoundNothingSaysSo() {
        for (bool fromAlice : {false, true}) {
            prompts->shown.clear();
            Profile& from = fromAlice ? *samples->alice : *samples->bob;
            openWindow();
            form->Project = samples->mailProject(from);
            TtsBackupProject& project = *form->Project;
            form->RunStart(new TtsBackupThread(project, from, nullptr));
            QVERIFY(waitForRunEnd());
            QCOMPARE(prompts->shown.size(), size_t(1));
            const auto& box = prompts->shown[0];
            QCOMPARE(box.text, QString("Finished!"));
            for (const char* caption : {"Windows Address Book", "Favorites", "IE Settings", "Outlook Express Data"}) {
                const bool named = box.informative.contains(QString(caption) + ": nothing found in this profile.");
                QVERIFY2(named != fromAlice, qPrintable(caption + (" in: " + box.informative)));
            }
            QCOMPARE(box.informative.contains("--profile"), !fromAlice);
            form.reset();
        }
    }

    // The upload's failure box is the run's own report: nothing is said twice, and the run
    // does not end with "Finished!".
    void aBackupToFtp_data() {
        QTest::addColumn<bool>("rightPassword");
        QTest::newRow("stored on the server") << true;
        QTest::newRow("login refused") << false;
    }
    void aBackupToFtp() {
        QFETCH(bool, rightPassword);
        test::PyFtpServer server;
        openWindow();
        // From the menu, so that the run reports to the window as every backup does.
        test::ModalScript script;
        script.then("SelectProjectForm", [](QWidget* dialog) { test::click(dialog, "OkButton"); });
        script.then("BackupForm", [&](QWidget* dialog) {
            test::type(dialog, "ProjectNameEdit", "Mail");
            test::click(dialog, "DeselectAllButton");
            auto* items = test::control<QTreeWidget>(*dialog, "BackupItemsListView");
            items->findItems("Favorites", Qt::MatchExactly).value(0)->setCheckState(0, Qt::Checked);
            test::control<QRadioButton>(*dialog, "BackupToFTPServerButton")->click();
            test::type(dialog, "HostEdit", QString::fromStdString(server.host()));
            test::type(dialog, "FolderEdit", "/");
            test::type(dialog, "UserNameEdit", QString::fromStdString(server.options().user));
            test::type(dialog, "PasswordEdit",
                       QString::fromStdString(rightPassword ? server.options().password : "wrong"));
            test::click(dialog, "OkButton");
        });
        prompts->questions = {false};
        form->FileBackupActionExecute();
        QVERIFY2(script.done(), qPrintable(script.seen.join(",")));
        QVERIFY(waitForRunEnd());
        QStringList shown = test::shownTexts(*prompts);
        QCOMPARE(shown.value(0), QString("Do you want to save these settings to a project file?"));
        shown.removeFirst();
        if (rightPassword) {
            QCOMPARE(shown, QStringList{"Finished!"});
            QVERIFY(fs::exists(server.home() / "Mail.tsly_dat"));
        } else {
            QCOMPARE(shown, QStringList{"Transferring failed, please check your ftp settings!"});
            QCOMPARE(prompts->shown[1].caption, QString("Error"));
        }
    }

    // Without --profile: $WINEPREFIX, else ~/.wine when it holds a user.reg, else the program's
    // own; the status line says which.
    void theProfileIsChosenAsTheCommandLineChoosesIt_data() {
        QTest::addColumn<QString>("where");
        QTest::newRow("WINEPREFIX") << "prefix";
        QTest::newRow("~/.wine") << "home";
        QTest::newRow("the program's own") << "own";
    }
    void theProfileIsChosenAsTheCommandLineChoosesIt() {
        QFETCH(QString, where);
        const QByteArray saved[] = {qgetenv("WINEPREFIX"), qgetenv("HOME"), qgetenv("XDG_DATA_HOME")};
        const std::string home = samples->dir.file("home");
        fs::create_directories(home);
        if (where == "home") fs::create_directory_symlink(samples->dir.file("alice"), home + "/.wine");
        qputenv("HOME", QByteArray::fromStdString(home));
        qputenv("XDG_DATA_HOME", QByteArray::fromStdString(samples->dir.file("data")));
        if (where == "prefix") qputenv("WINEPREFIX", QByteArray::fromStdString(samples->dir.file("bob")));
        else qunsetenv("WINEPREFIX");
        ChosenProfile picked = ChooseProfileForWindows(std::nullopt);
        qputenv("WINEPREFIX", saved[0]);
        if (saved[0].isEmpty()) qunsetenv("WINEPREFIX");
        qputenv("HOME", saved[1]);
        qputenv("XDG_DATA_HOME", saved[2]);
        if (saved[2].isEmpty()) qunsetenv("XDG_DATA_HOME");

        QVERIFY2(picked.profile, qPrintable(picked.problem));
        const QString expected = where == "prefix" ? QString::fromStdString(samples->dir.file("bob"))
                                 : where == "home" ? QString::fromStdString(home + "/.wine")
                                                   : QString::fromStdString(samples->dir.file("data/tessaly/profile"));
        QVERIFY2(picked.description.contains(expected), qPrintable(picked.description));
        QCOMPARE(picked.description.contains("the program's own profile"), where == "own");
        // bob's and the program's own profile hold nothing to back up: said in the status bar
        // and once, with how to choose another; alice's holds mail data.
        const bool empty = where != "home";
        QCOMPARE(picked.description.contains("no Windows mail data"), empty);
        QCOMPARE(picked.notice.isEmpty(), !empty);
        if (empty)
            QVERIFY2(picked.notice.contains("--profile DIR") && picked.notice.contains("WINEPREFIX") &&
                         picked.notice.contains(expected),
                     qPrintable(picked.notice));
    }

    void anUnusableProfileIsReportedAndTheWindowStillOpens() {
        fs::create_directories(samples->dir.path() / "rejected");
        test::writeHostFile(samples->dir.file("rejected/user.reg"), std::string("not a registry file\n"));
        ChosenProfile rejected = ChooseProfileForWindows(samples->dir.file("rejected"));
        QVERIFY(!rejected.profile);
        QVERIFY2(rejected.problem.contains(QString::fromStdString(samples->dir.file("rejected"))), qPrintable(rejected.problem));

        ChosenProfile misdriven = ChooseProfileForWindows(samples->dir.file("alice"), {"D:/mnt/d"});
        QVERIFY(!misdriven.profile);
        QVERIFY2(misdriven.problem.contains("such as D=/mnt/old-d"), qPrintable(misdriven.problem));

        ChosenProfile missing = ChooseProfileForWindows(samples->dir.file("no-prefix-here"));
        QVERIFY(!missing.profile);
        QVERIFY2(missing.problem.contains("--profile"), qPrintable(missing.problem));
        chosen = std::move(missing);
        openWindow();
        QVERIFY(form->isVisible());
        form->FileBackupActionExecute();
        form->FileRestoreActionExecute();
        QCOMPARE(prompts->shown.size(), size_t(2));
        for (const auto& box : prompts->shown) QCOMPARE(box.text, chosen.problem);
        QVERIFY(form->HelpAboutAction->isEnabled());
    }
};

QTEST_MAIN(MainFormTest)
#include "main_form_test.moc"
