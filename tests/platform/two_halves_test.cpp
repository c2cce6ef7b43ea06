#include "platform/two_halves.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace ts {
namespace {

// Every index once, whether the loop is split or not, also with callers on several threads
// asking at once (one gets the helper, the others run whole).
TEST(TwoHalves, EveryIndexIsVisitedExactlyOnce) {
    const std::vector<size_t> counts = {0, 1, 2, 99, 100, 101, 8191};
    auto visitAll = [&](size_t count) {
        std::vector<std::atomic<int>> visits(count);
        runInTwoHalves(count, 100, [&](size_t begin, size_t end) {
            for (size_t i = begin; i < end; ++i) visits[i].fetch_add(1);
        });
        for (size_t i = 0; i < count; ++i)
            if (visits[i].load() != 1) return false;
        return true;
    };
    for (size_t count : counts) EXPECT_TRUE(visitAll(count)) << count;

    std::atomic<int> whole{0};
    std::vector<std::thread> callers;
    for (int t = 0; t < 4; ++t)
        callers.emplace_back([&] {
            for (int round = 0; round < 200; ++round)
                if (visitAll(1000 + static_cast<size_t>(round))) whole.fetch_add(1);
        });
    for (auto& caller : callers) caller.join();
    EXPECT_EQ(whole.load(), 4 * 200);
}

}  // namespace
}  // namespace ts
