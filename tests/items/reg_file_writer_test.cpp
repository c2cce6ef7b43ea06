#include "items/reg_file_writer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/registry/registry_hive_text.h"

namespace ts {
namespace {

// What regedit writes, as UTF-16LE with the byte-order mark; `text` is written here as UTF-8.
std::vector<uint8_t> regFileBytes(const std::string& text) {
    std::vector<uint8_t> bytes = {0xFF, 0xFE};
    const std::vector<uint8_t> units = hive_text::toLittleEndianBytes(hive_text::toUtf16(text));
    bytes.insert(bytes.end(), units.begin(), units.end());
    return bytes;
}

std::vector<uint8_t> written(const std::vector<RegValue>& values) {
    MemoryStream out;
    RegFileWriter writer(out);
    writer.key("HKEY_CURRENT_USER\\Software\\T");
    for (const RegValue& value : values) writer.value(value);
    writer.finish();
    return out.takeBytes();
}

const std::string kHead = "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\T]\r\n";

std::vector<uint8_t> counting(size_t count) {
    std::vector<uint8_t> bytes(count);
    for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(i);
    return bytes;
}

std::string hexList(size_t from, size_t to) {
    std::string text;
    char pair[4];
    for (size_t i = from; i < to; ++i) {
        std::snprintf(pair, sizeof pair, "%02x", static_cast<unsigned>(i));
        text += std::string(text.empty() ? "" : ",") + pair;
    }
    return text;
}

TEST(RegFileWriter, EachValueTypeIsWrittenAsRegeditExportsIt) {
    struct Case {
        const char* what;
        RegValue value;
        std::string line;
    };
    const std::vector<Case> cases = {
        {"string", RegValue::text("Start Page", REG_SZ, "http://x/"), "\"Start Page\"=\"http://x/\""},
        {"default value", RegValue::text("", REG_SZ, "d"), "@=\"d\""},
        {"escapes in name and string", RegValue::text("a\"b\\c", REG_SZ, "C:\\x \"y\""),
         "\"a\\\"b\\\\c\"=\"C:\\\\x \\\"y\\\"\""},
        {"non-ASCII string", RegValue::text("Titel", REG_SZ, "Caf\xc3\xa9 \xd0\x9f"), "\"Titel\"=\"Caf\xc3\xa9 \xd0\x9f\""},
        {"empty string", RegValue::text("e", REG_SZ, ""), "\"e\"=\"\""},
        // A line break cannot stand between quotes for Windows' regedit: the exact bytes in hex.
        {"string with a line break", RegValue::text("n", REG_SZ, "a\nb"), "\"n\"=hex(1):61,00,0a,00,62,00,00,00"},
        {"dword", RegValue::dword("D", 0xFF0000), "\"D\"=dword:00ff0000"},
        {"dword of other length", RegValue::binary("d", {1, 2}, REG_DWORD), "\"d\"=hex(4):01,02"},
        {"binary", RegValue::binary("B", {0x5a, 0x00, 0xff}), "\"B\"=hex:5a,00,ff"},
        {"empty binary", RegValue::binary("B", {}), "\"B\"=hex:"},
        {"expand string", RegValue::text("P", REG_EXPAND_SZ, "%A%"), "\"P\"=hex(2):25,00,41,00,25,00,00,00"},
        {"multi string", RegValue::multiText("M", {"a", "b"}), "\"M\"=hex(7):61,00,00,00,62,00,00,00,00,00"},
        {"qword", RegValue::binary("Q", {1, 0, 0, 0, 0, 0, 0, 0}, 11), "\"Q\"=hex(b):01,00,00,00,00,00,00,00"},
        {"none", RegValue::binary("N", {7}, REG_NONE), "\"N\"=hex(0):07"},
        // Lines break once they reach 77 characters: 23 bytes after "b"=hex:, then 25 a line.
        {"long binary", RegValue::binary("b", counting(50)),
         "\"b\"=hex:" + hexList(0, 23) + ",\\\r\n  " + hexList(23, 48) + ",\\\r\n  " + hexList(48, 50)},
        {"break before the last byte", RegValue::binary("b", counting(24)),
         "\"b\"=hex:" + hexList(0, 23) + ",\\\r\n  17"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(written({c.value}), regFileBytes(kHead + c.line + "\r\n\r\n"));
    }
}

TEST(RegFileWriter, KeysFollowEachOtherWithABlankLineBetween) {
    MemoryStream out;
    RegFileWriter writer(out);
    writer.key("HKEY_CURRENT_USER\\A");
    writer.key("HKEY_CURRENT_USER\\A\\B");
    writer.value(RegValue::dword("x", 1));
    writer.finish();
    EXPECT_EQ(out.takeBytes(), regFileBytes("Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\A]\r\n"
                                            "\r\n[HKEY_CURRENT_USER\\A\\B]\r\n\"x\"=dword:00000001\r\n\r\n"));
}

}  // namespace
}  // namespace ts
