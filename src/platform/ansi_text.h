#pragma once
// The one boundary between host text (UTF-8) and the 8-bit text of the file formats, the
// registry and pass phrases (the Windows ANSI code page, Windows-1252).
//
// Writing: text that Windows-1252 can hold becomes Windows-1252, so names, keys and cipher
// keys match what the Windows program makes; any other text stays UTF-8 so nothing is lost.
// Reading: bytes that form valid UTF-8 with at least one non-ASCII character are UTF-8,
// anything else is Windows-1252.
#include <string>
#include <string_view>

namespace ts {

std::string toAnsi(std::string_view hostText);
std::string fromAnsi(std::string_view ansiBytes);

// True when the bytes are well-formed UTF-8 (no overlongs, no surrogates).
bool isValidUtf8(std::string_view bytes);

}  // namespace ts
