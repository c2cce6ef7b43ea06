#include "ui/backup_form.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "app/cli_runner.h"
#include "engine/backup_run.h"
#include "engine/flows.h"
#include "engine/project.h"
#include "support/ftp_test_server.h"
#include "support/temp_dir.h"
#include "scripted_prompts.h"
#include "ui_test_support.h"

using namespace ts;
using namespace ts::ui;
using ts::test::control;

class BackupFormTest : public QObject {
    Q_OBJECT

    ScriptedPrompts prompts;
    test::TempDir dir;

    QLineEdit* edit(TBackupForm& form, const char* name) { return control<QLineEdit>(form, name); }
    QTreeWidget* items(TBackupForm& form) { return control<QTreeWidget>(form, "BackupItemsListView"); }

private slots:
    void init() { prompts = ScriptedPrompts(); }

    void newProjectShowsAllItemsTickedAndTheFolderControls() {
        TtsBackupProject project;
        TBackupForm form(prompts);
        form.SetProject(&project);
        form.show();
        QCOMPARE(edit(form, "ProjectNameEdit")->text(), QString("Unnamed"));
        QCOMPARE(test::checkedRows(items(form)), TBackupForm::kItemCaptions);
        QVERIFY(edit(form, "DestFolderEdit")->isEnabled());
        QVERIFY(!edit(form, "HostEdit")->isEnabled());
        QVERIFY(!control<QPushButton>(form, "TestButton")->isEnabled());
        QVERIFY(!control<QCheckBox>(form, "EnableEncryptCheckBox")->isChecked());
        QVERIFY(!edit(form, "EnPasswordEdit")->isEnabled());
        QCOMPARE(control<QComboBox>(form, "CompressionLevelComboBox")->currentText(), QString("Default"));
        QTest::keyClick(&form, Qt::Key_Escape);  // Cancel is not bound to Esc
        QVERIFY(form.isVisible());
    }

    void tabGoesThroughTheGeneralPageInItsOrder() {
        TBackupForm form(prompts);
        const QStringList expected = {"ProjectNameEdit", "BackupItemsListView", "SelectAllButton", "DeselectAllButton",
                                      "BackupToFileButton", "DestFolderEdit", "SelFolderButton",
                                      "BackupToFTPServerButton", "HostEdit", "FolderEdit", "UserNameEdit",
                                      "PasswordEdit", "TestButton"};
        QStringList chain;
        QWidget* first = edit(form, "ProjectNameEdit");
        QWidget* w = first;
        do {
            if (expected.contains(w->objectName()) && !chain.contains(w->objectName())) chain << w->objectName();
            w = w->nextInFocusChain();
        } while (w != first);
        QCOMPARE(chain, expected);
    }

    void storedSelectionIsShownExactly() {
        TtsBackupProject project;
        project.Source().FindItem("Favorites")->SetSelected(true);
        project.Destination().SetKind(TtsBPDestination::kKindFtp);
        project.Destination().SetRemoteFolder("/backups");
        TBackupForm form(prompts);
        form.SetProject(&project);
        form.show();
        QCOMPARE(test::checkedRows(items(form)), QStringList{"Favorites"});
        QVERIFY(control<QRadioButton>(form, "BackupToFTPServerButton")->isChecked());
        QVERIFY(edit(form, "HostEdit")->isEnabled());
        QVERIFY(!edit(form, "DestFolderEdit")->isEnabled());
        QCOMPARE(edit(form, "FolderEdit")->text(), QString("/backups"));
    }

    void validationListsEveryFailureInCheckOrder_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("noItems");
        QTest::addColumn<bool>("ftp");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("password2");
        QTest::addColumn<QString>("expected");
        const QString existing = QString::fromStdString(dir.path().string());
        QTest::newRow("three at once") << "" << false << false << "" << "other"
            << "Error found!\r\nProject Name must be entered!\r\nFolder not found: ''\r\nPassword error!\r\n";
        QTest::newRow("no item") << "p" << true << false << existing << "pw" << "Error found!\r\nOne backup item must be selected at least!\r\n";
        QTest::newRow("ftp ignores the folder") << "p" << false << true << "/no/such/folder" << "pw"
            << "Error found!\r\nFTP Information not enough, please fill all of the FTP information box!\r\n";
        QTest::newRow("blanks") << "   " << false << false << existing << "pw" << "Error found!\r\nProject Name must be entered!\r\n";
        QTest::newRow("path in name") << "../up" << false << false << existing << "pw"
            << "Error found!\r\nThe project name \"../up\" cannot name a data file: it must not be empty or hold \"/\", \"\\\" or control characters\r\n";
        QTest::newRow("too long") << QString(256, 'n') << false << false << existing << "pw"
            << "Error found!\r\nProject Name is too long, at most 255 characters!\r\n";
        QTest::newRow("passes") << " lead" << false << false << existing << "pw" << "";
    }
    void validationListsEveryFailureInCheckOrder() {
        QFETCH(QString, name);
        QFETCH(bool, noItems);
        QFETCH(bool, ftp);
        QFETCH(QString, folder);
        QFETCH(QString, password2);
        QFETCH(QString, expected);
        TtsBackupProject project;
        TBackupForm form(prompts);
        form.SetProject(&project);
        form.show();
        edit(form, "ProjectNameEdit")->setText(name);
        if (noItems) control<QPushButton>(form, "DeselectAllButton")->click();
        if (ftp) control<QRadioButton>(form, "BackupToFTPServerButton")->click();
        edit(form, "DestFolderEdit")->setText(folder);
        control<QCheckBox>(form, "EnableEncryptCheckBox")->click();
        edit(form, "EnPasswordEdit")->setText("pw");
        edit(form, "EnPassword2Edit")->setText(password2);
        control<QPushButton>(form, "OkButton")->click();
        if (expected.isEmpty()) {
            QVERIFY(prompts.shown.empty());
            QCOMPARE(form.result(), int(QDialog::Accepted));
            QCOMPARE(QString::fromStdString(project.Name()), name);
            QVERIFY(project.Encrypt());
            return;
        }
        QCOMPARE(prompts.shown.size(), size_t(1));
        QCOMPARE(prompts.shown[0].text, expected);
        QCOMPARE(prompts.shown[0].caption, QString("Error"));
        QVERIFY(prompts.shown[0].icon == MessageIcon::Error);
        QVERIFY(form.isVisible());
        QCOMPARE(project.Name(), std::string("Unnamed"));
    }

    void ftpRadioPutsASlashOnlyIntoABlankFolder() {
        TBackupForm form(prompts);
        form.show();
        auto* ftp = control<QRadioButton>(form, "BackupToFTPServerButton");
        auto* file = control<QRadioButton>(form, "BackupToFileButton");
        edit(form, "FolderEdit")->setText("  ");
        ftp->click();
        QCOMPARE(edit(form, "FolderEdit")->text(), QString("/"));
        file->click();
        edit(form, "FolderEdit")->setText("/mine");
        ftp->click();
        QCOMPARE(edit(form, "FolderEdit")->text(), QString("/mine"));
    }

    // The dialog, "tessaly-cli new" and a backup run judge a project by one check: the same
    // settings meet the same failures, in the same words. A run lets pass only what it
    // handles itself (see ProjectCheckFor), so some rows expect no refusal from it.
    void theDialogNewAndTheRunRefuseTheSameSettingsAlike() {
        struct Case {
            const char* name;
            QString project;
            QString folder;                // local destination; empty with ftp
            QStringList ftp;               // host, remote folder, user, password
            QStringList failures;
            bool runRefuses;
        };
        const QString existing = QString::fromStdString(dir.path().string());
        const QString missing = QString::fromStdString(dir.file("missing"));
        const std::vector<Case> cases = {
            {"path in the name", "../up", existing, {}, {"The project name \"../up\" cannot name a data file: it must not be "
                                                          "empty or hold \"/\", \"\\\" or control characters"}, true},
            {"missing folder", "Mail", missing, {}, {"Folder not found: '" + missing + "'"}, false},
            {"ftp host that cannot be parsed", "Mail", "", {"ftp.example.org:99999", "/in", "zoe", "pw"},
             {"The FTP host of the project \"Mail\" cannot be used: "}, true},
            {"ftp without a password", "Mail", "", {"ftp.example.org", "/in", "zoe", ""},
             {"FTP Information not enough, please fill all of the FTP information box!"}, false},
        };
        for (const Case& c : cases) {
            const std::string row = c.name;
            // The dialog.
            TtsBackupProject project;
            prompts = ScriptedPrompts();
            TBackupForm form(prompts);
            form.SetProject(&project);
            form.show();
            edit(form, "ProjectNameEdit")->setText(c.project);
            if (c.ftp.isEmpty()) {
                edit(form, "DestFolderEdit")->setText(c.folder);
            } else {
                control<QRadioButton>(form, "BackupToFTPServerButton")->click();
                for (auto [edit, value] : {std::pair{"HostEdit", 0}, {"FolderEdit", 1}, {"UserNameEdit", 2}, {"PasswordEdit", 3}})
                    this->edit(form, edit)->setText(c.ftp[value]);
            }
            control<QPushButton>(form, "OkButton")->click();
            QVERIFY2(prompts.shown.size() == 1, row.c_str());
            const QStringList dialogSaid = prompts.shown[0].text.split("\r\n", Qt::SkipEmptyParts);
            QVERIFY2(dialogSaid.size() == c.failures.size() + 1 && dialogSaid[0] == "Error found!",
                     qPrintable(prompts.shown[0].text));
            for (int i = 0; i < c.failures.size(); ++i)
                QVERIFY2(dialogSaid[i + 1].startsWith(c.failures[i]), qPrintable(prompts.shown[0].text));
            // "tessaly-cli new" with the same settings.
            test::CliRunner cli(dir.path().string());
            cli.keepToWorkDir();
            std::vector<std::string> args = {"new", dir.file("checked.tsly"), "--name", c.project.toStdString(), "--items", "all"};
            if (c.ftp.isEmpty()) {
                args.insert(args.end(), {"--folder", c.folder.toStdString()});
            } else {
                args.insert(args.end(), {"--ftp", c.ftp[0].toStdString(), "--remote-folder", c.ftp[1].toStdString(), "--user",
                                         c.ftp[2].toStdString()});
                cli.environment["TESSALY_FTP_PASSWORD"] = c.ftp[3].toStdString();
            }
            const test::CliResult made = cli.run(args);
            QVERIFY2(made.exitCode == 2, (row + ": " + made.err).c_str());
            for (const QString& failure : c.failures)
                QVERIFY2(QString::fromStdString(made.err).contains(failure), (row + ": " + made.err).c_str());
            QVERIFY(!std::filesystem::exists(dir.file("checked.tsly")));
            // A backup run of the project the dialog would have kept.
            TtsBackupProject kept;
            kept.SetName(c.project.toStdString());
            kept.Source().ItemList().Items(0)->SetSelected(true);
            kept.SetWorkFolder(dir.file("work"));
            if (c.ftp.isEmpty()) {
                kept.Destination().SetLocalFolder(c.folder.toStdString());
            } else {
                kept.Destination().SetKind(TtsBPDestination::kKindFtp);
                kept.Destination().SetHost(c.ftp[0].toStdString());
            }
            if (!c.runRefuses) continue;
            try {
                BackupRun(kept).run();
                QFAIL(("the run took " + row).c_str());
            } catch (const FlowFailure& refused) {
                QVERIFY2(QString::fromStdString(refused.failure().text).startsWith(c.failures.front()),
                         (row + ": " + refused.failure().text).c_str());
            }
        }
    }

    void aValueTheProjectCannotHoldChangesNothing() {
        TtsBackupProject project;
        TBackupForm form(prompts);
        form.SetProject(&project);
        form.show();
        edit(form, "ProjectNameEdit")->setText("fine");
        control<QPushButton>(form, "DeselectAllButton")->click();
        edit(form, "HostEdit")->setText(QString(300, 'h'));
        QVERIFY(!form.SaveToProject());
        QCOMPARE(project.Name(), std::string("Unnamed"));
        QVERIFY(project.Source().FindItem("Favorites")->Selected() == false);
        edit(form, "HostEdit")->setText("host");
        control<QCheckBox>(form, "EnableEncryptCheckBox")->click();
        edit(form, "EnPasswordEdit")->setText("typed");
        control<QCheckBox>(form, "EnableEncryptCheckBox")->click();
        QVERIFY(form.SaveToProject());
        QCOMPARE(project.Destination().Host(), std::string("host"));
        QCOMPARE(project.Password(), std::string("typed"));
        QVERIFY(!project.Encrypt());
    }

    void folderChooserAsksWithItsPrompt() {
        TBackupForm form(prompts);
        form.show();
        prompts.folders = {QString("/chosen"), std::nullopt};
        control<QPushButton>(form, "SelFolderButton")->click();
        control<QPushButton>(form, "SelFolderButton")->click();
        QCOMPARE(prompts.folderPrompts, (QStringList{"Please select a folder", "Please select a folder"}));
        QCOMPARE(edit(form, "DestFolderEdit")->text(), QString("/chosen"));
    }

    void ftpTestRunsAgainstTheServerWithoutBlocking() {
        test::PyFtpServer server;
        TBackupForm form(prompts);
        form.show();
        control<QRadioButton>(form, "BackupToFTPServerButton")->click();
        edit(form, "HostEdit")->setText(QString::fromStdString(server.host()));
        edit(form, "UserNameEdit")->setText(QString::fromStdString(server.options().user));
        auto* button = control<QPushButton>(form, "TestButton");
        for (auto [password, expected] : {std::pair{server.options().password, "FTP Test ok!"},
                                          std::pair{std::string("wrong"), ftp_failed()}}) {
            prompts.shown.clear();
            edit(form, "PasswordEdit")->setText(QString::fromStdString(password));
            button->click();
            QVERIFY(!button->isEnabled());
            QVERIFY(prompts.shown.empty());
            QTRY_VERIFY_WITH_TIMEOUT(!prompts.shown.empty(), 40000);
            QVERIFY(button->isEnabled());
            // One box for one outcome; a failure names its cause in it.
            QCOMPARE(prompts.shown.size(), size_t(1));
            QVERIFY2(prompts.shown[0].text.startsWith(expected), qPrintable(prompts.shown[0].text));
        }
        QCOMPARE(prompts.shown[0].caption, QString("Error"));
        QVERIFY2(prompts.shown[0].text.contains("530"), qPrintable(prompts.shown[0].text));
    }

    // An empty host is refused at once: no connection is tried, no wait.
    void ftpTestWithAnEmptyHostIsRefusedBeforeConnecting() {
        TBackupForm form(prompts);
        form.show();
        control<QRadioButton>(form, "BackupToFTPServerButton")->click();
        edit(form, "HostEdit")->setText("   ");
        edit(form, "UserNameEdit")->setText("me");
        control<QPushButton>(form, "TestButton")->click();
        QCOMPARE(prompts.shown.size(), size_t(1));
        QCOMPARE(prompts.shown[0].text, QString("FTP Host must be entered!"));
        QCOMPARE(prompts.shown[0].caption, QString("Error"));
        QVERIFY(control<QPushButton>(form, "TestButton")->isEnabled());
        // A test that had started would end in a box of its own.
        QTest::qWait(200);
        QCOMPARE(prompts.shown.size(), size_t(1));
    }

    void aSilentServerNeitherFreezesTheWindowNorHoldsItsClosing() {
        // A listener that never greets: the connection is made, the reply never comes.
        int listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        QVERIFY(::bind(listener, reinterpret_cast<sockaddr*>(&address), length) == 0);
        QVERIFY(::listen(listener, 4) == 0);
        QVERIFY(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) == 0);
        auto form = std::make_unique<TBackupForm>(prompts);
        form->show();
        control<QRadioButton>(*form, "BackupToFTPServerButton")->click();
        edit(*form, "HostEdit")->setText(QString("127.0.0.1:%1").arg(ntohs(address.sin_port)));
        control<QPushButton>(*form, "TestButton")->click();
        int ticks = 0;
        QTimer timer;
        connect(&timer, &QTimer::timeout, [&] { ++ticks; });
        timer.start(20);
        QTest::qWait(300);
        QVERIFY(ticks >= 5);
        // The test is connected and waits for the greeting: no box yet, the button still off.
        pollfd pending{listener, POLLIN, 0};
        QCOMPARE(::poll(&pending, 1, 0), 1);
        QVERIFY(prompts.shown.empty());
        QVERIFY(!control<QPushButton>(*form, "TestButton")->isEnabled());
        const int connection = ::accept(listener, nullptr, nullptr);
        QVERIFY(connection >= 0);
        QElapsedTimer closing;
        closing.start();
        form.reset();
        QVERIFY(closing.elapsed() < 5000);
        // The closed dialog cut the test short: its connection is gone at once.
        pollfd hungUp{connection, POLLIN, 0};
        QCOMPARE(::poll(&hungUp, 1, 5000), 1);
        char byte;
        QCOMPARE(::read(connection, &byte, 1), ssize_t(0));
        // Its end finds no dialog to report to, and says nothing.
        QTest::qWait(200);
        QVERIFY(prompts.shown.empty());
        ::close(connection);
        ::close(listener);
    }

private:
    static const char* ftp_failed() {
        return "Can not create the connection, please verify your FTP settings and make sure your internet "
               "connection is valid, then try again!";
    }
};

QTEST_MAIN(BackupFormTest)
#include "backup_form_test.moc"
