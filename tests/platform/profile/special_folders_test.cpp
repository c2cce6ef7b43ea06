#include "platform/profile/special_folders.h"

#include <gtest/gtest.h>

#include "platform/registry/registry_hive.h"
#include "support/wine_profile.h"

namespace ts {
namespace {

TEST(SpecialFolders, WineDefaultsWithoutAnyValue) {
    auto hive = RegistryHive::inMemory();
    SpecialFolders folders(*hive, "alice");
    const std::pair<int, const char*> expected[] = {
        {csidl::DESKTOP, "C:\\users\\alice\\Desktop"},
        {csidl::DESKTOPDIRECTORY, "C:\\users\\alice\\Desktop"},
        {csidl::PROGRAMS, "C:\\users\\alice\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs"},
        {csidl::PERSONAL, "C:\\users\\alice\\Documents"},
        {csidl::FAVORITES, "C:\\users\\alice\\Favorites"},
        {csidl::STARTUP, "C:\\users\\alice\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\StartUp"},
        {csidl::RECENT, "C:\\users\\alice\\AppData\\Roaming\\Microsoft\\Windows\\Recent"},
        {csidl::SENDTO, "C:\\users\\alice\\AppData\\Roaming\\Microsoft\\Windows\\SendTo"},
        {csidl::STARTMENU, "C:\\users\\alice\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu"},
        {csidl::NETHOOD, "C:\\users\\alice\\AppData\\Roaming\\Microsoft\\Windows\\Network Shortcuts"},
        {csidl::FONTS, "C:\\windows\\Fonts"},
        {csidl::TEMPLATES, "C:\\users\\alice\\AppData\\Roaming\\Microsoft\\Windows\\Templates"},
        {csidl::APPDATA, "C:\\users\\alice\\AppData\\Roaming"},
        {csidl::PRINTHOOD, "C:\\users\\alice\\AppData\\Roaming\\Microsoft\\Windows\\Printer Shortcuts"},
        {csidl::LOCAL_APPDATA, "C:\\users\\alice\\AppData\\Local"},
        {csidl::INTERNET_CACHE, "C:\\users\\alice\\AppData\\Local\\Microsoft\\Windows\\INetCache"},
        {csidl::COOKIES, "C:\\users\\alice\\AppData\\Local\\Microsoft\\Windows\\INetCookies"},
        {csidl::HISTORY, "C:\\users\\alice\\AppData\\Local\\Microsoft\\Windows\\History"},
        {csidl::PROFILE, "C:\\users\\alice"},
    };
    for (const auto& [id, path] : expected) EXPECT_EQ(folders.path(id), path) << "CSIDL " << id;
    for (int id : {csidl::INTERNET, csidl::CONTROLS, csidl::PRINTERS, csidl::DRIVES, csidl::NETWORK, 0x0A, 0x31, 0x7F})
        EXPECT_FALSE(folders.path(id).has_value()) << "CSIDL " << id;
}

TEST(SpecialFolders, ReadsTheShellFolderValuesOfTheHive) {
    auto hive = RegistryHive::inMemory();
    const std::string key(kUserShellFoldersKey);
    hive->setValue(key, RegValue::text("appdata", REG_EXPAND_SZ, "%UserProfile%\\Application Data\\"));
    hive->setValue(key, RegValue::text("Local AppData", REG_EXPAND_SZ, "%APPDATA%\\..\\Local Settings"));
    hive->setValue(key, RegValue::text("Personal", REG_SZ, "D:\\%USERNAME%\\Docs"));       // REG_SZ: taken as is
    hive->setValue(key, RegValue::text("Favorites", REG_EXPAND_SZ, "%HOMEDRIVE%%HOMEPATH%\\Favs"));
    hive->setValue(key, RegValue::text("Recent", REG_EXPAND_SZ, "%NOPE%\\%USERNAME%"));      // unknown stays
    hive->setValue(key, RegValue::text("Desktop", REG_EXPAND_SZ, ""));                      // empty: default
    hive->setValue(key, RegValue::dword("Cookies", 5));                                       // wrong type: default
    hive->setValue(key, RegValue::text("Fonts", REG_EXPAND_SZ, "C:\\elsewhere"));             // ignored, as Wine does
    hive->setValue(key, RegValue::text("SendTo", REG_EXPAND_SZ, "%LOCALAPPDATA%\\S"));
    hive->setValue(key, RegValue::text("Templates", REG_EXPAND_SZ, "%APPDATA%\\T"));
    SpecialFolders folders(*hive, "bob");
    EXPECT_EQ(folders.path(csidl::APPDATA), "C:\\users\\bob\\Application Data");
    // A folder variable inside a folder variable is not expanded again, so nothing loops.
    EXPECT_EQ(folders.path(csidl::LOCAL_APPDATA), "C:\\users\\bob\\Application Data\\..\\Local Settings");
    EXPECT_EQ(folders.path(csidl::SENDTO), "%APPDATA%\\..\\Local Settings\\S");
    EXPECT_EQ(folders.path(csidl::TEMPLATES), "C:\\users\\bob\\Application Data\\T");
    EXPECT_EQ(folders.path(csidl::PERSONAL), "D:\\%USERNAME%\\Docs");
    EXPECT_EQ(folders.path(csidl::FAVORITES), "C:\\users\\bob\\Favs");
    EXPECT_EQ(folders.path(csidl::RECENT), "%NOPE%\\bob");
    EXPECT_EQ(folders.path(csidl::DESKTOP), "C:\\users\\bob\\Desktop");
    EXPECT_EQ(folders.path(csidl::COOKIES), "C:\\users\\bob\\AppData\\Local\\Microsoft\\Windows\\INetCookies");
    EXPECT_EQ(folders.path(csidl::FONTS), "C:\\windows\\Fonts");
    EXPECT_EQ(folders.expand("100%"), "100%");
}

TEST(SpecialFolders, WindowsXpValuesOfAPrefix) {
    test::WineProfile wine({.userName = "carol", .windowsXpFolders = true});
    auto profile = wine.open();
    const SpecialFolders& folders = profile->specialFolders();
    EXPECT_EQ(folders.path(csidl::LOCAL_APPDATA), "C:\\users\\carol\\Local Settings\\Application Data");
    EXPECT_EQ(folders.path(csidl::APPDATA), "C:\\users\\carol\\Application Data");
    EXPECT_EQ(folders.path(csidl::STARTUP), "C:\\users\\carol\\Start Menu\\Programs\\Startup");
    EXPECT_EQ(folders.path(csidl::PERSONAL), "C:\\users\\carol\\My Documents");
}

// A restore replays shell-folder values before it writes files; the files must still go
// where the folders were when the run began.
TEST(SpecialFolders, ARunKeepsTheFoldersItFirstRead) {
    auto hive = RegistryHive::inMemory();
    const std::string key(kUserShellFoldersKey);
    SpecialFolders folders(*hive, "bob");
    folders.beginRunCache();
    hive->setValue(key, RegValue::text("Local AppData", REG_SZ, "Z:\\outside"));
    EXPECT_EQ(folders.path(csidl::LOCAL_APPDATA), "C:\\users\\bob\\AppData\\Local");
    folders.endRunCache();
    EXPECT_EQ(folders.path(csidl::LOCAL_APPDATA), "Z:\\outside");
}

}  // namespace
}  // namespace ts
