#include "platform/registry/wine_user_reg_escape.h"

#include <cstdio>

#include "platform/unicode.h"

namespace ts::wine_reg {

namespace {

bool isHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

unsigned hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return c - 'A' + 10;
}

bool isOctalDigit(char c) { return c >= '0' && c <= '7'; }

char16_t controlEscape(char c) {
    switch (c) {
    case 'a': return 7;
    case 'b': return 8;
    case 't': return 9;
    case 'n': return 10;
    case 'v': return 11;
    case 'f': return 12;
    case 'r': return 13;
    case 'e': return 27;
    default: return 0;
    }
}

// Decodes the UTF-8 character at text[i] into out; returns the bytes used. A byte that
// starts no well-formed character is used up without output.
size_t decodeRawCharacter(std::string_view text, size_t i, std::u16string& out) {
    char32_t cp;
    size_t length = unicode::decodeUtf8(text, i, cp);
    if (length == 0) return 1;
    unicode::appendUtf16(out, cp);
    return length;
}

// Reads the escape whose backslash precedes text[i]; returns the characters used after it.
size_t readEscape(std::string_view text, size_t i, std::u16string& out) {
    char c = text[i];
    if (char16_t control = controlEscape(c)) {
        out += control;
        return 1;
    }
    if (c == 'x') {
        size_t k = i + 1;
        unsigned value = 0;
        while (k < text.size() && k < i + 5 && isHexDigit(text[k])) value = value * 16 + hexValue(text[k++]);
        out += (k == i + 1) ? u'x' : static_cast<char16_t>(value);
        return k - i;
    }
    if (isOctalDigit(c)) {
        size_t k = i;
        unsigned value = 0;
        while (k < text.size() && k < i + 3 && isOctalDigit(text[k])) value = value * 8 + (text[k++] - '0');
        out += static_cast<char16_t>(value);
        return k - i;
    }
    if (static_cast<unsigned char>(c) >= 0x80) return decodeRawCharacter(text, i, out);
    out += static_cast<char16_t>(static_cast<unsigned char>(c));
    return 1;
}

}  // namespace

std::optional<UnescapedText> unescape(std::string_view text, char delimiter) {
    UnescapedText result;
    size_t i = 0;
    while (i < text.size() && text[i] != delimiter) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '\\') {
            if (i + 1 >= text.size()) return std::nullopt;
            i += 1 + readEscape(text, i + 1, result.units);
        } else if (c >= 0x80) {
            i += decodeRawCharacter(text, i, result.units);
        } else {
            result.units += static_cast<char16_t>(c);
            ++i;
        }
    }
    if (i >= text.size()) return std::nullopt;
    result.consumed = i + 1;
    return result;
}

std::string escape(std::u16string_view units, std::string_view delimiters) {
    static constexpr char kControlEscapes[33] = ".......abtnvfr.............e....";
    std::string out;
    out.reserve(units.size());
    char buffer[16];
    for (size_t i = 0; i < units.size(); ++i) {
        char16_t unit = units[i];
        bool hasNext = i + 1 < units.size();
        char16_t next = hasNext ? units[i + 1] : 0;
        if (unit > 0x7F) {
            bool nextIsHex = hasNext && next < 0x80 && isHexDigit(static_cast<char>(next));
            std::snprintf(buffer, sizeof buffer, nextIsHex ? "\\x%04x" : "\\x%x", static_cast<unsigned>(unit));
            out += buffer;
        } else if (unit < 0x20) {
            if (kControlEscapes[unit] != '.') {
                out += '\\';
                out += kControlEscapes[unit];
            } else {
                bool nextIsOctal = hasNext && next >= '0' && next <= '7';
                std::snprintf(buffer, sizeof buffer, nextIsOctal ? "\\%03o" : "\\%o", static_cast<unsigned>(unit));
                out += buffer;
            }
        } else {
            char c = static_cast<char>(unit);
            if (c == '\\' || delimiters.find(c) != std::string_view::npos) out += '\\';
            out += c;
        }
    }
    return out;
}

}  // namespace ts::wine_reg
