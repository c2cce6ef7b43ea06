#pragma once
// The percentage the runs report: done ÷ total × 100 in floating point, truncated toward
// zero, from 64-bit counts so that it stays right beyond 2 GiB.
#include <algorithm>
#include <cstdint>

namespace ts {

inline uint8_t percentOf(int64_t done, int64_t total) {
    if (total <= 0 || done >= total) return 100;
    if (done <= 0) return 0;
    return static_cast<uint8_t>(static_cast<double>(done) / static_cast<double>(total) * 100.0);
}

// The progress of a run reading a data file: it follows the compressed bytes read, passes the
// midpoint exactly once, stays at most 99 while reading (100 is the run's to give at its end)
// and never goes backwards.
class ReadProgress {
public:
    template <typename Report>
    void consumed(int64_t done, int64_t total, Report&& report) {
        const int percent = std::min<int>(percentOf(done, total), kLastBeforeEnd);
        if (percent <= last_) return;
        if (last_ < kMidpoint && percent > kMidpoint) report(static_cast<uint8_t>(kMidpoint));
        last_ = percent;
        report(static_cast<uint8_t>(percent));
    }
    void reset() { last_ = -1; }

private:
    static constexpr int kMidpoint = 50;
    static constexpr int kLastBeforeEnd = 99;
    int last_ = -1;
};

}  // namespace ts
