// A Windows user's NTUSER.DAT through our hive: hives made with hivex's write calls, read by
// us, and what we write read again by hivexregedit, which shares only the library with us.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <functional>

#include "platform/exception.h"
#include "platform/registry/registry_hive.h"
#include "support/hive_maker.h"
#include "support/read_only_mount.h"
#include "support/temp_dir.h"

namespace ts {
namespace {

using ::testing::HasSubstr;
using test::ExportedHive;
using test::HiveKey;

template <size_t N>
std::vector<uint8_t> bytes(const char (&text)[N]) {
    return {text, text + N - 1};
}

// One value of every kind the registry holds, names and data Windows allows but a careless
// reader trips on.
std::vector<HiveKey> everyKind() {
    return {
        {"Software\\Über\\日本", {RegValue::text("", REG_SZ, "default é"),
                                 RegValue::text("Path", REG_EXPAND_SZ, "%USERPROFILE%\\Favorites"),
                                 RegValue::binary("Blob", {0, 1, 0xFF, '"', '\\'}),
                                 RegValue::dword("Count", 0xDEADBEEF),
                                 RegValue::multiText("List", {"a", "bé", "日本"}),
                                 RegValue::binary("Big", bytes("12345678"), REG_QWORD),
                                 RegValue::binary("Odd", bytes("a\0b"), REG_SZ),
                                 RegValue::binary("Unknown", bytes("xyz"), 0x12345),
                                 RegValue::binary("Empty", {}, REG_NONE),
                                 RegValue::text("Quote\"And\\Slash", REG_SZ, "x")}},
        {"Software\\Empty Key", {}},
        {"Identities\\{ABC}", {RegValue::text("Username", REG_SZ, "Main Identity")}},
    };
}

ExportedHive exported(const std::vector<HiveKey>& keys) {
    ExportedHive hive;
    for (const HiveKey& key : keys) {
        hive[""];
        for (size_t start = 0; start <= key.path.size();) {
            size_t end = std::min(key.path.find('\\', start), key.path.size());
            hive[key.path.substr(0, end)];
            start = end + 1;
        }
        auto& values = hive[key.path];
        values.insert(values.end(), key.values.begin(), key.values.end());
    }
    for (auto& [path, values] : hive)
        std::sort(values.begin(), values.end(), [](const RegValue& a, const RegValue& b) { return a.name < b.name; });
    return hive;
}

ExportedHive sortedExport(const std::string& path) {
    ExportedHive hive = test::exportHive(path);
    for (auto& [key, values] : hive)
        std::sort(values.begin(), values.end(), [](const RegValue& a, const RegValue& b) { return a.name < b.name; });
    return hive;
}

class NtUserDat : public ::testing::Test {
public:  // the cases' lambdas damage the hive too
    test::TempDir dir;
    std::string hivePath = dir.file("NTUSER.DAT");

    void damage(int64_t at, uint32_t value) {
        std::vector<uint8_t> content = test::readHostFile(hivePath);
        for (int i = 0; i < 4; ++i) content.at(at + i) = static_cast<uint8_t>(value >> (8 * i));
        test::writeHostFile(hivePath, content);
    }
    uint32_t read32(int64_t at) {
        std::vector<uint8_t> content = test::readHostFile(hivePath);
        return content.at(at) | content.at(at + 1) << 8 | content.at(at + 2) << 16 | uint32_t{content.at(at + 3)} << 24;
    }
    std::string refusal() {
        try {
            RegistryHive::openNtUserDat(hivePath);
        } catch (const TsException& error) {
            return error.what();
        }
        return "(opened)";
    }
};

TEST_F(NtUserDat, TheMadeHiveHoldsWhatWasPutIn) {
    test::makeHive(hivePath, everyKind());
    EXPECT_EQ(sortedExport(hivePath), exported(everyKind()));
}

TEST_F(NtUserDat, ReadsEveryValueAsTheModelHoldsIt) {
    test::makeHive(hivePath, everyKind());
    auto hive = RegistryHive::openNtUserDat(hivePath);
    for (const HiveKey& key : everyKind())
        for (const RegValue& value : key.values) EXPECT_EQ(hive->value(key.path, value.name), value) << value.name;
    // Names as Windows compares them: without regard to case, non-ASCII letters too.
    EXPECT_EQ(hive->value("SOFTWARE\\über\\日本", "count"), RegValue::dword("Count", 0xDEADBEEF));
    EXPECT_EQ(hive->subkeyNames("software"), (std::vector<std::string>{"Empty Key", "Über"}));
    EXPECT_EQ(hive->value("Software\\Über\\日本", "Path")->asText(), "%USERPROFILE%\\Favorites");
}

TEST_F(NtUserDat, DamagedHivesAreRefusedSayingWhere) {
    struct Case {
        const char* name;
        std::function<void(NtUserDat&)> damage;
        const char* where;
    };
    const std::vector<Case> cases = {
        {"cut inside its bins", [](NtUserDat& t) { std::filesystem::resize_file(t.hivePath, 4096 + 2000); },
         "damaged at its header"},
        {"not a hive", [](NtUserDat& t) { test::writeHostFile(t.hivePath, std::string(8192, 'x')); },
         "damaged at its header"},
        {"header checksum wrong", [](NtUserDat& t) { t.damage(508, t.read32(508) ^ 1); }, "damaged at its header"},
        {"a subkey list leads back to its own key",
         [](NtUserDat& t) {
             const int64_t software = test::cellOffset(t.hivePath, "Software");
             const uint32_t list = t.read32(software + 0x20);
             t.damage(4096 + list + 8, static_cast<uint32_t>(software - 4096));
         },
         "damaged at key \"Software\""},
        {"a value claims more than any value holds",
         [](NtUserDat& t) { t.damage(test::cellOffset(t.hivePath, "Software\\Über\\日本", "Blob") + 8, 0x7FFFFF00); },
         "value \"Blob\""},
        {"a value claims more than the file holds",
         [](NtUserDat& t) { t.damage(test::cellOffset(t.hivePath, "Software\\Über\\日本", "Blob") + 8, 1 << 20); },
         "value \"Blob\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::makeHive(hivePath, everyKind());
        c.damage(*this);
        const std::string message = refusal();
        EXPECT_THAT(message, HasSubstr("is damaged at"));
        EXPECT_THAT(message, HasSubstr(c.where));
    }
}

TEST_F(NtUserDat, AHiveWindowsDidNotFinishWritingIsRefused) {
    struct Case {
        const char* name;
        std::function<void(NtUserDat&)> make;
        const char* refusal;   // nullptr: read
    };
    auto logAged = [](const char* name, const char* content, int secondsAfterHive) {
        return [=](NtUserDat& t) {
            const std::string log = t.dir.file(name);
            test::writeHostFile(log, std::string(content));
            struct stat hive {};
            ::stat(t.hivePath.c_str(), &hive);
            const timespec times[2] = {{hive.st_mtim.tv_sec + secondsAfterHive, 0}, {hive.st_mtim.tv_sec + secondsAfterHive, 0}};
            ::utimensat(AT_FDCWD, log.c_str(), times, 0);
        };
    };
    const std::vector<Case> cases = {
        {"sequence numbers differ", [](NtUserDat& t) { t.damage(8, t.read32(4) + 1); }, "sequence numbers"},
        {"a newer .LOG1", logAged("NTUSER.DAT.LOG1", "log", 60), "\"NTUSER.DAT.LOG1\""},
        {"a newer log spelt in lower case", logAged("ntuser.dat.log2", "log", 60), "\"ntuser.dat.log2\""},
        {"an older log", logAged("NTUSER.DAT.LOG", "log", -60), nullptr},
        {"a newer but empty log", logAged("NTUSER.DAT.LOG1", "", 60), nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(dir.path());
        std::filesystem::create_directory(dir.path());
        test::makeHive(hivePath, everyKind());
        c.make(*this);
        const std::string message = refusal();
        if (c.refusal) {
            EXPECT_THAT(message, HasSubstr(c.refusal));
            EXPECT_THAT(message, HasSubstr("shut it down completely"));
        } else {
            EXPECT_EQ(message, "(opened)");
        }
    }
}

TEST_F(NtUserDat, SaveReplacesTheHiveKeepingOneGenerationBeforeIt) {
    test::makeHive(hivePath, everyKind());
    const std::vector<uint8_t> original = test::readHostFile(hivePath);
    auto hive = RegistryHive::openNtUserDat(hivePath);
    hive->setValue("software\\ÜBER\\日本", RegValue::dword("count", 7));   // kept as first spelt
    hive->deleteValue("Software\\Über\\日本", "Blob");
    hive->deleteKeyTree("Identities");
    hive->setValue("Software\\Microsoft\\Internet Explorer\\Main", RegValue::text("Start Page", REG_SZ, "about:blank"));
    hive->createKey("Software\\Ünïcode ☃");
    hive->save();

    std::vector<HiveKey> expected = everyKind();
    expected.pop_back();
    auto& values = expected[0].values;
    values.erase(values.begin() + 2);
    values[2] = RegValue::dword("Count", 7);
    expected.push_back({"Software\\Microsoft\\Internet Explorer\\Main", {RegValue::text("Start Page", REG_SZ, "about:blank")}});
    expected.push_back({"Software\\Ünïcode ☃", {}});
    EXPECT_EQ(sortedExport(hivePath), exported(expected));
    EXPECT_EQ(test::readHostFile(hivePath + ".tessaly-previous"), original);

    // One generation: the next save keeps the hive the first one wrote.
    const std::vector<uint8_t> first = test::readHostFile(hivePath);
    hive->setValue("Software", RegValue::dword("Again", 1));
    hive->save();
    EXPECT_EQ(test::readHostFile(hivePath + ".tessaly-previous"), first);
    EXPECT_EQ(RegistryHive::openNtUserDat(hivePath)->value("Software", "again"), RegValue::dword("Again", 1));

    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"NTUSER.DAT", "NTUSER.DAT.tessaly-previous"}));
}

TEST_F(NtUserDat, SaveRefusesAHiveAnotherWriterReplaced) {
    test::makeHive(hivePath, everyKind());
    auto hive = RegistryHive::openNtUserDat(hivePath);
    test::makeHive(hivePath, {{"Software\\Other", {RegValue::dword("X", 1)}}});
    const std::vector<uint8_t> replaced = test::readHostFile(hivePath);
    hive->setValue("Software", RegValue::dword("Mine", 1));
    EXPECT_THROW(hive->save(), TsException);
    EXPECT_EQ(test::readHostFile(hivePath), replaced);
    EXPECT_FALSE(std::filesystem::exists(hivePath + ".tessaly-previous"));
}

TEST_F(NtUserDat, SaveRefusesAReadOnlyDisk) {
    test::TempDir mountDir;
    const std::string onDisk = mountDir.file("NTUSER.DAT");
    test::makeHive(onDisk, everyKind());
    test::ReadOnlyMount readOnly(mountDir.path().string());
    if (!readOnly.available()) GTEST_SKIP() << readOnly.why();
    auto mounted = RegistryHive::openNtUserDat(onDisk);
    mounted->setValue("Software", RegValue::dword("Mine", 1));
    try {
        mounted->save();
        ADD_FAILURE() << "saved on a read-only disk";
    } catch (const TsException& error) {
        EXPECT_THAT(error.what(), HasSubstr("mounted read-only"));
    }
}

}  // namespace
}  // namespace ts
