#include "platform/profile/background_file_writer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

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
    int64_t told = 0;
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

// A name that is taken fails its file, which names it; nothing queued after it is made, the
// taken file keeps its bytes, and the caller's next file is refused with the failure.
TEST_F(BackgroundFileWriterTest, AFailureIsRaisedByNameAndStopsTheFilesAfterIt) {
    test::writeHostFile(dir.file("taken.eml"), std::string("user's"));
    BackgroundFileWriter writer;
    writer.write(folderFd, "taken.eml", 0644, bytes("new"), "C:\\mail\\taken.eml");
    // Queued, then dropped, or refused already when the failure came first.
    try {
        writer.write(folderFd, "after.eml", 0644, bytes("new"), "C:\\mail\\after.eml");
    } catch (const EFCreateError&) {
    }
    writer.waitIdle();
    try {
        writer.rethrowFailure();
        ADD_FAILURE() << "the taken name did not fail";
    } catch (const EFCreateError& error) {
        EXPECT_NE(std::string(error.what()).find("C:\\mail\\taken.eml"), std::string::npos) << error.what();
    }
    EXPECT_THROW(writer.write(folderFd, "later.eml", 0644, bytes("x"), "C:\\mail\\later.eml"), EFCreateError);
    EXPECT_EQ(test::readHostFile(dir.file("taken.eml")), bytes("user's"));
    EXPECT_FALSE(std::filesystem::exists(dir.file("after.eml")));
    EXPECT_FALSE(std::filesystem::exists(dir.file("later.eml")));
}

}  // namespace
}  // namespace ts
