#pragma once
// Wine's escaping of names, strings and key paths in user.reg, in both directions, on
// UTF-16 code units as Wine's server keeps them.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace ts::wine_reg {

struct UnescapedText {
    std::u16string units;   // without any terminating NUL
    size_t consumed = 0;    // characters of the input used, the closing delimiter included
};

// Reads escaped text up to the first unescaped `delimiter`. Raw bytes from 0x80 up are UTF-8;
// bytes that form no character are dropped, as Wine drops them. nullopt when the line ends
// before the delimiter.
std::optional<UnescapedText> unescape(std::string_view text, char delimiter);

// Writes units exactly as Wine does: backslash and the two `delimiters` escaped, control
// characters as C or octal escapes, everything above 0x7F as \x escapes.
std::string escape(std::u16string_view units, std::string_view delimiters);

}  // namespace ts::wine_reg
