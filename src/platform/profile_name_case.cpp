#include "platform/profile_name_case.h"

#include <locale.h>
#include <wctype.h>

#include <vector>

namespace ts {

namespace {

// The C.UTF-8 locale holds the full Unicode simple case mapping; without it only ASCII
// letters fold, which is still right for every name the program itself makes.
locale_t unicodeLocale() {
    static const locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    return locale;
}

// Marks an undecodable byte: a lone surrogate value, which no valid UTF-8 text yields.
constexpr char32_t kInvalidByteBase = 0xDC00;

size_t decodeOne(std::string_view text, size_t i, char32_t& cp) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char b0 = byte(i);
    size_t length;
    char32_t min;
    if (b0 < 0x80) { cp = b0; return 1; }
    if ((b0 & 0xE0) == 0xC0) { length = 2; cp = b0 & 0x1F; min = 0x80; }
    else if ((b0 & 0xF0) == 0xE0) { length = 3; cp = b0 & 0x0F; min = 0x800; }
    else if ((b0 & 0xF8) == 0xF0) { length = 4; cp = b0 & 0x07; min = 0x10000; }
    else return 0;
    if (i + length > text.size()) return 0;
    for (size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (byte(i + k) & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return length;
}

}  // namespace

char32_t foldCase(char32_t cp) {
    if (cp < 0x80) return (cp >= 'A' && cp <= 'Z') ? cp + ('a' - 'A') : cp;
    if (cp >= 0xD800 && cp <= 0xDFFF) return cp;
    locale_t locale = unicodeLocale();
    if (locale == static_cast<locale_t>(nullptr)) return cp;
    return static_cast<char32_t>(towlower_l(static_cast<wint_t>(cp), locale));
}

std::basic_string<FoldedChar> foldedChars(std::string_view text) {
    std::basic_string<FoldedChar> chars;
    chars.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        char32_t cp = 0;
        size_t length = decodeOne(text, i, cp);
        if (length == 0) {
            chars.push_back({kInvalidByteBase + static_cast<unsigned char>(text[i]), i, 1});
            ++i;
        } else {
            chars.push_back({foldCase(cp), i, length});
            i += length;
        }
    }
    return chars;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a == b) return true;
    auto fa = foldedChars(a), fb = foldedChars(b);
    if (fa.size() != fb.size()) return false;
    for (size_t i = 0; i < fa.size(); ++i)
        if (fa[i].folded != fb[i].folded) return false;
    return true;
}

namespace {

std::optional<TextMatch> findInFolded(const std::basic_string<FoldedChar>& text,
                                      const std::basic_string<FoldedChar>& needle, size_t textBytes,
                                      size_t from) {
    if (needle.empty() || needle.size() > text.size()) return std::nullopt;
    for (size_t start = 0; start + needle.size() <= text.size(); ++start) {
        if (text[start].offset < from) continue;
        size_t k = 0;
        while (k < needle.size() && text[start + k].folded == needle[k].folded) ++k;
        if (k == needle.size()) {
            size_t end = start + k < text.size() ? text[start + k].offset : textBytes;
            return TextMatch{text[start].offset, end - text[start].offset};
        }
    }
    return std::nullopt;
}

}  // namespace

std::optional<TextMatch> findIgnoringCase(std::string_view text, std::string_view needle, size_t from) {
    return findInFolded(foldedChars(text), foldedChars(needle), text.size(), from);
}

std::string replaceAllIgnoringCase(std::string_view text, std::string_view pattern, std::string_view replacement) {
    const auto foldedText = foldedChars(text);
    const auto foldedPattern = foldedChars(pattern);
    std::string result;
    size_t copied = 0;
    while (auto match = findInFolded(foldedText, foldedPattern, text.size(), copied)) {
        result.append(text.substr(copied, match->position - copied));
        result.append(replacement);
        copied = match->position + match->length;
    }
    result.append(text.substr(copied));
    return result;
}

}  // namespace ts
