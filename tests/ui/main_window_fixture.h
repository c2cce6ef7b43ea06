#pragma once
// What the main window's tests work on, made fresh for each test: the sample profiles, a
// scripted user, and the window over a settings file of its own, on the profile chosen.
#include <QTest>

#include <memory>
#include <string>

#include "platform/debug_log.h"
#include "settings/settings_file.h"
#include "ui/main_form.h"
#include "scripted_prompts.h"
#include "sample_profiles.h"

namespace ts::test {

struct MainWindowFixture {
    std::unique_ptr<SampleProfiles> samples;
    std::unique_ptr<SettingsFile> settings;
    std::unique_ptr<ui::ScriptedPrompts> prompts;
    ui::ChosenProfile chosen;
    std::unique_ptr<ui::TMainForm> form;

    // For init(): alice's profile is the one chosen.
    void setUpWindowTest() {
        samples = std::make_unique<SampleProfiles>();
        prompts = std::make_unique<ui::ScriptedPrompts>();
        chooseProfile(*samples->alice);
    }
    // For cleanup(): the window first, then what it worked on.
    void tearDownWindowTest() {
        form.reset();
        settings.reset();
        prompts.reset();
        chosen = ui::ChosenProfile{};
        samples.reset();
        DebugLog::instance().clear();
    }

    std::string settingsPath() const { return samples->dir.file("config/settings.reg"); }

    // The profile of `on` as the program chooses one at start, in an object of its own.
    void chooseProfile(const Profile& on) {
        chosen = ui::ChosenProfile{};
        chosen.profile = Profile::open(on.folder(), on.userName());
        chosen.description =
            "Profile: " + QString::fromStdString(on.userName()) + " (" + QString::fromStdString(on.folder()) + ")";
    }
    // Opens the window on `on`, or on the profile chosen before.
    void openWindow(const Profile* on = nullptr) {
        if (on) chooseProfile(*on);
        settings = std::make_unique<SettingsFile>(settingsPath());
        form = std::make_unique<ui::TMainForm>(*prompts, *settings, chosen);
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    }
};

}  // namespace ts::test
