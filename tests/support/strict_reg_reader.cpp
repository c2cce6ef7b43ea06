#include "support/strict_reg_reader.h"

#include <string_view>

namespace ts::test {

namespace {

[[noreturn]] void refuse(size_t line, const std::string& why) {
    throw std::runtime_error("line " + std::to_string(line) + ": " + why);
}

std::string toUtf8(std::u16string_view text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size()) c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | c >> 6));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | c >> 12));
            out.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | c >> 18));
            out.push_back(static_cast<char>(0x80 | (c >> 12 & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

// A quoted text starting at text[at] == '"'; returns it unescaped and moves `at` past the
// closing quote. Only the escapes \\, \", \n and \r exist.
std::u16string quoted(std::u16string_view text, size_t& at, size_t line) {
    if (at >= text.size() || text[at] != u'"') refuse(line, "a quote was expected");
    std::u16string out;
    for (++at; at < text.size(); ++at) {
        const char16_t c = text[at];
        if (c == u'"') {
            ++at;
            return out;
        }
        if (c < 0x20 && c != u'\t') refuse(line, "a control character inside quotes");
        if (c != u'\\') {
            out.push_back(c);
            continue;
        }
        if (++at == text.size()) break;
        switch (text[at]) {
        case u'\\': out.push_back(u'\\'); break;
        case u'"': out.push_back(u'"'); break;
        case u'n': out.push_back(u'\n'); break;
        case u'r': out.push_back(u'\r'); break;
        default: refuse(line, "an unknown escape");
        }
    }
    refuse(line, "a quoted text does not end");
}

int hexDigit(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return -1;
}

}  // namespace

StrictRegFile readRegFileStrictly(const std::vector<uint8_t>& bytes) {
    if (bytes.size() < 2 || bytes[0] != 0xFF || bytes[1] != 0xFE || bytes.size() % 2 != 0)
        refuse(0, "not UTF-16LE with a byte order mark");
    std::u16string text;
    for (size_t i = 2; i < bytes.size(); i += 2) text.push_back(static_cast<char16_t>(bytes[i] | bytes[i + 1] << 8));
    std::vector<std::u16string> lines;
    for (size_t start = 0;;) {
        const size_t end = text.find(u"\r\n", start);
        if (end == std::u16string::npos) {
            if (start != text.size()) refuse(lines.size() + 1, "the last line has no CRLF");
            break;
        }
        const std::u16string line = text.substr(start, end - start);
        if (line.find_first_of(std::u16string_view(u"\r\n\0", 3)) != std::u16string::npos)
            refuse(lines.size() + 1, "a lone line break or a NUL");
        lines.push_back(line);
        start = end + 2;
    }
    if (lines.empty() || lines[0] != u"Windows Registry Editor Version 5.00") refuse(1, "no version line");

    StrictRegFile file;
    std::map<std::string, StrictRegValue>* key = nullptr;
    for (size_t n = 1; n < lines.size(); ++n) {
        const std::u16string& line = lines[n];
        const size_t number = n + 1;
        if (line.empty()) {
            key = nullptr;
            continue;
        }
        if (line.front() == u'[') {
            if (lines[n - 1].size() != 0) refuse(number, "a key line without a blank line before it");
            if (line.back() != u']' || line.size() < 3 || line[1] == u'-') refuse(number, "not a key line");
            key = &file[toUtf8(std::u16string_view(line).substr(1, line.size() - 2))];
            continue;
        }
        if (!key) refuse(number, "a value outside a key");
        size_t at = 0;
        std::string name;
        if (line.starts_with(u"@=")) {
            at = 1;
        } else {
            name = toUtf8(quoted(line, at, number));
            if (at >= line.size() || line[at] != u'=') refuse(number, "no '=' after the value name");
        }
        ++at;
        StrictRegValue value;
        const std::u16string_view rest = std::u16string_view(line).substr(at);
        if (rest.starts_with(u"\"")) {
            const std::u16string data = quoted(line, at, number);
            if (at != line.size()) refuse(number, "text after a string");
            value.type = 1;
            for (char16_t c : data) {
                value.data.push_back(static_cast<uint8_t>(c));
                value.data.push_back(static_cast<uint8_t>(c >> 8));
            }
            value.data.insert(value.data.end(), {0, 0});
        } else if (rest.starts_with(u"dword:")) {
            if (rest.size() != 14) refuse(number, "a dword is not 8 hex digits");
            uint32_t number32 = 0;
            for (char16_t c : rest.substr(6)) {
                if (hexDigit(c) < 0) refuse(number, "a dword is not 8 hex digits");
                number32 = number32 << 4 | static_cast<uint32_t>(hexDigit(c));
            }
            value.type = 4;
            for (int i = 0; i < 4; ++i) value.data.push_back(static_cast<uint8_t>(number32 >> (8 * i)));
        } else if (rest.starts_with(u"hex")) {
            size_t pos = 3;
            value.type = 3;
            if (rest.size() > pos && rest[pos] == u'(') {
                const size_t close = rest.find(u')', pos);
                if (close == std::u16string::npos || close == pos + 1) refuse(number, "a bad hex type");
                value.type = 0;
                for (char16_t c : rest.substr(pos + 1, close - pos - 1)) {
                    if (hexDigit(c) < 0) refuse(number, "a bad hex type");
                    value.type = value.type << 4 | static_cast<uint32_t>(hexDigit(c));
                }
                pos = close + 1;
            }
            if (rest.size() <= pos || rest[pos] != u':') refuse(number, "no ':' after hex");
            std::u16string digits(rest.substr(pos + 1));
            // Continuation lines: a trailing backslash, then two blanks on the next line.
            while (!digits.empty() && digits.back() == u'\\') {
                digits.pop_back();
                if (++n >= lines.size() || !lines[n].starts_with(u"  ")) refuse(n + 1, "a bad continuation line");
                digits += lines[n].substr(2);
            }
            for (size_t i = 0; i < digits.size(); i += 3) {
                if (i + 2 > digits.size() || hexDigit(digits[i]) < 0 || hexDigit(digits[i + 1]) < 0)
                    refuse(number, "a bad hex pair");
                value.data.push_back(static_cast<uint8_t>(hexDigit(digits[i]) << 4 | hexDigit(digits[i + 1])));
                if (i + 2 < digits.size() && digits[i + 2] != u',') refuse(number, "hex pairs not split by commas");
            }
        } else {
            refuse(number, "an unknown value form");
        }
        if (!key->emplace(name, value).second) refuse(number, "a value named twice in one key");
    }
    return file;
}

}  // namespace ts::test
