// The hive's contract, the same in memory, over user.reg and over NTUSER.DAT: names match without regard to
// case and keep their first case, subkeys list in Wine's order, values in stored order; and
// a file hive never writes while a Wine server runs for its prefix.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include <malloc.h>

#include "platform/exception.h"
#include "platform/registry/registry_hive.h"
#include "platform/registry/wine_server_check.h"
#include "support/hive_maker.h"
#include "support/temp_dir.h"

namespace ts {
namespace {

using test::TempDir;

enum class HiveKind { InMemory, UserReg, NtUserDat };

class HiveKinds : public ::testing::TestWithParam<HiveKind> {
protected:
    void SetUp() override {
        if (GetParam() == HiveKind::UserReg) test::writeHostFile(dir.file("user.reg"), "WINE REGISTRY Version 2\n");
        if (GetParam() == HiveKind::NtUserDat) test::makeHive(dir.file("NTUSER.DAT"), {});
        hive = open();
    }
    std::unique_ptr<RegistryHive> open() {
        switch (GetParam()) {
            case HiveKind::InMemory: return RegistryHive::inMemory();
            case HiveKind::UserReg: return RegistryHive::openUserReg(dir.file("user.reg"), dir.path().string());
            case HiveKind::NtUserDat: return RegistryHive::openNtUserDat(dir.file("NTUSER.DAT"));
        }
        return nullptr;
    }
    // For a file hive: what a fresh load of the saved file sees.
    RegistryHive& reloaded() {
        if (GetParam() == HiveKind::InMemory) return *hive;
        hive->save();
        hive = open();
        return *hive;
    }
    TempDir dir;
    std::unique_ptr<RegistryHive> hive;
};

TEST_P(HiveKinds, NamesMatchWithoutRegardToCaseAndKeepTheirFirstCase) {
    hive->createKey("\\Software\\MyApp\\");
    hive->setValue("SOFTWARE\\myapp", RegValue::text("Name", REG_SZ, "one"));
    hive->setValue("software\\MYAPP", RegValue::text("NAME", REG_SZ, "two"));
    hive->setValue("Software\\\xc3\x89t\xc3\xa9", RegValue::dword("x", 1));
    RegistryHive& h = reloaded();
    EXPECT_EQ(h.subkeyNames("software"), (std::vector<std::string>{"MyApp", "\xc3\x89t\xc3\xa9"}));
    EXPECT_EQ(h.valueNames("Software\\MyApp"), std::vector<std::string>{"Name"});
    EXPECT_EQ(h.value("software\\myapp", "name")->asText(), "two");
    EXPECT_TRUE(h.keyExists("SOFTWARE\\\xc3\xa9T\xc3\x89")) << "non-ASCII letters fold too";
    EXPECT_FALSE(h.keyExists("Software\\MyApp\\Missing"));
    EXPECT_TRUE(h.keyExists("")) << "the root";
}

TEST_P(HiveKinds, SubkeysListInWinesOrderValuesInStoredOrder) {
    for (const char* name : {"zeta", "Alpha", "_under", "beta", "10", "9", "[brk]", "B2"})
        hive->createKey(std::string("K\\") + name);
    for (const char* name : {"zeta", "Alpha", "_under", "beta", "", "@"})
        hive->setValue("K", RegValue::dword(name, 1));
    hive->setValue("K", RegValue::dword("alpha", 2));   // replaces in place
    RegistryHive& h = reloaded();
    EXPECT_EQ(h.subkeyNames("k"), (std::vector<std::string>{"10", "9", "[brk]", "_under", "Alpha", "B2", "beta", "zeta"}));
    EXPECT_EQ(h.valueNames("k"), (std::vector<std::string>{"zeta", "Alpha", "_under", "beta", "", "@"}));
    h.setValue("K", RegValue::dword("new", 3));
    EXPECT_EQ(h.valueNames("k").back(), "new");
}

TEST_P(HiveKinds, DeletionsReachEveryLevel) {
    hive->setValue("A\\B\\C", RegValue::dword("v", 1));
    hive->setValue("A", RegValue::dword("keep", 1));
    hive->setValue("A", RegValue::dword("drop", 1));
    EXPECT_TRUE(hive->deleteValue("a", "DROP"));
    EXPECT_FALSE(hive->deleteValue("a", "DROP"));
    EXPECT_TRUE(hive->deleteKeyTree("a\\b"));
    EXPECT_FALSE(hive->deleteKeyTree("a\\b"));
    EXPECT_FALSE(hive->deleteKeyTree("")) << "the root stays";
    RegistryHive& h = reloaded();
    EXPECT_FALSE(h.keyExists("A\\B"));
    EXPECT_EQ(h.valueNames("A"), std::vector<std::string>{"keep"});
    EXPECT_TRUE(h.subkeyNames("A").empty());
    EXPECT_TRUE(h.keyExists("A")) << "a key left without values or subkeys is still written";
}

TEST_P(HiveKinds, AKeyOfManyValuesFindsEachByAnyCaseAfterDeletions) {
    for (int i = 0; i < 40; ++i) hive->setValue("Many", RegValue::dword("Value" + std::to_string(i), i));
    hive->deleteValue("many", "VALUE3");
    hive->setValue("MANY", RegValue::dword("value7", 700));
    RegistryHive& h = reloaded();
    ASSERT_EQ(h.valueNames("Many").size(), 39u);
    EXPECT_EQ(h.valueNames("Many")[3], "Value4") << "the stored order closes up";
    EXPECT_FALSE(h.value("Many", "value3"));
    for (int i : {0, 4, 8, 9, 39}) EXPECT_EQ(h.value("many", "VALUE" + std::to_string(i)), RegValue::dword("Value" + std::to_string(i), i));
    EXPECT_EQ(h.value("Many", "Value7"), RegValue::dword("Value7", 700)) << "the first case stays";
}

TEST_P(HiveKinds, TwoThreadsCanShareAHive) {
    auto work = [&](const std::string& key) {
        for (uint32_t i = 0; i < 300; ++i) {
            hive->setValue(key, RegValue::dword("v" + std::to_string(i), i));
            hive->subkeyNames("");
            hive->value(key, "v0");
        }
    };
    std::thread first(work, "One");
    std::thread second(work, "Two");
    first.join();
    second.join();
    RegistryHive& h = reloaded();
    EXPECT_EQ(h.valueNames("One").size(), 300u);
    EXPECT_EQ(h.valueNames("Two").size(), 300u);
}

std::string kindName(const ::testing::TestParamInfo<HiveKind>& info) {
    switch (info.param) {
        case HiveKind::InMemory: return "InMemory";
        case HiveKind::UserReg: return "UserReg";
        case HiveKind::NtUserDat: return "NtUserDat";
    }
    return "";
}
INSTANTIATE_TEST_SUITE_P(EveryKind, HiveKinds,
                         ::testing::Values(HiveKind::InMemory, HiveKind::UserReg, HiveKind::NtUserDat), kindName);

// Two hives on one user.reg, as two processes would hold it: each loads, changes and saves
// in turn, and neither loses what the other saved in between.
TEST(TwoWriters, InterleavedSavesKeepBothSetsOfChanges) {
    TempDir dir;
    const std::string path = dir.file("user.reg");
    test::writeHostFile(path,
                        "WINE REGISTRY Version 2\n\n[Shared] 1\n\"keep\"=\"1\"\n\"drop by a\"=\"1\"\n"
                        "\"drop by b\"=\"1\"\n\n[Old\\\\Tree] 1\n\"x\"=dword:00000001\n");
    auto a = RegistryHive::openUserReg(path, dir.path().string());
    auto b = RegistryHive::openUserReg(path, dir.path().string());
    a->setValue("Shared", RegValue::dword("from a", 1));
    a->deleteValue("Shared", "drop by a");
    b->setValue("Shared", RegValue::dword("from b", 2));
    b->deleteValue("Shared", "drop by b");
    b->deleteKeyTree("Old");
    a->createKey("A\\Empty");
    a->save();
    b->createKey("B\\Empty");
    b->save();
    a->setValue("Shared", RegValue::dword("from a again", 3));  // a's second save: b's file is newer
    a->save();

    auto merged = RegistryHive::openUserReg(path, dir.path().string());
    std::vector<std::string> names = merged->valueNames("Shared");
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"from a", "from a again", "from b", "keep"}));
    EXPECT_EQ(merged->value("Shared", "from b"), RegValue::dword("from b", 2));
    EXPECT_FALSE(merged->keyExists("Old"));
    EXPECT_TRUE(merged->keyExists("A\\Empty"));
    EXPECT_TRUE(merged->keyExists("B\\Empty"));
}

// A change that keeps the file's size, saved within the same clock tick as far as the file
// system shows: only the content tells it apart.
TEST(TwoWriters, AChangeOfTheSameSizeAndTimeIsFoundByItsContent) {
    TempDir dir;
    const std::string path = dir.file("user.reg");
    test::writeHostFile(path, "WINE REGISTRY Version 2\n\n[K] 1\n\"v\"=\"a\"\n");
    const auto stamp = std::filesystem::last_write_time(path);
    auto ours = RegistryHive::openUserReg(path, dir.path().string());
    test::writeHostFile(path, "WINE REGISTRY Version 2\n\n[K] 1\n\"v\"=\"b\"\n");
    std::filesystem::last_write_time(path, stamp);

    ours->setValue("K", RegValue::dword("w", 1));
    ours->save();
    auto merged = RegistryHive::openUserReg(path, dir.path().string());
    EXPECT_EQ(merged->value("K", "v"), RegValue::text("v", REG_SZ, "b"));
    EXPECT_EQ(merged->value("K", "w"), RegValue::dword("w", 1));
}

#if defined(__SANITIZE_ADDRESS__)
// The sanitizer's allocator keeps its own count; GCC ships no header for it.
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

size_t heapBytesInUse() {
#if defined(__SANITIZE_ADDRESS__)
    return __sanitizer_get_current_allocated_bytes();
#else
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
#endif
}

// A user.reg grows with years of use to tens of MiB; the hive must hold it in a small
// multiple of its size, before and after a save, or a restore runs out of memory.
TEST(LargeHive, IsHeldInASmallMultipleOfItsSizeBeforeAndAfterASave) {
    TempDir dir;
    std::string text = "WINE REGISTRY Version 2\n";
    for (int n = 0; text.size() < (size_t{4} << 20); ++n) {
        const std::string i = std::to_string(n);
        text += "\n[Software\\\\Large\\\\Group" + std::to_string(n / 1000) + "\\\\Key" + i + "] 1700000000\n#time=1d9f0c3a1b2c3d4\n" +
                "\"Name\"=\"Entry number " + i + " of many\"\n\"Path\"=str(2):\"%USERPROFILE%\\\\Large\\\\" + i + "\"\n" +
                "\"Count\"=dword:0000002a\n\"Blob\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,\\\n  14,15,16,17\n";
    }
    test::writeHostFile(dir.file("user.reg"), text);
    const size_t before = heapBytesInUse();
    auto hive = RegistryHive::openUserReg(dir.file("user.reg"), dir.path().string());
    EXPECT_LT(heapBytesInUse() - before, 3 * text.size()) << "held after reading";
    EXPECT_EQ(hive->value("software\\large\\group1\\key1234", "path")->asText(), "%USERPROFILE%\\Large\\1234");

    hive->setValue("Software\\Large\\Group0\\Key7", RegValue::text("Name", REG_SZ, "changed"));
    hive->save();
    EXPECT_LT(heapBytesInUse() - before, 3 * text.size()) << "held after saving";
    EXPECT_EQ(RegistryHive::openUserReg(dir.file("user.reg"), dir.path().string())
                  ->value("Software\\Large\\Group0\\Key7", "Name")->asText(),
              "changed");
}

TEST(RegValueTest, BuildsWindowsData) {
    EXPECT_EQ(RegValue::text("n", REG_SZ, "a\xc3\xa9").data, (std::vector<uint8_t>{'a', 0, 0xe9, 0, 0, 0}));
    EXPECT_EQ(RegValue::dword("n", 0x01020304).data, (std::vector<uint8_t>{4, 3, 2, 1}));
    EXPECT_EQ(RegValue::multiText("n", {"a", "b"}).data, (std::vector<uint8_t>{'a', 0, 0, 0, 'b', 0, 0, 0, 0, 0}));
    EXPECT_EQ(RegValue::binary("n", {'a', 0, 0, 0, 'b', 0}, REG_MULTI_SZ).asText(), "a");
    EXPECT_EQ(RegValue::binary("n", {'a', 0, 'b'}, REG_SZ).asText(), "a") << "no NUL; the odd byte is no unit";
    EXPECT_EQ(RegValue::binary("n", {'a', 0}).asText(), "") << "not a string type";
}

// A lock file laid out as a running server keeps it: an open-file-description lock, which
// conflicts with a query from this very process.
class HeldServerLock {
public:
    explicit HeldServerLock(const std::filesystem::path& serverDir) {
        std::filesystem::create_directories(serverDir);
        fd_ = ::open((serverDir / "lock").c_str(), O_RDWR | O_CREAT, 0600);
        struct flock lock {};
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        lock.l_len = 1;
        EXPECT_EQ(::fcntl(fd_, F_OFD_SETLK, &lock), 0);
    }
    ~HeldServerLock() { ::close(fd_); }

private:
    int fd_;
};

std::string serverDirName(const std::filesystem::path& prefix) {
    struct stat st {};
    ::stat(prefix.c_str(), &st);
    char name[64];
    std::snprintf(name, sizeof name, "server-%llx-%llx", static_cast<unsigned long long>(st.st_dev),
                  static_cast<unsigned long long>(st.st_ino));
    return name;
}

TEST(WineServerCheck, FindsTheLockInUpstreamsAndDebiansPlaces) {
    TempDir tmp;
    std::filesystem::path prefix = tmp.path() / "prefix";
    std::filesystem::create_directory(prefix);
    WineServerSearch search{(tmp.path() / "up").string(), (tmp.path() / "deb").string(), false};
    EXPECT_FALSE(findRunningWineServer(prefix.string(), search));

    std::filesystem::path upstreamDir = tmp.path() / "up" / (".wine-" + std::to_string(::getuid())) / serverDirName(prefix);
    {
        HeldServerLock lock(upstreamDir);
        auto server = findRunningWineServer(prefix.string(), search);
        ASSERT_TRUE(server);
        EXPECT_EQ(server->evidence, (upstreamDir / "lock").string());
    }
    EXPECT_FALSE(findRunningWineServer(prefix.string(), search)) << "a lock file left unlocked means no server";

    test::writeHostFile((prefix / "wineserver").string(), "wine-7VGzfQ");
    std::filesystem::path debianDir = tmp.path() / "deb" / "wine-7VGzfQ" / serverDirName(prefix);
    HeldServerLock lock(debianDir);
    auto server = findRunningWineServer(prefix.string(), search);
    ASSERT_TRUE(server);
    EXPECT_EQ(server->evidence, (debianDir / "lock").string());
}

TEST(WineServerCheck, AFileHiveReadsButWillNotWriteWhileTheServerRuns) {
    TempDir tmp;
    std::filesystem::path prefix = tmp.path() / "prefix";
    std::filesystem::create_directory(prefix);
    std::string userReg = (prefix / "user.reg").string();
    const std::string original = "WINE REGISTRY Version 2\n\n[A] 1\n\"x\"=\"y\"\n";
    test::writeHostFile(userReg, original);
    test::writeHostFile((prefix / "wineserver").string(), "wine-test");
    const char* oldTmpdir = std::getenv("TMPDIR");
    std::string savedTmpdir = oldTmpdir ? oldTmpdir : "";
    ::setenv("TMPDIR", tmp.path().c_str(), 1);

    auto lock = std::make_unique<HeldServerLock>(tmp.path() / "wine-test" / serverDirName(prefix));
    auto hive = RegistryHive::openUserReg(userReg, prefix.string());
    EXPECT_EQ(hive->value("A", "x")->asText(), "y");
    hive->setValue("A", RegValue::dword("n", 1));
    try {
        hive->save();
        ADD_FAILURE() << "saved while the server runs";
    } catch (const TsException& error) {
        std::string message = error.what();
        EXPECT_NE(message.find(prefix.string()), std::string::npos) << message;
        EXPECT_NE(message.find("close the programs running in it, or run `wineserver -k`"), std::string::npos) << message;
    }
    auto bytes = test::readHostFile(userReg);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), original);

    lock.reset();
    hive->save();
    bytes = test::readHostFile(userReg);
    EXPECT_NE(std::string(bytes.begin(), bytes.end()).find("\"n\"=dword:00000001"), std::string::npos);
    if (oldTmpdir) ::setenv("TMPDIR", savedTmpdir.c_str(), 1);
    else ::unsetenv("TMPDIR");
}

}  // namespace
}  // namespace ts
