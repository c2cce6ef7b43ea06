#pragma once
// What a test's windows work on, made fresh for each test: a Wine profile chosen as the program
// chooses one, and a settings file of their own in a temporary folder.
#include "settings/settings_file.h"
#include "support/temp_dir.h"
#include "support/wine_profile.h"
#include "ui/main_form.h"

namespace ts::test {

struct WindowProfile {
    TempDir dir;
    WineProfile wine;
    SettingsFile settings{dir.file("settings.reg")};
    ui::ChosenProfile chosen{wine.open(), "Profile", {}, {}};
};

}  // namespace ts::test
