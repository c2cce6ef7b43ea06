#include "platform/profile/profile_files.h"

#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include <gtest/gtest.h>

#include "platform/exception.h"
#include "support/temp_dir.h"
#include "support/wine_profile.h"

namespace ts {
namespace {

namespace fs = std::filesystem;
using test::WineProfile;
using test::TempDir;
using test::writeHostFile;

void setDosAttrib(const std::string& hostPath, std::string_view value) {
    ASSERT_EQ(::setxattr(hostPath.c_str(), "user.DOSATTRIB", value.data(), value.size(), 0), 0) << hostPath;
}

const ProfileEntry* find(const std::vector<ProfileEntry>& entries, std::string_view name) {
    auto it = std::find_if(entries.begin(), entries.end(), [&](const auto& e) { return e.name == name; });
    return it == entries.end() ? nullptr : &*it;
}

class ProfileFilesTest : public ::testing::Test {
protected:
    WineProfile wine;
    ProfileFiles files{wine.folder()};
};

TEST_F(ProfileFilesTest, ResolvesExistingNamesWithoutRegardToCase) {
    wine.writeFile("C:\\users\\alice\\AppData\\Roaming\\Notes.TXT", "n");
    EXPECT_EQ(files.hostPath("c:\\USERS\\ALICE\\appdata\\roaming\\notes.txt"),
              wine.folder() + "/dosdevices/c:/users/alice/AppData/Roaming/Notes.TXT");
    EXPECT_TRUE(files.fileExists("C:/Users/Alice/AppData/Roaming/NOTES.txt"));
    EXPECT_TRUE(files.folderExists("C:\\USERS\\alice\\AppData"));
    EXPECT_FALSE(files.folderExists("C:\\users\\alice\\AppData\\Roaming\\notes.txt"));
    // New components keep the case given, after the existing part is matched.
    EXPECT_EQ(files.hostPath("C:\\USERS\\alice\\NewDir\\File.Dat"),
              wine.folder() + "/dosdevices/c:/users/alice/NewDir/File.Dat");
    auto stream = files.openRead("C:\\USERS\\ALICE\\APPDATA\\ROAMING\\NOTES.TXT");
    EXPECT_EQ(stream->size(), 1);
}

TEST_F(ProfileFilesTest, PrefersTheExactNameWhenTwoDifferOnlyInCase) {
    wine.writeFile("C:\\data\\a.txt", "lower");
    wine.writeFile("C:\\data\\A.txt", "upper");
    for (bool inRun : {false, true}) {
        if (inRun) files.beginRunCache();
        EXPECT_EQ(files.hostPath("C:\\data\\A.txt"), wine.folder() + "/dosdevices/c:/data/A.txt") << inRun;
        EXPECT_EQ(files.hostPath("C:\\data\\a.txt"), wine.folder() + "/dosdevices/c:/data/a.txt") << inRun;
        EXPECT_TRUE(files.fileExists("C:\\DATA\\A.TXT")) << inRun;
    }
    files.endRunCache();
}

// The run's table of names must answer as a fresh look at the folder does, for a folder
// large enough to grow the table several times, with names that differ only in case.
TEST_F(ProfileFilesTest, ARunAnswersAsAFreshLookDoes) {
    std::vector<std::string> asked;
    for (int i = 0; i < 300; ++i) {
        const std::string name = "Mail" + std::to_string(i) + (i % 3 ? ".eml" : ".EML");
        wine.writeFile("C:\\big\\" + name, "m");
        if (i % 7 == 0) writeHostFile(wine.hostOf("C:\\big") + "/mail" + std::to_string(i) + ".eml", "twin");
        asked.push_back(name);
        asked.push_back("mail" + std::to_string(i) + ".eml");
        asked.push_back("MAIL" + std::to_string(i) + ".Eml");
    }
    writeHostFile(wine.hostOf("C:\\big") + "/\xC3\x89t\xC3\xA9.txt", "u");
    writeHostFile(wine.hostOf("C:\\big") + "/\xE9t\xE9.txt", "latin");
    for (const char* name : {"\xC3\xA9T\xC3\x89.TXT", "\xE9T\xE9.TXT", "\xE9t\xE9.txt", "absent.txt"})
        asked.push_back(name);
    std::vector<std::optional<std::string>> fresh;
    for (const auto& name : asked) fresh.push_back(files.hostPath("C:\\BIG\\" + name));
    files.beginRunCache();
    for (size_t i = 0; i < asked.size(); ++i) EXPECT_EQ(files.hostPath("C:\\BIG\\" + asked[i]), fresh[i]) << asked[i];
    files.endRunCache();
}

// A run lists each folder once; what it makes itself must still be found by any case of
// its name, and a name it is about to make must already take that name's place.
TEST_F(ProfileFilesTest, ARunFindsWhatItMakesInAnyCase) {
    const std::string d = wine.folder() + "/dosdevices/c:/d";
    wine.writeFile("C:\\d\\Old.txt", "o");
    files.beginRunCache();
    EXPECT_EQ(files.hostPath("C:\\D\\old.TXT"), d + "/Old.txt");

    EXPECT_EQ(files.hostPathToCreate("C:\\d\\New.txt"), d + "/New.txt");
    EXPECT_EQ(files.hostPath("c:\\D\\NEW.TXT"), d + "/New.txt");

    files.createFolders("C:\\d\\Sub\\Deep");
    EXPECT_TRUE(fs::is_directory(d + "/Sub/Deep"));
    EXPECT_TRUE(files.folderExists("c:\\D\\SUB\\deep"));
    EXPECT_EQ(files.hostPath("C:\\D\\SUB\\deep\\x"), d + "/Sub/Deep/x");
    files.createFolders("C:\\D\\SUB\\DEEP\\More");
    EXPECT_TRUE(fs::is_directory(d + "/Sub/Deep/More"));
    EXPECT_FALSE(fs::exists(d + "/SUB"));

    files.create("C:\\d\\Sub\\Made.dat")->write("m", 1);
    EXPECT_TRUE(files.fileExists("C:\\D\\sub\\made.DAT"));
    EXPECT_THROW(files.createFolders("C:\\d\\sub\\MADE.dat\\x"), TsException);
    EXPECT_EQ(files.openRead("c:\\d\\sub\\made.dat")->size(), 1);
    EXPECT_TRUE(files.remove("C:\\d\\sub\\MADE.DAT"));
    EXPECT_FALSE(files.fileExists("C:\\d\\Sub\\Made.dat"));
    EXPECT_EQ(files.hostPath("C:\\d\\Sub\\MADE.dat"), d + "/Sub/MADE.dat");

    // A folder the run removes and makes again in another case is found by its new name.
    EXPECT_EQ(files.hostPath("C:\\d\\sub\\deep\\more\\x"), d + "/Sub/Deep/More/x");
    EXPECT_TRUE(files.remove("C:\\d\\Sub\\Deep\\More"));
    files.createFolders("C:\\d\\Sub\\Deep\\MORE");
    EXPECT_EQ(files.hostPath("C:\\d\\sub\\deep\\more\\x"), d + "/Sub/Deep/MORE/x");

    // A listing shows the folder as it is now, and the run keeps that.
    writeHostFile(d + "/Listed.txt", "l");
    ASSERT_TRUE(find(files.list("C:\\d\\*.txt"), "Listed.txt"));
    EXPECT_EQ(files.hostPath("C:\\d\\LISTED.TXT"), d + "/Listed.txt");
    files.endRunCache();

    // Once the run is over, what others made is seen again.
    writeHostFile(d + "/Late.txt", "l");
    EXPECT_EQ(files.hostPath("C:\\d\\LATE.TXT"), d + "/Late.txt");
}

TEST_F(ProfileFilesTest, MapsDrivesAndNormalisesThePath) {
    // ".." stops at the drive's root, as on Windows: no way out of drive_c this way.
    EXPECT_EQ(files.hostPath("C:\\..\\..\\users\\.\\alice\\\\x"), wine.folder() + "/dosdevices/c:/users/alice/x");
    EXPECT_FALSE(files.hostPath("D:\\x").has_value());           // not mapped
    EXPECT_FALSE(files.hostPath("users\\alice").has_value());    // relative
    EXPECT_FALSE(files.hostPath("\\\\server\\share").has_value());
    EXPECT_FALSE(files.hostPath(std::string_view("C:\\a\0b", 6)).has_value());

    TempDir other;
    fs::create_directory_symlink(other.path(), wine.folder() + "/dosdevices/d:");
    writeHostFile(other.file("f.txt"), "d");
    EXPECT_TRUE(files.fileExists("d:\\F.TXT"));

    // Without dosdevices, C: is still the prefix's drive_c.
    fs::remove_all(wine.folder() + "/dosdevices");
    EXPECT_EQ(files.hostPath("C:\\Users"), wine.driveC() + "/users");
    EXPECT_FALSE(files.hostPath("D:\\f.txt").has_value());
}

TEST_F(ProfileFilesTest, ListsWithAttributesAsWineReportsThem) {
    wine.writeFile("C:\\f\\plain.txt", "12345");
    wine.writeFile("C:\\f\\.dot", "");
    wine.writeFile("C:\\f\\.dotshown", "");
    wine.writeFile("C:\\f\\hidden.txt", "");
    wine.writeFile("C:\\f\\system.txt", "");
    wine.writeFile("C:\\f\\both.txt", "");
    wine.writeFile("C:\\f\\samba4.txt", "");
    wine.writeFile("C:\\f\\junk.txt", "");
    fs::create_directories(wine.hostOf("C:\\f\\Sub"));
    setDosAttrib(wine.hostOf("C:\\f\\.dotshown"), "0x0");   // present: decides alone
    setDosAttrib(wine.hostOf("C:\\f\\hidden.txt"), "0x2");
    setDosAttrib(wine.hostOf("C:\\f\\system.txt"), "0x4");
    setDosAttrib(wine.hostOf("C:\\f\\both.txt"), "0x26");   // archive bit ignored
    setDosAttrib(wine.hostOf("C:\\f\\samba4.txt"), std::string_view("0x2\0\x01\x02", 6));
    setDosAttrib(wine.hostOf("C:\\f\\junk.txt"), "2");      // not Samba's form: no attributes
    setDosAttrib(wine.hostOf("C:\\f\\Sub"), "0x2");

    auto entries = files.list("C:\\F\\*.*");
    ASSERT_EQ(entries.size(), 9u);
    EXPECT_FALSE(find(entries, ".") || find(entries, ".."));
    struct Want { const char* name; bool folder, hidden, system; };
    for (const Want& w : {Want{"plain.txt", false, false, false}, Want{".dot", false, true, false},
                          Want{".dotshown", false, false, false}, Want{"hidden.txt", false, true, false},
                          Want{"system.txt", false, false, true}, Want{"both.txt", false, true, true},
                          Want{"samba4.txt", false, true, false}, Want{"junk.txt", false, false, false},
                          Want{"Sub", true, true, false}}) {
        const ProfileEntry* e = find(entries, w.name);
        ASSERT_NE(e, nullptr) << w.name;
        EXPECT_EQ(e->isFolder, w.folder) << w.name;
        EXPECT_EQ(e->hidden, w.hidden) << w.name;
        EXPECT_EQ(e->system, w.system) << w.name;
    }
    EXPECT_EQ(find(entries, "plain.txt")->size, 5u);

    // Only folders need their attributes and identity when files are searched for.
    auto folders = files.list("C:\\F\\*.*", ProfileFiles::Detail::Folders);
    ASSERT_EQ(folders.size(), 9u);
    EXPECT_FALSE(find(folders, "hidden.txt")->hidden);
    EXPECT_FALSE(find(folders, "hidden.txt")->isFolder);
    EXPECT_TRUE(find(folders, "Sub")->isFolder);
    EXPECT_TRUE(find(folders, "Sub")->hidden);
    EXPECT_NE(find(folders, "Sub")->identity, FolderIdentity{});

    auto txt = files.list("c:\\f\\P*.TXT");
    ASSERT_EQ(txt.size(), 1u);
    EXPECT_EQ(txt[0].name, "plain.txt");
    EXPECT_TRUE(files.list("C:\\missing\\*.*").empty());

    // Wine's ShowDotFiles turns the dot rule off.
    ProfileFiles showing(wine.folder(), true);
    EXPECT_FALSE(find(showing.list("C:\\f\\*"), ".dot")->hidden);
}

TEST_F(ProfileFilesTest, CreatesFoldersOpensCreatesAndDeletes) {
    fs::create_directories(wine.driveC() + "/users/alice/AppData");
    files.createFolders("C:\\USERS\\ALICE\\appdata\\Local\\Identities\\{X}");
    EXPECT_TRUE(fs::is_directory(wine.driveC() + "/users/alice/AppData/Local/Identities/{X}"));
    EXPECT_FALSE(fs::exists(wine.driveC() + "/USERS"));
    files.createFolders("C:\\users\\alice\\AppData\\Local\\Identities\\{X}");  // exists: fine

    {
        auto out = files.create("C:\\users\\alice\\appdata\\local\\identities\\{x}\\Inbox.dbx");
        out->write("abc", 3);
    }
    EXPECT_TRUE(fs::exists(wine.driveC() + "/users/alice/AppData/Local/Identities/{X}/Inbox.dbx"));

    wine.writeFile("C:\\blocker", "");
    EXPECT_THROW(files.createFolders("C:\\blocker\\sub"), TsException);
    try {
        files.openRead("C:\\nothing.txt");
        FAIL();
    } catch (const EFOpenError& e) {
        EXPECT_NE(std::string(e.what()).find("\"C:\\nothing.txt\""), std::string::npos) << e.what();
    }
    EXPECT_THROW(files.openRead("C:\\users"), EFOpenError);
    ASSERT_EQ(::mkfifo(wine.hostOf("C:\\pipe").c_str(), 0600), 0);
    EXPECT_THROW(files.openRead("C:\\pipe"), EFOpenError);  // and does not hang
    EXPECT_THROW(files.create("Q:\\x"), EFCreateError);

    EXPECT_TRUE(files.remove("C:\\Users\\Alice\\AppData\\Local\\Identities\\{X}\\INBOX.DBX"));
    EXPECT_FALSE(files.fileExists("C:\\users\\alice\\AppData\\Local\\Identities\\{X}\\Inbox.dbx"));
    EXPECT_FALSE(files.remove("C:\\users\\alice\\AppData"));  // not empty
    EXPECT_FALSE(files.remove("C:\\"));                      // never the drive itself
    EXPECT_TRUE(fs::is_symlink(wine.folder() + "/dosdevices/c:"));
}

TEST_F(ProfileFilesTest, KnowsWhichFoldersLieInsideTheProfile) {
    TempDir home;
    fs::create_directories(wine.driveC() + "/users/alice/Favorites");
    fs::create_directory_symlink(home.path(), wine.driveC() + "/users/alice/Documents");
    fs::create_directory_symlink("Favorites", wine.driveC() + "/users/alice/FavLink");

    auto favorites = files.folderInsideProfile("C:\\users\\alice\\FAVORITES");
    ASSERT_TRUE(favorites.has_value());
    EXPECT_EQ(files.folderInsideProfile("C:\\users\\alice\\FavLink"), favorites);  // same folder
    EXPECT_FALSE(files.folderInsideProfile("C:\\users\\alice\\Documents").has_value());
    EXPECT_FALSE(files.folderInsideProfile("C:\\users\\alice\\missing").has_value());

    // A C: drive that a link leads out of the prefix is not inside for that alone: a
    // restore must not write wherever such a link points.
    EXPECT_EQ(files.driveCOutsidePrefix(), std::nullopt);
    TempDir elsewhere;
    fs::create_directories(elsewhere.path() / "users");
    fs::remove(wine.folder() + "/dosdevices/c:");
    fs::create_directory_symlink(elsewhere.path(), wine.folder() + "/dosdevices/c:");
    EXPECT_FALSE(files.folderInsideProfile("C:\\users").has_value());
    EXPECT_EQ(files.driveCOutsidePrefix(), fs::canonical(elsewhere.path()).string());
}

}  // namespace
}  // namespace ts
