#pragma once
// The rule that a store moves at least minimumBytes within every window of time, sliding: at
// each moment, the last `window` must have moved that much (once a whole window has passed).
// Fixed windows would let a stall that starts just after a window's start run for almost two.
#include <chrono>
#include <cstdint>
#include <deque>

#include "platform/tcp_socket.h"

namespace ts {

class FtpThroughputWatch {
public:
    using Clock = std::chrono::steady_clock;

    FtpThroughputWatch(Milliseconds window, int64_t minimumBytes, Clock::time_point start);
    void moved(int64_t bytes, Clock::time_point at);
    // The moment the rule fails unless more moves before it.
    Clock::time_point deadline() const { return recent_.front().at + window_; }

private:
    struct Progress {
        Clock::time_point at;
        int64_t total;
    };
    Milliseconds window_;
    int64_t minimumBytes_;
    int64_t total_ = 0;
    // The moments the total grew, oldest first, keeping only those within the last
    // minimumBytes: once the oldest is a whole window ago, that window moved too little.
    std::deque<Progress> recent_;
};

}  // namespace ts
