#include "platform/ansi_text.h"

#include <array>
#include <cstdint>
#include <optional>

#include "platform/unicode.h"

namespace ts {

namespace {

// Code points of bytes 0x80..0x9F. The five bytes Windows-1252 leaves undefined map to the
// C1 control of the same value, as Windows itself converts them, so every byte round-trips.
constexpr std::array<char32_t, 32> kHighControls = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

char32_t cp1252ToCodePoint(unsigned char byte) {
    if (byte >= 0x80 && byte <= 0x9F) return kHighControls[byte - 0x80];
    return byte;
}

std::optional<unsigned char> codePointToCp1252(char32_t cp) {
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<unsigned char>(cp);
    for (size_t i = 0; i < kHighControls.size(); ++i)
        if (kHighControls[i] == cp) return static_cast<unsigned char>(0x80 + i);
    return std::nullopt;
}

bool isAscii(std::string_view text) {
    for (unsigned char c : text)
        if (c >= 0x80) return false;
    return true;
}

}  // namespace

bool isValidUtf8(std::string_view bytes) {
    for (size_t i = 0; i < bytes.size();) {
        char32_t cp;
        size_t length = unicode::decodeUtf8(bytes, i, cp);
        if (length == 0) return false;
        i += length;
    }
    return true;
}

std::string toAnsi(std::string_view hostText) {
    if (isAscii(hostText) || !isValidUtf8(hostText)) return std::string(hostText);
    std::string out;
    out.reserve(hostText.size());
    for (size_t i = 0; i < hostText.size();) {
        char32_t cp;
        i += unicode::decodeUtf8(hostText, i, cp);
        auto ansi = codePointToCp1252(cp);
        if (!ansi) return std::string(hostText);
        out += static_cast<char>(*ansi);
    }
    return out;
}

std::string fromAnsi(std::string_view ansiBytes) {
    if (isAscii(ansiBytes) || isValidUtf8(ansiBytes)) return std::string(ansiBytes);
    std::string out;
    out.reserve(ansiBytes.size() * 2);
    for (unsigned char c : ansiBytes) unicode::appendUtf8(out, cp1252ToCodePoint(c));
    return out;
}

}  // namespace ts
