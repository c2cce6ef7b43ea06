#pragma once
// Random reads of small pieces of a large file through one fixed window, so that walking a
// file's structures costs neither a system call per piece nor memory that grows with the
// file. Pieces near each other (the blocks of one message, the nodes of one tree) come from
// the same window.
#include <cstdint>
#include <vector>

#include "platform/stream/stream.h"

namespace ts {

class WindowReader {
public:
    static constexpr int64_t kWindowSize = 1 << 20;

    explicit WindowReader(Stream& file);

    int64_t size() const { return size_; }
    // Whether [offset, offset + length) lies inside the file.
    bool holds(int64_t offset, int64_t length) const {
        return offset >= 0 && length >= 0 && offset <= size_ && length <= size_ - offset;
    }
    // The bytes [offset, offset + length), valid until the next call; length is at most the
    // window size and the range must lie inside the file (holds).
    const uint8_t* at(int64_t offset, int64_t length);

    uint32_t dword(int64_t offset);

private:
    Stream& file_;
    int64_t size_;
    std::vector<uint8_t> window_;
    int64_t windowStart_ = 0;
    int64_t windowLength_ = 0;
};

inline uint32_t littleEndian32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

inline uint16_t littleEndian16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

}  // namespace ts
