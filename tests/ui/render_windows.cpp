// Renders every dialog into a PNG file, to look at layouts without a desktop:
//   tessaly-render-windows <folder> [help file]
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QMessageBox>
#include <QPixmap>
#include <QProgressBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <cstdio>

#include "engine/project.h"
#include "settings/reg_env_data.h"
#include "ui/about_form.h"
#include "ui/backup_form.h"
#include "ui/export_form.h"
#include "ui/history_projects_form.h"
#include "ui/html_help.h"
#include "ui/progress_form.h"
#include "ui/prompts.h"
#include "ui/project_manager_form.h"
#include "ui/restore_form.h"
#include "ui/scripted_prompts.h"
#include "ui/select_project_form.h"
#include "ui/single_password_form.h"

using namespace ts;
using namespace ts::ui;

namespace {

bool render(QWidget& window, const QDir& folder, const QString& name) {
    window.show();
    QApplication::processEvents();
    const QString file = folder.filePath(name + ".png");
    bool ok = window.grab().save(file, "PNG");
    std::printf("%s %s (%dx%d)\n", ok ? "wrote" : "FAILED", qPrintable(file), window.width(), window.height());
    window.hide();
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QDir folder(argc > 1 ? argv[1] : "screenshots");
    folder.mkpath(".");
    QTemporaryDir work;
    ScriptedPrompts prompts;
    bool ok = true;

    TtsBackupProject project;
    project.SetName("Weekly mail");
    project.Destination().SetLocalFolder(QDir::homePath().toStdString());
    {
        TBackupForm form(prompts);
        form.SetProject(&project);
        ok &= render(form, folder, "backup-general");
        form.show();
        form.findChild<QTabWidget*>("Pages")->setCurrentIndex(1);
        ok &= render(form, folder, "backup-security");
    }
    {
        TRestoreForm form(prompts);
        TtsBackupProject target;
        form.SetProject(&target);
        ok &= render(form, folder, "restore");
    }
    {
        TExportForm form(prompts);
        ok &= render(form, folder, "export");
    }
    {
        TSinglePasswordForm form(prompts);
        ok &= render(form, folder, "password");
    }
    {
        TSelectProjectForm form;
        ok &= render(form, folder, "select-project");
    }
    // A history of a readable project, an encrypted one and one whose file is gone.
    SettingsFile settings(work.filePath("settings.reg").toStdString());
    TtsRegProjects history(settings);
    TtsBackupProject plain;
    plain.SetName("Home mail");
    plain.SaveToFile(work.filePath("home.tsly").toStdString());
    TtsBackupProject secret;
    secret.SetName("Office mail");
    secret.SetEncrypt(true);
    secret.SetPassword("pass");
    secret.SaveToFile(work.filePath("office.tsly").toStdString());
    history.ProjectFiles = {work.filePath("home.tsly").toStdString(), work.filePath("office.tsly").toStdString(),
                            work.filePath("gone.tsly").toStdString()};
    {
        THistoryProjectsForm form(prompts);
        form.SetProjects(&history);
        ok &= render(form, folder, "history");
    }
    {
        TProjectManagerForm form(prompts);
        form.SetProjects(&history);
        ok &= render(form, folder, "project-manager");
    }
    {
        TAboutForm form(prompts);
        ok &= render(form, folder, "about");
    }
    // A status naming a file whose name looks like markup: it shows as it is.
    {
        TProgressForm form;
        form.StatesLabel->setText("Backup <b>x</b>.url ...");
        form.ProgressBar->setValue(40);
        form.PercentLabel->setText(TProgressForm::PercentText(40));
        ok &= render(form, folder, "progress");
    }
    // The end of a backup that could not save a file, as the real prompts show it.
    {
        QtPrompts real;
        QTimer::singleShot(100, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                ok &= render(*box, folder, "backup-warnings");
                box->done(QMessageBox::Ok);
            }
        });
        real.messageWithDetails(nullptr, "Finished!\n1 file could not be saved; the details name it.",
                                "\"C:\\users\\alice\\Favorites\\<i>a</i>:b.url\" was not saved: a restore would refuse "
                                "its stored name \"[CSIDL_FAVORITES]\\<i>a</i>:b.url\": it holds a second drive",
                                "Information", MessageIcon::Information);
    }
    {
        QWidget caller;
        QWidget* help = HtmlHelp(&caller, argc > 2 ? argv[2] : TESSALY_HELP_FILE);
        ok &= render(*help, folder, "help");
    }
    return ok ? 0 : 1;
}
