// Each item of a realistic profile backed up and restored for another user, with and without
// a password: every file byte-identical at its new place, every string, integer and binary
// value equal, other values left out.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/project.h"
#include "items/capture/profile_restore_sink.h"
#include "items/kinds/favorites.h"
#include "platform/profile/profile.h"
#include "platform/registry/registry_hive.h"
#include "support/temp_dir.h"
#include "support/wine_profile.h"

namespace ts {
namespace {

namespace fs = std::filesystem;

const std::vector<std::string> kSavedKeys = {"Software\\Microsoft\\Internet Account Manager", "Identities",
                                             "Software\\Microsoft\\Internet Explorer"};

bool writtenBack(uint32_t type) { return type == REG_SZ || type == REG_DWORD || type == REG_BINARY; }

struct Counts {
    int keys = 0, valuesWritten = 0, valuesLeftOut = 0, files = 0;
};

void compareKey(const RegistryHive& from, const RegistryHive& to, const std::string& key, Counts& counts) {
    ASSERT_TRUE(to.keyExists(key)) << key;
    ++counts.keys;
    for (const auto& name : from.valueNames(key)) {
        RegValue original = *from.value(key, name);
        auto restored = to.value(key, name);
        if (!writtenBack(original.type)) {
            EXPECT_FALSE(restored) << key << " / " << name;
            ++counts.valuesLeftOut;
            continue;
        }
        ASSERT_TRUE(restored) << key << " / " << name;
        EXPECT_EQ(restored->type, original.type) << key << " / " << name;
        if (original.type == REG_SZ)
            EXPECT_EQ(restored->asText(), original.asText()) << key << " / " << name;
        else
            EXPECT_EQ(restored->data, original.data) << key << " / " << name;
        ++counts.valuesWritten;
    }
    for (const auto& sub : from.subkeyNames(key)) compareKey(from, to, key + "\\" + sub, counts);
}

// Every file below fromRoot (those ending in suffix) is at the same place below toRoot.
void compareFiles(const fs::path& fromRoot, const fs::path& toRoot, const std::string& suffix, Counts& counts) {
    for (const auto& entry : fs::recursive_directory_iterator(fromRoot)) {
        if (!entry.is_regular_file()) continue;
        const fs::path relative = fs::relative(entry.path(), fromRoot);
        const bool saved = entry.path().string().ends_with(suffix);
        EXPECT_EQ(fs::exists(toRoot / relative), saved) << relative;
        if (!saved) continue;
        EXPECT_EQ(test::readHostFile((toRoot / relative).string()), test::readHostFile(entry.path().string()))
            << relative;
        ++counts.files;
    }
}

class ItemRoundTripTest : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        const std::string command = "/usr/bin/python3 " + std::string(TESSALY_SOURCE_DIR) +
                                    "/scripts/make-sample-profile " + sample.path().string() +
                                    " --user alice > /dev/null";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
        alice = Profile::open(sample.path().string(), "alice");
        bob = bobPrefix.open();
    }

    fs::path aliceHome() const { return sample.path() / "drive_c/users/alice"; }
    fs::path bobHome() const { return fs::path(bobPrefix.driveC()) / "users/bob"; }

    test::TempDir sample;
    test::WineProfile bobPrefix{{.userName = "bob"}};
    std::unique_ptr<Profile> alice;
    std::unique_ptr<Profile> bob;
};

TEST_P(ItemRoundTripTest, EveryItemRestoresForAnotherUser) {
    const std::string password = GetParam();
    TtsBackupProject source(alice.get());
    TtsBackupProject target(bob.get());
    for (TtsBackupProject* project : {&source, &target}) {
        project->SetEncrypt(!password.empty());
        project->SetPassword(password);
    }
    auto& favorites = static_cast<TtsBPFavorites&>(*source.Source().ItemList().Items(1));
    ASSERT_EQ(favorites.Files().size(), 5u);

    MemoryStream data;
    int64_t written = 0;
    for (TtsBPSourceItem* item : source.Source().ItemList()) written += item->BackupToStream(data);
    EXPECT_EQ(written, data.size());

    data.rewind();
    int64_t read = 0;
    DirectProfileSink intoBob(*bob);
    for (TtsBPSourceItem* item : target.Source().ItemList()) read += item->RestoreFromStream(data, intoBob);
    EXPECT_EQ(read, data.size());

    Counts counts;
    for (const auto& key : kSavedKeys) compareKey(alice->hive(), bob->hive(), key, counts);
    EXPECT_GE(counts.keys, 20);
    EXPECT_GE(counts.valuesWritten, 50);
    EXPECT_GE(counts.valuesLeftOut, 5);  // store roots, local page, search URLs, 64-bit and big-endian values

    compareFiles(aliceHome() / "AppData/Local/Identities", bobHome() / "AppData/Local/Identities", "", counts);
    compareFiles(aliceHome() / "AppData/Roaming/Microsoft/Address Book",
                 bobHome() / "AppData/Roaming/Microsoft/Address Book", "", counts);
    compareFiles(aliceHome() / "Favorites", bobHome() / "Favorites", ".url", counts);
    EXPECT_EQ(counts.files, 2 * 10 + 2 + 5);

    // Bob's list of favorites is where they went.
    auto& restored = static_cast<TtsBPFavorites&>(*target.Source().ItemList().Items(1));
    ASSERT_EQ(restored.Files().size(), 5u);
    for (const auto& path : restored.Files()) EXPECT_EQ(path.rfind("C:\\users\\bob\\Favorites\\", 0), 0u) << path;
}

INSTANTIATE_TEST_SUITE_P(Passwords, ItemRoundTripTest, ::testing::Values("", "Geheimnis \xC3\xA4\xC3\xB6\xC3\xBC"),
                         [](const auto& info) { return std::string(info.param).empty() ? "Plain" : "Encrypted"; });

}  // namespace
}  // namespace ts
