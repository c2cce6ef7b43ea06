#include "items/file_name.h"

#include <gtest/gtest.h>

#include "platform/profile/profile.h"
#include "platform/registry/registry_hive.h"
#include "support/wine_profile.h"

namespace ts {
namespace {

using test::WineProfile;

class FileNameTest : public ::testing::Test {
protected:
    WineProfile wine;  // alice, Wine 8 folders
    std::unique_ptr<Profile> alice = wine.open();

    std::string collapse(const Profile& profile, const std::string& path) {
        TtsFileName name(profile);
        name.SetRealName(path);
        return name.Name();
    }
    std::string expand(const Profile& profile, const std::string& text) {
        TtsFileName name(profile);
        name.SetName(text);
        return name.RealName();
    }
};

TEST_F(FileNameTest, TableIsFixed) {
    ASSERT_EQ(kPlaceholderTable.size(), 23u);
    EXPECT_EQ(placeholderOf(kPlaceholderTable.front()), "[CSIDL_CONTROLS]");
    EXPECT_EQ(kPlaceholderTable[15].name, "CSIDL_PROGRAMS");
    EXPECT_EQ(kPlaceholderTable[21].csidl, 0x1A);
    EXPECT_EQ(placeholderOf(kPlaceholderTable.back()), "[CSIDL_LOCAL_APPDATA]");
}

TEST_F(FileNameTest, ExpandsPlaceholders) {
    EXPECT_EQ(expand(*alice, "[CSIDL_APPDATA]\\Microsoft\\Address Book"),
              "C:\\users\\alice\\AppData\\Roaming\\Microsoft\\Address Book");
    // Found in exact case only...
    EXPECT_EQ(expand(*alice, "[csidl_appdata]\\x"), "[csidl_appdata]\\x");
    // ...but once found, replaced in any case, every time it occurs.
    EXPECT_EQ(expand(*alice, "[CSIDL_APPDATA]\\a;[CSIDL_APPDATA]\\b;[Csidl_AppData]"),
              "C:\\users\\alice\\AppData\\Roaming\\a;C:\\users\\alice\\AppData\\Roaming\\b;"
              "C:\\users\\alice\\AppData\\Roaming");
    EXPECT_EQ(expand(*alice, "[CSIDL_FAVORITES]\\Links\\[CSIDL_LOCAL_APPDATA]"),
              "C:\\users\\alice\\Favorites\\Links\\C:\\users\\alice\\AppData\\Local");
    // Virtual folders and texts without placeholders stay as they are.
    EXPECT_EQ(expand(*alice, "[CSIDL_CONTROLS]\\x"), "[CSIDL_CONTROLS]\\x");
    EXPECT_EQ(expand(*alice, "[CSIDL_UNKNOWN]\\x"), "[CSIDL_UNKNOWN]\\x");
    EXPECT_EQ(expand(*alice, "D:\\plain"), "D:\\plain");
}

TEST_F(FileNameTest, CollapsesFoldersAnywhereWithoutRegardToCase) {
    EXPECT_EQ(collapse(*alice, "c:\\USERS\\ALICE\\appdata\\roaming\\Microsoft\\Address Book\\alice.wab"),
              "[CSIDL_APPDATA]\\Microsoft\\Address Book\\alice.wab");
    EXPECT_EQ(collapse(*alice, "Copy of C:\\users\\alice\\Favorites\\a.url"), "Copy of [CSIDL_FAVORITES]\\a.url");
    EXPECT_EQ(collapse(*alice, "C:\\users\\alice\\Other\\x"), "C:\\users\\alice\\Other\\x");
    EXPECT_EQ(collapse(*alice, ""), "");
}

TEST_F(FileNameTest, EarlierRowWins) {
    const std::string roamingWindows = "C:\\users\\alice\\AppData\\Roaming\\Microsoft\\Windows";
    EXPECT_EQ(collapse(*alice, roamingWindows + "\\Start Menu\\Programs\\StartUp\\app.lnk"),
              "[CSIDL_PROGRAMS]\\StartUp\\app.lnk");
    EXPECT_EQ(collapse(*alice, roamingWindows + "\\Start Menu\\x.lnk"), "[CSIDL_STARTMENU]\\x.lnk");
    EXPECT_EQ(collapse(*alice, "C:\\users\\alice\\Desktop\\x"), "[CSIDL_DESKTOP]\\x");
    // Cookies (row 2) lie inside the local application data (row 23).
    EXPECT_EQ(collapse(*alice, "C:\\users\\alice\\AppData\\Local\\Microsoft\\Windows\\INetCookies\\c.txt"),
              "[CSIDL_COOKIES]\\c.txt");
    // Templates (row 21) lie inside the application data (row 22).
    EXPECT_EQ(collapse(*alice, roamingWindows + "\\Templates\\t.dot"), "[CSIDL_TEMPLATES]\\t.dot");

    // Expanding on the same machine gives the path back, the folder part in the shell's
    // letter case and the rest as it was.
    const std::string startup = collapse(*alice, "c:\\users\\alice\\appdata\\roaming\\microsoft\\windows"
                                                 "\\start menu\\programs\\startup\\app.lnk");
    EXPECT_EQ(expand(*alice, startup), roamingWindows + "\\Start Menu\\Programs\\startup\\app.lnk");
}

TEST_F(FileNameTest, WindowsXpProfileCollapsesAsTheItemsNeed) {
    WineProfile xp({.userName = "alice", .windowsXpFolders = true});
    auto profile = xp.open();
    EXPECT_EQ(collapse(*profile, "C:\\users\\alice\\Local Settings\\Application Data\\Identities\\{id}"
                                 "\\Microsoft\\Outlook Express\\Inbox.dbx"),
              "[CSIDL_LOCAL_APPDATA]\\Identities\\{id}\\Microsoft\\Outlook Express\\Inbox.dbx");
    EXPECT_EQ(collapse(*profile, "C:\\users\\alice\\Application Data\\Microsoft\\Address Book\\alice.wab"),
              "[CSIDL_APPDATA]\\Microsoft\\Address Book\\alice.wab");
    EXPECT_EQ(collapse(*profile, "C:\\users\\alice\\Favorites\\News\\a.url"), "[CSIDL_FAVORITES]\\News\\a.url");
    EXPECT_EQ(collapse(*profile, "C:\\users\\alice\\Start Menu\\Programs\\Startup\\a.lnk"),
              "[CSIDL_PROGRAMS]\\Startup\\a.lnk");
    EXPECT_EQ(collapse(*profile, "C:\\users\\alice\\Local Settings\\History\\h.dat"), "[CSIDL_HISTORY]\\h.dat");
}

TEST_F(FileNameTest, NameFromOneUserExpandsIntoAnothersFolders) {
    WineProfile xp({.userName = "alice", .windowsXpFolders = true});
    const std::string stored =
        collapse(*xp.open(), "C:\\users\\alice\\Local Settings\\Application Data\\Identities\\{id}\\Inbox.dbx");
    EXPECT_EQ(expand(*wine.open("bob"), stored), "C:\\users\\bob\\AppData\\Local\\Identities\\{id}\\Inbox.dbx");

    // Non-ASCII user names fold their letters too.
    auto zoe = wine.open("Zoë");
    EXPECT_EQ(collapse(*zoe, "C:\\USERS\\ZOË\\AppData\\Roaming\\x"), "[CSIDL_APPDATA]\\x");
    EXPECT_EQ(expand(*zoe, "[CSIDL_APPDATA]\\x"), "C:\\users\\Zoë\\AppData\\Roaming\\x");
}

TEST_F(FileNameTest, SameValueTwiceIsNotConvertedAgain) {
    Profile profile(wine.folder(), RegistryHive::inMemory(), "alice");
    const std::string key(kUserShellFoldersKey);
    TtsFileName name(profile);
    name.SetName("[CSIDL_APPDATA]\\x");
    profile.hive().setValue(key, RegValue::text("AppData", REG_EXPAND_SZ, "%USERPROFILE%\\Moved"));
    name.SetName("[CSIDL_APPDATA]\\x");
    EXPECT_EQ(name.RealName(), "C:\\users\\alice\\AppData\\Roaming\\x");

    name.SetRealName("C:\\users\\alice\\Moved\\y");
    EXPECT_EQ(name.Name(), "[CSIDL_APPDATA]\\y");
    profile.hive().setValue(key, RegValue::text("AppData", REG_EXPAND_SZ, "%USERPROFILE%\\Again"));
    name.SetRealName("C:\\users\\alice\\Moved\\y");
    EXPECT_EQ(name.Name(), "[CSIDL_APPDATA]\\y");

    TtsFileName copy(profile);
    copy.Assign(name);
    EXPECT_EQ(copy.Name(), "[CSIDL_APPDATA]\\y");
    EXPECT_EQ(copy.RealName(), "C:\\users\\alice\\Moved\\y");
}

}  // namespace
}  // namespace ts
