#include "app/cli/json_text.h"

#include <cstdio>

#include "app/cli/terminal_text.h"
#include "platform/unicode.h"

namespace ts::cli {

std::string jsonString(std::string_view text) {
    std::string out = "\"";
    size_t i = 0;
    while (i < text.size()) {
        char32_t cp = 0;
        const size_t length = unicode::decodeUtf8(text, i, cp);
        if (length == 0) {
            out += "\\ufffd";
            ++i;
            continue;
        }
        i += length;
        switch (cp) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\b': out += "\\b"; break;
            case '\f': out += "\\f"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                // Escaped, JSON stays what it is also when it goes to a terminal.
                if (isTerminalControl(cp)) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(cp));
                    out += escaped;
                } else {
                    unicode::appendUtf8(out, cp);
                }
        }
    }
    return out + "\"";
}

}  // namespace ts::cli
