#pragma once
// The one UTF-8 decoder and encoder of the program, and the one lower-case mapping, shared
// by the ANSI text rule, the registry's UTF-16 text, Wine's registry escapes and the
// case-insensitive matching of Windows names.
#include <cstddef>
#include <string>
#include <string_view>

namespace ts::unicode {

enum class Surrogates { Reject, Accept };

// Decodes the UTF-8 sequence at text[i] into cp and returns its length in bytes, or 0 when
// it is malformed (overlong, truncated, beyond U+10FFFF). Surrogate code points are
// malformed unless `surrogates` accepts their generalised 3-byte form.
size_t decodeUtf8(std::string_view text, size_t i, char32_t& cp, Surrogates surrogates = Surrogates::Reject);
void appendUtf8(std::string& out, char32_t cp);
// Appends cp as one UTF-16 unit, or as a surrogate pair above the basic plane.
void appendUtf16(std::u16string& out, char32_t cp);

bool isSurrogate(char32_t cp);
// The simple Unicode lower-case mapping Windows and Wine compare names with, independent
// of the process locale. Surrogates map to themselves.
char32_t lowerCase(char32_t cp);

}  // namespace ts::unicode
