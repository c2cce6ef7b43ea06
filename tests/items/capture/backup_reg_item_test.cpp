// Key trees: the exact bytes of a capture, replay into a profile's hive and into an
// inventory, and damaged or awkward input.
#include "items/capture/backup_reg_item.h"

#include <gtest/gtest.h>

#include <map>

#include <cstring>
#include <string>
#include <vector>

#include "items/capture/inventory_sink.h"
#include "items/capture/profile_restore_sink.h"
#include "platform/profile/profile.h"
#include "platform/registry/registry_hive.h"
#include "platform/registry/registry_limits.h"
#include "support/temp_dir.h"
#include "platform/debug_log.h"

namespace ts {
namespace {

using Bytes = std::vector<uint8_t>;

// The key tree's pieces, built by hand to compare with what capture writes.
class TreeBytes {
public:
    TreeBytes& str(std::string_view text) {
        bytes_.insert(bytes_.end(), text.begin(), text.end());
        bytes_.push_back(0);
        return *this;
    }
    TreeBytes& end() { return str("(end)"); }
    TreeBytes& entry(std::string_view name, uint8_t type, int32_t size) {
        str(name);
        bytes_.push_back(type);
        return raw(&size, 4);
    }
    TreeBytes& raw(const void* data, size_t count) {
        auto* p = static_cast<const uint8_t*>(data);
        bytes_.insert(bytes_.end(), p, p + count);
        return *this;
    }
    const Bytes& bytes() const { return bytes_; }

private:
    Bytes bytes_;
};

class InMemoryProfile {
public:
    InMemoryProfile() : profile(dir.path().string(), RegistryHive::inMemory(), "alice") {}
    RegistryHive& hive() { return profile.hive(); }

    test::TempDir dir;
    Profile profile;
};

class BackupRegItemTest : public ::testing::Test {
protected:
    void SetUp() override { DebugLog::instance().clear(); }
    void TearDown() override { DebugLog::instance().clear(); }

    Bytes capture(const std::string& keyPath) {
        TtsBackupRegItem item(source.profile);
        item.SetKeyPath(keyPath);
        MemoryStream out;
        const int32_t written = item.WriteToStream(out);
        EXPECT_EQ(written, out.size());
        return out.takeBytes();
    }
    int32_t replayInto(InMemoryProfile& target, const Bytes& tree) {
        TtsBackupRegItem item(target.profile);
        MemoryStream in(tree);
        int32_t read = item.ReadFromStream(in);
        EXPECT_EQ(read, in.position());
        return read;
    }

    InMemoryProfile source;
    InMemoryProfile target;
};

TEST_F(BackupRegItemTest, CapturesKeysInPreOrderWithValuesAndEndMarkers) {
    RegistryHive& hive = source.hive();
    hive.setValue("A", RegValue::text("", REG_SZ, "x"));
    hive.setValue("A", RegValue::dword("n", 5));
    hive.setValue("A\\B", RegValue::binary("bin", {1, 2}));
    hive.createKey("A\\B\\C");
    hive.createKey("A\\D");

    const uint32_t five = 5;
    const uint8_t bin[] = {1, 2};
    TreeBytes expected;
    expected.str("\\A").entry("", 1, 2).str("x").entry("n", 3, 4).raw(&five, 4).end();
    expected.str("\\A\\B").entry("bin", 4, 2).raw(bin, 2).end();
    expected.str("\\A\\B\\C").end();
    expected.str("\\A\\D").end();
    expected.end();
    EXPECT_EQ(capture("\\A"), expected.bytes());
}

TEST_F(BackupRegItemTest, AKeyWithoutValuesOrSubkeysIsItsPathAndOneEndMarker) {
    source.hive().createKey("Empty");
    EXPECT_EQ(capture("\\Empty"), TreeBytes().str("\\Empty").end().end().bytes());
}

TEST_F(BackupRegItemTest, AMissingKeyIsCheckedWhenSetAndAKeyGoneLaterSavesOnlyTheFinalMarker) {
    TtsBackupRegItem item(source.profile);
    item.SetKeyPath("\\Missing");
    EXPECT_EQ(item.KeyPath(), "");
    source.hive().createKey("Missing");
    EXPECT_EQ(capture("\\Missing").size(), 21u);

    item.SetKeyPath("\\Missing");
    EXPECT_EQ(item.KeyPath(), "\\Missing");
    source.hive().deleteKeyTree("Missing");
    MemoryStream out;
    EXPECT_EQ(item.WriteToStream(out), 6);
    EXPECT_EQ(out.bytes(), TreeBytes().end().bytes());
}

TEST_F(BackupRegItemTest, AssignTakesTheKeyPathAndRootOfAnotherTreeOnly) {
    source.hive().createKey("K");
    TtsBackupRegItem from(source.profile), to(source.profile);
    from.SetKeyPath("\\K");
    to.Assign(from);
    EXPECT_EQ(to.KeyPath(), "\\K");
    EXPECT_EQ(to.RootKey(), HKEY_CURRENT_USER);
}

TEST_F(BackupRegItemTest, ReplayMergesValuesAndCreatesTheMissingPath) {
    RegistryHive& hive = source.hive();
    hive.setValue("Software\\Tree", RegValue::text("", REG_SZ, "default"));
    hive.setValue("Software\\Tree", RegValue::binary("empty", {}));
    hive.setValue("Software\\Tree", RegValue::dword("number", 0xDEADBEEF));
    hive.setValue("Software\\Tree\\Sub", RegValue::multiText("multi", {"a", "bc"}));
    hive.setValue("Software\\Tree\\Sub", RegValue::text("expand", REG_EXPAND_SZ, "%TEMP%\\x"));
    hive.setValue("Software\\Tree\\Sub", RegValue::text("caf\xC3\xA9", REG_SZ, "na\xC3\xAFve"));

    RegistryHive& into = target.hive();
    into.setValue("Software\\Tree", RegValue::text("", REG_SZ, "replaced"));
    into.setValue("Software\\Tree", RegValue::text("onlyHere", REG_SZ, "kept"));
    into.setValue("Software\\Tree\\Sub", RegValue::multiText("multi", {"old"}));

    const Bytes tree = capture("\\Software\\Tree");
    EXPECT_EQ(replayInto(target, tree), static_cast<int32_t>(tree.size()));

    EXPECT_EQ(into.value("Software\\Tree", "")->asText(), "default");
    EXPECT_EQ(into.value("Software\\Tree", "onlyHere")->asText(), "kept");
    EXPECT_EQ(*into.value("Software\\Tree", "empty"), RegValue::binary("empty", {}));
    EXPECT_EQ(*into.value("Software\\Tree", "number"), RegValue::dword("number", 0xDEADBEEF));
    EXPECT_EQ(*into.value("Software\\Tree\\Sub", "multi"), RegValue::multiText("multi", {"old"}))
        << "a multi-string is kept by size and never written back";
    EXPECT_FALSE(into.value("Software\\Tree\\Sub", "expand")) << "an expandable string is never written back";
    EXPECT_EQ(into.value("Software\\Tree\\Sub", "caf\xC3\xA9")->asText(), "na\xC3\xAFve");
}

// A stored path without its leading backslash names the same key from the root; replayed
// relative to the key before it, every such key would sink one level deeper.
TEST_F(BackupRegItemTest, AStoredKeyPathWithoutItsLeadingBackslashReplaysFromTheRoot) {
    const uint32_t one = 1, two = 2;
    TreeBytes tree;
    tree.str("Software\\Rel").entry("a", 3, 4).raw(&one, 4).end();
    tree.str("Software\\Rel\\Sub").entry("b", 3, 4).raw(&two, 4).end();
    tree.str("\\Software\\Abs").end();
    tree.end();
    replayInto(target, tree.bytes());

    RegistryHive& into = target.hive();
    EXPECT_EQ(into.value("Software\\Rel", "a"), RegValue::dword("a", 1));
    EXPECT_EQ(into.value("Software\\Rel\\Sub", "b"), RegValue::dword("b", 2));
    EXPECT_TRUE(into.keyExists("Software\\Abs"));
    EXPECT_EQ(into.subkeyNames(""), std::vector<std::string>{"Software"});
    EXPECT_EQ(into.subkeyNames("Software\\Rel"), std::vector<std::string>{"Sub"});
}

TEST_F(BackupRegItemTest, KeptValuesCarryTheirTypeCodeAndAnsiSize) {
    source.hive().setValue("K", RegValue::multiText("multi", {"a", "bc"}));  // "a\0bc\0\0"
    source.hive().setValue("K", RegValue::text("expand", REG_EXPAND_SZ, "%A%"));
    const Bytes tree = capture("\\K");
    EXPECT_EQ(tree, TreeBytes().str("\\K").entry("multi", 0, 6).entry("expand", 2, 4).end().end().bytes());

    InventorySink inventory;
    TtsBackupRegItem item(target.profile);
    MemoryStream in(tree);
    item.readToSink(in, inventory);
    ASSERT_EQ(inventory.keys().size(), 1u);
    ASSERT_EQ(inventory.keys()[0].values.size(), 2u);
    EXPECT_TRUE(inventory.keys()[0].values[0].kept);
    EXPECT_EQ(inventory.keys()[0].values[0].size, 6);
    EXPECT_EQ(inventory.keys()[0].values[1].type, REG_EXPAND_SZ);
    EXPECT_EQ(target.hive().valueNames("K").size(), 0u);
}

TEST_F(BackupRegItemTest, AnInventoryShowsStringSizesAsStoredNotAsHeldInMemory) {
    source.hive().setValue("K", RegValue::text("plain", REG_SZ, "abc"));
    source.hive().setValue("K", RegValue::text("accent", REG_SZ, "caf\xC3\xA9"));  // 4 ANSI bytes
    source.hive().setValue("K", RegValue::binary("raw", {1, 2, 3}));
    InventorySink inventory;
    TtsBackupRegItem item(target.profile);
    MemoryStream in(capture("\\K"));
    item.readToSink(in, inventory);
    ASSERT_EQ(inventory.keys().size(), 1u);
    std::map<std::string, int64_t> sizes;
    for (const InventoryValue& value : inventory.keys()[0].values) sizes[value.name] = value.size;
    EXPECT_EQ(sizes, (std::map<std::string, int64_t>{{"plain", 4}, {"accent", 5}, {"raw", 3}}));
}

TEST_F(BackupRegItemTest, StringsOf260CharactersOrMoreAreWrittenWhole) {
    const std::string longName(255, 'k');  // the registry's longest key name; the path is 260
    const std::string longText(5000, 't');
    source.hive().setValue("Long\\" + longName, RegValue::text(std::string(280, 'v'), REG_SZ, longText));
    const Bytes tree = capture("\\Long");
    replayInto(target, tree);
    EXPECT_EQ(target.hive().value("Long\\" + longName, std::string(280, 'v'))->asText(), longText);
}

TEST_F(BackupRegItemTest, AValueNamedLikeTheEndMarkerIsLeftOutWithALogLineButSuchAKeyIsKept) {
    source.hive().setValue("K", RegValue::text("(end)", REG_SZ, "lost"));
    source.hive().setValue("K", RegValue::text("after", REG_SZ, "kept"));
    source.hive().setValue("K\\(end)", RegValue::text("inner", REG_SZ, "kept too"));
    replayInto(target, capture("\\K"));

    EXPECT_FALSE(target.hive().value("K", "(end)"));
    EXPECT_EQ(target.hive().value("K", "after")->asText(), "kept");
    EXPECT_EQ(target.hive().value("K\\(end)", "inner")->asText(), "kept too");
    bool logged = false;
    for (const auto& line : DebugLog::instance().lines()) logged |= line.find("\"(end)\"") != std::string::npos;
    EXPECT_TRUE(logged);
}

TEST_F(BackupRegItemTest, ADwordOfAnotherSizeIsKeptBySizeInsteadOfFailingTheCapture) {
    source.hive().setValue("K", RegValue::binary("odd", {1, 2, 3, 4, 5, 6, 7, 8}, REG_DWORD));
    EXPECT_EQ(capture("\\K"), TreeBytes().str("\\K").entry("odd", 0, 8).end().end().bytes());
}

TEST_F(BackupRegItemTest, ATreeCutShortAnywhereStopsWithAClearErrorAndNeverReadsPastTheTree) {
    source.hive().setValue("A", RegValue::text("s", REG_SZ, "text"));
    source.hive().setValue("A\\B", RegValue::binary("b", {1, 2, 3}));
    source.hive().setValue("A\\B", RegValue::dword("d", 7));
    const Bytes tree = capture("\\A");

    for (size_t cut = 0; cut < tree.size(); ++cut) {
        InventorySink inventory;
        TtsBackupRegItem item(target.profile);
        MemoryStream in(Bytes(tree.begin(), tree.begin() + static_cast<ptrdiff_t>(cut)));
        EXPECT_THROW(item.readToSink(in, inventory), EKeyTreeIncomplete) << "cut at " << cut;
    }

    Bytes followed = tree;
    followed.insert(followed.end(), {'n', 'e', 'x', 't'});
    MemoryStream in(followed);
    InventorySink inventory;
    TtsBackupRegItem item(target.profile);
    EXPECT_EQ(item.readToSink(in, inventory), static_cast<int32_t>(tree.size()));
    EXPECT_EQ(in.position(), static_cast<int64_t>(tree.size()));
}

TEST_F(BackupRegItemTest, ABinaryValueWithANegativeSizeIsRefused) {
    const Bytes tree = TreeBytes().str("\\K").entry("b", 4, -1).end().end().bytes();
    MemoryStream in(tree);
    InventorySink inventory;
    TtsBackupRegItem item(target.profile);
    EXPECT_THROW(item.readToSink(in, inventory), EDataDamaged);
}

// Each bound is met exactly by one tree and passed by one byte, key, value or character by the
// next; the registry counts characters, so a name in UTF-8 may take three bytes for each.
TEST_F(BackupRegItemTest, ATreePastTheRegistrysLimitsOrTheTreeBoundsIsRefusedAsDamagedBeforeItIsHeld) {
    const std::string euro3 = "\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC";  // three characters, nine bytes
    auto keys = [](size_t count) {
        TreeBytes tree;
        for (size_t i = 0; i < count; ++i) tree.str("\\K" + std::to_string(i)).end();
        return tree.end().bytes();
    };
    auto values = [](size_t count) {
        TreeBytes tree;
        tree.str("\\K");
        for (size_t i = 0; i < count; ++i) tree.entry("v" + std::to_string(i), 3, 4).raw("\0\0\0\0", 4);
        return tree.end().end().bytes();
    };
    auto deep = [](size_t depth) {
        std::string path;
        for (size_t i = 0; i < depth; ++i) path += "\\k";
        return TreeBytes().str(path).end().end().bytes();
    };
    auto binary = [](int32_t size) {
        TreeBytes tree;
        tree.str("\\K").entry("b", 4, size);
        return tree.raw(Bytes(static_cast<size_t>(std::max(size, 0))).data(), static_cast<size_t>(std::max(size, 0)))
            .end().end().bytes();
    };
    auto text = [](size_t length) {
        return TreeBytes().str("\\K").entry("s", 1, -1).str(std::string(length, 's')).end().end().bytes();
    };
    const int32_t cap = static_cast<int32_t>(registry_limits::kMaxValueDataBytes);
    struct Case {
        const char* what;
        Bytes tree;
        bool refused;
    };
    const std::vector<Case> cases = {
        {"key name of 255", TreeBytes().str("\\" + std::string(255, 'k')).end().end().bytes(), false},
        {"key name of 256", TreeBytes().str("\\" + std::string(256, 'k')).end().end().bytes(), true},
        {"key name of 255 in UTF-8", TreeBytes().str("\\" + std::string(252, 'k') + euro3).end().end().bytes(), false},
        {"value name of 16383", TreeBytes().str("\\K").entry(std::string(16383, 'n'), 0, 0).end().end().bytes(), false},
        {"value name of 16384", TreeBytes().str("\\K").entry(std::string(16384, 'n'), 0, 0).end().end().bytes(), true},
        {"512 keys deep", deep(512), false},
        {"513 keys deep", deep(513), true},
        {"binary at the cap", binary(cap - 64), false},
        {"binary past the cap", binary(cap + 1), true},
        {"binary claiming 2 GiB", TreeBytes().str("\\K").entry("b", 4, INT32_MAX).end().end().bytes(), true},
        {"string past the cap", text(static_cast<size_t>(cap) + 1), true},
        {"keys at the bound", keys(kMaxKeyTreeKeys), false},
        {"one key more", keys(kMaxKeyTreeKeys + 1), true},
        {"values at the bound", values(kMaxKeyTreeValues), false},
        {"one value more", values(kMaxKeyTreeValues + 1), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        MemoryStream in(c.tree);
        InventorySink inventory;
        TtsBackupRegItem item(target.profile);
        if (!c.refused) {
            EXPECT_EQ(item.readToSink(in, inventory), static_cast<int32_t>(c.tree.size()));
            continue;
        }
        try {
            item.readToSink(in, inventory);
            ADD_FAILURE() << "read";
        } catch (const EDataDamaged& e) {
            EXPECT_NE(std::string(e.what()).find("damaged or not made by this program"), std::string::npos) << e.what();
            EXPECT_NE(std::string(e.what()).find(" at byte "), std::string::npos) << e.what();
        }
    }
}

// A tree that a reader would refuse must never be written: capture leaves out what passes.
TEST_F(BackupRegItemTest, ACaptureStaysWithinTheBoundsItsReaderHoldsTheTreeTo) {
    source.hive().createKey("Software\\Big");
    const std::vector<uint8_t> half(static_cast<size_t>(kMaxKeyTreeBytes / 2 - 100), 7);
    for (const char* name : {"a", "b", "c"}) source.hive().setValue("Software\\Big", RegValue::binary(name, half));
    const Bytes tree = capture("\\Software\\Big");
    EXPECT_LE(static_cast<int64_t>(tree.size()), kMaxKeyTreeBytes);
    InventorySink inventory;
    MemoryStream in(tree);
    TtsBackupRegItem item(target.profile);
    EXPECT_EQ(item.readToSink(in, inventory), static_cast<int32_t>(tree.size()));
    ASSERT_EQ(inventory.keys().size(), 1u);
    EXPECT_EQ(inventory.keys()[0].values.size(), 2u);
    bool logged = false;
    for (const auto& line : DebugLog::instance().lines()) logged |= line.find("left out") != std::string::npos;
    EXPECT_TRUE(logged);
}

TEST_F(BackupRegItemTest, TheSinkWritesThroughTRegistryWithItsErrorTexts) {
    DirectProfileSink sink(target.profile);
    try {
        sink.setValue("\\K", RegValue::binary("q", {1, 2, 3, 4, 5, 6, 7, 8}, REG_QWORD));
        FAIL() << "no error";
    } catch (const ERegistryException& error) {
        EXPECT_STREQ(error.what(), "Failed to set data for 'q'");
    }
}

}  // namespace
}  // namespace ts
