#include "app/cli/terminal_text.h"

#include "platform/unicode.h"

namespace ts::cli {
namespace {

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

bool isTerminalControl(char32_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

std::string visibleText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t at = 0; at < text.size();) {
        char32_t codePoint = 0;
        size_t length = unicode::decodeUtf8(text, at, codePoint);
        const bool shown = length > 0 && !isTerminalControl(codePoint);
        if (length == 0) length = 1;
        if (shown)
            out.append(text.substr(at, length));
        else
            appendEscaped(out, text.substr(at, length));
        at += length;
    }
    return out;
}

}  // namespace ts::cli
