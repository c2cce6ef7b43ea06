#include "platform/registry/wine_user_reg_lines.h"

#include <cstdio>

#include "platform/registry/registry_hive_text.h"
#include "platform/registry/wine_user_reg_escape.h"

namespace ts::wine_reg {

namespace {

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

std::string_view skipSpaces(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && isSpace(text[i])) ++i;
    return text.substr(i);
}

int hexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// strtoul(text, &end, 16) as the C library reads it, the result cut to 32 bits as Wine
// stores it; `used` is 0 when no digit was read.
uint32_t readHexNumber(std::string_view text, size_t& used) {
    size_t i = 0;
    while (i < text.size() && isSpace(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    bool hasBasePrefix = i + 2 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X') &&
                         hexDigitValue(text[i + 2]) >= 0;
    if (hasBasePrefix) i += 2;
    size_t digitsStart = i;
    uint64_t value = 0;
    bool overflow = false;
    while (i < text.size() && hexDigitValue(text[i]) >= 0) {
        if (value > (UINT64_MAX >> 4)) overflow = true;
        value = (value << 4) | static_cast<uint64_t>(hexDigitValue(text[i]));
        ++i;
    }
    if (i == digitsStart) {
        used = 0;
        return 0;
    }
    used = i;
    if (overflow) value = UINT64_MAX;
    if (negative) value = ~value + 1;
    return static_cast<uint32_t>(value);
}

// Reads "hh,hh,..." from one line into out; the rest after the list, or nullopt when a
// byte is malformed.
std::string_view readHexList(std::string_view text, std::vector<uint8_t>& out) {
    for (;;) {
        text = skipSpaces(text);
        if (text.size() < 2 || hexDigitValue(text[0]) < 0 || hexDigitValue(text[1]) < 0) return text;
        out.push_back(static_cast<uint8_t>(hexDigitValue(text[0]) * 16 + hexDigitValue(text[1])));
        text = skipSpaces(text.substr(2));
        if (text.empty() || text[0] != ',') return text;
        text.remove_prefix(1);
    }
}

// The byte list with its continuation lines; false when malformed.
bool readHexData(std::string_view text, const NextLine& nextLine, std::vector<uint8_t>& out) {
    for (;;) {
        text = skipSpaces(readHexList(text, out));
        if (text.empty()) return true;
        if (text[0] != '\\') return false;
        auto next = nextLine();
        if (!next) return false;
        text = *next;
    }
}

std::vector<uint8_t> stringData(std::u16string_view units) {
    std::vector<uint8_t> data = hive_text::toLittleEndianBytes(units);
    data.push_back(0);
    data.push_back(0);
    return data;
}

// Reads the data part of a value line into value; false when it is malformed.
bool parseData(std::string_view text, const NextLine& nextLine, RegValue& value) {
    struct StringTag {
        std::string_view tag;
        uint32_t type;
    };
    static constexpr StringTag kStringTags[] = {
        {"\"", REG_SZ}, {"str:\"", REG_SZ}, {"str(2):\"", REG_EXPAND_SZ}, {"str(7):\"", REG_MULTI_SZ}};
    for (const StringTag& tag : kStringTags) {
        if (!text.starts_with(tag.tag)) continue;
        auto unescaped = unescape(text.substr(tag.tag.size()), '"');
        if (!unescaped) return false;
        value.type = tag.type;
        value.data = stringData(unescaped->units);
        return true;
    }
    if (text.starts_with("hex:")) {
        value.type = REG_BINARY;
        return readHexData(text.substr(4), nextLine, value.data);
    }
    if (text.starts_with("dword:")) {
        size_t used;
        uint32_t number = readHexNumber(text.substr(6), used);
        value.type = REG_DWORD;
        value.data = {static_cast<uint8_t>(number), static_cast<uint8_t>(number >> 8),
                      static_cast<uint8_t>(number >> 16), static_cast<uint8_t>(number >> 24)};
        return true;
    }
    if (text.starts_with("hex(")) {
        size_t used;
        uint32_t type = readHexNumber(text.substr(4), used);
        std::string_view rest = text.substr(4 + used);
        if (!rest.starts_with("):")) return false;
        value.type = type;
        return readHexData(rest.substr(2), nextLine, value.data);
    }
    return false;
}

}  // namespace

std::optional<Line> LineCursor::next() {
    if (pos_ >= text_.size()) return std::nullopt;
    size_t end = text_.find('\n', pos_);
    end = end == std::string_view::npos ? text_.size() : end + 1;
    Line line{text_.substr(pos_, end - pos_), {}};
    pos_ = end;
    ++number_;
    std::string_view content = line.raw;
    if (content.ends_with('\n')) content.remove_suffix(1);
    if (content.ends_with('\r')) content.remove_suffix(1);
    line.content = content.substr(0, content.find('\0'));
    return line;
}

std::string_view skipLeadingSpaces(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\v' || text[i] == '\f' || text[i] == '\r'))
        ++i;
    return text.substr(i);
}

ParsedValue parseValueAt(std::string_view text, size_t offset) {
    LineCursor cursor(text, offset);
    const std::string_view content = skipLeadingSpaces(cursor.next()->content);
    auto parsed = parseValue(content, [&]() -> std::optional<std::string_view> {
        auto continuation = cursor.next();
        if (!continuation) return std::nullopt;
        return skipLeadingSpaces(continuation->content);
    });
    return std::move(*parsed);
}

std::u16string parseValueNameAt(std::string_view text, size_t offset) {
    const std::string_view content = skipLeadingSpaces(LineCursor(text, offset).next()->content);
    if (content.starts_with('@')) return {};
    return std::move(unescape(content.substr(1), '"')->units);
}

std::optional<ParsedValue> parseValue(std::string_view content, const NextLine& nextLine) {
    ParsedValue parsed;
    std::string_view rest;
    if (content.starts_with('@')) {
        rest = content.substr(1);
    } else if (content.starts_with('"')) {
        auto name = unescape(content.substr(1), '"');
        if (!name) return std::nullopt;
        parsed.value.name = hive_text::toUtf8(name->units);
        rest = content.substr(1 + name->consumed);
    } else {
        return std::nullopt;
    }
    rest = skipSpaces(rest);
    bool wellFormed = rest.starts_with('=') && parseData(skipSpaces(rest.substr(1)), nextLine, parsed.value);
    if (!wellFormed) {
        parsed.wellFormed = false;
        parsed.value.type = REG_NONE;
        parsed.value.data.clear();
    }
    return parsed;
}

std::optional<std::vector<std::u16string>> parseKeyPath(std::string_view content) {
    auto path = unescape(content, ']');
    if (!path) return std::nullopt;
    std::vector<std::u16string> components;
    std::u16string_view units = path->units;
    while (!units.empty()) {
        size_t separator = units.find(u'\\');
        std::u16string_view component = units.substr(0, separator);
        if (!component.empty()) components.emplace_back(component);
        if (separator == std::u16string_view::npos) break;
        units.remove_prefix(separator + 1);
    }
    return components;
}

std::string formatValue(const RegValue& value) {
    std::string out;
    if (value.name.empty()) {
        out = "@=";
    } else {
        out = "\"" + escape(hive_text::toUtf16(value.name), "\"\"") + "\"=";
    }
    size_t count = out.size();
    const std::vector<uint8_t>& data = value.data;
    bool stringType = value.type == REG_SZ || value.type == REG_EXPAND_SZ || value.type == REG_MULTI_SZ;
    if (stringType && data.size() >= 2 && data.size() % 2 == 0 && data[data.size() - 2] == 0 && data.back() == 0) {
        std::u16string units = hive_text::fromLittleEndianBytes(data);
        units.pop_back();
        if (value.type != REG_SZ) out += value.type == REG_EXPAND_SZ ? "str(2):" : "str(7):";
        return out + "\"" + escape(units, "\"\"") + "\"\n";
    }
    char buffer[32];
    if (value.type == REG_DWORD && data.size() == 4) {
        uint32_t number = data[0] | (data[1] << 8) | (data[2] << 16) | (static_cast<uint32_t>(data[3]) << 24);
        std::snprintf(buffer, sizeof buffer, "dword:%08x\n", number);
        return out + buffer;
    }
    if (value.type == REG_BINARY) {
        out += "hex:";
        count += 4;
    } else {
        int length = std::snprintf(buffer, sizeof buffer, "hex(%x):", value.type);
        out += buffer;
        count += static_cast<size_t>(length);
    }
    for (size_t i = 0; i < data.size(); ++i) {
        std::snprintf(buffer, sizeof buffer, "%02x", data[i]);
        out += buffer;
        count += 2;
        if (i + 1 < data.size()) {
            out += ',';
            if (++count > 76) {
                out += "\\\n  ";
                count = 2;
            }
        }
    }
    return out + "\n";
}

std::string formatKeyHeader(const std::vector<std::u16string>& components, int64_t unixSeconds,
                            uint32_t hundredNanoseconds) {
    std::string out = "[";
    for (size_t i = 0; i < components.size(); ++i) {
        if (i > 0) out += "\\\\";
        out += escape(components[i], "[]");
    }
    constexpr uint64_t kSecondsFrom1601To1970 = 11644473600ULL;
    uint64_t filetime = (static_cast<uint64_t>(unixSeconds) + kSecondsFrom1601To1970) * 10000000ULL + hundredNanoseconds;
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "] %u\n#time=%x%08x\n", static_cast<unsigned>(unixSeconds),
                  static_cast<unsigned>(filetime >> 32), static_cast<unsigned>(filetime & 0xFFFFFFFF));
    return out + buffer;
}

}  // namespace ts::wine_reg
