// The user.reg format: values of every kind read as Wine reads them, files written back
// losslessly, edits written as Wine writes them, files Wine would reject refused.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>

#include "platform/exception.h"
#include "platform/registry/registry_hive.h"
#include "platform/registry/registry_hive_text.h"
#include "platform/registry/wine_user_reg_document.h"
#include "platform/registry/wine_user_reg_lines.h"
#include "support/temp_dir.h"

namespace ts {
namespace {

using namespace std::literals;

using test::TempDir;

// Wine 8's own output (trimmed), plus what a hand-edited file may hold: comments, CRLF,
// raw UTF-8, indentation, a repeated key in other case, tab-indented continuations, a
// malformed value, a key line Wine cannot read and a value before any key.
const std::string kSample =
    "WINE REGISTRY Version 2\n"
    ";; All keys relative to REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000\n"
    "\n"
    "#arch=win64\n"
    "\"orphan\"=\"before any key\"\n"
    "\n"
    "[Software\\\\ZTest] 1796673022\n"
    "#time=1dd868432043960\n"
    "#class=\"MyClass\"\n"
    "@=\"default value\"\n"
    "\"@\"=\"at-sign name\"\n"
    "\"bin_empty\"=hex:\n"
    "\"bin_long_name_to_test_wrapping\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,\\\n"
    "  0e,0f,10,11,12,13,14,15,16,17,18,19,1a,1b,1c,1d,1e,1f,20,21,22,23,24,25,26,\\\n"
    "  27,28,29,2a,2b,2c,2d,2e,2f,30,31,32,33,34,35,36,37,38,39,3a,3b,3c,3d,3e,3f,\\\n"
    "  40,41,42,43,44,45,46,47,48,49,4a,4b,4c,4d,4e,4f,50,51,52,53,54,55,56,57,58,\\\n"
    "  59,5a,5b,5c,5d,5e,5f,60,61,62,63\n"
    "\"custom_type\"=hex(12345):be,ef\n"
    "\"dword\"=dword:12345678\n"
    "\"dword3\"=hex(4):01,02,03\n"
    "\"esc name \\\"q\\\" \\\\ [b] \\xe9\\n\"=\"back\\\\slash \\\"quote\\\" nl\\n cr\\r tab\\t bel\\a esc\\e ctl\\1x "
    "ctl\\0027 del\x7f e\\xe9 cjk\\x4e2da emoji\\xd83d\\xde00 [br] ;semi #hash\"\n"
    "\"expand\"=str(2):\"%USERPROFILE%\\\\x\"\n"
    "\"multi\"=str(7):\"one\\0two\\0three\\0\"\n"
    "\"none\"=hex(0):de,ad\n"
    "\"qword\"=hex(b):88,77,66,55,44,33,22,11\n"
    "\"zero_len_sz\"=hex(1):\n"
    "; a comment between values\n"
    "\n"
    "[Software\\\\ZTest\\\\\\[brk\\]] 1796673022\n"
    "#time=1dd8684320419ee\n"
    "\n"
    "[Software\\\\ZTest\\\\emptykey\\\\deeper] 1796673022\n"
    "#time=1dd868432043b90\n"
    "\n"
    "[Software\\\\Hand] 1796674018\r\n"
    "  \"raw utf8\" = \"caf\xc3\xa9 \xe4\xb8\xad \xf0\x9f\x98\x80\"\r\n"
    "\"upper\"=HEX:01\r\n"
    "\"bad\"=bogus:1\r\n"
    "\"tabbed\"=hex:01,02,\\\r\n"
    "\t      03,04\r\n"
    "\"str_tag\"=str:\"plain\"\r\n"
    "\"hexexpand\"=hex(2):25,00,58,00,25\r\n"
    "\n"
    "[software\\\\zTEST] 1796674019\n"
    "\"second record\"=dword:00000001\n"
    "\n"
    "[Broken\\\\key 1796674019\n"
    "\"lost\"=\"Wine drops this\"\n";

std::vector<uint8_t> bytesOf(std::initializer_list<int> values) {
    std::vector<uint8_t> out;
    for (int v : values) out.push_back(static_cast<uint8_t>(v));
    return out;
}

std::vector<uint8_t> utf16z(std::u16string_view units) {
    std::vector<uint8_t> out = hive_text::toLittleEndianBytes(units);
    out.insert(out.end(), {0, 0});
    return out;
}

std::string render(const std::string& text, const std::function<void(hive::KeyTree&)>& edit = {}) {
    hive::KeyTree tree;
    wine_reg::Document document = wine_reg::parseUserReg(text, tree, "user.reg", std::nullopt);
    if (edit) edit(tree);
    return wine_reg::renderUserReg(document, tree, wine_reg::WriteTime{1700000000, 1234567});
}

class UserRegFile : public ::testing::Test {
protected:
    std::string userReg() const { return dir.file("user.reg"); }
    std::string fileText() const {
        auto bytes = test::readHostFile(userReg());
        return std::string(bytes.begin(), bytes.end());
    }
    std::unique_ptr<RegistryHive> open(const std::string& text) {
        test::writeHostFile(userReg(), text);
        return RegistryHive::openUserReg(userReg(), dir.path().string());
    }
    TempDir dir;
};

TEST(UserRegFormat, UnchangedFilesComeBackByteForByte) {
    EXPECT_EQ(render(kSample), kSample);
    for (std::string text : {std::string("WINE REGISTRY Version 2\n"), std::string("WINE REGISTRY Version 2"),
                             std::string("WINE REGISTRY Version 2\r\n\r\n[a]\r\n\"x\"=\"y\""),
                             std::string("WINE REGISTRY Version 2\n\n[a]\n\n\n"),
                             std::string("WINE REGISTRY Version 2\n[]\n@=\"root\"\n[a]\n\"v\"=hex:01\n")})
        EXPECT_EQ(render(text), text);
}

TEST_F(UserRegFile, ValuesOfEveryKindReadAsWineReadsThem) {
    auto hive = open(kSample);
    auto value = [&](std::string_view key, std::string_view name) {
        auto v = hive->value(key, name);
        EXPECT_TRUE(v.has_value()) << name;
        return v.value_or(RegValue{});
    };
    EXPECT_EQ(value("Software\\ZTest", "").asText(), "default value");
    EXPECT_EQ(value("Software\\ZTest", "@").asText(), "at-sign name");
    EXPECT_EQ(value("Software\\ZTest", "bin_empty"), RegValue::binary("bin_empty", {}));
    std::vector<uint8_t> counting(100);
    for (size_t i = 0; i < counting.size(); ++i) counting[i] = static_cast<uint8_t>(i);
    EXPECT_EQ(value("Software\\ZTest", "bin_long_name_to_test_wrapping").data, counting);
    EXPECT_EQ(value("Software\\ZTest", "custom_type"), RegValue::binary("custom_type", bytesOf({0xbe, 0xef}), 0x12345));
    EXPECT_EQ(value("Software\\ZTest", "dword"), RegValue::dword("dword", 0x12345678));
    EXPECT_EQ(value("Software\\ZTest", "dword3"), RegValue::binary("dword3", bytesOf({1, 2, 3}), REG_DWORD));
    EXPECT_EQ(value("Software\\ZTest", "expand"), RegValue::text("expand", REG_EXPAND_SZ, "%USERPROFILE%\\x"));
    EXPECT_EQ(value("Software\\ZTest", "multi").data, utf16z(u"one\0two\0three\0"s));
    EXPECT_EQ(value("Software\\ZTest", "none"), RegValue::binary("none", bytesOf({0xde, 0xad}), REG_NONE));
    EXPECT_EQ(value("Software\\ZTest", "qword").type, static_cast<uint32_t>(REG_QWORD));
    EXPECT_EQ(value("Software\\ZTest", "zero_len_sz"), RegValue::binary("zero_len_sz", {}, REG_SZ));

    RegValue escaped = value("Software\\ZTest", "esc name \"q\" \\ [b] \xc3\xa9\n");
    EXPECT_EQ(escaped.name, "esc name \"q\" \\ [b] \xc3\xa9\n");
    EXPECT_EQ(escaped.data, utf16z(u"back\\slash \"quote\" nl\n cr\r tab\t bel\a esc\x1b ctl\x01x ctl\x02" u"7 del\x7f"
                                   u" e\u00e9 cjk\u4e2da emoji\U0001F600 [br] ;semi #hash"));

    EXPECT_EQ(value("Software\\Hand", "raw utf8").asText(), "caf\xc3\xa9 \xe4\xb8\xad \xf0\x9f\x98\x80");
    EXPECT_EQ(value("Software\\Hand", "upper"), RegValue::binary("upper", {}, REG_NONE)) << "tags are case-sensitive";
    EXPECT_EQ(value("Software\\Hand", "bad"), RegValue::binary("bad", {}, REG_NONE)) << "Wine keeps it empty";
    EXPECT_EQ(value("Software\\Hand", "tabbed").data, bytesOf({1, 2, 3, 4}));
    EXPECT_EQ(value("Software\\Hand", "str_tag"), RegValue::text("str_tag", REG_SZ, "plain"));
    EXPECT_EQ(value("Software\\Hand", "hexexpand"), RegValue::binary("hexexpand", bytesOf({0x25, 0, 0x58, 0, 0x25}), REG_EXPAND_SZ));

    EXPECT_TRUE(hive->keyExists("Software\\ZTest\\[brk]"));
    EXPECT_TRUE(hive->keyExists("Software\\ZTest\\emptykey")) << "implicit parent";
    EXPECT_EQ(value("SOFTWARE\\ztest", "Second Record"), RegValue::dword("second record", 1)) << "records merge";
    EXPECT_FALSE(hive->keyExists("Broken"));
    EXPECT_FALSE(hive->value("", "orphan"));
}

TEST(UserRegFormat, ValuesAreWrittenAsWineWritesThem) {
    std::vector<uint8_t> counting(100);
    for (size_t i = 0; i < counting.size(); ++i) counting[i] = static_cast<uint8_t>(i);
    EXPECT_EQ(wine_reg::formatValue(RegValue::binary("bin_long_name_to_test_wrapping", counting)),
              "\"bin_long_name_to_test_wrapping\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,\\\n"
              "  0e,0f,10,11,12,13,14,15,16,17,18,19,1a,1b,1c,1d,1e,1f,20,21,22,23,24,25,26,\\\n"
              "  27,28,29,2a,2b,2c,2d,2e,2f,30,31,32,33,34,35,36,37,38,39,3a,3b,3c,3d,3e,3f,\\\n"
              "  40,41,42,43,44,45,46,47,48,49,4a,4b,4c,4d,4e,4f,50,51,52,53,54,55,56,57,58,\\\n"
              "  59,5a,5b,5c,5d,5e,5f,60,61,62,63\n");
    RegValue escaped{"esc name \"q\" \\ [b] \xc3\xa9\n", REG_SZ,
                     utf16z(u"back\\slash \"quote\" nl\n cr\r tab\t bel\a esc\x1b ctl\x01x ctl\x02" u"7 del\x7f"
                            u" e\u00e9 cjk\u4e2da emoji\U0001F600 [br] ;semi #hash")};
    EXPECT_EQ(wine_reg::formatValue(escaped),
              "\"esc name \\\"q\\\" \\\\ [b] \\xe9\\n\"=\"back\\\\slash \\\"quote\\\" nl\\n cr\\r tab\\t bel\\a esc\\e "
              "ctl\\1x ctl\\0027 del\x7f e\\xe9 cjk\\x4e2da emoji\\xd83d\\xde00 [br] ;semi #hash\"\n");
    EXPECT_EQ(wine_reg::formatValue(RegValue::binary("", utf16z(u"a\0b\0"s), REG_MULTI_SZ)), "@=str(7):\"a\\0b\\0\"\n");
    EXPECT_EQ(wine_reg::formatValue(RegValue::binary("e", {}, REG_SZ)), "\"e\"=hex(1):\n");
    EXPECT_EQ(wine_reg::formatValue(RegValue::binary("o", bytesOf({0x25, 0, 0x58, 0, 0x25}), REG_EXPAND_SZ)),
              "\"o\"=hex(2):25,00,58,00,25\n");
    EXPECT_EQ(wine_reg::formatValue(RegValue::binary("d", bytesOf({1, 2, 3}), REG_DWORD)), "\"d\"=hex(4):01,02,03\n");
    EXPECT_EQ(wine_reg::formatValue(RegValue::dword("d", 0x19)), "\"d\"=dword:00000019\n");
    EXPECT_EQ(wine_reg::formatValue(RegValue::binary("b", {})), "\"b\"=hex:\n");
    EXPECT_EQ(wine_reg::formatValue(RegValue::binary("q", bytesOf({1}), 0x12345)), "\"q\"=hex(12345):01\n");
    // Seconds and FILETIME of one key record Wine 8 wrote.
    EXPECT_EQ(wine_reg::formatKeyHeader({u"Software", u"ZTest", u"[brk]", u"q\"uote"}, 1796673022, 3925600),
              "[Software\\\\ZTest\\\\\\[brk\\]\\\\q\"uote] 1796673022\n#time=1dd868432043960\n");
}

TEST(UserRegFormat, EditsChangeOnlyTheirOwnLines) {
    std::string original =
        "WINE REGISTRY Version 2\n"
        ";; comment\n"
        "\n"
        "[A] 1\n"
        "#time=1\n"
        "\"keep\"=\"k\"\n"
        "\"change\"=\"old\"\n"
        "\"gone\"=dword:00000001\n"
        ";; trailing comment\n"
        "\n"
        "[A\\\\Sub] 2\n"
        "\"s\"=\"s\"\n"
        "\n"
        "[a] 3\n"
        "\"change\"=\"older, overridden\"\n"
        "\"CHANGE\"=\"the one Wine keeps\"\n"
        "\n"
        "[B] 4\n"
        "\"b\"=\"b\"\n";
    std::string edited = render(original, [](hive::KeyTree& tree) {
        auto a = tree.find(std::vector<std::u16string>{u"a"});
        tree.storeValue(*a, RegValue::text("Change", REG_SZ, "new"));
        tree.removeValue(*a, u"GONE");
        tree.storeValue(*a, RegValue::dword("added", 7));
        tree.storeValue(*a, RegValue::text("keep", REG_SZ, "k"));   // the same: no change
        tree.erase(std::vector<std::u16string>{u"a", u"sub"});
        bool created;
        auto c = tree.create(std::vector<std::u16string>{u"C", u"deep", u"leaf"}, created);
        tree.storeValue(*c, RegValue::binary("bin", bytesOf({1, 2})));
        tree.create(std::vector<std::u16string>{u"B", u"Empty"}, created);
    });
    EXPECT_EQ(edited,
              "WINE REGISTRY Version 2\n"
              ";; comment\n"
              "\n"
              "[A] 1\n"
              "#time=1\n"
              "\"keep\"=\"k\"\n"
              ";; trailing comment\n"
              "\n"
              "[a] 3\n"
              "\"change\"=\"new\"\n"
              "\"added\"=dword:00000007\n"
              "\n"
              "[B] 4\n"
              "\"b\"=\"b\"\n"
              "\n"
              "[B\\\\Empty] 1700000000\n"
              "#time=1da1747c67fd687\n"
              "\n"
              "[C\\\\deep\\\\leaf] 1700000000\n"
              "#time=1da1747c67fd687\n"
              "\"bin\"=hex:01,02\n");
}

TEST(UserRegFormat, DeletingTheLastKeysLeavesNoTrailingBlankLine) {
    std::string edited = render("WINE REGISTRY Version 2\n\n[A] 1\n\"x\"=\"y\"\n\n[B] 2\n\"x\"=\"y\"\n",
                                [](hive::KeyTree& tree) { tree.erase(std::vector<std::u16string>{u"b"}); });
    EXPECT_EQ(edited, "WINE REGISTRY Version 2\n\n[A] 1\n\"x\"=\"y\"\n");
}

TEST(UserRegFormat, AParentLeftWithoutSubkeysGetsARecordOfItsOwn) {
    std::string edited = render("WINE REGISTRY Version 2\n\n[P\\\\child] 1\n", [](hive::KeyTree& tree) {
        tree.erase(std::vector<std::u16string>{u"P", u"child"});
    });
    EXPECT_EQ(edited, "WINE REGISTRY Version 2\n\n[P] 1700000000\n#time=1da1747c67fd687\n");
}

TEST(UserRegFormat, NewValuesFollowALastLineWithoutLineEnd) {
    std::string edited = render("WINE REGISTRY Version 2\n[A]\n\"x\"=\"y\"", [](hive::KeyTree& tree) {
        tree.storeValue(*tree.find(std::vector<std::u16string>{u"A"}), RegValue::dword("n", 1));
    });
    EXPECT_EQ(edited, "WINE REGISTRY Version 2\n[A]\n\"x\"=\"y\"\n\"n\"=dword:00000001\n");
}

TEST_F(UserRegFile, SaveWritesEditsAndLoadingThemBackAgrees) {
    auto hive = open(kSample);
    hive->setValue("software\\ztest", RegValue::text("EXPAND", REG_EXPAND_SZ, "%APPDATA%\\\xe4\xb8\xad"));
    hive->deleteValue("Software\\Hand", "raw utf8");
    hive->deleteKeyTree("SOFTWARE\\ZTEST\\EMPTYKEY");
    hive->setValue("New\\Key", RegValue::multiText("m", {"a", "\xc3\xa9"}));
    hive->save();

    std::string saved = fileText();
    EXPECT_NE(saved.find("\"expand\"=str(2):\"%APPDATA%\\\\\\x4e2d\"\n"), std::string::npos) << saved;
    EXPECT_EQ(saved.find("raw utf8"), std::string::npos);
    EXPECT_EQ(saved.find("deeper"), std::string::npos);
    EXPECT_NE(saved.find("\"m\"=str(7):\"a\\0\\xe9\\0\"\n"), std::string::npos);
    EXPECT_NE(saved.find("\"bin_long_name_to_test_wrapping\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,\\\n"),
              std::string::npos);
    EXPECT_NE(saved.find("\"tabbed\"=hex:01,02,\\\r\n\t      03,04\r\n"), std::string::npos) << "untouched lines stay";

    auto reread = RegistryHive::openUserReg(userReg(), dir.path().string());
    EXPECT_EQ(reread->value("Software\\ZTest", "expand")->asText(), "%APPDATA%\\\xe4\xb8\xad");
    EXPECT_EQ(reread->value("Software\\ZTest", "expand")->name, "expand") << "the first case is kept";
    EXPECT_FALSE(reread->value("Software\\Hand", "raw utf8"));
    EXPECT_FALSE(reread->keyExists("Software\\ZTest\\emptykey"));
    EXPECT_EQ(reread->value("new\\key", "M"), RegValue::multiText("m", {"a", "\xc3\xa9"}));

    // A second save with nothing changed leaves the file alone.
    struct stat before {}, after {};
    ::stat(userReg().c_str(), &before);
    reread->save();
    ::stat(userReg().c_str(), &after);
    EXPECT_EQ(before.st_ino, after.st_ino);
}

std::string deepPath(size_t depth) {
    std::string path = "k";
    for (size_t i = 1; i < depth; ++i) path += "\\\\k";
    return path;
}

TEST_F(UserRegFile, FilesWineWouldIgnoreOrPastTheRegistrysLimitsAreRefusedAndLeftAlone) {
    struct Case {
        std::string text;
        std::string systemReg;
        std::string messagePart;
    };
    std::vector<Case> cases = {
        {"\xef\xbb\xbfWINE REGISTRY Version 2\n", "", "its first line must be \"WINE REGISTRY Version 2\""},
        {"WINE REGISTRY Version 1\n", "", "its first line"},
        {"", "", "its first line"},
        {"WINE REGISTRY Version 2 \n[A]\n", "", "its first line"},
        {"WINE REGISTRY Version 2\n#arch=win16\n", "", "unknown architecture"},
        {"WINE REGISTRY Version 2\n#arch=win32\n", "WINE REGISTRY Version 2\n#arch=win64\n", "is for a win32 prefix, but its prefix is win64"},
        {"WINE REGISTRY Version 2\n#arch=win64\n#arch=win32\n", "", "is for a win32 prefix"},
        // The registry's own limits: past them the file was damaged or made by something else.
        {"WINE REGISTRY Version 2\n\n[A\\\\" + std::string(256, 'k') + "]\n", "", "line 3 holds a key name longer than 255"},
        {"WINE REGISTRY Version 2\n\n[" + deepPath(513) + "]\n", "", "a key path deeper than 512"},
        {"WINE REGISTRY Version 2\n\n[A]\n\"" + std::string(16384, 'n') + "\"=dword:1\n", "", "line 4 holds a value name longer"},
        {"WINE REGISTRY Version 2\n\n[A]\n@=\"" + std::string(8 << 20, 's') + "\"\n", "", "a value of more than 16777216 bytes"},
    };
    for (const Case& c : cases) {
        std::filesystem::remove(dir.file("system.reg"));
        if (!c.systemReg.empty()) test::writeHostFile(dir.file("system.reg"), c.systemReg);
        try {
            open(c.text);
            ADD_FAILURE() << "accepted: " << c.text;
        } catch (const TsException& error) {
            std::string message = error.what();
            EXPECT_NE(message.find(userReg()), std::string::npos) << message;
            EXPECT_NE(message.find(c.messagePart), std::string::npos) << message;
        }
        EXPECT_EQ(fileText(), c.text);
    }
    EXPECT_NO_THROW(open("WINE REGISTRY Version 2\n\n[" + deepPath(511) + "\\\\" + std::string(255, 'k') + "]\n\"" +
                         std::string(16383, 'n') + "\"=dword:1\n"));
    test::writeHostFile(dir.file("system.reg"), "WINE REGISTRY Version 2\n#arch=win64\n\n[A]\n#arch=win32\n");
    EXPECT_NO_THROW(open("WINE REGISTRY Version 2\r\n#arch=win64\r\n\n[B]\n#arch=win32\n")) << "#arch in a key is no global option";
}

TEST_F(UserRegFile, AMissingFileIsCreatedWithWinesHeader) {
    test::writeHostFile(dir.file("system.reg"), "WINE REGISTRY Version 2\n;; x\n\n#arch=win32\n\n[Machine]\n");
    auto hive = RegistryHive::openUserReg(userReg(), dir.path().string());
    hive->save();
    EXPECT_FALSE(std::filesystem::exists(userReg())) << "nothing to save yet";
    hive->setValue("Software\\Tessaly", RegValue::dword("x", 1));
    hive->save();
    std::string text = fileText();
    EXPECT_TRUE(text.starts_with("WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000\n"
                                 "\n#arch=win32\n\n[Software\\\\Tessaly] "))
        << text;
    EXPECT_TRUE(text.ends_with("\n\"x\"=dword:00000001\n"));
}

TEST_F(UserRegFile, SavingKeepsPermissionsAndLeavesNoTemporaryFile) {
    auto hive = open("WINE REGISTRY Version 2\n\n[A] 1\n\"x\"=\"y\"\n");
    ::chmod(userReg().c_str(), 0640);
    hive->setValue("A", RegValue::text("x", REG_SZ, "z"));
    hive->save();
    struct stat st {};
    ASSERT_EQ(::stat(userReg().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(fileText(), "WINE REGISTRY Version 2\n\n[A] 1\n\"x\"=\"z\"\n");
    size_t entries = 0;
    for ([[maybe_unused]] auto& entry : std::filesystem::directory_iterator(dir.path())) ++entries;
    EXPECT_EQ(entries, 1u);
}

// A profile's user.reg is never read or written through a link: one there may lead out of
// the profile. The program's own settings hive may be a link (dotfiles): it is followed, its
// target replaced and the link kept.
TEST_F(UserRegFile, ALinkIsRefusedInAProfileAndFollowedForTheSettings) {
    std::filesystem::create_directory(dir.file("real"));
    const std::string target = dir.file("real/user.reg");
    test::writeHostFile(target, "WINE REGISTRY Version 2\n");
    std::filesystem::create_symlink(target, userReg());
    EXPECT_THROW(RegistryHive::openUserReg(userReg(), dir.path().string()), EFOpenError);

    auto settings = RegistryHive::openUserReg(userReg(), dir.path().string(), LastLink::Follow);
    settings->setValue("A", RegValue::dword("x", 1));
    settings->save();
    EXPECT_TRUE(std::filesystem::is_symlink(userReg()));
    const auto saved = test::readHostFile(target);
    EXPECT_NE(std::string(saved.begin(), saved.end()).find("\"x\"=dword:00000001"), std::string::npos);
    for (const auto& entry : std::filesystem::directory_iterator(dir.file("real")))
        EXPECT_EQ(entry.path().filename(), "user.reg") << "left beside the target";
}

// Rewriting a file in place can be cut short by a kill, leaving it truncated: a hard-linked
// user.reg is replaced like any other, and its other name keeps what it held.
TEST_F(UserRegFile, AHardLinkedFileIsReplacedWholeAndItsOtherNameKeepsTheOldContent) {
    auto hive = open("WINE REGISTRY Version 2\n");
    std::filesystem::create_hard_link(userReg(), dir.file("other-name.reg"));
    hive->setValue("A", RegValue::dword("x", 1));
    hive->save();
    EXPECT_NE(fileText().find("\"x\"=dword:00000001"), std::string::npos);
    const auto other = test::readHostFile(dir.file("other-name.reg"));
    EXPECT_EQ(std::string(other.begin(), other.end()), "WINE REGISTRY Version 2\n");
}

// A save killed before its rename leaves a temporary file; the next save removes those
// that are no longer being written, of this and of the earlier naming.
TEST_F(UserRegFile, ASaveRemovesTheTemporaryFilesOfKilledSaves) {
    auto hive = open("WINE REGISTRY Version 2\n");
    const std::vector<std::string> leftovers = {".tessaly-tmp-AbC123", "user.reg.4242.7.tmp"};
    const std::vector<std::string> kept = {"user.reg.x.7.tmp", "other.reg.4242.7.tmp", "user.reg.bak"};
    const auto old = std::filesystem::file_time_type::clock::now() - std::chrono::hours(1);
    for (const auto& names : {leftovers, kept})
        for (const std::string& name : names) {
            test::writeHostFile(dir.file(name), "half");
            std::filesystem::last_write_time(dir.file(name), old);
        }
    hive->setValue("A", RegValue::dword("x", 1));
    hive->save();
    for (const std::string& name : leftovers) EXPECT_FALSE(std::filesystem::exists(dir.file(name))) << name;
    for (const std::string& name : kept) EXPECT_TRUE(std::filesystem::exists(dir.file(name))) << name;
}

// A save killed halfway (by an earlier version, or another program) leaves a file cut short
// or zero-filled; used as the base of a new save it would lose every key after the cut.
TEST_F(UserRegFile, AFileCutShortOrZeroFilledIsRefusedAndLeftAsItIs) {
    const std::vector<std::string> damaged = {
        "WINE REGISTRY Version 2\n\n[A] 1\n\"x\"=\"y\"\n[Software\\\\B",
        "WINE REGISTRY Version 2\n\n[A] 1\n\"x\"=\"unterminat",
        "WINE REGISTRY Version 2\n\n[A] 1\n\"h\"=hex:01,02,\\",
        "WINE REGISTRY Version 2\n\n[A] 1\n\"x\"=\"y\"\n" + std::string(64, '\0'),
    };
    for (const std::string& text : damaged) {
        SCOPED_TRACE(text);
        EXPECT_THROW(open(text), TsException);
        EXPECT_EQ(fileText(), text);
    }
    EXPECT_NO_THROW(open("WINE REGISTRY Version 2\n\n[A] 1\n\"x\"=\"y\""));
}

TEST_F(UserRegFile, ASaveThatCannotWriteLeavesTheOldFile) {
    if (::geteuid() == 0) GTEST_SKIP() << "root writes into read-only folders";
    auto hive = open("WINE REGISTRY Version 2\n");
    hive->setValue("A", RegValue::dword("x", 1));
    ::chmod(dir.path().c_str(), 0500);
    EXPECT_THROW(hive->save(), EFCreateError);
    ::chmod(dir.path().c_str(), 0700);
    EXPECT_EQ(fileText(), "WINE REGISTRY Version 2\n");
}

}  // namespace
}  // namespace ts
