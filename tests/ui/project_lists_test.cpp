// The start choice, the history dialog and the project manager over a real settings hive
// and real project files.
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <filesystem>

#include "engine/project.h"
#include "settings/reg_env_data.h"
#include "support/temp_dir.h"
#include "ui/about_form.h"
#include "ui/history_projects_form.h"
#include "ui/project_manager_form.h"
#include "scripted_prompts.h"
#include "ui/select_project_form.h"
#include "ui/widget_placement.h"
#include "ui_test_support.h"

using namespace ts;
using namespace ts::ui;
using ts::test::control;

class ProjectListsTest : public QObject {
    Q_OBJECT

    std::unique_ptr<test::TempDir> dir;
    std::unique_ptr<SettingsFile> settings;
    std::unique_ptr<TtsRegProjects> history;
    ScriptedPrompts prompts;
    std::string plain, secret, gone;

    static QStringList column(const QTreeWidget* list, int c) {
        QStringList texts;
        for (int i = 0; i < list->topLevelItemCount(); ++i) texts << list->topLevelItem(i)->text(c);
        return texts;
    }
    QStringList historyTexts() const {
        QStringList texts;
        for (const std::string& path : history->ProjectFiles) texts << QString::fromStdString(path);
        return texts;
    }

private slots:
    void init() {
        prompts = ScriptedPrompts();
        dir = std::make_unique<test::TempDir>();
        settings = std::make_unique<SettingsFile>(dir->file("settings.reg"));
        history = std::make_unique<TtsRegProjects>(*settings);
        plain = dir->file("home.tsly");
        secret = dir->file("office.tsly");
        gone = dir->file("gone.tsly");
        TtsBackupProject project;
        project.SetName("Home mail");
        project.SaveToFile(plain);
        project.SetName("Office");
        project.SetEncrypt(true);
        project.SetPassword("pw");
        project.SaveToFile(secret);
        history->ProjectFiles = {plain, secret, gone};
    }

    void bothListsMarkEachEntry() {
        THistoryProjectsForm historyForm(prompts);
        historyForm.SetProjects(history.get());
        historyForm.show();
        const QStringList paths = historyTexts();
        auto* historyList = control<QTreeWidget>(historyForm, "ProjectsListView");
        QCOMPARE(column(historyList, 0), (QStringList{"Home mail", "Encrypted!", "[Invalid]"}));
        QCOMPARE(column(historyList, 1), paths);
        TProjectManagerForm manager(prompts);
        manager.SetProjects(history.get());
        manager.show();
        QCOMPARE(column(control<QTreeWidget>(manager, "ProjectsListView"), 0),
                 (QStringList{"Home mail", "Encrypted", "[Invalid]"}));
    }

    void historyOpensOnlyASelectedRowAndHandsOverItsPath() {
        THistoryProjectsForm form(prompts);
        form.SetProjects(history.get());
        form.show();
        auto* open = control<QPushButton>(form, "OpenButton");
        QVERIFY(!open->isEnabled());
        auto* list = control<QTreeWidget>(form, "ProjectsListView");
        list->setCurrentItem(list->topLevelItem(0));
        QVERIFY(open->isEnabled());
        open->click();
        QCOMPARE(form.result(), int(QDialog::Accepted));
        QCOMPARE(form.SelectedPath(), plain);
        QCOMPARE(list->topLevelItem(form.SelectedRow())->text(0), QString("Home mail"));
    }

    void deleteInvalidRemovesExactlyTheRowsWhoseFilesAreGone() {
        history->ProjectFiles = {gone, plain, gone, secret, plain};
        TProjectManagerForm form(prompts);
        form.SetProjects(history.get());
        form.show();
        auto* list = control<QTreeWidget>(form, "ProjectsListView");
        prompts.questions = {false, true};
        control<QPushButton>(form, "DeleteInvalidButton")->click();
        QCOMPARE(list->topLevelItemCount(), 5);
        control<QPushButton>(form, "DeleteInvalidButton")->click();
        QCOMPARE(prompts.shown.size(), size_t(2));
        QCOMPARE(prompts.shown[0].text, QString("Do you want to delete all invalid project file link(s)?"));
        QCOMPARE(prompts.shown[0].caption, QString("Question"));
        QCOMPARE(historyTexts(), (QStringList{QString::fromStdString(plain), QString::fromStdString(secret),
                                              QString::fromStdString(plain)}));
        QCOMPARE(column(list, 1), historyTexts());
        // A file removed on disk shows as invalid the next time the list is built.
        std::filesystem::remove(secret);
        form.FormShow();
        QCOMPARE(column(list, 0), (QStringList{"Home mail", "[Invalid]", "Home mail"}));
    }

    void deleteRemovesTheEntryAtTheRowsOwnPosition() {
        history->ProjectFiles = {plain, secret, plain};
        TProjectManagerForm form(prompts);
        form.SetProjects(history.get());
        form.show();
        auto* list = control<QTreeWidget>(form, "ProjectsListView");
        control<QPushButton>(form, "DeleteButton")->click();  // nothing selected: nothing happens
        QCOMPARE(history->ProjectFiles.size(), size_t(3));
        list->setCurrentItem(list->topLevelItem(2));
        control<QPushButton>(form, "DeleteButton")->click();
        QCOMPARE(historyTexts(), (QStringList{QString::fromStdString(plain), QString::fromStdString(secret)}));
        QCOMPARE(column(list, 1), historyTexts());
        QVERIFY(std::filesystem::exists(plain));
    }

    void addAppendsEvenAPathAlreadyThereAndMarksItAtOnce() {
        history->ProjectFiles.clear();
        TProjectManagerForm form(prompts);
        form.SetProjects(history.get());
        form.show();
        prompts.files = {QString::fromStdString(secret), QString::fromStdString(secret), std::nullopt};
        for (int i = 0; i < 3; ++i) control<QPushButton>(form, "AddButton")->click();
        QCOMPARE(prompts.fileFilters.value(0), QString("Tessaly Project File(*.tsly)|*.tsly"));
        QCOMPARE(prompts.fileSuffixes.value(0), QString("tsly"));
        auto* list = control<QTreeWidget>(form, "ProjectsListView");
        QCOMPARE(column(list, 0), (QStringList{"Encrypted", "Encrypted"}));
        QCOMPARE(historyTexts(), (QStringList(2, QString::fromStdString(secret))));
        prompts.questions = {true};
        control<QPushButton>(form, "DeleteInvalidButton")->click();
        QCOMPARE(list->topLevelItemCount(), 2);
    }

    // A history entry whose file cannot be read does not keep either list from opening: its
    // row says "[Damaged]" and names the file and why; the rest is listed as ever.
    void anEntryThatCannotBeReadIsListedAsDamaged() {
        const std::string folder = dir->file("a-folder.tsly");
        std::filesystem::create_directory(folder);
        const std::string badLevel = dir->file("level.tsly");
        {
            TtsBackupProject project;
            project.SetName("Level");
            project.SaveToFile(badLevel);
            std::vector<uint8_t> bytes = test::readHostFile(badLevel);
            bytes[512] = 7;  // the compression level: 0 to 3 only
            test::writeHostFile(badLevel, bytes);
        }
        history->ProjectFiles = {plain, folder, badLevel};
        THistoryProjectsForm historyForm(prompts);
        historyForm.SetProjects(history.get());
        historyForm.show();
        QTest::qWait(50);
        QVERIFY(historyForm.isVisible());
        QVERIFY(prompts.shown.empty());
        auto* list = control<QTreeWidget>(historyForm, "ProjectsListView");
        QCOMPARE(column(list, 0), (QStringList{"Home mail", "[Damaged]", "[Damaged]"}));
        QVERIFY2(list->topLevelItem(1)->toolTip(0).contains(QString::fromStdString(folder)),
                 qPrintable(list->topLevelItem(1)->toolTip(0)));
        QVERIFY2(list->topLevelItem(2)->toolTip(0).contains(QString::fromStdString(badLevel)) &&
                     list->topLevelItem(2)->toolTip(0).contains("compression level 7"),
                 qPrintable(list->topLevelItem(2)->toolTip(0)));
        // Added in the manager: listed as damaged too, and kept with its entry; Delete Invalid
        // leaves it (its file is there).
        history->ProjectFiles = {plain};
        TProjectManagerForm manager(prompts);
        manager.SetProjects(history.get());
        manager.show();
        prompts.files = {QString::fromStdString(badLevel)};
        control<QPushButton>(manager, "AddButton")->click();
        QVERIFY(prompts.shown.empty());
        QCOMPARE(historyTexts(), (QStringList{QString::fromStdString(plain), QString::fromStdString(badLevel)}));
        QCOMPARE(column(control<QTreeWidget>(manager, "ProjectsListView"), 0), (QStringList{"Home mail", "[Damaged]"}));
    }

    void startChoiceBeginsWithANewProject() {
        TSelectProjectForm form;
        form.show();
        QCOMPARE(form.ItemIndex(), int(TSelectProjectForm::NewProject));
        control<QRadioButton>(form, "SelectGroupBoxItem2")->click();
        QTest::keyClick(&form, Qt::Key_Escape);
        QCOMPARE(form.result(), int(QDialog::Rejected));
        QCOMPARE(form.ItemIndex(), 2);
    }

    void windowPlacementComesBackFromTheSettings() {
        {
            QWidget window;
            window.setGeometry(120, 80, 500, 300);
            WidgetPlacement placement(window);
            TtsRegMainWindow record(*settings, &placement);
            record.WriteToRegistry();
        }
        QWidget window;
        window.setGeometry(0, 0, 640, 480);
        WidgetPlacement placement(window);
        TtsRegMainWindow record(*settings, &placement);
        record.ReadFromRegistry();
        QCOMPARE(window.geometry(), QRect(120, 80, 500, 300));
    }

    void aboutClosesOnEnterAndEscAndOpensItsAddresses() {
        for (Qt::Key key : {Qt::Key_Return, Qt::Key_Escape}) {
            TAboutForm form(prompts);
            form.show();
            QTest::keyClick(&form, key);
            QVERIFY(!form.isVisible());
        }
        TAboutForm form(prompts);
        form.ContactLabelClick();
        form.WebsiteLabelClick();
        QCOMPARE(prompts.openedUrls, (QStringList{"mailto:support@tessaly.example", "https://tessaly.example/"}));
    }
};

QTEST_MAIN(ProjectListsTest)
#include "project_lists_test.moc"
