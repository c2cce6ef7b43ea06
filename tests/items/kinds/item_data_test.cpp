// The saved data of the four items: what a backup writes, and what a restore puts back for
// another user.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "engine/backup_run.h"
#include "engine/flows.h"
#include "engine/project.h"
#include "engine/run_test_support.h"
#include "items/kinds/address_book.h"
#include "items/capture/backup_reg_item.h"
#include "items/kinds/favorites.h"
#include "items/kinds/ie_settings.h"
#include "items/capture/inventory_sink.h"
#include "items/capture/key_roots.h"
#include "items/capture/profile_restore_sink.h"
#include "items/kinds/oe_data.h"
#include "platform/exception.h"
#include "platform/profile/profile.h"
#include "platform/profile/profile_transaction.h"
#include "platform/registry/registry_hive.h"
#include "support/temp_dir.h"
#include "support/wine_profile.h"
#include "platform/debug_log.h"

namespace ts {
namespace {

namespace fs = std::filesystem;
using test::WineProfile;

constexpr char kIdentity[] = "{5D3F8A21-7C4B-4E19-9A62-0B1C2D3E4F51}";
constexpr char kIE[] = "Software\\Microsoft\\Internet Explorer";

std::string readText(const std::string& hostPath) {
    auto bytes = test::readHostFile(hostPath);
    return std::string(bytes.begin(), bytes.end());
}

// One user's profile with a project on it.
struct User {
    explicit User(const std::string& name) : wine({.userName = name}), profile(wine.open()), project(profile.get()) {}

    std::string home() const { return "C:\\users\\" + wine.options().userName; }
    std::string host(const std::string& windowsPath) const { return wine.hostOf(windowsPath); }
    RegistryHive& hive() const { return profile->hive(); }
    template <typename T>
    T& item(int position) const {
        return static_cast<T&>(*project.Source().ItemList().Items(position));
    }
    void usePassword(const std::string& password) {
        project.SetEncrypt(true);
        project.SetPassword(password);
    }

    WineProfile wine;
    std::unique_ptr<Profile> profile;
    TtsBackupProject project;
};

class ItemDataTest : public ::testing::Test {
protected:
    void SetUp() override { DebugLog::instance().clear(); }
    void TearDown() override { DebugLog::instance().clear(); }

    // Backs an item up into a fresh stream, checking the count it returns.
    static std::vector<uint8_t> backup(TtsBPSourceItem& item) {
        MemoryStream data;
        int32_t written = item.BackupToStream(data);
        EXPECT_EQ(written, data.size());
        return data.takeBytes();
    }
    // Restores an item from the whole of data straight into its project's profile, checking
    // the count and that all was read.
    static void restore(TtsBPSourceItem& item, MemoryStream& data) {
        data.rewind();
        DirectProfileSink sink(item.Project()->UserProfile());
        int32_t read = item.RestoreFromStream(data, sink);
        EXPECT_EQ(read, data.size());
        EXPECT_EQ(data.position(), data.size());
    }
    static InventorySink inventoryOf(TtsBPSourceItem& item, MemoryStream& data) {
        InventorySink sink;
        data.rewind();
        EXPECT_EQ(item.RestoreToSink(data, sink), data.size());
        return sink;
    }

    User alice{"alice"};
    User bob{"bob"};
};

// --- Outlook Express data ---------------------------------------------------------------

TEST_F(ItemDataTest, MailDataWithoutKeysOrIdentitiesFolderIsTwoEmptyTreesAndACountOfZero) {
    MemoryStream data(backup(alice.item<TtsBPOEData>(3)));
    const char expected[16] = {'(', 'e', 'n', 'd', ')', 0, '(', 'e', 'n', 'd', ')', 0, 0, 0, 0, 0};
    EXPECT_EQ(data.bytes(), std::vector<uint8_t>(expected, expected + sizeof expected));
    restore(bob.item<TtsBPOEData>(3), data);
    EXPECT_FALSE(fs::exists(bob.host(bob.home() + "\\AppData\\Local\\Identities")));
}

TEST_F(ItemDataTest, MailDataWithKeysButNoStoreFolderHoldsBothTreesThenACountOfZero) {
    alice.hive().setValue("Software\\Microsoft\\Internet Account Manager", RegValue::dword("Account Name Counter", 3));
    alice.hive().setValue(std::string("Identities\\") + kIdentity, RegValue::text("Username", REG_SZ, "Main Identity"));
    TtsBackupProject later(alice.profile.get());  // made after the keys exist
    auto& oe = static_cast<TtsBPOEData&>(*later.Source().ItemList().Items(3));
    MemoryStream data(backup(oe));
    int32_t count;
    std::memcpy(&count, data.bytes().data() + data.size() - 4, 4);
    EXPECT_EQ(count, 0);

    InventorySink inventory = inventoryOf(oe, data);
    EXPECT_TRUE(inventory.files().empty());
    ASSERT_EQ(inventory.keys().size(), 3u);
    EXPECT_EQ(inventory.keys()[0].path, "\\Software\\Microsoft\\Internet Account Manager");
    EXPECT_EQ(inventory.keys()[1].path, "\\Identities");
    EXPECT_EQ(inventory.keys()[2].path, std::string("\\Identities\\") + kIdentity);
}

TEST_F(ItemDataTest, KeysAreCheckedWhenTheItemIsMadeSoALaterKeyIsNotSaved) {
    auto& oe = alice.item<TtsBPOEData>(3);
    ASSERT_NE(oe.AccountsKey(), nullptr);
    EXPECT_EQ(oe.AccountsKey()->KeyPath(), "");
    alice.hive().setValue("Software\\Microsoft\\Internet Account Manager", RegValue::dword("Counter", 1));
    MemoryStream data(backup(oe));
    EXPECT_EQ(data.size(), 16);
}

TEST_F(ItemDataTest, NestedStoreFoldersAreRestoredUnderAnotherUsersLocalAppData) {
    const std::string store = std::string("\\AppData\\Local\\Identities\\") + kIdentity + "\\Microsoft\\Outlook Express";
    const std::vector<std::string> files = {"\\Inbox.dbx", "\\Archive\\2019\\Projects.dbx",
                                            "\\Archive\\2019\\Receipts\\Shops.dbx", "\\Offline.dbx"};
    for (size_t i = 0; i < files.size(); ++i)
        alice.wine.writeFile(alice.home() + store + files[i], std::string(i * 1000, char('a' + i)));
    // An older, longer copy of one file at bob's: it must be replaced whole.
    bob.wine.writeFile(bob.home() + store + files[1], std::string(5000, 'z'));
    bob.wine.writeFile(bob.home() + store + "\\Bob's own.dbx", "kept");

    alice.usePassword("secret");
    bob.usePassword("secret");
    MemoryStream data(backup(alice.item<TtsBPOEData>(3)));
    restore(bob.item<TtsBPOEData>(3), data);

    for (size_t i = 0; i < files.size(); ++i)
        EXPECT_EQ(readText(bob.host(bob.home() + store + files[i])), std::string(i * 1000, char('a' + i))) << files[i];
    EXPECT_EQ(readText(bob.host(bob.home() + store + "\\Bob's own.dbx")), "kept");
}

TEST_F(ItemDataTest, MailDataLogsItsFirstAndLastLinesWithPositionsAndCounts) {
    alice.wine.writeFile(alice.home() + "\\AppData\\Local\\Identities\\x\\a.dbx", "abc");
    MemoryStream data;
    data.write("pre", 3);
    int32_t written = alice.item<TtsBPOEData>(3).BackupToStream(data);
    auto lines = DebugLog::instance().lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "TtsBPOEData.BackupToStream, Current stream position is: 3, Size is: 3");
    EXPECT_EQ(lines[1], "TtsBPOEData.BackupToStream, Result=" + std::to_string(written));

    DebugLog::instance().clear();
    data.seek(3);
    DirectProfileSink sink(*bob.profile);
    int32_t read = bob.item<TtsBPOEData>(3).RestoreFromStream(data, sink);
    EXPECT_EQ(read, written);
    lines = DebugLog::instance().lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "TtsBPOEData.RestoreFromStream, Current stream position is: 3, Size is: " +
                            std::to_string(data.size()));
    EXPECT_EQ(lines[1], "TtsBPOEData.RestoreFromStream, Result=" + std::to_string(read));
}

TEST_F(ItemDataTest, PassingDataOverWritesNothing) {
    alice.hive().setValue(std::string("Identities\\") + kIdentity, RegValue::text("Username", REG_SZ, "Main"));
    alice.wine.writeFile(alice.home() + "\\AppData\\Local\\Identities\\x\\a.dbx", "abc");
    TtsBackupProject later(alice.profile.get());
    MemoryStream data(backup(*later.Source().ItemList().Items(3)));
    InventorySink inventory = inventoryOf(bob.item<TtsBPOEData>(3), data);
    ASSERT_EQ(inventory.files().size(), 1u);
    EXPECT_EQ(inventory.files()[0].storedName, "[CSIDL_LOCAL_APPDATA]\\Identities\\x\\a.dbx");
    EXPECT_EQ(inventory.files()[0].size, 3);
    EXPECT_FALSE(bob.hive().keyExists("Identities"));
    EXPECT_FALSE(fs::exists(bob.host(bob.home() + "\\AppData\\Local\\Identities")));
}

TEST_F(ItemDataTest, ABackupNeedsAProfileAndSaysSo) {
    TtsBackupProject noProfile;
    MemoryStream data;
    EXPECT_THROW(noProfile.Source().ItemList().Items(3)->BackupToStream(data), TsException);
    EXPECT_THROW(noProfile.Source().ItemList().Items(0)->BackupToStream(data), TsException);
}

TEST_F(ItemDataTest, AProfileGivenAfterTheProjectWasMadeIsTheOneBackedUp) {
    alice.hive().setValue("Identities", RegValue::text("Last Username", REG_SZ, "Main"));
    TtsBackupProject project;
    project.SetUserProfile(alice.profile.get());
    MemoryStream data(backup(*project.Source().ItemList().Items(3)));
    EXPECT_GT(data.size(), 16);
}

// --- Address book -----------------------------------------------------------------------

TEST_F(ItemDataTest, AMissingAddressBookFolderGivesACountOfZeroAndRestoresNothing) {
    MemoryStream data(backup(alice.item<TtsBPAddressBook>(0)));
    EXPECT_EQ(data.bytes(), std::vector<uint8_t>(4, 0));
    restore(bob.item<TtsBPAddressBook>(0), data);
    EXPECT_FALSE(fs::exists(bob.host(bob.home() + "\\AppData\\Roaming\\Microsoft")));
}

TEST_F(ItemDataTest, ARestoreWritesOnlyWhereTheSinkItIsHandedSays) {
    const std::string book = "\\AppData\\Roaming\\Microsoft\\Address Book\\alice.wab";
    alice.wine.writeFile(alice.home() + book, "cards");
    MemoryStream data(backup(alice.item<TtsBPAddressBook>(0)));

    // Another user's sink: the file goes into that user's folders, none into the project's.
    User carol("carol");
    DirectProfileSink intoCarol(*carol.profile);
    EXPECT_EQ(bob.item<TtsBPAddressBook>(0).RestoreFromStream(data, intoCarol), data.size());
    EXPECT_EQ(readText(carol.host(carol.home() + book)), "cards");
    EXPECT_FALSE(fs::exists(bob.host(bob.home() + book)));

    // Held back by the transaction under the sink until it commits, as a run's restore is.
    data.rewind();
    ProfileTransaction held(*bob.profile, ProfileTransaction::Mode::Deferred);
    ProfileRestoreSink sink(held);
    bob.item<TtsBPAddressBook>(0).RestoreFromStream(data, sink);
    EXPECT_FALSE(fs::exists(bob.host(bob.home() + book)));
    EXPECT_EQ(sink.restored().files, 1);
    EXPECT_EQ(sink.restored().bytes, 5);
    held.commit();
    EXPECT_EQ(readText(bob.host(bob.home() + book)), "cards");
}

TEST_F(ItemDataTest, TheAddressBookLandsInTheRestoringUsersApplicationData) {
    const std::string book = "\\AppData\\Roaming\\Microsoft\\Address Book";
    auto content = test::randomBytes(70000, 3);
    fs::create_directories(fs::path(alice.host(alice.home() + book)));
    test::writeHostFile(alice.host(alice.home() + book + "\\alice.wab"), content);

    MemoryStream data(backup(alice.item<TtsBPAddressBook>(0)));
    restore(bob.item<TtsBPAddressBook>(0), data);
    EXPECT_EQ(test::readHostFile(bob.host(bob.home() + book + "\\alice.wab")), content);

    auto lines = DebugLog::instance().lines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "TtsBPAddressBook.BackupToStream, Current stream position is: 0, Size is: 0");
    EXPECT_EQ(lines[1], "TtsBPAddressBook.BackupToStream, Result=" + std::to_string(data.size()));
    EXPECT_EQ(lines[2], "TtsBPAddressBook.RestoreFromStream, Current stream position is: 0, Size is: " +
                            std::to_string(data.size()));
    EXPECT_EQ(lines[3], "TtsBPAddressBook.RestoreFromStream, Result=" + std::to_string(data.size()));
}

// --- Favorites --------------------------------------------------------------------------

TEST_F(ItemDataTest, FavoritesWithoutUrlFilesGiveTheEndFieldOnlyAndACountOfZero) {
    alice.wine.writeFile(alice.home() + "\\Favorites\\Links\\desktop.ini", "[.ShellClassInfo]");
    TtsBackupProject project(alice.profile.get());
    auto& favorites = static_cast<TtsBPFavorites&>(*project.Source().ItemList().Items(1));
    EXPECT_TRUE(favorites.Files().empty());
    MemoryStream record;
    favorites.WriteToStream(record);
    EXPECT_EQ(record.size(), 257 + 256 + 8);
    EXPECT_EQ(backup(favorites), std::vector<uint8_t>(4, 0));
}

TEST_F(ItemDataTest, NestedFavoritesAreRestoredIntoTheSameSubfolders) {
    const std::vector<std::string> names = {"\\Example.url", "\\Reisen & Ferien\\Caf\xC3\xA9 am Meer.url",
                                            "\\Reisen & Ferien\\\xC3\x91" "and\xC3\xBA\\Se\xC3\xB1or.url",
                                            "\\\xD0\xA0\xD0\xB0\xD0\xB1\xD0\xBE\xD1\x82\xD0\xB0\\Mail.url"};
    for (const auto& name : names) alice.wine.writeFile(alice.home() + "\\Favorites" + name, "[InternetShortcut]" + name);
    alice.wine.writeFile(alice.home() + "\\Favorites\\Links\\desktop.ini", "not a favorite");
    TtsBackupProject project(alice.profile.get());  // collects the files now
    auto& favorites = static_cast<TtsBPFavorites&>(*project.Source().ItemList().Items(1));
    ASSERT_EQ(favorites.Files().size(), names.size());

    MemoryStream data(backup(favorites));
    auto& target = bob.item<TtsBPFavorites>(1);
    restore(target, data);
    std::vector<std::string> expected;
    for (const auto& name : names) {
        EXPECT_EQ(readText(bob.host(bob.home() + "\\Favorites" + name)), "[InternetShortcut]" + name);
        expected.push_back(bob.home() + "\\Favorites" + name);
    }
    EXPECT_FALSE(fs::exists(bob.host(bob.home() + "\\Favorites\\Links")));
    // Files holds where each file went, in the order of the data.
    std::vector<std::string> written = target.Files();
    std::vector<std::string> stored = favorites.Files();
    for (auto& path : stored) path.replace(0, alice.home().size(), bob.home());
    EXPECT_EQ(written, stored);
}

// A project keeps its list between backups; each backup saves the favorites as they are
// then, each once, and leaves the list holding exactly those.
TEST_F(ItemDataTest, ABackupSavesTheFavoritesAsTheyAreNowEachOnce) {
    const std::string folder = alice.home() + "\\Favorites\\";
    alice.wine.writeFile(folder + "gone.url", "gone");
    alice.wine.writeFile(folder + "kept.url", "kept");
    TtsBackupProject project(alice.profile.get());
    auto& favorites = static_cast<TtsBPFavorites&>(*project.Source().ItemList().Items(1));
    ASSERT_EQ(favorites.Files().size(), 2u);
    // What a project file read on top of the collected list brought in older versions.
    favorites.Files().push_back(folder + "KEPT.URL");
    favorites.Files().push_back(folder + "gone.url");
    fs::remove(alice.host(folder + "gone.url"));
    alice.wine.writeFile(folder + "new.url", "new");

    for (int backupNumber = 0; backupNumber < 3; ++backupNumber) {
        MemoryStream data(backup(favorites));
        std::vector<std::string> now = favorites.Files();
        std::sort(now.begin(), now.end());
        EXPECT_EQ(now, (std::vector<std::string>{folder + "kept.url", folder + "new.url"}));
        auto& target = bob.item<TtsBPFavorites>(1);
        restore(target, data);
        EXPECT_EQ(target.Files().size(), 2u);
        EXPECT_FALSE(fs::exists(bob.host(bob.home() + "\\Favorites\\gone.url")));
        EXPECT_EQ(readText(bob.host(bob.home() + "\\Favorites\\new.url")), "new");
        // The project file written after the run reads back into the same list.
        MemoryStream record;
        favorites.WriteToStream(record);
        record.rewind();
        favorites.ReadFromStream(record);
        EXPECT_EQ(favorites.Files().size(), 2u);
    }
    for (const std::string& line : DebugLog::instance().lines())
        EXPECT_EQ(line.find("gone.url"), std::string::npos) << line;
}

TEST_F(ItemDataTest, PassingFavoritesOverKeepsTheirList) {
    alice.wine.writeFile(alice.home() + "\\Favorites\\a.url", "a");
    TtsBackupProject project(alice.profile.get());
    MemoryStream data(backup(*project.Source().ItemList().Items(1)));
    auto& target = bob.item<TtsBPFavorites>(1);
    target.Files() = {"mine"};
    InventorySink inventory = inventoryOf(target, data);
    EXPECT_EQ(inventory.files().size(), 1u);
    EXPECT_EQ(target.Files(), std::vector<std::string>{"mine"});
}

// --- Internet Explorer settings ---------------------------------------------------------

class IESettingsTest : public ItemDataTest {
protected:
    void SetUp() override {
        ItemDataTest::SetUp();
        RegistryHive& hive = alice.hive();
        hive.setValue(std::string(kIE) + "\\Main", RegValue::text("Start Page", REG_SZ, "http://www.example.com/"));
        hive.setValue(std::string(kIE) + "\\Main", RegValue::text("", REG_SZ, "default of Main"));
        hive.setValue(std::string(kIE) + "\\Main", RegValue::dword("Show_ToolBar", 1));
        hive.setValue(std::string(kIE) + "\\Main", RegValue::binary("Window_Placement", {1, 2, 3, 4, 5}));
        hive.setValue(std::string(kIE) + "\\Main", RegValue::binary("Empty", {}));
        hive.setValue(std::string(kIE) + "\\Main", RegValue::text("Local Page", REG_EXPAND_SZ, "%SystemRoot%\\blank.htm"));
        hive.setValue(std::string(kIE) + "\\Main", RegValue::multiText("Search", {"a", "b"}));
        hive.createKey(std::string(kIE) + "\\Empty Key");
    }

    TtsBPIESettings& settingsOf(User& user) { return user.item<TtsBPIESettings>(2); }
    static std::string mainKey() { return std::string(kIE) + "\\Main"; }
};

TEST_F(IESettingsTest, TheRecordCarriesTheTreeAndLoadingAProjectFileLeavesTheRegistryAlone) {
    MemoryStream projectFile;
    alice.project.SaveToStream(projectFile);
    std::string bytes(projectFile.bytes().begin(), projectFile.bytes().end());
    EXPECT_NE(bytes.find("\\Software\\Microsoft\\Internet Explorer\\Main"), std::string::npos);
    EXPECT_NE(bytes.find("http://www.example.com/"), std::string::npos);

    bob.hive().setValue(mainKey(), RegValue::text("Start Page", REG_SZ, "bob's page"));
    projectFile.rewind();
    EXPECT_EQ(bob.project.LoadFromStream(projectFile), projectFile.size());
    EXPECT_EQ(bob.hive().value(mainKey(), "Start Page")->asText(), "bob's page");
    EXPECT_FALSE(bob.hive().value(mainKey(), "Show_ToolBar"));
    EXPECT_FALSE(bob.hive().keyExists(std::string(kIE) + "\\Empty Key"));
}

TEST_F(IESettingsTest, TheDataIsTheRecordAsOneSectionAndRestoreWritesTheTreeFromIt) {
    auto& settings = settingsOf(alice);
    MemoryStream record;
    settings.WriteToStream(record);
    MemoryStream data(backup(settings));
    // Without a password the section holds the record unchanged: the tree is there twice
    // in a data file, once in the project stream and once here.
    int64_t length;
    std::memcpy(&length, data.bytes().data(), 8);
    ASSERT_EQ(length, record.size());
    EXPECT_TRUE(std::equal(record.bytes().begin(), record.bytes().end(), data.bytes().begin() + 8));

    // The settings change after the backup; the restore brings back the saved ones.
    alice.hive().setValue(mainKey(), RegValue::text("Start Page", REG_SZ, "changed later"));
    auto& target = settingsOf(bob);
    target.SetSelected(false);
    restore(target, data);
    EXPECT_EQ(bob.hive().value(mainKey(), "Start Page")->asText(), "http://www.example.com/");
    EXPECT_EQ(*bob.hive().value(mainKey(), ""), RegValue::text("", REG_SZ, "default of Main"));
    EXPECT_EQ(*bob.hive().value(mainKey(), "Show_ToolBar"), RegValue::dword("Show_ToolBar", 1));
    EXPECT_EQ(*bob.hive().value(mainKey(), "Window_Placement"), RegValue::binary("Window_Placement", {1, 2, 3, 4, 5}));
    EXPECT_EQ(*bob.hive().value(mainKey(), "Empty"), RegValue::binary("Empty", {}));
    EXPECT_TRUE(bob.hive().keyExists(std::string(kIE) + "\\Empty Key"));
    // The head in the data replaces the item's own.
    EXPECT_FALSE(target.Selected());
}

TEST_F(IESettingsTest, ABackupWithTheItemSelectedHoldsTheTreeTwice) {
    auto occurrences = [](const std::vector<uint8_t>& bytes, const std::string& text) {
        std::string haystack(bytes.begin(), bytes.end());
        int found = 0;
        for (size_t at = haystack.find(text); at != std::string::npos; at = haystack.find(text, at + 1)) ++found;
        return found;
    };
    test::TempDir work;
    alice.project.SetWorkFolder(work.file("work"));
    alice.project.Destination().SetLocalFolder(work.path().string());
    // The plain data stream of a backup of alice's project.
    const auto backUp = [&] {
        BackupRun(alice.project, *alice.profile, RunEvents{}, nullptr).run();
        return test::inflateFile(work.file(dataFileNameOf(alice.project.Name())));
    };
    const std::string key = "\\Software\\Microsoft\\Internet Explorer\\Main";
    EXPECT_EQ(occurrences(backUp(), key), 1);
    settingsOf(alice).SetSelected(true);
    EXPECT_EQ(occurrences(backUp(), key), 2);
    alice.usePassword("p");
    EXPECT_EQ(occurrences(backUp(), key), 1);
}

TEST_F(IESettingsTest, AnItemRestoresOnlyItsOwnKeysWhateverSinkItIsHanded) {
    // Mail data whose accounts tree holds the browser's keys instead: outside the item's own.
    MemoryStream data;
    TtsBackupRegItem browser(*alice.profile);
    browser.SetKeyPath(std::string("\\") + kIE);
    browser.WriteToStream(data);
    data.write(kKeyTreeEndMarker, sizeof kKeyTreeEndMarker);
    data.writeValue<int32_t>(0);
    data.rewind();

    DirectProfileSink sink(*bob.profile);
    EXPECT_EQ(bob.item<TtsBPOEData>(3).RestoreFromStream(data, sink), data.size());
    EXPECT_FALSE(bob.hive().value(mainKey(), "Start Page"));
    ASSERT_FALSE(sink.refused().empty());
    EXPECT_EQ(sink.refused().front().first, std::string("\\") + kIE);
    std::set<std::string> refusedKeys;
    for (const auto& [key, reason] : sink.refused()) {
        EXPECT_EQ(reason, KeyRoots::kRefusalReason) << key;
        EXPECT_TRUE(refusedKeys.insert(key).second) << key << " refused twice";
    }
    EXPECT_EQ(sink.restored().values, 0);
}

TEST_F(IESettingsTest, ExpandableAndMultiStringValuesAreNotWrittenBack) {
    bob.hive().setValue(mainKey(), RegValue::text("Local Page", REG_EXPAND_SZ, "bob's %TEMP%"));
    MemoryStream data(backup(settingsOf(alice)));
    restore(settingsOf(bob), data);
    EXPECT_EQ(*bob.hive().value(mainKey(), "Local Page"), RegValue::text("Local Page", REG_EXPAND_SZ, "bob's %TEMP%"));
    EXPECT_FALSE(bob.hive().value(mainKey(), "Search"));
}

TEST_F(IESettingsTest, APasswordEncryptsTheSectionAndTheSamePasswordRestoresIt) {
    alice.usePassword("pa\xC3\x9F");
    bob.usePassword("pa\xC3\x9F");
    MemoryStream data(backup(settingsOf(alice)));
    std::string bytes(data.bytes().begin(), data.bytes().end());
    EXPECT_EQ(bytes.find("Internet Explorer"), std::string::npos);
    restore(settingsOf(bob), data);
    EXPECT_EQ(bob.hive().value(mainKey(), "Start Page")->asText(), "http://www.example.com/");
}

TEST_F(IESettingsTest, AKeyMissingWhenTheItemWasMadeIsLookedForAgainOnWrite) {
    auto& settings = settingsOf(bob);
    ASSERT_EQ(settings.SettingsKey()->KeyPath(), "");
    bob.hive().setValue(mainKey(), RegValue::dword("Later", 7));
    MemoryStream record;
    settings.WriteToStream(record);
    std::string bytes(record.bytes().begin(), record.bytes().end());
    EXPECT_NE(bytes.find("Later"), std::string::npos);
}

TEST_F(IESettingsTest, EachOperationLogsOneLineAtItsEnd) {
    auto& settings = settingsOf(alice);
    MemoryStream data(backup(settings));
    auto lines = DebugLog::instance().lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "TtsBPSourceItem.WriteToStream(IE Settings), Result=257");
    EXPECT_EQ(lines[1], "TtsBPIESettings.WriteToStream, Result=" + std::to_string(data.size() - 8));
    EXPECT_EQ(lines[2], "TtsBPIESettings.BackupToStream, Result=" + std::to_string(data.size()));

    DebugLog::instance().clear();
    restore(settingsOf(bob), data);
    lines = DebugLog::instance().lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "TtsBPSourceItem.ReadFromStream(IE Settings), Result=257");
    EXPECT_EQ(lines[1], "TtsBPIESettings.ReadFromStream, Result=" + std::to_string(data.size() - 8));
    EXPECT_EQ(lines[2], "TtsBPIESettings.RestoreFromStream, Result=" + std::to_string(data.size()));
}

TEST_F(IESettingsTest, ARecordWithoutAProfileHoldsAnEmptyTreeAndIsReadPast) {
    TtsBackupProject noProfile;
    MemoryStream record;
    EXPECT_EQ(noProfile.Source().ItemList().Items(2)->WriteToStream(record), 257 + 6);

    MemoryStream withTree;
    settingsOf(alice).WriteToStream(withTree);
    withTree.writeValue<uint8_t>(0x5A);  // what follows the record
    withTree.rewind();
    EXPECT_EQ(noProfile.Source().ItemList().Items(2)->ReadFromStream(withTree), withTree.size() - 1);
    EXPECT_EQ(withTree.readValue<uint8_t>(), 0x5A);
}

TEST_F(IESettingsTest, ATreeCutShortIsReportedNotReadPastItsEnd) {
    MemoryStream record;
    settingsOf(alice).WriteToStream(record);
    std::vector<uint8_t> cut(record.bytes().begin(), record.bytes().end() - 3);
    MemoryStream in(cut);
    EXPECT_THROW(settingsOf(bob).ReadFromStream(in), EKeyTreeIncomplete);
}

}  // namespace
}  // namespace ts
