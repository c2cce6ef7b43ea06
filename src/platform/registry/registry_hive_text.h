#pragma once
// Text as the registry holds it: UTF-16 code units, compared without regard to case.
// Host text is UTF-8; a lone surrogate (which Windows and Wine allow in names and strings)
// travels in host text in its generalised 3-byte UTF-8 form, so nothing is lost either way.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ts::hive_text {

// Bytes that are not UTF-8 become U+FFFD.
std::u16string toUtf16(std::string_view utf8);
std::string toUtf8(std::u16string_view units);

// Each unit in lower case, as the registry compares names; the order of folded names is the
// order in which Wine lists subkeys.
std::u16string foldCase(std::u16string_view units);

std::vector<uint8_t> toLittleEndianBytes(std::u16string_view units);
// A trailing odd byte is not part of any unit and is left out.
std::u16string fromLittleEndianBytes(std::span<const uint8_t> bytes);

}  // namespace ts::hive_text
