#pragma once
// The registry's own limits, which every reader of outside registry data holds it to before
// it allocates: a name or value past them was not made by a registry.
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace ts::registry_limits {

inline constexpr size_t kMaxKeyNameChars = 255;      // one path component
inline constexpr size_t kMaxValueNameChars = 16383;
inline constexpr size_t kMaxKeyDepth = 512;          // components below the root
// Far above what any real value holds (large data belongs in files), far below what would
// strain memory.
inline constexpr int64_t kMaxValueDataBytes = int64_t{16} << 20;
// A character takes at most this many bytes in any 8-bit form we read (UTF-8 of the BMP).
inline constexpr size_t kMaxBytesPerChar = 3;

// How many characters the registry counts in a UTF-8 text: UTF-16 units.
inline size_t utf16Units(std::string_view utf8) {
    size_t units = 0;
    for (unsigned char c : utf8) {
        if ((c & 0xC0) == 0x80) continue;
        units += c >= 0xF0 ? 2 : 1;
    }
    return units;
}

}  // namespace ts::registry_limits
