#include "platform/regular_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <functional>

#include "platform/debug_log.h"
#include "platform/exception.h"
#include "support/temp_dir.h"

namespace ts {
namespace {

namespace fs = std::filesystem;

// Whatever stands at a fixed name the program reads is read, or refused, at once: never
// through a link out of the profile, never by waiting on a FIFO, never without end.
TEST(RegularFile, OnlyARegularFileOfBoundedSizeIsReadAndNeverThroughARefusedLink) {
    test::TempDir dir;
    test::writeHostFile(dir.file("secret"), std::string("outside"));
    struct Case {
        std::string name;
        std::function<void(const std::string&)> make;
        std::optional<std::string> refused;   // what is read when links are refused (nullopt: an error)
        std::optional<std::string> followed;  // ... and when they are followed
        bool missing = false;
    };
    const std::vector<Case> cases = {
        {"plain", [](const std::string& p) { test::writeHostFile(p, std::string("text")); }, "text", "text"},
        {"link to a file outside", [&](const std::string& p) { fs::create_symlink(dir.file("secret"), p); }, std::nullopt,
         "outside"},
        {"fifo", [](const std::string& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0); }, std::nullopt, std::nullopt},
        {"link to a device", [](const std::string& p) { fs::create_symlink("/dev/zero", p); }, std::nullopt, std::nullopt},
        {"folder", [](const std::string& p) { fs::create_directory(p); }, std::nullopt, std::nullopt},
        {"too large", [](const std::string& p) { test::writeHostFile(p, std::string(2048, 'x')); }, std::nullopt,
         std::nullopt},
        {"missing", [](const std::string&) {}, std::nullopt, std::nullopt, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file(c.name);
        c.make(path);
        for (const LastLink links : {LastLink::Refuse, LastLink::Follow}) {
            const std::optional<std::string>& expected = links == LastLink::Refuse ? c.refused : c.followed;
            if (c.missing) {
                EXPECT_EQ(readRegularFile(path, 1024, links), std::nullopt);
            } else if (expected) {
                EXPECT_EQ(readRegularFile(path, 1024, links), expected);
            } else {
                EXPECT_THROW(readRegularFile(path, 1024, links), EFOpenError);
            }
        }
    }
}

class DebugLogFileTest : public ::testing::Test {
protected:
    DebugLogFileTest() {
        fs::create_directories(dir.path() / "prefix/drive_c");
        test::writeHostFile(dir.file("outside"), std::string("not the log\r\n"));
    }
    ~DebugLogFileTest() override { DebugLog::instance().clear(); }

    std::string log() const { return dir.file("prefix/drive_c/ts_debug.log"); }
    std::string outside() const {
        const auto bytes = test::readHostFile(dir.file("outside"));
        return std::string(bytes.begin(), bytes.end());
    }
    void startAndFinish() {
        DebugLog::instance().clear();
        DebugLog::instance().start(log(), std::time(nullptr), dir.file("prefix"));
        DebugLog::instance().add("a line of this run");
        DebugLog::instance().finish();
    }

    test::TempDir dir;
};

TEST_F(DebugLogFileTest, ALinkOrAFifoAtTheLogsNameIsNeitherReadNorWrittenThroughAndGivesWayToTheLog) {
    const std::vector<std::pair<std::string, std::function<void()>>> cases = {
        {"link to a file outside", [&] { fs::create_symlink(dir.file("outside"), log()); }},
        {"link to a device", [&] { fs::create_symlink("/dev/zero", log()); }},
        {"fifo", [&] { ASSERT_EQ(::mkfifo(log().c_str(), 0600), 0); }},
    };
    for (const auto& [name, make] : cases) {
        SCOPED_TRACE(name);
        fs::remove(log());
        make();
        startAndFinish();
        EXPECT_EQ(outside(), "not the log\r\n");
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(log())));
        const auto written = test::readHostFile(log());
        const std::string text(written.begin(), written.end());
        EXPECT_NE(text.find("a line of this run"), std::string::npos);
        EXPECT_EQ(text.find("not the log"), std::string::npos);
    }
}

TEST_F(DebugLogFileTest, ALogFolderThatLeadsOutOfTheProfileIsNotWritten) {
    fs::remove_all(dir.path() / "prefix/drive_c");
    fs::create_directory(dir.path() / "elsewhere");
    fs::create_directory_symlink(dir.path() / "elsewhere", dir.path() / "prefix/drive_c");
    startAndFinish();
    EXPECT_TRUE(fs::is_empty(dir.path() / "elsewhere"));
    const auto lines = DebugLog::instance().lines();
    EXPECT_NE(lines.front().find("outside the profile"), std::string::npos) << lines.front();
}

}  // namespace
}  // namespace ts
