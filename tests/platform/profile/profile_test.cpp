#include "platform/profile/profile.h"

#include <filesystem>
#include <map>

#include <gtest/gtest.h>

#include "platform/exception.h"
#include "platform/registry/registry_hive.h"
#include "support/temp_dir.h"
#include "support/wine_profile.h"

namespace ts {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

EnvironmentLookup environment(std::map<std::string, std::string> variables) {
    return [variables](std::string_view name) -> std::optional<std::string> {
        auto it = variables.find(std::string(name));
        if (it == variables.end()) return std::nullopt;
        return it->second;
    };
}

TEST(ProfileChoice, FollowsTheEnvironment) {
    TempDir home;
    const std::string h = home.path().string();
    EXPECT_EQ(chooseProfileFolder(environment({{"WINEPREFIX", "/p"}, {"HOME", h}})).folder, "/p");
    EXPECT_FALSE(chooseProfileFolder(environment({{"WINEPREFIX", "/p"}})).ownDefault);

    // ~/.wine counts only with a user.reg in it.
    fs::create_directories(h + "/.wine");
    auto own = chooseProfileFolder(environment({{"HOME", h}, {"WINEPREFIX", ""}}));
    EXPECT_EQ(own.folder, h + "/.local/share/tessaly/profile");
    EXPECT_TRUE(own.ownDefault);
    EXPECT_EQ(chooseProfileFolder(environment({{"HOME", h}, {"XDG_DATA_HOME", "/data"}})).folder,
              "/data/tessaly/profile");
    EXPECT_EQ(chooseProfileFolder(environment({{"HOME", h}, {"XDG_DATA_HOME", "relative"}})).folder,
              h + "/.local/share/tessaly/profile");

    test::writeHostFile(h + "/.wine/user.reg", "WINE REGISTRY Version 2\n");
    auto wine = chooseProfileFolder(environment({{"HOME", h}, {"XDG_DATA_HOME", "/data"}}));
    EXPECT_EQ(wine.folder, h + "/.wine");
    EXPECT_FALSE(wine.ownDefault);
}

TEST(ProfileChoice, UserNameComesFromUserElseTheLogin) {
    EXPECT_EQ(defaultUserName(environment({{"USER", "alice"}})), "alice");
    const std::string login = defaultUserName(environment({}));
    EXPECT_FALSE(login.empty());
    EXPECT_EQ(defaultUserName(environment({{"USER", "..\\evil"}})), login);
}

TEST(Profile, OwnProfileIsCreatedOnFirstUseWithAPrefixLayout) {
    TempDir home;
    const std::string h = home.path().string();
    auto env = environment({{"HOME", h}, {"USER", "dora"}});
    auto profile = Profile::openChosen(env);
    const std::string folder = h + "/.local/share/tessaly/profile";
    EXPECT_EQ(profile->folder(), folder);
    EXPECT_EQ(profile->userName(), "dora");
    EXPECT_TRUE(fs::is_symlink(folder + "/dosdevices/c:"));
    EXPECT_EQ(fs::read_symlink(folder + "/dosdevices/c:"), "../drive_c");
    const auto userReg = test::readHostFile(folder + "/user.reg");
    EXPECT_EQ(std::string(userReg.begin(), userReg.begin() + 24), "WINE REGISTRY Version 2\n");
    EXPECT_EQ(profile->debugLogHostPath(), folder + "/dosdevices/c:/ts_debug.log");
    EXPECT_EQ(profile->specialFolders().path(0x1A), "C:\\users\\dora\\AppData\\Roaming");

    // Values stored in it survive reopening, and a second first use changes nothing.
    profile->hive().setValue("Software\\Tessaly", RegValue::dword("x", 7));
    profile->hive().save();
    profile.reset();
    auto again = Profile::openChosen(env);
    auto value = again->hive().value("software\\tessaly", "X");
    ASSERT_TRUE(value.has_value());
    EXPECT_EQ(*value, RegValue::dword("x", 7));
}

TEST(Profile, RefusesAFolderThatIsNoPrefix) {
    TempDir empty;
    try {
        Profile::openChosen(environment({{"WINEPREFIX", empty.path().string()}, {"USER", "a"}}));
        FAIL();
    } catch (const TsException& e) {
        EXPECT_NE(std::string(e.what()).find("no user.reg"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(fs::exists(empty.path() / "user.reg"));
    EXPECT_THROW(Profile(empty.path().string(), RegistryHive::inMemory(), "a\\b"), TsException);
    EXPECT_THROW(Profile(empty.path().string(), nullptr, "a"), TsException);
}

TEST(Profile, PrefixGivenByWineprefixIsUsedAsItIs) {
    test::WineProfile wine({.userName = "erin"});
    auto profile = Profile::openChosen(environment({{"WINEPREFIX", wine.folder()}, {"USER", "erin"}}));
    EXPECT_EQ(profile->folder(), wine.folder());
    EXPECT_EQ(profile->specialFolders().path(0x1C), "C:\\users\\erin\\AppData\\Local");
    wine.writeFile("C:\\ts_debug.log", "x");
    EXPECT_EQ(test::readHostFile(profile->debugLogHostPath()).size(), 1u);
}

TEST(Profile, WineShowDotFilesSettingReachesTheFiles) {
    test::WineProfile wine({.extraUserReg = "[Software\\\\Wine] 1796672901\n\"ShowDotFiles\"=\"Y\"\n"});
    wine.writeFile("C:\\f\\.dot", "");
    auto profile = wine.open();
    auto entries = profile->files().list("C:\\f\\*");
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_FALSE(entries[0].hidden);
}

}  // namespace
}  // namespace ts
