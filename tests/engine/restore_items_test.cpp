// The restore run over real items: a sample profile backed up and restored into another
// user's profile, with the run's status texts, cancel points and passing items over.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>

#include "engine/datafile/data_file_contents.h"
#include "engine/restore_run.h"
#include "platform/profile/profile.h"
#include "platform/registry/registry_hive.h"
#include "run_test_support.h"
#include "support/crafted_data_file.h"

namespace ts {
namespace {

namespace fs = std::filesystem;

const char* const kIeMain = "Software\\Microsoft\\Internet Explorer\\Main";

// Every file below folder with its bytes.
std::map<std::string, std::vector<uint8_t>> filesBelow(const fs::path& folder) {
    std::map<std::string, std::vector<uint8_t>> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file()) files[fs::relative(entry.path(), folder).string()] = test::readHostFile(entry.path());
    }
    return files;
}

class RestoreItemsTest : public ::testing::Test {
protected:
    RestoreItemsTest() {
        std::string command = std::string(TESSALY_SOURCE_DIR) + "/scripts/make-sample-profile '" + dir.file("alice") +
                              "' --user alice > /dev/null";
        EXPECT_EQ(std::system(command.c_str()), 0);
        source = Profile::open(dir.file("alice"), "alice");
        createProfileLayout(dir.file("bob"));
        target = Profile::open(dir.file("bob"), "bob");
        fs::create_directory(dir.path() / "out");
    }
    void TearDown() override { DebugLog::instance().clear(); }

    std::string backUp(const std::vector<std::string>& captions, bool encrypt = false) {
        TtsBackupProject project(source.get());
        project.SetName("Mail");
        project.SetWorkFolder(dir.file("work"));
        project.SetEncrypt(encrypt);
        project.SetPassword("pw");
        project.Destination().SetLocalFolder(dir.file("out"));
        for (const std::string& caption : captions) project.Source().FindItem(caption)->SetSelected(true);
        project.Backup();
        return dir.file("out/Mail.tsly_dat");
    }

    // A project on the target profile that has read the data file, as the restore dialog does.
    std::unique_ptr<TtsBackupProject> reader(const std::string& file, bool encrypt = false) {
        auto project = std::make_unique<TtsBackupProject>(target.get());
        project->SetWorkFolder(dir.file("work"));
        if (encrypt) project->SetPassword("pw");
        project->LoadFromDataFile(file);
        test::recordEvents(*project, events);
        return project;
    }

    // A run of its own, for its list of refused names.
    static std::vector<RefusedFileName> restore(TtsBackupProject& project, const std::string& file,
                                                RestoreRun::ItemFilter filter = {}) {
        RestoreRun run(project, file, project.Events(), std::move(filter));
        run.run();
        return run.refusedNames();
    }

    size_t favoritesRestored() const {
        fs::path folder = dir.path() / "bob/drive_c/users/bob/Favorites";
        if (!fs::exists(folder)) return 0;
        size_t n = 0;
        for (const auto& entry : fs::recursive_directory_iterator(folder)) n += entry.is_regular_file();
        return n;
    }

    test::TempDir dir;
    std::unique_ptr<Profile> source, target;
    test::RecordedEvents events;
};

TEST_F(RestoreItemsTest, TheItemsTheFileHoldsAreRestoredWhateverTheSelectionInMemory) {
    std::string file = backUp({"Favorites", "IE Settings"});
    auto project = reader(file);
    EXPECT_TRUE(project->Source().FindItem("Favorites")->Selected());
    EXPECT_FALSE(project->Source().FindItem("Outlook Express Data")->Selected());
    project->Source().FindItem("Favorites")->SetSelected(false);

    project->Restore(file);
    EXPECT_EQ(events.statuses, (std::vector<std::string>{"Decompress Data ...", "Restore Favorites ...",
                                                         "Restore IE Settings ..."}));
    EXPECT_EQ(events.progress, (std::vector<int>{50, 99, 100})) << "a small file is read in one block";
    EXPECT_EQ(favoritesRestored(), 5u);
    EXPECT_TRUE(target->hive().keyExists(kIeMain));
    EXPECT_FALSE(target->hive().keyExists("Identities"));
}

// Every saved file and the settings record is a section of its own; the pass phrase is
// still digested once by the backup and once by the project that restores.
TEST_F(RestoreItemsTest, AnEncryptedBackupAndRestoreDigestThePassPhraseOncePerProject) {
    const uint64_t start = SectionCodec::KeyDerivations();
    std::string file = backUp({"Windows Address Book", "Favorites", "IE Settings", "Outlook Express Data"}, true);
    EXPECT_EQ(SectionCodec::KeyDerivations() - start, 1u);

    auto project = reader(file, true);
    project->Restore(file);
    EXPECT_GT(favoritesRestored(), 1u);
    EXPECT_EQ(SectionCodec::KeyDerivations() - start, 2u);
}

TEST_F(RestoreItemsTest, ACancelDuringAnItemLeavesTheProfileAsItWas) {
    std::string file = backUp({"Favorites", "IE Settings"});
    auto before = filesBelow(dir.path() / "bob");
    auto project = reader(file);
    project->SetOnStatus([&](const std::string& text) {
        events.statuses.push_back(text);
        if (text == "Restore Favorites ...") project->Cancel();
    });
    project->Restore(file);
    EXPECT_TRUE(filesBelow(dir.path() / "bob") == before) << "no file, temporary or not, is left";
    EXPECT_FALSE(target->hive().keyExists(kIeMain));
    EXPECT_EQ(events.statuses.back(), "Restore Favorites ...");
    EXPECT_TRUE(test::logHas("-Restore Cancelled-"));
    EXPECT_FALSE(test::logHas("-Restore Finished-"));
}

TEST_F(RestoreItemsTest, ItemsPassedOverAreReadButNotWrittenAndTheRestStaysAligned) {
    std::string file = backUp({"Windows Address Book", "Favorites", "IE Settings", "Outlook Express Data"}, true);
    auto project = reader(file, true);
    project->Restore(file, [](const TtsBPSourceItem& item) {
        return item.Caption() == "IE Settings" || item.Caption() == "Outlook Express Data";
    });
    EXPECT_EQ(favoritesRestored(), 0u);
    EXPECT_FALSE(fs::exists(dir.path() / "bob/drive_c/users/bob/AppData/Roaming/Microsoft/Address Book"));
    EXPECT_TRUE(target->hive().keyExists(kIeMain));
    EXPECT_EQ(target->hive().value(kIeMain, "Start Page")->asText(),
              source->hive().value(kIeMain, "Start Page")->asText());
    EXPECT_TRUE(fs::exists(dir.path() / "bob/drive_c/users/bob/AppData/Local/Identities"));
    EXPECT_EQ(events.statuses, (std::vector<std::string>{"Decompress Data ...", "Skip Windows Address Book ...",
                                                         "Skip Favorites ...", "Restore IE Settings ...",
                                                         "Restore Outlook Express Data ..."}));
}

TEST_F(RestoreItemsTest, InspectionListsWhatEachStoredItemHoldsWithoutWritingIt) {
    std::string file = backUp({"Favorites", "Outlook Express Data"}, true);
    TtsBackupProject project(target.get());  // stored names are expanded for some user
    project.SetPassword("pw");
    DataFileContents contents;
    project.InspectDataFile(file, contents);
    ASSERT_TRUE(contents.complete);
    EXPECT_TRUE(contents.header.Encrypt);
    EXPECT_EQ(contents.items[1].inventory.files().size(), 5u);
    EXPECT_TRUE(contents.items[3].read);
    EXPECT_GT(contents.items[3].inventory.files().size(), 10u);
    EXPECT_EQ(contents.items[3].inventory.keys().front().path, "\\Software\\Microsoft\\Internet Account Manager");
    EXPECT_FALSE(contents.items[0].stored);
    EXPECT_EQ(favoritesRestored(), 0u);

    TtsBackupProject wrong(target.get());
    wrong.SetPassword("nope");
    EXPECT_THROW(wrong.InspectDataFile(file, contents), EFileEncrypted);
    EXPECT_FALSE(contents.projectRead);
}

TEST_F(RestoreItemsTest, TheRunReportsEveryStoredNameItRefusedAndWritesNothingForThem) {
    const std::string escape = "[CSIDL_APPDATA]\\..\\..\\..\\.bashrc";
    const std::string book = "drive_c/users/bob/AppData/Roaming/Microsoft/Address Book/bob.wab";
    for (bool encrypt : {false, true}) {
        SCOPED_TRACE(encrypt ? "encrypted" : "plain");
        const std::string file = dir.file("out/crafted.tsly_dat");
        test::writeCraftedDataFile(file,
                                   {{escape, "evil"},
                                    {"<file error>", ""},
                                    {"[CSIDL_APPDATA]\\Microsoft\\Address Book\\bob.wab", "book"},
                                    {"notes.txt", "loose"}},
                                   encrypt ? std::optional<std::string>("pw") : std::nullopt);
        auto before = filesBelow(dir.path() / "bob");
        auto project = reader(file, encrypt);
        std::vector<RefusedFileName> refused = restore(*project, file);

        ASSERT_EQ(refused.size(), 2u);
        EXPECT_EQ(refused[0].storedName, escape);
        EXPECT_EQ(refused[0].reason, "it holds a \".\" or \"..\" segment");
        EXPECT_EQ(refused[1].storedName, "notes.txt");
        EXPECT_EQ(refused[1].reason, "it names no folder");
        EXPECT_TRUE(test::logHas("Restore: 2 saved file names refused"));
        auto after = filesBelow(dir.path() / "bob");
        ASSERT_EQ(after.count(book), 1u);
        EXPECT_EQ(after[book], (std::vector<uint8_t>{'b', 'o', 'o', 'k'}));
        after.erase(book);
        EXPECT_TRUE(after == before) << "only the one safe file is written";

        // Each run reports its own refusals; an item passed over writes and refuses nothing.
        EXPECT_TRUE(restore(*project, file, [](const TtsBPSourceItem&) { return false; }).empty());
        EXPECT_EQ(restore(*project, file).size(), 2u);
        fs::remove(dir.path() / "bob" / book);
    }
}

// A run reads each folder once; two stored names that differ only in case must still land
// on one file, as on Windows, though the first did not exist when the folder was read. The
// first is written and the second refused and named, so nothing is replaced unnoticed.
TEST_F(RestoreItemsTest, NamesThatDifferOnlyInCaseLandOnOneFile) {
    const std::string file = dir.file("out/crafted.tsly_dat");
    test::writeCraftedDataFile(file, {{"[CSIDL_APPDATA]\\Microsoft\\Address Book\\Case.wab", "first"},
                                      {"[CSIDL_APPDATA]\\MICROSOFT\\address book\\CASE.WAB", "second"}});
    auto project = reader(file);
    EXPECT_EQ(restore(*project, file).size(), 1u);
    auto written = filesBelow(dir.path() / "bob" / "drive_c");
    const std::string book = "users/bob/AppData/Roaming/Microsoft/Address Book/Case.wab";
    ASSERT_EQ(written.count(book), 1u);
    EXPECT_EQ(written[book], (std::vector<uint8_t>{'f', 'i', 'r', 's', 't'}));
    written.erase(book);
    written.erase("ts_debug.log");
    EXPECT_TRUE(written.empty()) << written.begin()->first;
}

// Damage near the end is met only after every item was read: every target keeps its old
// bytes and user.reg stays as it was.
TEST_F(RestoreItemsTest, ADamagedEndLeavesEveryTargetAndTheRegistryAsTheyWere) {
    const std::vector<std::string> all = {"Windows Address Book", "Favorites", "IE Settings", "Outlook Express Data"};
    const std::string good = backUp(all);
    reader(good)->Restore(good);
    // Old contents that differ from what the data file holds.
    for (const auto& entry : fs::recursive_directory_iterator(dir.path() / "bob/drive_c"))
        if (entry.is_regular_file()) test::writeHostFile(entry.path().string(), std::vector<uint8_t>{'o', 'l', 'd'});
    target->hive().deleteKeyTree(kIeMain);
    target->hive().save();

    struct Case {
        bool encrypt;
        double at;  // where a bit flips, as a share of the compressed bytes; 1 cuts the checksum off
    };
    for (const Case& c : {Case{false, 0.80}, Case{false, 0.97}, Case{true, 0.85}, Case{true, 0.99}, Case{false, 1}}) {
        SCOPED_TRACE(std::string(c.encrypt ? "encrypted" : "plain") + " at " + std::to_string(c.at));
        const std::string file = backUp(all, c.encrypt);
        std::vector<uint8_t> bytes = test::readHostFile(file);
        if (c.at >= 1)
            bytes.resize(bytes.size() - 4);
        else
            bytes[static_cast<size_t>(c.at * static_cast<double>(bytes.size()))] ^= 0x10;
        test::writeHostFile(file, bytes);
        const auto before = filesBelow(dir.path() / "bob");
        auto project = reader(file, c.encrypt);
        EXPECT_THROW(project->Restore(file), TsException);
        EXPECT_TRUE(filesBelow(dir.path() / "bob") == before);
        EXPECT_FALSE(RegistryHive::openUserReg(dir.file("bob/user.reg"), dir.file("bob"))->keyExists(kIeMain));
    }
}

}  // namespace
}  // namespace ts
