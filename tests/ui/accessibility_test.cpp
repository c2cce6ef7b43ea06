// What a screen reader and a keyboard user meet in every window: each control that takes
// input has a name of its own, read through the same accessibility interfaces AT-SPI reads;
// the help and quit keys work.
#include <QAbstractItemView>
#include <QAccessible>
#include <QAction>
#include <QLabel>
#include <QPushButton>
#include <QSet>
#include <QSignalSpy>
#include <QTest>

#include <memory>

#include "engine/project.h"
#include "settings/reg_env_data.h"
#include "window_profile.h"
#include "ui/about_form.h"
#include "ui/backup_form.h"
#include "ui/history_projects_form.h"
#include "ui/main_form.h"
#include "ui/progress_form.h"
#include "ui/project_manager_form.h"
#include "ui/restore_form.h"
#include "scripted_prompts.h"
#include "ui/select_project_form.h"
#include "ui/single_password_form.h"

using namespace ts;
using namespace ts::ui;

namespace {

bool takesInput(QAccessible::Role role) {
    switch (role) {
        case QAccessible::PushButton:
        case QAccessible::CheckBox:
        case QAccessible::RadioButton:
        case QAccessible::EditableText:
        case QAccessible::ComboBox:
        case QAccessible::List:
        case QAccessible::Tree:
        case QAccessible::Table:
        case QAccessible::ProgressBar:
        case QAccessible::SpinBox:
        case QAccessible::Slider:
            return true;
        default:
            return false;
    }
}

// The parts item views make of themselves (scroll bars, headers) are named by the view they
// belong to.
bool insideAView(const QWidget* widget, const QWidget* window) {
    for (const QWidget* up = widget->parentWidget(); up && up != window; up = up->parentWidget())
        if (qobject_cast<const QAbstractItemView*>(up)) return true;
    return false;
}

// One line per control that takes input and has no name, or the name of another.
QStringList namingProblems(QWidget& window) {
    QStringList problems;
    QHash<QString, QString> seen;  // name -> the object that has it
    for (QWidget* widget : window.findChildren<QWidget*>()) {
        // A control hidden on purpose (the menu bar's overflow button) is met by no one; one on
        // a tab page not shown yet is.
        if (insideAView(widget, &window) || widget->isWindow() || widget->isHidden()) continue;
        QAccessibleInterface* control = QAccessible::queryAccessibleInterface(widget);
        if (!control || !takesInput(control->role())) continue;
        const QString name = control->text(QAccessible::Name).trimmed();
        const QString who = QString("%1 (%2)").arg(widget->objectName(), widget->metaObject()->className());
        if (name.isEmpty()) {
            problems << who + " has no name";
        } else if (seen.contains(name)) {
            problems << QString("%1 and %2 are both named \"%3\"").arg(seen[name], who, name);
        } else {
            seen.insert(name, who);
        }
    }
    return problems;
}

}  // namespace

class AccessibilityTest : public QObject {
    Q_OBJECT

    std::unique_ptr<test::WindowProfile> world;
    ScriptedPrompts prompts;

private slots:
    void init() {
        world = std::make_unique<test::WindowProfile>();
        prompts = ScriptedPrompts();
    }
    void cleanup() { world.reset(); }

    // The check itself finds what it is for: two unnamed "?" buttons, and a list without a name.
    void theWalkFindsMissingAndSharedNames() {
        QWidget window;
        new QPushButton("?", &window);
        new QPushButton("?", &window);
        (new QPushButton("", &window))->setObjectName("blank");
        QCOMPARE(namingProblems(window).size(), 2);
    }

    QWidget* makeWindow(const QString& which) {
        if (which == "main window") return new TMainForm(prompts, world->settings, world->chosen);
        if (which == "backup") return new TBackupForm(prompts);
        if (which == "restore") return new TRestoreForm(prompts);
        if (which == "password") return new TSinglePasswordForm(prompts);
        if (which == "start choice") return new TSelectProjectForm;
        if (which == "history") return new THistoryProjectsForm(prompts);
        if (which == "project manager") return new TProjectManagerForm(prompts);
        if (which == "about") return new TAboutForm(prompts);
        return new TProgressForm;
    }

    void everyControlOfEveryWindowHasANameOfItsOwn_data() {
        QTest::addColumn<QString>("which");
        for (const char* which : {"main window", "backup", "restore", "password", "start choice", "history",
                                  "project manager", "about", "progress"})
            QTest::newRow(which) << QString(which);
    }
    void everyControlOfEveryWindowHasANameOfItsOwn() {
        QFETCH(QString, which);
        std::unique_ptr<QWidget> window(makeWindow(which));
        window->show();
        const QStringList problems = namingProblems(*window);
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join("; ")));
    }

    // Every label that stands for a field takes the keyboard to it with its letter.
    void everyLabelOfAFieldHasItsLetter() {
        for (QWidget* window : std::initializer_list<QWidget*>{new TBackupForm(prompts), new TRestoreForm(prompts),
                                                               new TSinglePasswordForm(prompts)}) {
            std::unique_ptr<QWidget> owned(window);
            for (QLabel* label : window->findChildren<QLabel*>()) {
                if (!label->buddy()) continue;
                QVERIFY2(label->text().contains('&'), qPrintable(window->objectName() + ": " + label->text()));
            }
        }
    }

    // F1 opens the help, Ctrl+Q quits as Ctrl+X does.
    void helpAndQuitKeys() {
        TMainForm form(prompts, world->settings, world->chosen);
        QVERIFY(form.HelpTopicAction->shortcuts().contains(QKeySequence(Qt::Key_F1)));
        QVERIFY(form.FileExitAction->shortcuts().contains(QKeySequence(Qt::CTRL | Qt::Key_Q)));
        QVERIFY(form.FileExitAction->shortcuts().contains(QKeySequence(Qt::CTRL | Qt::Key_X)));
        form.show();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        QTest::keyClick(&form, Qt::Key_Q, Qt::ControlModifier);
        QTRY_VERIFY(!form.isVisible());
    }

    // The about box opens on OK; Tab reaches each link, and Enter on one opens it.
    void theAboutLinksAreReachedByTab() {
        TAboutForm about(prompts);
        about.show();
        QVERIFY(QTest::qWaitForWindowActive(&about));
        QCOMPARE(QApplication::focusWidget()->objectName(), QString("OkButton"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget()->objectName(), QString("ContactLabel"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget()->objectName(), QString("WebsiteLabel"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
        QCOMPARE(prompts.openedUrls, (QStringList{QString("mailto:") + TAboutForm::kSupportMail, TAboutForm::kWebsite}));
        QVERIFY(about.isVisible());
    }
};

QTEST_MAIN(AccessibilityTest)
#include "accessibility_test.moc"
