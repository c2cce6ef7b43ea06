#pragma once
// The percentage the runs report: done ÷ total × 100 in floating point, truncated toward
// zero, from 64-bit counts so that it stays right beyond 2 GiB.
#include <cstdint>

namespace ts {

inline uint8_t percentOf(int64_t done, int64_t total) {
    if (total <= 0 || done >= total) return 100;
    if (done <= 0) return 0;
    return static_cast<uint8_t>(static_cast<double>(done) / static_cast<double>(total) * 100.0);
}

}  // namespace ts
