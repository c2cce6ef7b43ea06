#include "platform/wine_user_reg_escape.h"

#include <cstdio>

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
    auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    unsigned char b0 = byte(i);
    size_t length;
    char32_t cp, min;
    if ((b0 & 0xE0) == 0xC0) { length = 2; cp = b0 & 0x1F; min = 0x80; }
    else if ((b0 & 0xF0) == 0xE0) { length = 3; cp = b0 & 0x0F; min = 0x800; }
    else if ((b0 & 0xF8) == 0xF0) { length = 4; cp = b0 & 0x07; min = 0x10000; }
    else return 1;
    if (i + length > text.size()) return 1;
    for (size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return 1;
        cp = (cp << 6) | (byte(i + k) & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 1;
    if (cp >= 0x10000) {
        cp -= 0x10000;
        out += static_cast<char16_t>(0xD800 + (cp >> 10));
        out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
        out += static_cast<char16_t>(cp);
    }
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
