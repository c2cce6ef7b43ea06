// Renders every window into a PNG file, to look at layouts without a desktop:
//   tessaly-render-windows <folder> [help file]
// With TESSALY_RENDER_DARK=1 in the environment the windows are drawn on a dark palette.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QPalette>
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
#include "settings/settings_file.h"
#include "ui/export_form.h"
#include "ui/history_projects_form.h"
#include "ui/main_form.h"
#include "ui/html_help.h"
#include "ui/progress_form.h"
#include "ui/prompts.h"
#include "ui/project_manager_form.h"
#include "ui/restore_form.h"
#include "scripted_prompts.h"
#include "ui/select_project_form.h"
#include "ui/single_password_form.h"
#include "dark_palette.h"

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
    if (qEnvironmentVariableIntValue("TESSALY_RENDER_DARK")) QApplication::setPalette(test::darkPalette());
    QDir folder(argc > 1 ? argv[1] : "screenshots");
    folder.mkpath(".");
    QTemporaryDir work;
    ScriptedPrompts prompts;
    bool ok = true;

    // The main window, with the dialogs the flows open centred on it.
    SettingsFile mainSettings(work.filePath("main-settings.reg").toStdString());
    ChosenProfile chosen;
    chosen.description = "Profile: alice (/home/alice/.wine)";
    TMainForm main(prompts, mainSettings, chosen);
    ok &= render(main, folder, "main");
    main.show();

    TtsBackupProject project;
    project.SetName("Weekly mail");
    project.Destination().SetLocalFolder(QDir::homePath().toStdString());
    {
        TBackupForm form(prompts, &main);
        form.SetProject(&project);
        ok &= render(form, folder, "backup-general");
        form.show();
        form.findChild<QTabWidget*>("Pages")->setCurrentIndex(1);
        ok &= render(form, folder, "backup-security");
    }
    {
        TRestoreForm form(prompts, &main);
        ok &= render(form, folder, "restore");
    }
    {
        ExportForm form(prompts);
        ok &= render(form, folder, "export");
    }
    {
        TSinglePasswordForm form(prompts, &main);
        ok &= render(form, folder, "password");
    }
    {
        TSelectProjectForm form(&main);
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
    QFile damaged(work.filePath("damaged.tsly"));
    damaged.open(QIODevice::WriteOnly);
    damaged.write(QByteArray(TtsBackupProject::kIdentifier).leftJustified(300, QChar(0).toLatin1()));  // ends inside its record
    damaged.close();
    history.ProjectFiles = {work.filePath("home.tsly").toStdString(), work.filePath("office.tsly").toStdString(),
                            work.filePath("gone.tsly").toStdString(), work.filePath("damaged.tsly").toStdString()};
    {
        THistoryProjectsForm form(prompts, &main);
        form.SetProjects(&history);
        ok &= render(form, folder, "history");
    }
    {
        TProjectManagerForm form(prompts, &main);
        form.SetProjects(&history);
        ok &= render(form, folder, "project-manager");
    }
    {
        TAboutForm form(prompts, &main);
        ok &= render(form, folder, "about");
    }
    // A status naming a file whose name looks like markup: it shows as it is.
    {
        TProgressForm form(&main);
        form.ShowState("Backup Outlook Express Data ... C:\\users\\alice\\AppData\\Local\\Identities\\"
                       "{5D3F8A21-7C4B-4E19-9A62-0B1C2D3E4F51}\\Microsoft\\Outlook Express\\<b>x</b>.dbx");
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
        real.endOfRun(&main, "Finished!",
                      "Wrote /home/alice/backups/Mail.tsly_dat: 4 items (Windows Address Book, Favorites, IE Settings, "
                      "Outlook Express Data), 12 files (1 not saved, named in the details), 41.3 MiB in, 9.8 MiB out, "
                      "14 s.\n1 file could not be saved; the details name it.",
                      "\"C:\\users\\alice\\Favorites\\<i>a</i>:b.url\" was not saved: a restore would refuse "
                      "its stored name \"[CSIDL_FAVORITES]\\<i>a</i>:b.url\": it holds a second drive",
                      "/home/alice/backups");
    }
    {
        QWidget* help = HtmlHelp(&main, argc > 2 ? argv[2] : TESSALY_HELP_FILE);
        ok &= render(*help, folder, "help");
    }
    return ok ? 0 : 1;
}
