#include "platform/registry/registry_hive_text.h"

#include "platform/unicode.h"

namespace ts::hive_text {

namespace {

constexpr char16_t kReplacement = 0xFFFD;

bool isHighSurrogate(char32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool isLowSurrogate(char32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

char16_t lowerUnit(char16_t unit) {
    char32_t lower = unicode::lowerCase(unit);
    // A mapping that leaves the basic plane would change the unit count; keep the unit.
    return lower <= 0xFFFF ? static_cast<char16_t>(lower) : unit;
}

}  // namespace

std::u16string toUtf16(std::string_view utf8) {
    std::u16string out;
    out.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size();) {
        char32_t cp;
        size_t length = unicode::decodeUtf8(utf8, i, cp, unicode::Surrogates::Accept);
        if (length == 0) {
            out += kReplacement;
            ++i;
            continue;
        }
        i += length;
        unicode::appendUtf16(out, cp);
    }
    return out;
}

std::string toUtf8(std::u16string_view units) {
    std::string out;
    out.reserve(units.size());
    for (size_t i = 0; i < units.size(); ++i) {
        char32_t unit = units[i];
        if (isHighSurrogate(unit) && i + 1 < units.size() && isLowSurrogate(units[i + 1])) {
            unicode::appendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (units[i + 1] - 0xDC00));
            ++i;
        } else {
            unicode::appendUtf8(out, unit);
        }
    }
    return out;
}

std::u16string foldCase(std::u16string_view units) {
    std::u16string out(units);
    for (char16_t& unit : out) unit = lowerUnit(unit);
    return out;
}

std::vector<uint8_t> toLittleEndianBytes(std::u16string_view units) {
    std::vector<uint8_t> out;
    out.reserve(units.size() * 2);
    for (char16_t unit : units) {
        out.push_back(static_cast<uint8_t>(unit & 0xFF));
        out.push_back(static_cast<uint8_t>(unit >> 8));
    }
    return out;
}

std::u16string fromLittleEndianBytes(std::span<const uint8_t> bytes) {
    std::u16string out;
    out.reserve(bytes.size() / 2);
    for (size_t i = 0; i + 1 < bytes.size(); i += 2)
        out += static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8));
    return out;
}

}  // namespace ts::hive_text
