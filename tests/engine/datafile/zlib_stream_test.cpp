#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <string>

#include "engine/datafile/deflate_stream.h"
#include "engine/datafile/inflate_stream.h"
#include "engine/datafile/zlib_error.h"
#include "support/temp_dir.h"

namespace ts {
namespace {

// A memory stream that remembers the size of every write it was given.
class RecordingStream : public MemoryStream {
public:
    int64_t write(const void* buffer, int64_t count) override {
        writes.push_back(count);
        return MemoryStream::write(buffer, count);
    }
    std::vector<int64_t> writes;
};

std::vector<uint8_t> mixedData(size_t size) {
    std::vector<uint8_t> data = test::randomBytes(size, 7);
    // Half of it compressible text, so every level has work to do.
    const std::string line = "Subject: quarterly figures attached, please review\r\n";
    for (size_t i = 0; i < size / 2; ++i) data[i] = static_cast<uint8_t>(line[i % line.size()]);
    return data;
}

std::vector<uint8_t> deflateAll(const std::vector<uint8_t>& plain, int level, size_t writeSize = 10240) {
    MemoryStream out;
    DeflateStream zlib(out, level);
    for (size_t at = 0; at < plain.size(); at += writeSize)
        zlib.write(plain.data() + at, static_cast<int64_t>(std::min(writeSize, plain.size() - at)));
    zlib.finish();
    return out.takeBytes();
}

// zlib's own one-shot inflation, independent of InflateStream.
std::vector<uint8_t> referenceInflate(const std::vector<uint8_t>& compressed, size_t plainSize) {
    std::vector<uint8_t> plain(plainSize + 1);
    uLongf length = static_cast<uLongf>(plain.size());
    EXPECT_EQ(uncompress(plain.data(), &length, compressed.data(), static_cast<uLong>(compressed.size())), Z_OK);
    plain.resize(length);
    return plain;
}

std::vector<uint8_t> inflateAll(const std::vector<uint8_t>& compressed, size_t readSize = 10240) {
    MemoryStream in(compressed);
    InflateStream inflate(in, "test.tsly_dat");
    std::vector<uint8_t> plain, block(readSize);
    for (int64_t n; (n = inflate.read(block.data(), static_cast<int64_t>(block.size()))) > 0;)
        plain.insert(plain.end(), block.begin(), block.begin() + n);
    return plain;
}

std::string failureOf(const std::vector<uint8_t>& compressed, bool verify) {
    MemoryStream in(compressed);
    InflateStream inflate(in, "damaged.tsly_dat");
    try {
        if (verify) inflate.verifyComplete();
        else inflate.skipToEnd();
    } catch (const ECompressedDataError& e) {
        return e.what();
    }
    return "";
}

TEST(ZlibLevel, ProjectLevelsMapToTheFourZlibLevels) {
    EXPECT_EQ(zlibLevelFor(0), 0);
    EXPECT_EQ(zlibLevelFor(1), 1);
    EXPECT_EQ(zlibLevelFor(2), -1);
    EXPECT_EQ(zlibLevelFor(3), 9);
    EXPECT_EQ(zlibLevelFor(200), -1);
}

TEST(DeflateStream, EveryLevelRoundTripsThroughZlibAndThroughInflateStream) {
    const std::vector<uint8_t> plain = mixedData(300000);
    // The second header byte carries zlib's level class: stored and fastest 0x01, default 0x9C, best 0xDA.
    const std::vector<std::pair<int, uint8_t>> levels = {{0, 0x01}, {1, 0x01}, {-1, 0x9C}, {9, 0xDA}};
    for (auto [level, flagByte] : levels) {
        SCOPED_TRACE(level);
        std::vector<uint8_t> compressed = deflateAll(plain, level);
        ASSERT_GE(compressed.size(), 6u);
        EXPECT_EQ(compressed[0], 0x78);
        EXPECT_EQ(compressed[1], flagByte);
        EXPECT_EQ(referenceInflate(compressed, plain.size()), plain);
        EXPECT_EQ(inflateAll(compressed, 777), plain);
    }
}

TEST(DeflateStream, StoredLevelWritesOnlyStoredBlocks) {
    const std::vector<uint8_t> plain = mixedData(200000);
    std::vector<uint8_t> z = deflateAll(plain, 0);
    size_t at = 2, stored = 0;
    bool last = false;
    while (!last) {
        ASSERT_LT(at + 5, z.size());
        last = z[at] & 1;
        ASSERT_EQ((z[at] >> 1) & 3, 0) << "block " << stored << " is not stored";
        uint16_t len = static_cast<uint16_t>(z[at + 1] | z[at + 2] << 8);
        uint16_t nlen = static_cast<uint16_t>(z[at + 3] | z[at + 4] << 8);
        ASSERT_EQ(static_cast<uint16_t>(~len), nlen);
        at += 5 + len;
        ++stored;
    }
    EXPECT_EQ(at + 4, z.size()) << "only the Adler-32 trailer follows the last block";
    EXPECT_GT(stored, 3u);
}

TEST(DeflateStream, OutputGoesOutInBlocksOfAtMost64KiB) {
    const std::vector<uint8_t> plain = test::randomBytes(400000, 3);  // incompressible
    RecordingStream out;
    {
        DeflateStream zlib(out, 0);
        zlib.write(plain.data(), static_cast<int64_t>(plain.size()));
        zlib.finish();
        EXPECT_EQ(zlib.position(), 400000);
        EXPECT_EQ(zlib.compressedCount(), out.size());
    }
    ASSERT_FALSE(out.writes.empty());
    EXPECT_EQ(*std::max_element(out.writes.begin(), out.writes.end()), DeflateStream::kOutputBlockSize);
    EXPECT_EQ(referenceInflate(out.bytes(), plain.size()), plain);
}

TEST(DeflateStream, EmptyInputIsStillAWholeZlibStreamAndWritesAfterFinishAreRefused) {
    MemoryStream out;
    DeflateStream zlib(out, -1);
    zlib.finish();
    EXPECT_TRUE(referenceInflate(out.bytes(), 0).empty());
    EXPECT_THROW(zlib.write("x", 1), EWriteError);
    uint8_t b;
    EXPECT_THROW(zlib.read(&b, 1), EStreamError);
}

TEST(InflateStream, SizeIsUnknownUntilTheEndAndForwardSeeksSkip) {
    const std::vector<uint8_t> plain = mixedData(50000);
    MemoryStream in(deflateAll(plain, 1));
    InflateStream inflate(in, "x");
    EXPECT_EQ(inflate.size(), InflateStream::kUnknownSize);
    inflate.seek(40000);
    uint8_t b = 0;
    ASSERT_EQ(inflate.read(&b, 1), 1);
    EXPECT_EQ(b, plain[40000]);
    EXPECT_THROW(inflate.seek(10), EStreamError);
    EXPECT_THROW(inflate.write(&b, 1), EStreamError);
    inflate.verifyComplete();
    EXPECT_EQ(inflate.size(), 50000);
    EXPECT_EQ(inflate.position(), 50000);
    EXPECT_THROW(inflate.seek(50001), EReadError);
}

TEST(InflateStream, InputThatIsNotZlibFailsAtTheFirstReadNamingTheFile) {
    std::vector<uint8_t> text(1000, 'A');
    std::string message = failureOf(text, false);
    EXPECT_NE(message.find("\"damaged.tsly_dat\""), std::string::npos) << message;
    EXPECT_NE(message.find("incorrect header check"), std::string::npos) << message;
}

TEST(InflateStream, DamageInsideTheDataOrTheChecksumIsAnError) {
    const std::vector<uint8_t> plain = mixedData(100000);
    std::vector<uint8_t> badChecksum = deflateAll(plain, -1);
    badChecksum.back() ^= 0x40;
    EXPECT_NE(failureOf(badChecksum, false).find("incorrect data check"), std::string::npos);

    std::vector<uint8_t> badData = deflateAll(plain, 0);
    badData[3] ^= 0xFF;  // LEN of the first stored block no longer matches NLEN
    EXPECT_NE(failureOf(badData, false), "");
}

TEST(InflateStream, InputCutShortEndsQuietlyButFailsVerification) {
    const std::vector<uint8_t> plain = mixedData(100000);
    std::vector<uint8_t> whole = deflateAll(plain, -1);
    for (size_t cut : {size_t{2}, size_t{1000}, whole.size() - 1}) {
        SCOPED_TRACE(cut);
        std::vector<uint8_t> shortFile(whole.begin(), whole.begin() + static_cast<long>(cut));
        std::vector<uint8_t> got = inflateAll(shortFile);
        ASSERT_LE(got.size(), plain.size());
        EXPECT_TRUE(std::equal(got.begin(), got.end(), plain.begin()));
        EXPECT_EQ(failureOf(shortFile, false), "");
        EXPECT_NE(failureOf(shortFile, true).find("cut short"), std::string::npos);
    }
    MemoryStream in(std::vector<uint8_t>(whole.begin(), whole.end() - 2));
    InflateStream inflate(in, "x");
    inflate.skipToEnd();
    EXPECT_TRUE(inflate.inputCutShort());
    EXPECT_FALSE(inflate.reachedStreamEnd());
}

TEST(InflateStream, VerificationAcceptsAWholeStreamAndRefusesBytesAfterIt) {
    std::vector<uint8_t> whole = deflateAll(mixedData(70000), 9);
    EXPECT_EQ(failureOf(whole, true), "");
    whole.push_back(0);
    EXPECT_NE(failureOf(whole, true).find("unexpected bytes"), std::string::npos);
}

TEST(InflateStream, ReadsAFileStreamFromItsCurrentPosition) {
    test::TempDir dir;
    const std::vector<uint8_t> plain = mixedData(150000);
    std::vector<uint8_t> bytes = {'J', 'U', 'N', 'K'};
    std::vector<uint8_t> z = deflateAll(plain, 1);
    bytes.insert(bytes.end(), z.begin(), z.end());
    test::writeHostFile(dir.file("f"), bytes);
    FileStream file(dir.file("f"), FileStream::Mode::Read);
    file.seek(4);
    InflateStream inflate(file, "f");
    std::vector<uint8_t> got(plain.size());
    inflate.readExact(got.data(), static_cast<int64_t>(got.size()));
    EXPECT_EQ(got, plain);
    inflate.verifyComplete();
}

}  // namespace
}  // namespace ts
