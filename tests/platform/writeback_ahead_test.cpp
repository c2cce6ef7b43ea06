#include "platform/writeback_ahead.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "support/temp_dir.h"

namespace ts {
namespace {

using namespace std::chrono_literals;

bool syncedWithin(const WritebackAhead& writeback, int syncs) {
    for (auto end = std::chrono::steady_clock::now() + 10s; std::chrono::steady_clock::now() < end;) {
        if (writeback.syncs() >= syncs) return true;
        std::this_thread::sleep_for(5ms);
    }
    return false;
}

// Whichever comes first, the count of files or of bytes, starts a sync; less starts none.
TEST(WritebackAhead, SyncsOnceEnoughFilesOrBytesAreWrittenAndNotBefore) {
    test::TempDir dir;
    WritebackAhead writeback(dir.path().string());
    for (int64_t i = 1; i < WritebackAhead::kFilesPerSync; ++i) writeback.written(1);
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(writeback.syncs(), 0);
    writeback.written(1);
    EXPECT_TRUE(syncedWithin(writeback, 1));

    writeback.written(WritebackAhead::kBytesPerSync);
    EXPECT_TRUE(syncedWithin(writeback, 2));
    EXPECT_EQ(writeback.syncs(), 2);
}

TEST(WritebackAhead, AFolderThatCannotBeOpenedSyncsNothingAndStopsCleanly) {
    WritebackAhead writeback("/nonexistent/tessaly-writeback");
    writeback.written(WritebackAhead::kBytesPerSync);
    EXPECT_EQ(writeback.syncs(), 0);
}

}  // namespace
}  // namespace ts
