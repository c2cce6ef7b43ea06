#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "platform/exception.h"
#include "platform/stream/stream.h"
#include "support/temp_dir.h"

namespace ts {
namespace {

TEST(MemoryStream, WritingPastTheEndGrowsAndSeekingBackOverwrites) {
    MemoryStream m;
    m.write("abcdef", 6);
    m.seek(2);
    m.write("XY", 2);
    m.seek(8);
    m.write("Z", 1);
    EXPECT_EQ(m.size(), 9);
    EXPECT_EQ(std::string(m.bytes().begin(), m.bytes().end()), std::string("abXYef\0\0Z", 9));
}

TEST(MemoryStream, ShortReadReturnsWhatIsLeftAndExactReadThrowsStreamReadError) {
    MemoryStream m(std::vector<uint8_t>{1, 2, 3});
    uint8_t buffer[8];
    EXPECT_EQ(m.read(buffer, 8), 3);
    EXPECT_EQ(m.read(buffer, 8), 0);
    m.rewind();
    try {
        m.readExact(buffer, 4);
        FAIL() << "no exception";
    } catch (const EReadError& e) {
        EXPECT_STREQ(e.what(), "Stream read error");
    }
}

TEST(Stream, IntegersAreWrittenLittleEndianAndReadBack) {
    MemoryStream stream;
    stream.writeValue<int32_t>(-2);
    stream.writeValue<int64_t>(0x0102030405060708);
    stream.writeValue<uint16_t>(0xABCD);
    EXPECT_EQ(stream.bytes(), (std::vector<uint8_t>{0xFE, 0xFF, 0xFF, 0xFF, 8, 7, 6, 5, 4, 3, 2, 1, 0xCD, 0xAB}));
    stream.rewind();
    EXPECT_EQ(stream.readValue<int32_t>(), -2);
    EXPECT_EQ(stream.readValue<int64_t>(), 0x0102030405060708);
    EXPECT_EQ(stream.readValue<uint16_t>(), 0xABCD);
}

TEST(Stream, CopyFromMovesExactlyTheCountAndFailsOnAShortSource) {
    std::vector<uint8_t> data = test::randomBytes(700000, 1);
    MemoryStream source(data);
    MemoryStream dest;
    source.seek(100);
    EXPECT_EQ(dest.copyFrom(source, 600000), 600000);
    EXPECT_EQ(source.position(), 600100);
    EXPECT_TRUE(std::equal(dest.bytes().begin(), dest.bytes().end(), data.begin() + 100));
    EXPECT_THROW(dest.copyFrom(source, 200000), EReadError);
}

TEST(FileStream, CreateWriteReopenAndReadBackBeyondFourGibibytePositions) {
    test::TempDir dir;
    std::string path = dir.file("big.bin");
    {
        FileStream f(path, FileStream::Mode::Create);
        int64_t far = (int64_t{1} << 32) + 5;  // sparse; proves positions are 64-bit
        f.seek(far);
        f.write("end", 3);
        EXPECT_EQ(f.size(), far + 3);
    }
    FileStream f(path, FileStream::Mode::Read);
    f.seek((int64_t{1} << 32) + 5);
    char text[3];
    f.readExact(text, 3);
    EXPECT_EQ(std::string(text, 3), "end");
}

TEST(FileStream, OpenAndCreateErrorsNameTheFile) {
    test::TempDir dir;
    try {
        FileStream f(dir.file("missing"), FileStream::Mode::Read);
        FAIL();
    } catch (const EFOpenError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot open file \"" + dir.file("missing") + "\". No such file or directory");
    }
    try {
        FileStream f(dir.file("no/such/folder/x"), FileStream::Mode::Create);
        FAIL();
    } catch (const EFCreateError& e) {
        EXPECT_NE(std::string(e.what()).find("Cannot create file \""), std::string::npos);
    }
    EXPECT_THROW(FileStream(dir.path().string(), FileStream::Mode::Read), EFOpenError);
}

// A FIFO nobody writes to would block the open for ever; a device may act when opened. Each
// is refused at once, a link to one as well, and a regular file behind a link still reads.
TEST(FileStream, OnlyRegularFilesAreOpenedForReading) {
    test::TempDir dir;
    ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
    std::filesystem::create_symlink(dir.file("fifo"), dir.file("link-to-fifo"));
    test::writeHostFile(dir.file("file"), std::string("x"));
    std::filesystem::create_symlink(dir.file("file"), dir.file("link-to-file"));
    for (const std::string& path : {dir.file("fifo"), dir.file("link-to-fifo"), std::string("/dev/null"), dir.path().string()}) {
        SCOPED_TRACE(path);
        try {
            FileStream f(path, FileStream::Mode::Read);
            ADD_FAILURE() << "opened";
        } catch (const EFOpenError& e) {
            EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
        }
    }
    FileStream linked(dir.file("link-to-file"), FileStream::Mode::Read);
    char c = 0;
    EXPECT_EQ(linked.read(&c, 1), 1);
    EXPECT_EQ(c, 'x');
}

}  // namespace
}  // namespace ts
