// A restore as one change confined to the profile: crafted data files that try to steer
// writes out of it, links inside it that lead out, a second run on the same profile, and the
// leftovers of a killed run.
#include <gtest/gtest.h>
#include <utime.h>

#include <filesystem>
#include <set>

#include "engine/backup_run.h"
#include "engine/datafile/data_file_contents.h"
#include "engine/restore_run.h"
#include "engine/work_folder.h"
#include "platform/registry/registry_hive.h"
#include "run_test_support.h"
#include "support/crafted_data_file.h"
#include "support/wine_profile.h"

namespace ts {
namespace {

namespace fs = std::filesystem;

const std::string kShellFolders = "\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
const std::string kAccounts = "\\Software\\Microsoft\\Internet Account Manager";

std::string textOf(const std::string& path) {
    const auto bytes = test::readHostFile(path);
    return std::string(bytes.begin(), bytes.end());
}

bool isEmptyFolder(const fs::path& folder) { return fs::is_empty(folder); }

class RestoreTransactionTest : public ::testing::Test {
protected:
    void TearDown() override { DebugLog::instance().clear(); }

    std::vector<RefusedFileName> restore(const test::WineProfile& wine, const std::string& file) {
        auto profile = wine.open();
        TtsBackupProject project;
        project.SetWorkFolder(dir.file("work"));
        RestoreRun run(project, *profile, file, {});
        run.run();
        return run.refusedNames();
    }
    std::string alice(const std::string& below) const { return wine.driveC() + "/users/alice/" + below; }

    test::TempDir dir, outside;
    test::WineProfile wine;
};

TEST_F(RestoreTransactionTest, AReplayedShellFolderNeitherMovesTheFilesNorIsKept) {
    fs::create_directory_symlink("/", wine.folder() + "/dosdevices/z:");
    const std::string file = dir.file("crafted.tsly_dat");
    test::writeCraftedMailDataFile(
        file,
        {{kShellFolders, {{"Local AppData", "Z:" + outside.path().string()}}},
         {kAccounts, {{"Default Mail Account", "00000001"}}}},
        {{"[CSIDL_LOCAL_APPDATA]\\keep.txt", "new"}});
    const std::vector<RefusedFileName> refused = restore(wine, file);

    EXPECT_TRUE(isEmptyFolder(outside.path()));
    EXPECT_EQ(textOf(alice("AppData/Local/keep.txt")), "new");
    ASSERT_EQ(refused.size(), 1u);
    EXPECT_EQ(refused[0].storedName, kShellFolders);
    auto onDisk = RegistryHive::openUserReg(wine.userRegPath(), wine.folder());
    EXPECT_EQ(onDisk->value(kShellFolders, "Local AppData")->asText(), "%USERPROFILE%\\AppData\\Local");
    EXPECT_EQ(onDisk->value(kAccounts, "Default Mail Account")->asText(), "00000001");
}

TEST_F(RestoreTransactionTest, ATargetReachedThroughALinkOutOfTheProfileIsRefused) {
    struct Case {
        const char* linked;  // below the user's folder
        const char* stored;
    };
    for (const Case& c : {Case{"Favorites/Links", "[CSIDL_FAVORITES]\\Links\\evil.url"},
                          Case{"AppData/Roaming", "[CSIDL_APPDATA]\\Microsoft\\evil.txt"}}) {
        SCOPED_TRACE(c.linked);
        test::WineProfile target;
        const fs::path link = target.driveC() + "/users/alice/" + c.linked;
        fs::remove_all(link);
        fs::create_directories(link.parent_path());
        fs::create_directory_symlink(outside.path(), link);
        const std::string file = dir.file("links.tsly_dat");
        test::writeCraftedDataFile(file, {{c.stored, "evil"}, {"[CSIDL_FAVORITES]\\good.url", "good"}});
        const std::vector<RefusedFileName> refused = restore(target, file);

        EXPECT_TRUE(isEmptyFolder(outside.path()));
        ASSERT_EQ(refused.size(), 1u);
        EXPECT_EQ(refused[0].storedName, c.stored);
        EXPECT_NE(refused[0].reason.find("out of the profile"), std::string::npos) << refused[0].reason;
        EXPECT_EQ(textOf(target.driveC() + "/users/alice/Favorites/good.url"), "good");
    }
}

TEST_F(RestoreTransactionTest, ASecondRunOnTheProfileIsRefusedWhateverItsWorkFolder) {
    const std::string file = dir.file("one.tsly_dat");
    test::writeCraftedDataFile(file, {{"[CSIDL_FAVORITES]\\a.url", "a"}});
    ProfileLock held(wine.folder());
    auto profile = wine.open();
    TtsBackupProject project;
    project.SetWorkFolder(dir.file("other-work"));
    project.Destination().SetLocalFolder(dir.path().string());
    EXPECT_THROW(RestoreRun(project, *profile, file, {}).run(), EWorkFolderBusy);
    EXPECT_THROW(BackupRun(project, *profile, {}, nullptr).run(), EWorkFolderBusy);
    EXPECT_FALSE(fs::exists(alice("Favorites/a.url")));
}

TEST_F(RestoreTransactionTest, LeftoversOfAKilledRunAreSweptAndNeverCaptured) {
    const fs::path favorites = alice("Favorites");
    fs::create_directories(favorites);
    const fs::path dest = dir.path() / "dest";
    fs::create_directories(dest);
    const fs::path stale = favorites / ".tessaly-tmp-Ab12Cd", staleData = dest / ".tessaly-tmp-Zz99Yy";
    // A new folder a killed restore was building, with its files under their own names.
    const fs::path staleFolder = favorites / ".tessaly-tmp-Qq77Rr";
    fs::create_directories(staleFolder / "Sub");
    test::writeHostFile((staleFolder / "Sub" / "old.url").string(), std::vector<uint8_t>{'o'});
    for (const fs::path& leftover : {stale, staleData, staleFolder}) {
        if (!fs::exists(leftover)) test::writeHostFile(leftover.string(), std::vector<uint8_t>{'x'});
        const utimbuf old{std::time(nullptr) - 3600, std::time(nullptr) - 3600};
        ASSERT_EQ(::utime(leftover.c_str(), &old), 0);
    }
    test::writeHostFile((favorites / "site.url").string(), std::vector<uint8_t>{'u'});

    auto profile = wine.open();
    TtsBackupProject project(profile.get());
    project.SetName("Fav");
    project.SetWorkFolder(dir.file("work"));
    project.Destination().SetLocalFolder(dest.string());
    project.Source().FindItem("Favorites")->SetSelected(true);
    project.Backup();
    EXPECT_FALSE(fs::exists(staleData));
    DataFileContents contents;
    TtsBackupProject inspector(profile.get());
    inspector.InspectDataFile((dest / "Fav.tsly_dat").string(), contents);
    ASSERT_EQ(contents.items[1].inventory.files().size(), 1u) << "only the user's own file is saved";

    restore(wine, (dest / "Fav.tsly_dat").string());
    EXPECT_FALSE(fs::exists(stale));
    EXPECT_FALSE(fs::exists(staleFolder));
    EXPECT_EQ(textOf((favorites / "site.url").string()), "u");
}

// New folders appear only with a whole restore, also where one special folder lies inside
// another's new folder, and a file stored twice in one keeps its first bytes; a failed
// run leaves nothing of its own behind.
TEST_F(RestoreTransactionTest, NewFoldersAppearOnlyWithAWholeRestore) {
    fs::remove_all(alice("AppData/Roaming/Microsoft"));
    std::vector<test::CraftedFileRecord> records = {{"[CSIDL_APPDATA]\\Microsoft\\Windows\\New\\a.txt", "a"},
                                                          {"[CSIDL_STARTMENU]\\b.txt", "b"},
                                                          {"[CSIDL_FAVORITES]\\Deep\\Er\\c.url", "c"},
                                                          {"[CSIDL_FAVORITES]\\Deep\\Er\\c.url", "stored twice"}};
    // More new folders than the run keeps open: some are opened again by their path.
    constexpr int kFolders = 300;
    for (int i = 0; i < kFolders; ++i) records.push_back({"[CSIDL_FAVORITES]\\Deep\\Er\\F" + std::to_string(i) + "\\d.url", "d"});
    const std::string good = dir.file("good.tsly_dat"), cut = dir.file("cut.tsly_dat");
    test::writeCraftedDataFile(good, records);
    std::vector<uint8_t> bytes = test::readHostFile(good);
    bytes.resize(bytes.size() - 4);
    test::writeHostFile(cut, bytes);
    const auto everything = [&] {
        std::set<std::string> names;
        for (const auto& entry : fs::recursive_directory_iterator(wine.driveC()))
            if (entry.path().filename() != "ts_debug.log") names.insert(entry.path().string());
        return names;
    };

    const std::set<std::string> before = everything();
    EXPECT_THROW(restore(wine, cut), TsException);
    EXPECT_EQ(everything(), before);

    restore(wine, good);
    EXPECT_EQ(textOf(alice("AppData/Roaming/Microsoft/Windows/New/a.txt")), "a");
    EXPECT_EQ(textOf(alice("AppData/Roaming/Microsoft/Windows/Start Menu/b.txt")), "b");
    EXPECT_EQ(textOf(alice("Favorites/Deep/Er/c.url")), "c");
    for (int i = 0; i < kFolders; i += 37) EXPECT_EQ(textOf(alice("Favorites/Deep/Er/F" + std::to_string(i) + "/d.url")), "d");
    for (const std::string& name : everything()) EXPECT_EQ(name.find(".tessaly-tmp-"), std::string::npos) << name;
}

}  // namespace
}  // namespace ts
