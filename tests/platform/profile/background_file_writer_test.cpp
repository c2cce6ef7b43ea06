#include "platform/profile/background_file_writer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <future>
#include <thread>

#include "platform/exception.h"
#include "support/temp_dir.h"

namespace ts {
namespace {

class BackgroundFileWriterTest : public ::testing::Test {
protected:
    BackgroundFileWriterTest() : folderFd(::open(dir.path().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC)) {}
    ~BackgroundFileWriterTest() override { ::close(folderFd); }

    static std::vector<uint8_t> bytes(const std::string& text) { return {text.begin(), text.end()}; }

    test::TempDir dir;
    int folderFd;
};

TEST_F(BackgroundFileWriterTest, MakesEveryFileWithItsBytesAndModeAndTellsTheirSizes) {
    std::atomic<int64_t> told = 0;  // a caller that would wait makes files too
    BackgroundFileWriter writer([&](int64_t size) { told += size; });
    // More than the queue holds, so the writer also waits for room.
    const std::string big(BackgroundFileWriter::kMaxFileSize, 'b');
    for (int i = 0; i < 40; ++i) writer.write(folderFd, "big" + std::to_string(i), 0640, bytes(big), "C:\\big");
    writer.write(folderFd, "small.eml", 0600, bytes("hello"), "C:\\small.eml");
    writer.write(folderFd, "empty.eml", 0644, {}, "C:\\empty.eml");
    writer.waitIdle();
    writer.rethrowFailure();

    EXPECT_EQ(told, 40 * static_cast<int64_t>(big.size()) + 5);
    EXPECT_EQ(test::readHostFile(dir.file("big39")), bytes(big));
    EXPECT_EQ(test::readHostFile(dir.file("small.eml")), bytes("hello"));
    EXPECT_EQ(std::filesystem::file_size(dir.file("empty.eml")), 0u);
    struct stat st {};
    ASSERT_EQ(::stat(dir.file("small.eml").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

// A name that is taken fails its file, which names it; the taken file keeps its bytes, and
// the caller's next file is refused with the failure.
TEST_F(BackgroundFileWriterTest, AFailureIsRaisedByNameAndRefusesTheFilesAfterIt) {
    test::writeHostFile(dir.file("taken.eml"), std::string("user's"));
    BackgroundFileWriter writer;
    writer.write(folderFd, "taken.eml", 0644, bytes("new"), "C:\\mail\\taken.eml");
    writer.waitIdle();
    try {
        writer.rethrowFailure();
        ADD_FAILURE() << "the taken name did not fail";
    } catch (const EFCreateError& error) {
        EXPECT_NE(std::string(error.what()).find("C:\\mail\\taken.eml"), std::string::npos) << error.what();
    }
    EXPECT_THROW(writer.write(folderFd, "later.eml", 0644, bytes("x"), "C:\\mail\\later.eml"), EFCreateError);
    EXPECT_EQ(test::readHostFile(dir.file("taken.eml")), bytes("user's"));
    EXPECT_FALSE(std::filesystem::exists(dir.file("later.eml")));
}

// With the writer held up, a caller whose queue is full makes queued files itself instead of
// waiting: every write returns, and every file is made once the writer goes on.
TEST_F(BackgroundFileWriterTest, ACallerThatWouldWaitMakesQueuedFilesItself) {
    const auto caller = std::this_thread::get_id();
    std::promise<void> release;
    const std::shared_future<void> released = release.get_future().share();
    std::atomic<bool> writerHeld = false;
    BackgroundFileWriter writer([&](int64_t) {
        if (std::this_thread::get_id() != caller && !writerHeld.exchange(true)) released.wait();
    });
    std::atomic<bool> done = false, timedOut = false;
    std::thread watchdog([&] {
        for (int i = 0; i < 200 && !done; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (!done) {
            timedOut = true;
            release.set_value();
        }
    });
    const std::string big(BackgroundFileWriter::kMaxFileSize, 'h');
    constexpr int kFiles = 40;  // well over what the queue holds
    for (int i = 0; i < kFiles; ++i) writer.write(folderFd, "f" + std::to_string(i), 0644, bytes(big), "C:\\f");
    done = true;
    watchdog.join();
    if (!timedOut) release.set_value();
    writer.waitIdle();
    writer.rethrowFailure();

    EXPECT_FALSE(timedOut) << "the caller waited for the held writer";
    for (int i = 0; i < kFiles; ++i) EXPECT_EQ(std::filesystem::file_size(dir.file("f" + std::to_string(i))), big.size());
}

}  // namespace
}  // namespace ts
