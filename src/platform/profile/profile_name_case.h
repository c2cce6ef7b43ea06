#pragma once
// Letter case in Windows names. Windows and Wine compare file names, registry names and
// folder paths one character at a time through a simple lower-case mapping, so "AppData"
// and "APPDATA" name the same folder. Text is host UTF-8; a byte that is not part of valid
// UTF-8 compares only with itself.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace ts {

bool equalsIgnoringCase(std::string_view a, std::string_view b);

// A text that two names share exactly when equalsIgnoringCase holds them equal, for keying
// a hash of names: the lower-case form in UTF-8, each undecodable byte as 0xFF and itself
// (0xFF never occurs in UTF-8, so no real character can take its place).
std::string caseFoldedKey(std::string_view text);

struct TextMatch {
    size_t position;  // in bytes
    size_t length;    // in bytes; may differ from the needle's when case changes the encoding length
};

// The first occurrence of needle in text at or after byte `from`, ignoring case.
// An empty needle is never found.
std::optional<TextMatch> findIgnoringCase(std::string_view text, std::string_view needle, size_t from = 0);

// Replaces every occurrence of pattern in text, ignoring case, left to right; replaced
// text is not searched again. An empty pattern changes nothing.
std::string replaceAllIgnoringCase(std::string_view text, std::string_view pattern, std::string_view replacement);

// One character of text: its lower-case form and where it lies in the bytes.
struct FoldedChar {
    char32_t folded;
    size_t offset;
    size_t length;
};
// Decodes text into folded characters. Invalid bytes become one character each, outside
// the range of real characters, so they never equal a letter.
std::basic_string<FoldedChar> foldedChars(std::string_view text);
char32_t foldCase(char32_t codePoint);

}  // namespace ts
