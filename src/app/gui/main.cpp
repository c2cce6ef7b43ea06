// The windowed program: the main window on the profile chosen as tessaly-cli chooses it
// (--profile DIR, else $WINEPREFIX, else ~/.wine, else the program's own).
#include <QApplication>
#include <QCommandLineParser>

#include <ctime>
#include <memory>
#include <optional>
#include <string>

#include "platform/debug_log.h"
#include "settings/settings_file.h"
#include "ui/main_form.h"
#include "ui/pictures.h"
#include "ui/prompts.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Tessaly");
    QApplication::setWindowIcon(ts::ui::programIcon());

    QCommandLineParser parser;
    parser.setApplicationDescription("Backs up and restores the mail data of a Windows user kept in a Wine prefix.");
    parser.addHelpOption();
    QCommandLineOption profileOption("profile", "The Wine prefix (or profile folder) to work on.", "DIR");
    parser.addOption(profileOption);
    parser.process(app);

    std::optional<std::string> folder;
    if (parser.isSet(profileOption)) folder = parser.value(profileOption).toStdString();

    ts::ui::QtPrompts prompts;
    ts::ui::TtsChosenProfile chosen = ts::ui::ChooseProfileForWindows(folder);
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
        result = app.exec();
    }
    if (chosen.profile) ts::DebugLog::instance().finish();
    return result;
}
