#include "transfer/ftp/ftp_throughput.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace ts {
namespace {

// Window 60 s, at least 1024 bytes: when the rule fails after what moved when.
TEST(FtpThroughputWatch, FailsOneWindowAfterTheLastMomentTheWindowHeldEnough) {
    struct Case {
        std::string name;
        std::vector<std::pair<int, int64_t>> moved;  // seconds from the start, bytes
        int failsAt;                                 // seconds from the start
    };
    const Case cases[] = {
        {"nothing", {}, 60},
        {"a burst early", {{1, 1 << 20}}, 61},
        // Fixed windows would pass the first (it moved enough) and fail only at 120.
        {"a burst just after the first window", {{61, 1 << 20}}, 121},
        {"two halves: the first one leaving the window is what counts", {{10, 600}, {30, 600}}, 70},
        {"a large step then small ones", {{10, 5000}, {20, 100}, {30, 100}}, 70},
        {"steady, a little more than needed each window", {{30, 1024}, {60, 1024}, {90, 1024}}, 150},
        {"too little in total", {{5, 500}, {50, 500}}, 60},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const FtpThroughputWatch::Clock::time_point start{};
        FtpThroughputWatch watch(Milliseconds(60000), 1024, start);
        for (const auto& [second, bytes] : c.moved) watch.moved(bytes, start + std::chrono::seconds(second));
        EXPECT_EQ(watch.deadline() - start, std::chrono::seconds(c.failsAt));
    }
}

}  // namespace
}  // namespace ts
