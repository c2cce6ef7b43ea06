#include <gtest/gtest.h>

#include <thread>

#include "support/temp_dir.h"
#include "platform/debug_log.h"

namespace ts {
namespace {

class DebugLogTest : public ::testing::Test {
protected:
    void SetUp() override { DebugLog::instance().clear(); }
    void TearDown() override { DebugLog::instance().clear(); }
    test::TempDir dir;
};

TEST_F(DebugLogTest, StartWithoutAFileBeginsWithTheLogAtLine) {
    DebugLog::instance().start(dir.file("ts_debug.log"), 1700000000);
    auto lines = DebugLog::instance().lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("Log at ", 0), 0u);
}

TEST_F(DebugLogTest, AnExistingFileComesFirstThenTheLogAtLineAndFinishWritesItAllBack) {
    std::string file = dir.file("ts_debug.log");
    test::writeHostFile(file, std::string("first\r\nsecond\r\n"));
    DebugLog::instance().start(file, 1700000000);
    debugLog("-Backup-");
    auto lines = DebugLog::instance().lines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "first");
    EXPECT_EQ(lines[1], "second");
    EXPECT_EQ(lines[2].rfind("Log at ", 0), 0u);
    EXPECT_EQ(lines[3], "-Backup-");

    ASSERT_TRUE(DebugLog::instance().finish());
    auto saved = test::readHostFile(file);
    std::string text(saved.begin(), saved.end());
    EXPECT_EQ(text, "first\r\nsecond\r\n" + lines[2] + "\r\n-Backup-\r\n\r\n");
}

TEST_F(DebugLogTest, WritingBackKeepsOnlyTheNewestLines) {
    std::string file = dir.file("ts_debug.log");
    DebugLog::instance().start(file, 1700000000);
    for (size_t i = 0; i < DebugLog::kMaxSavedLines + 50; ++i) debugLog("line " + std::to_string(i));
    ASSERT_TRUE(DebugLog::instance().finish());
    auto saved = test::readHostFile(file);
    std::string text(saved.begin(), saved.end());
    size_t count = 0;
    for (char c : text) count += c == '\n';
    EXPECT_EQ(count, DebugLog::kMaxSavedLines);
    EXPECT_EQ(text.rfind("line 51\r\n", 0), 0u);  // the Log at line and lines 0..50 went
}

TEST_F(DebugLogTest, AnUnreadableFileIsIgnoredWithOneLine) {
    std::string file = dir.file("ts_debug.log");
    std::filesystem::create_directory(file);  // exists, but cannot be read as lines
    DebugLog::instance().start(file, 1700000000);
    auto lines = DebugLog::instance().lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find("could not be read"), std::string::npos);
    EXPECT_EQ(lines[1].rfind("Log at ", 0), 0u);
}

TEST_F(DebugLogTest, AppendsFromTwoThreadsAreAllKeptInEachThreadsOrder) {
    constexpr int kPerThread = 20000;
    auto writer = [](char tag) {
        for (int i = 0; i < kPerThread; ++i) debugLog(std::string(1, tag) + std::to_string(i));
    };
    std::thread a(writer, 'a'), b(writer, 'b');
    a.join();
    b.join();
    auto lines = DebugLog::instance().lines();
    ASSERT_EQ(lines.size(), 2u * kPerThread);
    int nextA = 0, nextB = 0;
    for (const auto& line : lines) {
        int& next = line[0] == 'a' ? nextA : nextB;
        EXPECT_EQ(std::stoi(line.substr(1)), next);
        ++next;
    }
}

TEST(DebugLogFormat, MidnightLeavesTheTimeOut) {
    setenv("TZ", "UTC", 1);
    tzset();
    std::string midnight = DebugLog::logAtLine(86400 * 20000);
    std::string noon = DebugLog::logAtLine(86400 * 20000 + 43200);
    EXPECT_EQ(noon.rfind(midnight + " ", 0), 0u) << midnight << " / " << noon;
    EXPECT_GT(noon.size(), midnight.size() + 1);
}

}  // namespace
}  // namespace ts
