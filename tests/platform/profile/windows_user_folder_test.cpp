// A Windows user's folder on a mounted disk as a profile: recognised by its NTUSER.DAT in
// Users or Documents and Settings however the names are spelt, drive C at the folder above,
// special folders from its hive or its Windows' defaults.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "platform/exception.h"
#include "platform/profile/profile.h"
#include "platform/registry/registry_hive.h"
#include "support/hive_maker.h"
#include "support/temp_dir.h"

namespace ts {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using test::HiveKey;

constexpr const char* kShellFolders = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
constexpr const char* kUserShellFolders = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";

TEST(WindowsUserFolder, IsRecognisedByItsHiveInEitherLayoutAndAnyCase) {
    struct Case {
        const char* parent;
        const char* hiveName;
        const char* profileFolder;   // nullptr: not a Windows user folder
    };
    const Case cases[] = {
        {"Users", "NTUSER.DAT", "C:\\Users\\alice"},
        {"Documents and Settings", "NTUSER.DAT", "C:\\Documents and Settings\\alice"},
        {"users", "ntuser.dat", "C:\\users\\alice"},
        {"DOCUMENTS AND SETTINGS", "NtUser.Dat", "C:\\DOCUMENTS AND SETTINGS\\alice"},
        {"Profiles", "NTUSER.DAT", nullptr},
        {"Users", "NTUSER.BAK", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.parent) + "/" + c.hiveName);
        test::TempDir disk;
        const fs::path folder = disk.path() / c.parent / "alice";
        fs::create_directories(folder);
        test::makeHive((folder / c.hiveName).string(), {{"Software", {RegValue::dword("x", 1)}}});
        if (!c.profileFolder) {
            try {
                Profile::open(folder.string());
                ADD_FAILURE() << "opened";
            } catch (const TsException& error) {
                EXPECT_THAT(error.what(), HasSubstr("Documents and Settings\\NAME"));
            }
            continue;
        }
        auto profile = Profile::open(folder.string() + "/");
        EXPECT_EQ(profile->kind(), ProfileKind::WindowsFolder);
        EXPECT_EQ(profile->userName(), "alice");
        EXPECT_EQ(profile->specialFolders().profileFolder(), c.profileFolder);
        EXPECT_EQ(profile->hive().value("SOFTWARE", "X"), RegValue::dword("x", 1));
        EXPECT_EQ(profile->files().hostPath("c:\\" + std::string(c.parent) + "\\Alice\\x.txt"), (folder / "x.txt").string());
        EXPECT_THROW(profile->files().hostPath("D:\\x.txt"), TsException) << "no drive but C:";
    }
}

TEST(WindowsUserFolder, SpecialFoldersComeFromTheHiveThenItsWindowsDefaults) {
    struct Case {
        const char* name;
        bool windowsXp;
        std::vector<HiveKey> keys;
        int csidl;
        const char* expected;
    };
    const std::vector<Case> cases = {
        {"XP default", true, {}, csidl::APPDATA, "C:\\Documents and Settings\\bob\\Application Data"},
        {"XP default", true, {}, csidl::LOCAL_APPDATA, "C:\\Documents and Settings\\bob\\Local Settings\\Application Data"},
        {"XP default", true, {}, csidl::PERSONAL, "C:\\Documents and Settings\\bob\\My Documents"},
        {"Vista default", false, {}, csidl::APPDATA, "C:\\Users\\bob\\AppData\\Roaming"},
        {"Vista default", false, {}, csidl::FAVORITES, "C:\\Users\\bob\\Favorites"},
        {"User Shell Folders, expanded", false,
         {{kUserShellFolders, {RegValue::text("Favorites", REG_EXPAND_SZ, "%SystemDrive%\\Fav\\%USERNAME%")}}},
         csidl::FAVORITES, "C:\\Fav\\bob"},
        {"%APPDATA% from its own value", true,
         {{kUserShellFolders, {RegValue::text("AppData", REG_EXPAND_SZ, "%USERPROFILE%\\Roam"),
                               RegValue::text("Local AppData", REG_EXPAND_SZ, "%APPDATA%\\..\\Local")}}},
         csidl::LOCAL_APPDATA, "C:\\Documents and Settings\\bob\\Roam\\..\\Local"},
        {"Shell Folders when User Shell Folders has none", false,
         {{kShellFolders, {RegValue::text("Personal", REG_SZ, "C:\\Users\\bob\\Docs")}}}, csidl::PERSONAL,
         "C:\\Users\\bob\\Docs"},
        {"User Shell Folders before Shell Folders", false,
         {{kShellFolders, {RegValue::text("Personal", REG_SZ, "C:\\Stale")}},
          {kUserShellFolders, {RegValue::text("Personal", REG_EXPAND_SZ, "%USERPROFILE%\\Fresh")}}},
         csidl::PERSONAL, "C:\\Users\\bob\\Fresh"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir disk;
        auto profile = Profile::open(test::makeWindowsUserFolder(disk.path().string(), "bob", c.windowsXp, c.keys));
        EXPECT_EQ(profile->specialFolders().path(c.csidl), c.expected);
    }
}

TEST(WindowsUserFolder, FilesAreFoundAsWindowsFindsThem) {
    test::TempDir disk;
    const std::string folder = test::makeWindowsUserFolder(disk.path().string(), "carol", false);
    const std::string book = folder + "/AppData/Roaming/Microsoft/Address Book";
    fs::create_directories(book);
    test::writeHostFile(book + "/carol.wab", std::string("wab"));
    test::writeHostFile(folder + "/.dotted", std::string("x"));
    auto profile = Profile::open(folder);
    EXPECT_EQ(profile->files().openRead("C:\\USERS\\CAROL\\appdata\\roaming\\microsoft\\address book\\CAROL.WAB")->size(), 3);
    auto entries = profile->files().list("C:\\Users\\carol\\.dotted");
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_FALSE(entries[0].hidden) << "a dot starts no hidden name on a Windows disk";
}

// A path on a drive letter the user gave no folder for must stop the run with what to do: taken
// as missing, a store moved to D: would be left out of the backup without a word.
TEST(WindowsUserFolder, OtherDrivesAreTheFoldersGivenAndAnyOtherLetterIsRefused) {
    test::TempDir disk, driveD, outside;
    fs::create_directories(driveD.file("Mail"));
    test::writeHostFile(driveD.file("Mail/a.dbx"), std::string("dbx"));
    test::writeHostFile(outside.file("secret"), std::string("secret"));
    fs::create_symlink(outside.file("secret"), driveD.file("Mail/leak.dbx"));
    const std::string folder = test::makeWindowsUserFolder(disk.path().string(), "erin", false);
    auto profile = Profile::open(folder, {}, {{'d', driveD.path().string()}});
    const ProfileFiles& files = profile->files();

    EXPECT_EQ(files.openRead("d:\\MAIL\\A.DBX")->size(), 3);
    EXPECT_TRUE(files.folderInsideProfile("D:\\Mail").has_value());
    EXPECT_THROW(files.openRead("D:\\Mail\\leak.dbx"), EFOpenError) << "a link leading off the drive";
    for (const char* path : {"E:\\Mail\\a.dbx", "e:\\"}) {
        SCOPED_TRACE(path);
        try {
            files.fileExists(path);
            ADD_FAILURE() << "no refusal";
        } catch (const TsException& error) {
            EXPECT_THAT(error.what(), HasSubstr("give its folder with --drive E=DIR"));
        }
    }
    EXPECT_THROW(Profile::open(folder, {}, {{'e', outside.path().string()}})->files().createFolders("F:\\x"),
                 TsException);
}

TEST(WindowsUserFolder, TheRunLockAndDebugLogLieInTheUsersCache) {
    test::TempDir disk, cache;
    ::setenv("XDG_CACHE_HOME", cache.path().c_str(), 1);
    auto profile = Profile::open(test::makeWindowsUserFolder(disk.path().string(), "dan", false));
    const std::string cacheRoot = cache.path().string() + "/tessaly/";
    EXPECT_THAT(profile->runLockFolder(), ::testing::StartsWith(cacheRoot));
    EXPECT_TRUE(fs::is_directory(profile->runLockFolder()));
    EXPECT_THAT(profile->debugLogHostPath(), ::testing::StartsWith(cacheRoot));
    ::unsetenv("XDG_CACHE_HOME");
}

}  // namespace
}  // namespace ts
