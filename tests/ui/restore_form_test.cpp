#include "ui/restore_form.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <filesystem>

#include "engine/project.h"
#include "support/crafted_data_file.h"
#include "support/wine_profile.h"
#include "ui/password_question.h"
#include "support/file_opens.h"
#include "support/temp_dir.h"
#include "scripted_prompts.h"
#include "ui/single_password_form.h"
#include "ui_test_support.h"

using namespace ts;
using namespace ts::ui;
using ts::test::control;

class RestoreFormTest : public QObject {
    Q_OBJECT

    test::TempDir dir;
    QString plainFile, secretFile;
    ScriptedPrompts prompts;
    // The restore's profile: the dialog reads the file's project for it.
    test::WineProfile wine;
    std::unique_ptr<Profile> profile = wine.open();

    void choose(TRestoreForm& form, const QString& file) {
        prompts.files.push_back(file);
        control<QPushButton>(form, "SpeedButton1")->click();
    }
    bool passwordEnabled(TRestoreForm& form) {
        bool label = control<QLabel>(form, "PasswordLabel")->isEnabled();
        bool edit = control<QLineEdit>(form, "PasswordEdit")->isEnabled();
        if (label != edit) throw std::runtime_error("password label and field disagree");
        return label;
    }
    // Whether this process holds path open, as the kernel lists its descriptors.
    static bool heldOpen(const QString& path) {
        std::error_code error;
        for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd", error))
            if (std::filesystem::read_symlink(fd.path(), error) == path.toStdString()) return true;
        return false;
    }
    QStringList messages() const { return test::shownTexts(prompts); }

private slots:
    void initTestCase() {
        plainFile = QString::fromStdString(dir.file("plain.tsly_dat"));
        secretFile = QString::fromStdString(dir.file("secret.tsly_dat"));
        test::writeCraftedDataFile(plainFile.toStdString(), {{"[CSIDL_APPDATA]\\Microsoft\\Address Book\\a.wab", "x"}});
        test::writeCraftedDataFile(secretFile.toStdString(), {{"[CSIDL_APPDATA]\\Microsoft\\Address Book\\a.wab", "x"}},
                                   std::string("right"));
    }
    void init() { prompts = ScriptedPrompts(); }

    void plainFileShowsItsItemsAndIsReadOnceWhenChosenTwice() {
        TRestoreForm form(prompts);
        form.SetProfile(profile.get());
        form.show();
        test::FileOpens opens(plainFile.toStdString());
        choose(form, plainFile);
        choose(form, plainFile);
        QCOMPARE(opens.count(), 1);
        QCOMPARE(prompts.fileFilters, QStringList(2, "Tessaly Data File(*.tsly_dat)|*.tsly_dat"));
        QCOMPARE(prompts.fileSuffixes.value(0), QString("tsly_dat"));
        auto* items = control<QTreeWidget>(form, "ItemsListView");
        QCOMPARE(items->topLevelItemCount(), 4);
        QCOMPARE(test::checkedRows(items), QStringList{"Windows Address Book"});
        QVERIFY(!passwordEnabled(form));
        QCOMPARE(prompts.passwordQuestions, 0);
        control<QPushButton>(form, "RestoreButton")->click();
        QCOMPARE(form.result(), int(QDialog::Accepted));
        QCOMPARE(QString::fromStdString(form.DataFileName()), plainFile);
    }

    void encryptedFile_data() {
        QTest::addColumn<std::optional<QString>>("answer");
        QTest::addColumn<QStringList>("expectedMessages");
        QTest::addColumn<QString>("passwordShown");
        QTest::addColumn<bool>("restoreCloses");
        QTest::newRow("cancelled") << std::optional<QString>() << QStringList{"Please enter your password for this archive!"}
                                   << "" << false;
        QTest::newRow("right") << std::optional<QString>("right") << QStringList{} << "right" << true;
        QTest::newRow("wrong") << std::optional<QString>("wrong")
                               << QStringList{"Please check your password, your password is invalid!",
                                              "Please enter your password for this archive!"}
                               << "" << false;
    }
    void encryptedFile() {
        QFETCH(std::optional<QString>, answer);
        QFETCH(QStringList, expectedMessages);
        QFETCH(QString, passwordShown);
        QFETCH(bool, restoreCloses);
        TRestoreForm form(prompts);
        form.SetProfile(profile.get());
        form.show();
        prompts.passwords.push_back(answer);
        choose(form, secretFile);
        QCOMPARE(prompts.passwordQuestions, 1);
        QVERIFY(passwordEnabled(form));
        QCOMPARE(control<QLineEdit>(form, "PasswordEdit")->text(), passwordShown);
        QCOMPARE(control<QTreeWidget>(form, "ItemsListView")->topLevelItemCount(), 4);
        control<QPushButton>(form, "RestoreButton")->click();
        QCOMPARE(messages(), expectedMessages);
        QCOMPARE(form.result() == QDialog::Accepted, restoreCloses);
    }

    // The chosen file stays open for the restore to go on reading; choosing another lets go
    // of it, and the restore gets the other one.
    void anotherFileLetsGoOfTheOneOpenedBefore() {
        TRestoreForm form(prompts);
        form.SetProfile(profile.get());
        form.show();
        choose(form, plainFile);
        QVERIFY(heldOpen(plainFile));
        prompts.passwords.push_back(QString("right"));
        choose(form, secretFile);
        QVERIFY(!heldOpen(plainFile));
        QVERIFY(heldOpen(secretFile));
        control<QPushButton>(form, "RestoreButton")->click();
        QCOMPARE(form.result(), int(QDialog::Accepted));
        std::optional<OpenedDataFile> opened = form.TakeOpenedFile();
        QVERIFY(opened && opened->reader);
        QCOMPARE(QString::fromStdString(opened->file), secretFile);
        QCOMPARE(opened->project->Password(), std::string("right"));
    }

    void aFileThatIsNotADataFileIsNamedNotTakenForAPassword() {
        const std::string other = dir.file("notes.txt");
        test::writeHostFile(other, std::string("not compressed at all"));
        TRestoreForm form(prompts);
        form.SetProfile(profile.get());
        form.show();
        choose(form, QString::fromStdString(other));
        QCOMPARE(prompts.passwordQuestions, 0);
        QCOMPARE(prompts.shown.size(), size_t(1));
        QVERIFY(prompts.shown[0].text.contains("notes.txt"));
        QCOMPARE(control<QTreeWidget>(form, "ItemsListView")->topLevelItemCount(), 0);
    }

    // A path typed or pasted into the file field is read when Enter is pressed in it or the
    // field is left, as a chosen one is; Restore waits for a file that could be read.
    void aTypedPathIsReadOnEnterOrWhenTheFieldIsLeft_data() {
        QTest::addColumn<bool>("byEnter");
        QTest::newRow("Enter") << true;
        QTest::newRow("focus leaves") << false;
    }
    void aTypedPathIsReadOnEnterOrWhenTheFieldIsLeft() {
        QFETCH(bool, byEnter);
        TRestoreForm form(prompts);
        form.SetProfile(profile.get());
        form.show();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        auto* edit = control<QLineEdit>(form, "FileEdit");
        auto* restore = control<QPushButton>(form, "RestoreButton");
        QVERIFY(!restore->isEnabled());
        const auto finishTyping = [&] {
            if (byEnter) {
                QTest::keyClick(edit, Qt::Key_Return);
            } else {
                control<QPushButton>(form, "CancelButton")->setFocus();
            }
        };
        edit->setFocus();
        edit->setText(QString::fromStdString(dir.file("missing.tsly_dat")));
        finishTyping();
        QCOMPARE(prompts.shown.size(), size_t(1));
        QVERIFY2(prompts.shown[0].text.contains("missing.tsly_dat"), qPrintable(prompts.shown[0].text));
        QVERIFY(!restore->isEnabled());
        QVERIFY(form.isVisible());

        edit->setFocus();
        test::FileOpens opens(plainFile.toStdString());
        edit->setText(" " + plainFile + "\n");  // pasted with the blanks around a line
        finishTyping();
        QCOMPARE(opens.count(), 1);
        QCOMPARE(QString::fromStdString(form.DataFileName()), plainFile);
        QCOMPARE(test::checkedRows(control<QTreeWidget>(form, "ItemsListView")), QStringList{"Windows Address Book"});
        QVERIFY(restore->isEnabled());
        QVERIFY2(form.isVisible(), "Enter read the file; it did not also press Restore");
        choose(form, plainFile);  // the same file again is not read again
        QCOMPARE(opens.count(), 1);
        restore->click();
        QCOMPARE(form.result(), int(QDialog::Accepted));
    }

    // The password typed into the archive password field is checked before the dialog
    // closes: a wrong one is said so there, and the dialog stays for the right one.
    void aWrongArchivePasswordIsFoundInTheDialog() {
        TRestoreForm form(prompts);
        form.SetProfile(profile.get());
        form.show();
        prompts.passwords.push_back(std::nullopt);
        choose(form, secretFile);
        auto* password = control<QLineEdit>(form, "PasswordEdit");
        auto* restore = control<QPushButton>(form, "RestoreButton");
        QVERIFY(restore->isEnabled());
        password->setText("wrong");
        restore->click();
        QCOMPARE(messages(), QStringList{kInvalidPasswordText});
        QVERIFY(form.result() != QDialog::Accepted);
        password->setText("right");
        restore->click();
        QCOMPARE(form.result(), int(QDialog::Accepted));
        std::optional<OpenedDataFile> opened = form.TakeOpenedFile();
        QVERIFY(opened);
        QCOMPARE(opened->project->Password(), std::string("right"));
        QCOMPARE(messages().size(), 1);
    }

    void openingAProjectFileAsksAgainAfterAWrongPassword() {
        test::WineProfile wine;
        auto profile = wine.open();
        const std::string file = dir.file("office.tsly");
        TtsBackupProject written;
        written.SetName("Office");
        written.SetEncrypt(true);
        written.SetPassword("pw");
        written.SaveToFile(file);
        DialogPasswordQuestion question(prompts, nullptr);
        prompts.passwords = {QString("wrong"), QString("pw")};
        std::unique_ptr<TtsBackupProject> opened = openProjectFile(file, *profile, question);
        QVERIFY(opened);
        QCOMPARE(opened->Name(), std::string("Office"));
        QCOMPARE(prompts.passwordQuestions, 2);
        QCOMPARE(messages(), QStringList{kInvalidPasswordText});
        prompts.passwords = {std::nullopt};
        QVERIFY(!openProjectFile(file, *profile, question));
    }

    void passwordDialogRefusesBlanksAndKeepsWhatWasTyped() {
        TSinglePasswordForm form(prompts);
        form.show();
        auto* edit = control<QLineEdit>(form, "PasswordEdit");
        edit->setText("   ");
        control<QPushButton>(form, "OkButton")->click();
        QCOMPARE(messages(), QStringList{"Please enter your password first!"});
        QVERIFY(form.isVisible());
        edit->setText(" pass ");
        control<QPushButton>(form, "OkButton")->click();
        QCOMPARE(form.result(), int(QDialog::Accepted));
        QCOMPARE(form.Password(), QString(" pass "));
    }
};

QTEST_MAIN(RestoreFormTest)
#include "restore_form_test.moc"
