// The windowed program: the main window on the profile chosen as tessaly-cli chooses it
// (--profile DIR, else $WINEPREFIX, else ~/.wine, else the program's own).
#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/common/version.h"
#include "platform/debug_log.h"
#include "settings/settings_file.h"
#include "ui/guarded_application.h"
#include "ui/main_form.h"
#include "ui/pictures.h"
#include "ui/prompts.h"

namespace {

struct Options {
    QCommandLineOption profile{"profile", "The Wine prefix, or Windows user folder on a mounted disk, to work on.", "DIR"};
    QCommandLineOption drive{"drive", "The folder of another drive letter of that Windows disk (repeat for more).",
                             "D=DIR"};
    QCommandLineOption version{{"V", "version"}, "Print the version and the library versions in use."};
};

void describe(QCommandLineParser& parser, const Options& options) {
    parser.setApplicationDescription("Backs up and restores the mail data of a Windows user kept in a Wine prefix.");
    parser.addHelpOption();
    parser.addOption(options.version);
    parser.addOption(options.profile);
    parser.addOption(options.drive);
    parser.addPositionalArgument("FILE", "A data file (.tsly_dat) to restore, or a project file (.tsly) to back up.",
                                 "[FILE]");
}

// --help and --version print and end before any window system is asked for, so they work
// without a display.
bool asksForTextOnly(int argc, char* argv[]) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0) break;
        for (const char* name : {"-h", "--help", "--help-all", "-?", "-V", "--version"})
            if (std::strcmp(argv[i], name) == 0) return true;
    }
    return false;
}

int printTextOnly(int argc, char* argv[]) {
    QCoreApplication core(argc, argv);
    QCoreApplication::setApplicationName("tessaly");
    QCommandLineParser parser;
    Options options;
    describe(parser, options);
    parser.process(core);  // prints the help and ends the process when it was asked for
    if (parser.isSet(options.version)) {
        std::fputs(ts::app::versionText("tessaly", std::string("Qt ") + qVersion()).c_str(), stdout);
        return 0;
    }
    parser.showHelp(0);
}

}  // namespace

int main(int argc, char* argv[]) {
    if (asksForTextOnly(argc, argv)) return printTextOnly(argc, argv);
    ts::ui::GuardedApplication app(argc, argv);
    QApplication::setApplicationName("Tessaly");
    // Matches the window to the installed tessaly.desktop (its icon, its name, its notifications).
    QGuiApplication::setDesktopFileName("tessaly");
    QApplication::setWindowIcon(ts::ui::programIcon());

    QCommandLineParser parser;
    Options options;
    describe(parser, options);
    parser.process(app);
    QCommandLineOption& profileOption = options.profile;

    std::optional<std::string> folder;
    if (parser.isSet(profileOption)) folder = parser.value(profileOption).toStdString();

    ts::ui::QtPrompts prompts;
    app.SetPrompts(&prompts);
    std::vector<std::string> drives;
    for (const QString& drive : parser.values(options.drive)) drives.push_back(drive.toStdString());
    ts::ui::ChosenProfile chosen = ts::ui::ChooseProfileForWindows(folder, drives);
    if (chosen.profile)
        ts::DebugLog::instance().start(chosen.profile->debugLogHostPath(), std::time(nullptr), chosen.profile->folder());

    // A settings file that cannot be read is left alone for the user to look at: the window
    // would otherwise write a fresh one over it when it closes.
    std::unique_ptr<ts::SettingsFile> settings;
    try {
        settings = std::make_unique<ts::SettingsFile>(ts::SettingsFile::defaultPath());
    } catch (const std::exception& e) {
        prompts.generalError(nullptr, QString("%1\nMove the settings file \"%2\" away to start with fresh settings")
                                          .arg(QString::fromStdString(e.what()),
                                               QString::fromStdString(ts::SettingsFile::defaultPath())));
        return 1;
    }

    int result;
    {
        ts::ui::TMainForm window(prompts, *settings, chosen);
        window.show();
        // Said once the window stands, so the user sees what it is about and can read help.
        if (!chosen.profile) prompts.error(&window, chosen.problem);
        if (!chosen.notice.isEmpty()) prompts.information(&window, chosen.notice);
        if (!parser.positionalArguments().isEmpty()) {
            const QString file = QFileInfo(parser.positionalArguments().constFirst()).absoluteFilePath();
            QTimer::singleShot(0, &window, [&window, file] { window.OpenFile(file); });
        }
        result = app.exec();
    }
    app.SetPrompts(nullptr);
    if (chosen.profile) ts::DebugLog::instance().finish();
    return result;
}
