#include "app/cli/terminal_text.h"

#include <cstdint>

namespace ts::cli {
namespace {

// The length of the well-formed UTF-8 sequence at text[at] and its code point; 0 when the
// bytes there are not one.
size_t utf8Sequence(std::string_view text, size_t at, uint32_t& codePoint) {
    const auto lead = static_cast<unsigned char>(text[at]);
    size_t length;
    uint32_t min;
    if (lead < 0x80) {
        codePoint = lead;
        return 1;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2, min = 0x80, codePoint = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, min = 0x800, codePoint = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, min = 0x10000, codePoint = lead & 0x07;
    } else {
        return 0;
    }
    if (at + length > text.size()) return 0;
    for (size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[at + i]);
        if ((next & 0xC0) != 0x80) return 0;
        codePoint = (codePoint << 6) | (next & 0x3F);
    }
    if (codePoint < min || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF)) return 0;
    return length;
}

bool isControl(uint32_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

void appendEscaped(std::string& out, std::string_view bytes) {
    static const char kHex[] = "0123456789abcdef";
    for (char byte : bytes) {
        const auto b = static_cast<unsigned char>(byte);
        out += "\\x";
        out += kHex[b >> 4];
        out += kHex[b & 0x0F];
    }
}

}  // namespace

std::string visibleText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t at = 0; at < text.size();) {
        uint32_t codePoint = 0;
        const size_t length = utf8Sequence(text, at, codePoint);
        if (length == 0) {
            appendEscaped(out, text.substr(at, 1));
            ++at;
            continue;
        }
        if (isControl(codePoint))
            appendEscaped(out, text.substr(at, length));
        else
            out.append(text.substr(at, length));
        at += length;
    }
    return out;
}

}  // namespace ts::cli
