#include "items/reg_file_writer.h"

#include <cstdio>

#include "platform/registry/registry_hive_text.h"

namespace ts {

namespace {

constexpr size_t kFlushUnits = 16384;
// regedit breaks a hex line once it reaches this many characters, continuing it after a
// backslash on the next line, indented by two blanks.
constexpr size_t kHexLineLimit = 77;

// Backslashes and quotes are escaped in names and strings alike. A name may also hold line
// breaks, which would end the line; they get the escapes Wine's regedit writes and reads.
// A string holding one is written in hex instead (see quotable), since Windows' regedit
// knows no such escape.
std::u16string escaped(std::u16string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (char16_t c : text) {
        if (c == u'\\' || c == u'"') {
            out.push_back(u'\\');
            out.push_back(c);
        } else if (c == u'\r') {
            out += u"\\r";
        } else if (c == u'\n') {
            out += u"\\n";
        } else {
            out.push_back(c);
        }
    }
    return out;
}

// A string is written between quotes only when reading it back gives exactly its bytes:
// one NUL at the end and none before, and no line break inside.
bool quotable(const RegValue& value, std::u16string& text) {
    if (value.type != REG_SZ || value.data.size() < 2 || value.data.size() % 2 != 0) return false;
    text = hive_text::fromLittleEndianBytes(value.data);
    if (text.back() != u'\0') return false;
    text.pop_back();
    return text.find_first_of(std::u16string_view(u"\0\r\n", 3)) == std::u16string::npos;
}

}  // namespace

RegFileWriter::RegFileWriter(Stream& out) : out_(out) {
    static const uint8_t bom[] = {0xFF, 0xFE};
    out_.write(bom, sizeof bom);
    append("Windows Registry Editor Version 5.00\r\n");
}

void RegFileWriter::append(std::u16string_view text) {
    buffer_.append(text);
    if (buffer_.size() >= kFlushUnits) flush();
}

void RegFileWriter::append(std::string_view ascii) {
    append(std::u16string(ascii.begin(), ascii.end()));
}

void RegFileWriter::flush() {
    const std::vector<uint8_t> bytes = hive_text::toLittleEndianBytes(buffer_);
    out_.write(bytes.data(), static_cast<int64_t>(bytes.size()));
    buffer_.clear();
}

void RegFileWriter::key(const std::string& fullPath) {
    append("\r\n[");
    append(hive_text::toUtf16(fullPath));
    append("]\r\n");
}

void RegFileWriter::value(const RegValue& value) {
    std::u16string line;
    if (value.name.empty()) {
        line = u"@=";
    } else {
        line = u"\"" + escaped(hive_text::toUtf16(value.name)) + u"\"=";
    }
    std::u16string text;
    if (quotable(value, text)) {
        line += u"\"" + escaped(text) + u"\"";
    } else if (value.type == REG_DWORD && value.data.size() == 4) {
        const uint32_t number = static_cast<uint32_t>(value.data[0]) | static_cast<uint32_t>(value.data[1]) << 8 |
                                static_cast<uint32_t>(value.data[2]) << 16 | static_cast<uint32_t>(value.data[3]) << 24;
        char digits[16];
        std::snprintf(digits, sizeof digits, "%08x", number);
        line += u"dword:";
        line.append(digits, digits + 8);
    } else {
        char prefix[24];
        if (value.type == REG_BINARY)
            std::snprintf(prefix, sizeof prefix, "hex:");
        else
            std::snprintf(prefix, sizeof prefix, "hex(%x):", value.type);
        for (const char* p = prefix; *p; ++p) line.push_back(static_cast<char16_t>(*p));
        size_t lineLength = line.size();
        for (size_t i = 0; i < value.data.size(); ++i) {
            char pair[4];
            std::snprintf(pair, sizeof pair, "%02x", value.data[i]);
            line.push_back(static_cast<char16_t>(pair[0]));
            line.push_back(static_cast<char16_t>(pair[1]));
            if (i + 1 == value.data.size()) break;
            line.push_back(u',');
            lineLength += 3;
            if (lineLength >= kHexLineLimit) {
                line += u"\\\r\n  ";
                lineLength = 2;
                append(line);
                line.clear();
            }
        }
    }
    line += u"\r\n";
    append(line);
}

void RegFileWriter::finish() {
    append("\r\n");
    flush();
}

}  // namespace ts
