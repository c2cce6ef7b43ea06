#pragma once
// The fixed records of the files (project, destination, schedule, data header) are byte
// images: fixed-width little-endian numbers and fixed 256-byte text fields at fixed offsets.
// These put and get one field of such an image, checking that it lies inside the record.
// Numbers are coded byte by byte, so the files are the same on any host.
#include <bit>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

#include "part/text_field.h"

namespace ts::record {

namespace detail {

inline void requireInside(size_t recordSize, size_t offset, size_t width) {
    if (offset > recordSize || width > recordSize - offset)
        throw std::out_of_range("A record field runs past the end of its record");
}

template <typename T>
using Bits = std::conditional_t<
    sizeof(T) == 1, uint8_t,
    std::conditional_t<sizeof(T) == 2, uint16_t, std::conditional_t<sizeof(T) == 4, uint32_t, uint64_t>>>;

}  // namespace detail

// A number (any integer, float or double) or a bool (one byte, 1 or 0).
template <typename T>
concept Fixed = std::integral<T> || std::floating_point<T>;

template <Fixed T>
void putFixed(std::span<uint8_t> record, size_t offset, T value) {
    detail::requireInside(record.size(), offset, sizeof(T));
    using Bits = detail::Bits<T>;
    Bits bits;
    if constexpr (std::same_as<T, bool>) bits = value ? 1 : 0;
    else bits = std::bit_cast<Bits>(value);
    for (size_t i = 0; i < sizeof(T); ++i) record[offset + i] = static_cast<uint8_t>(bits >> (8 * i));
}

template <Fixed T>
T getFixed(std::span<const uint8_t> record, size_t offset) {
    detail::requireInside(record.size(), offset, sizeof(T));
    using Bits = detail::Bits<T>;
    Bits bits = 0;
    for (size_t i = 0; i < sizeof(T); ++i) bits |= static_cast<Bits>(Bits{record[offset + i]} << (8 * i));
    if constexpr (std::same_as<T, bool>) return bits != 0;
    else return std::bit_cast<T>(bits);
}

// A 256-byte text field (see text_field.h); `what` names it in the error for a text too long.
inline void putText(std::span<uint8_t> record, size_t offset, std::string_view hostText, std::string_view what) {
    detail::requireInside(record.size(), offset, kTextFieldSize);
    textToField(hostText, record.data() + offset, what);
}

inline std::string getText(std::span<const uint8_t> record, size_t offset) {
    detail::requireInside(record.size(), offset, kTextFieldSize);
    return textFromField(record.data() + offset);
}

}  // namespace ts::record
