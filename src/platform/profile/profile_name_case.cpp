#include "platform/profile/profile_name_case.h"

#include <vector>

#include "platform/unicode.h"

namespace ts {

namespace {

// Marks an undecodable byte: a lone surrogate value, which no valid UTF-8 text yields.
constexpr char32_t kInvalidByteBase = 0xDC00;

bool isAscii(std::string_view text) {
    for (const char c : text)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

// In ASCII text no character folds across the 0x80 line, so bytes can be compared directly;
// profile paths are nearly always ASCII, and this spares decoding them for every match.
char asciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::optional<TextMatch> findAscii(std::string_view text, std::string_view needle, size_t from) {
    if (needle.empty() || needle.size() > text.size()) return std::nullopt;
    const char first = asciiLower(needle[0]);
    for (size_t start = from; start + needle.size() <= text.size(); ++start) {
        if (asciiLower(text[start]) != first) continue;
        size_t k = 1;
        while (k < needle.size() && asciiLower(text[start + k]) == asciiLower(needle[k])) ++k;
        if (k == needle.size()) return TextMatch{start, needle.size()};
    }
    return std::nullopt;
}

}  // namespace

char32_t foldCase(char32_t cp) { return unicode::lowerCase(cp); }

std::basic_string<FoldedChar> foldedChars(std::string_view text) {
    std::basic_string<FoldedChar> chars;
    chars.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        char32_t cp = 0;
        size_t length = unicode::decodeUtf8(text, i, cp);
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
    if (isAscii(a) && isAscii(b)) {
        if (a.size() != b.size()) return false;
        for (size_t i = 0; i < a.size(); ++i)
            if (asciiLower(a[i]) != asciiLower(b[i])) return false;
        return true;
    }
    auto fa = foldedChars(a), fb = foldedChars(b);
    if (fa.size() != fb.size()) return false;
    for (size_t i = 0; i < fa.size(); ++i)
        if (fa[i].folded != fb[i].folded) return false;
    return true;
}

std::string caseFoldedKey(std::string_view text) {
    // Most names are ASCII throughout: those fold byte for byte into a key of their length.
    std::string key(text.size(), '\0');
    size_t i = 0;
    for (; i < text.size() && static_cast<unsigned char>(text[i]) < 0x80; ++i) key[i] = asciiLower(text[i]);
    if (i == text.size()) return key;
    key.resize(i);
    while (i < text.size()) {
        const unsigned char byte = static_cast<unsigned char>(text[i]);
        if (byte < 0x80) {
            key += asciiLower(static_cast<char>(byte));
            ++i;
            continue;
        }
        char32_t cp = 0;
        const size_t length = unicode::decodeUtf8(text, i, cp);
        if (length == 0) {
            key += '\xFF';
            key += static_cast<char>(byte);
            ++i;
        } else {
            unicode::appendUtf8(key, foldCase(cp));
            i += length;
        }
    }
    return key;
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
    if (isAscii(text) && isAscii(needle)) return findAscii(text, needle, from);
    return findInFolded(foldedChars(text), foldedChars(needle), text.size(), from);
}

std::string replaceAllIgnoringCase(std::string_view text, std::string_view pattern, std::string_view replacement) {
    if (isAscii(text) && isAscii(pattern)) {
        auto match = findAscii(text, pattern, 0);
        if (!match) return std::string(text);
        std::string result;
        size_t copied = 0;
        for (; match; match = findAscii(text, pattern, copied)) {
            result.append(text.substr(copied, match->position - copied));
            result.append(replacement);
            copied = match->position + match->length;
        }
        result.append(text.substr(copied));
        return result;
    }
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
