// TRegistry over an in-memory hive: key opening, data types and sizes as the ANSI
// functions report them, and the error texts callers show or catch.
#include "items/registry.h"

#include <gtest/gtest.h>

namespace ts {
namespace {

class TRegistryTest : public ::testing::Test {
protected:
    std::unique_ptr<RegistryHive> hive = RegistryHive::inMemory();
    TRegistry reg{*hive};
};

std::string errorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const ERegistryException& error) {
        return error.what();
    }
    return "no error";
}

TEST_F(TRegistryTest, OpensKeysFromTheRootOrTheCurrentKey) {
    EXPECT_EQ(reg.RootKey(), 0x80000001u);
    EXPECT_FALSE(reg.OpenKey("\\Software\\Tessaly", false));
    EXPECT_FALSE(reg.HasCurrentKey());
    EXPECT_TRUE(reg.OpenKey("\\Software\\Tessaly", true));
    EXPECT_EQ(reg.CurrentPath(), "Software\\Tessaly");
    EXPECT_TRUE(reg.OpenKey("Options", true));
    EXPECT_EQ(reg.CurrentPath(), "Software\\Tessaly\\Options");
    EXPECT_TRUE(hive->keyExists("Software\\Tessaly\\Options"));
    EXPECT_TRUE(reg.OpenKey("\\SOFTWARE\\tessaly", false));
    EXPECT_TRUE(reg.KeyExists("options"));
    EXPECT_TRUE(reg.KeyExists("\\Software"));

    reg.SetRootKey(0x80000002);
    EXPECT_FALSE(reg.HasCurrentKey());
    EXPECT_FALSE(reg.OpenKey("\\Software", false)) << "only HKEY_CURRENT_USER exists";
}

TEST_F(TRegistryTest, ReportsTypesAndAnsiSizes) {
    ASSERT_TRUE(reg.OpenKey("\\K", true));
    reg.WriteString("", "default");
    reg.WriteString("latin", "caf\xc3\xa9");
    reg.WriteString("cjk", "\xe4\xb8\xad");
    reg.WriteInteger("int", -2);
    reg.WriteBinaryData("empty", nullptr, 0);
    hive->setValue("K", RegValue::text("exp", REG_EXPAND_SZ, "%A%"));
    hive->setValue("K", RegValue::multiText("multi", {"a", "b"}));
    hive->setValue("K", RegValue::binary("qword", {1, 2, 3, 4, 5, 6, 7, 8}, REG_QWORD));

    std::vector<std::string> names{"stale"};
    reg.GetValueNames(names);
    EXPECT_EQ(names, (std::vector<std::string>{"", "latin", "cjk", "int", "empty", "exp", "multi", "qword"}));
    EXPECT_EQ(reg.GetDataType(""), rdString);
    EXPECT_EQ(reg.GetDataType("exp"), rdExpandString);
    EXPECT_EQ(reg.GetDataType("int"), rdInteger);
    EXPECT_EQ(reg.GetDataType("empty"), rdBinary);
    EXPECT_EQ(reg.GetDataType("multi"), rdUnknown);
    EXPECT_EQ(reg.GetDataType("qword"), rdUnknown);
    EXPECT_EQ(reg.GetDataType("missing"), rdUnknown);

    EXPECT_EQ(reg.GetDataSize(""), 8);
    EXPECT_EQ(reg.GetDataSize("latin"), 5) << "Windows-1252 bytes and the NUL";
    EXPECT_EQ(reg.GetDataSize("cjk"), 4) << "text Windows-1252 cannot hold stays UTF-8";
    EXPECT_EQ(reg.GetDataSize("multi"), 5);
    EXPECT_EQ(reg.GetDataSize("int"), 4);
    EXPECT_EQ(reg.GetDataSize("empty"), 0);
    EXPECT_EQ(reg.GetDataSize("missing"), -1);

    auto latin = reg.ReadAnsiData("latin");
    ASSERT_TRUE(latin);
    EXPECT_EQ(latin->type, static_cast<uint32_t>(REG_SZ));
    EXPECT_EQ(latin->bytes, std::string("caf\xe9\0", 5));
    EXPECT_EQ(reg.ReadAnsiData("multi")->bytes, std::string("a\0b\0\0", 5));
    EXPECT_EQ(reg.ReadString("latin"), "caf\xc3\xa9") << "strings come back as host text";
    EXPECT_EQ(reg.ReadString("exp"), "%A%");
    EXPECT_EQ(reg.ReadInteger("int"), -2);
    EXPECT_TRUE(reg.ReadBinaryData("empty").empty());
    EXPECT_EQ(reg.ReadBinaryData("qword"), (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7, 8}));
}

TEST_F(TRegistryTest, FailuresCarryTheirTexts) {
    EXPECT_EQ(errorOf([&] { reg.WriteString("x", "y"); }), "Failed to set data for 'x'") << "no key open";
    EXPECT_EQ(errorOf([&] { reg.ReadString("x"); }), "Failed to get data for 'x'");
    ASSERT_TRUE(reg.OpenKey("\\K", true));
    reg.WriteInteger("int", 1);
    reg.WriteString("str", "s");
    hive->setValue("K", RegValue::binary("long", {1, 2, 3, 4, 5}, REG_DWORD));
    EXPECT_EQ(errorOf([&] { reg.ReadString("missing"); }), "Failed to get data for 'missing'");
    EXPECT_EQ(errorOf([&] { reg.ReadInteger("missing"); }), "Failed to get data for 'missing'");
    EXPECT_EQ(errorOf([&] { reg.ReadBinaryData("missing"); }), "Failed to get data for 'missing'");
    EXPECT_EQ(errorOf([&] { reg.ReadString("int"); }), "Invalid data type for 'int'");
    EXPECT_EQ(errorOf([&] { reg.ReadInteger("str"); }), "Invalid data type for 'str'");
    EXPECT_EQ(errorOf([&] { reg.ReadBinaryData("str"); }), "Invalid data type for 'str'");
    EXPECT_EQ(errorOf([&] { reg.ReadInteger("long"); }), "Failed to get data for 'long'");
    uint8_t small[2];
    EXPECT_EQ(errorOf([&] { reg.ReadBinaryData("int", small, 2); }), "Invalid data type for 'int'");
    hive->setValue("K", RegValue::binary("bin", {1, 2, 3}));
    EXPECT_EQ(errorOf([&] { reg.ReadBinaryData("bin", small, 2); }), "Failed to get data for 'bin'");

    EXPECT_TRUE(reg.DeleteKey("\\K"));
    EXPECT_EQ(errorOf([&] { reg.WriteInteger("int", 2); }), "Failed to set data for 'int'")
        << "a deleted current key takes no values and is not brought back";
    EXPECT_FALSE(hive->keyExists("K"));
}

TEST_F(TRegistryTest, DeleteKeyRemovesTheWholeTree) {
    ASSERT_TRUE(reg.OpenKey("\\A\\B\\C", true));
    reg.WriteString("v", "x");
    ASSERT_TRUE(reg.OpenKey("\\A", false));
    std::vector<std::string> keys;
    reg.GetKeyNames(keys);
    EXPECT_EQ(keys, std::vector<std::string>{"B"});
    EXPECT_TRUE(reg.DeleteKey("b"));
    reg.GetKeyNames(keys);
    EXPECT_TRUE(keys.empty());
    EXPECT_FALSE(reg.DeleteKey("\\A\\B"));
    EXPECT_FALSE(reg.DeleteKey("\\")) << "the root cannot be deleted";
}

}  // namespace
}  // namespace ts
