#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "platform/stream/parallel_deflate_stream.h"
#include "platform/stream/inflate_stream.h"
#include "platform/stream/zlib_error.h"
#include "support/temp_dir.h"

namespace ts {
namespace {

namespace fs = std::filesystem;

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

std::vector<uint8_t> deflateAll(const std::vector<uint8_t>& plain, int level, size_t writeSize = 10240,
                                int64_t chunkSize = ParallelDeflateStream::kDefaultChunkSize, int workers = 2) {
    MemoryStream out;
    ParallelDeflateStream zlib(out, level, chunkSize, workers);
    for (size_t at = 0; at < plain.size(); at += writeSize)
        zlib.write(plain.data() + at, static_cast<int64_t>(std::min(writeSize, plain.size() - at)));
    zlib.finish();
    return out.takeBytes();
}

// zlib's own single-stream compression, what the pieces must add up to.
std::vector<uint8_t> singleStreamDeflate(const std::vector<uint8_t>& plain, int level) {
    std::vector<uint8_t> out(compressBound(static_cast<uLong>(plain.size())));
    uLongf length = static_cast<uLongf>(out.size());
    EXPECT_EQ(compress2(out.data(), &length, plain.data(), static_cast<uLong>(plain.size()), level), Z_OK);
    out.resize(length);
    return out;
}

// Text with the long-range redundancy of mail: lines built from a fixed vocabulary.
std::vector<uint8_t> mailLikeText(size_t size) {
    const std::vector<uint8_t> noise = test::randomBytes(size, 5);
    std::vector<std::string> words;
    for (size_t i = 0; i < 3000; ++i) {
        std::string word;
        for (size_t k = 0; k < 3u + noise[i] % 8u; ++k) word += static_cast<char>('a' + noise[(i * 7 + k * 13) % size] % 26);
        words.push_back(word);
    }
    std::string text;
    for (size_t i = 0; text.size() < size; ++i) {
        size_t pick = (noise[i % size] | noise[(i * 31 + 1) % size] << 8) % words.size();
        text += words[pick];
        text += (i % 12 == 11) ? "\r\n" : " ";
    }
    return std::vector<uint8_t>(text.begin(), text.begin() + static_cast<long>(size));
}

// Threads of this process, from the kernel's own list.
size_t threadCount() {
    return static_cast<size_t>(std::distance(fs::directory_iterator("/proc/self/task"), fs::directory_iterator()));
}

// The thread count once joined threads have left the kernel's list. A join returns when the
// kernel clears the thread's id, which it does a moment before it drops the thread from
// /proc/self/task, so a count taken at once may still see a thread that has finished.
size_t threadCountAfterJoins(size_t expected) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    size_t count = threadCount();
    while (count > expected && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        count = threadCount();
    }
    return count;
}

// A destination whose disk fills up after a number of writes.
class FailingStream : public MemoryStream {
public:
    explicit FailingStream(int writesBeforeFailure) : left_(writesBeforeFailure) {}
    int64_t write(const void* buffer, int64_t count) override {
        if (left_-- <= 0) throw EWriteError("No space left on device");
        return MemoryStream::write(buffer, count);
    }

private:
    int left_;
};

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

TEST(ParallelDeflateStream, EverySizeAroundThePieceBoundariesIsOneZlibStreamAtEveryLevel) {
    constexpr int64_t kChunk = 32768;
    const std::vector<uint8_t> all = mixedData(9 * kChunk);
    // The second header byte carries zlib's level class: stored and fastest 0x01, default 0x9C, best 0xDA.
    const std::vector<std::pair<int, uint8_t>> levels = {{0, 0x01}, {1, 0x01}, {-1, 0x9C}, {9, 0xDA}};
    for (size_t size : {size_t{0}, size_t{1}, size_t{kChunk - 1}, size_t{kChunk}, size_t{kChunk + 1}, size_t{7 * kChunk + 123}}) {
        const std::vector<uint8_t> plain(all.begin(), all.begin() + static_cast<long>(size));
        for (auto [level, flagByte] : levels) {
            SCOPED_TRACE("size " + std::to_string(size) + ", level " + std::to_string(level));
            std::vector<uint8_t> compressed = deflateAll(plain, level, 10240, kChunk);
            ASSERT_GE(compressed.size(), 6u);
            const std::vector<uint8_t> reference = singleStreamDeflate(plain, level);
            EXPECT_EQ(compressed[0], 0x78);
            EXPECT_EQ(compressed[1], flagByte);
            EXPECT_TRUE(std::equal(reference.begin(), reference.begin() + 2, compressed.begin())) << "header as zlib writes it";
            EXPECT_TRUE(std::equal(reference.end() - 4, reference.end(), compressed.end() - 4)) << "Adler-32 of the whole data";
            EXPECT_EQ(referenceInflate(compressed, plain.size()), plain);
            EXPECT_EQ(inflateAll(compressed, 777), plain);
        }
    }
}

TEST(ParallelDeflateStream, PiecesPrimedWithThePrecedingWindowCompressAsWellAsOneStream) {
    // Small pieces make every restart costly: without the preceding 32 KiB as dictionary
    // this text comes out over a tenth larger than zlib's single stream.
    const std::vector<uint8_t> plain = mailLikeText(3 << 20);
    for (int level : {1, -1, 9}) {
        SCOPED_TRACE(level);
        const double single = static_cast<double>(singleStreamDeflate(plain, level).size());
        const double pieces = static_cast<double>(deflateAll(plain, level, 10240, 32768, 3).size());
        EXPECT_LT(pieces, single * 1.01);
    }
}

TEST(ParallelDeflateStream, ManyWorkersAndOddWriteSizesGiveTheSameStream) {
    const std::vector<uint8_t> plain = mailLikeText(1 << 20);
    const std::vector<uint8_t> expected = deflateAll(plain, -1, 10240, 65536, 1);
    EXPECT_EQ(deflateAll(plain, -1, 3333, 65536, ParallelDeflateStream::kMaxWorkers), expected);
    EXPECT_EQ(deflateAll(plain, -1, plain.size(), 65536, 2), expected);
    MemoryStream out;
    ParallelDeflateStream byDefault(out, -1);
    EXPECT_GE(byDefault.workerCount(), 1);
    EXPECT_LE(byDefault.workerCount(), ParallelDeflateStream::kMaxWorkers);
}

// Block by block on its own, as ECB is; each block's bytes depend on its content alone.
class ScrambleBlocks : public BlockTransform {
public:
    void apply(uint8_t* blocks, size_t count) const override {
        for (size_t b = 0; b < count; ++b) {
            uint8_t* block = blocks + b * kBlockSize;
            std::reverse(block, block + kBlockSize);
            for (int i = 0; i < kBlockSize; ++i) block[i] = static_cast<uint8_t>(block[i] * 7 + 3 + block[(i + 1) % kBlockSize]);
        }
    }
};

TEST(ParallelDeflateStream, TransformedWritesGiveTheStreamOfTheTransformedBytes) {
    // Plain runs between transformed ones of odd lengths put transformed blocks across
    // piece boundaries and transformed bytes into the dictionaries of the pieces after them.
    const std::vector<uint8_t> plain = mailLikeText(700000);
    const auto transform = std::make_shared<const ScrambleBlocks>();
    std::vector<uint8_t> expected;
    std::vector<std::pair<size_t, size_t>> transformed;  // offset, length
    for (size_t at = 0, run = 0; at < plain.size(); ++run) {
        const size_t plainLength = std::min<size_t>(run % 3 == 0 ? 5 : 40001, plain.size() - at);
        expected.insert(expected.end(), plain.begin() + at, plain.begin() + at + plainLength);
        at += plainLength;
        const size_t length = std::min<size_t>((run % 2 ? 8 * 9001 : 8 * 20000), (plain.size() - at) / 8 * 8);
        if (length == 0) break;
        std::vector<uint8_t> blocks(plain.begin() + at, plain.begin() + at + length);
        transform->apply(blocks.data(), length / 8);
        expected.insert(expected.end(), blocks.begin(), blocks.end());
        transformed.push_back({at, length});
        at += length;
    }
    struct Case { int64_t chunkSize; int workers; };
    for (const Case c : {Case{32768, 1}, Case{65536 + 4, 2}, Case{ParallelDeflateStream::kDefaultChunkSize, 3}, Case{20000, 2}}) {
        SCOPED_TRACE(c.chunkSize);
        MemoryStream out;
        {
            ParallelDeflateStream zlib(out, -1, c.chunkSize, c.workers);
            size_t at = 0;
            for (const auto& [offset, length] : transformed) {
                zlib.write(plain.data() + at, static_cast<int64_t>(offset - at));
                std::vector<uint8_t> scratch(plain.begin() + offset, plain.begin() + offset + length);
                zlib.writeTransformed(scratch.data(), static_cast<int64_t>(length), transform);
                at = offset + length;
            }
            zlib.write(plain.data() + at, static_cast<int64_t>(plain.size() - at));
            zlib.finish();
            EXPECT_EQ(zlib.size(), static_cast<int64_t>(plain.size()));
        }
        EXPECT_EQ(out.bytes(), deflateAll(expected, -1, 10240, c.chunkSize, 1));
    }
    MemoryStream out;
    ParallelDeflateStream zlib(out, -1);
    uint8_t partial[12] = {};
    EXPECT_THROW(zlib.writeTransformed(partial, 12, transform), EWriteError);
}

TEST(ParallelDeflateStream, AFailingDestinationReachesTheCallerAndNoWorkerOutlivesTheStream) {
    const size_t threadsBefore = threadCount();
    const std::vector<uint8_t> plain = test::randomBytes(2 << 20, 9);
    FailingStream out(3);
    {
        ParallelDeflateStream zlib(out, 1, 32768, 2);
        EXPECT_EQ(threadCount(), threadsBefore + 2);
        EXPECT_THROW(
            {
                for (size_t at = 0; at < plain.size(); at += 10240)
                    zlib.write(plain.data() + at, static_cast<int64_t>(std::min<size_t>(10240, plain.size() - at)));
                zlib.finish();
            },
            EWriteError);
        EXPECT_THROW(zlib.write("x", 1), EWriteError) << "a failed stream is not used further";
        EXPECT_THROW(zlib.finish(), EWriteError);
    }
    EXPECT_EQ(threadCountAfterJoins(threadsBefore), threadsBefore);
}

TEST(ParallelDeflateStream, AStreamAbandonedWithPiecesInFlightStopsItsWorkers) {
    const size_t threadsBefore = threadCount();
    const std::vector<uint8_t> plain = mailLikeText(1 << 20);
    MemoryStream out;
    {
        ParallelDeflateStream zlib(out, 9, 32768, 2);
        zlib.write(plain.data(), static_cast<int64_t>(plain.size()));
    }
    EXPECT_EQ(threadCountAfterJoins(threadsBefore), threadsBefore);
}

TEST(ParallelDeflateStream, ALevelZlibRefusesFailsBeforeAnyWorkerStarts) {
    const size_t threadsBefore = threadCount();
    MemoryStream out;
    EXPECT_THROW(ParallelDeflateStream(out, 42), TsException);
    EXPECT_THROW(ParallelDeflateStream(out, -1, 0), TsException);
    EXPECT_EQ(threadCountAfterJoins(threadsBefore), threadsBefore);
    EXPECT_TRUE(out.bytes().empty());
}

TEST(ParallelDeflateStream, StoredLevelWritesOnlyStoredBlocks) {
    const std::vector<uint8_t> plain = mixedData(200000);
    std::vector<uint8_t> z = deflateAll(plain, 0, 10240, 65536);
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

TEST(ParallelDeflateStream, OutputGoesOutInBlocksOfAtMost64KiB) {
    const std::vector<uint8_t> plain = test::randomBytes(400000, 3);  // incompressible
    RecordingStream out;
    {
        ParallelDeflateStream zlib(out, 0);
        zlib.write(plain.data(), static_cast<int64_t>(plain.size()));
        zlib.finish();
        EXPECT_EQ(zlib.position(), 400000);
        EXPECT_EQ(zlib.compressedCount(), out.size());
    }
    ASSERT_FALSE(out.writes.empty());
    EXPECT_EQ(*std::max_element(out.writes.begin(), out.writes.end()), ParallelDeflateStream::kOutputBlockSize);
    EXPECT_EQ(referenceInflate(out.bytes(), plain.size()), plain);
}

TEST(ParallelDeflateStream, EmptyInputIsStillAWholeZlibStreamAndWritesAfterFinishAreRefused) {
    MemoryStream out;
    ParallelDeflateStream zlib(out, -1);
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

// Small reads come from a block inflated ahead; mixed with large ones they must still give
// every byte once, in order, with the position and, at the end, the size exact.
TEST(InflateStream, SmallAndLargeReadsMixedGiveEveryByteOnceInOrder) {
    const std::vector<uint8_t> plain = mixedData(300000);
    MemoryStream in(deflateAll(plain, 6));
    InflateStream inflate(in, "x");
    std::vector<uint8_t> got;
    const int64_t sizes[] = {1, 7, 100000, 3, 4095, 4096, 65536, 1};
    for (size_t i = 0; got.size() < plain.size(); ++i) {
        std::vector<uint8_t> chunk(static_cast<size_t>(sizes[i % std::size(sizes)]));
        const int64_t n = inflate.read(chunk.data(), static_cast<int64_t>(chunk.size()));
        ASSERT_GT(n, 0);
        got.insert(got.end(), chunk.begin(), chunk.begin() + n);
        EXPECT_EQ(inflate.position(), static_cast<int64_t>(got.size()));
    }
    EXPECT_EQ(got, plain);
    uint8_t b = 0;
    EXPECT_EQ(inflate.read(&b, 1), 0);
    EXPECT_EQ(inflate.size(), static_cast<int64_t>(plain.size()));
    inflate.verifyComplete();
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
