#include "platform/stream/threaded_write_stream.h"

#include <gtest/gtest.h>

#include "platform/exception.h"
#include "support/temp_dir.h"

namespace ts {
namespace {

TEST(ThreadedWriteStream, PiecesOfEverySizeArriveWholeAndInOrder) {
    test::TempDir dir;
    // More than the buffers that may wait, in pieces that end inside and across buffers.
    const std::vector<uint8_t> bytes = test::randomBytes(6 * ThreadedWriteStream::kBufferSize + 12345, 7);
    {
        FileStream file(dir.file("out"), FileStream::Mode::Create);
        ThreadedWriteStream out(file);
        size_t at = 0;
        for (size_t piece : {size_t{1}, size_t{7}, ThreadedWriteStream::kBufferSize + 3, size_t{65536}}) {
            for (int i = 0; i < 8 && at < bytes.size(); ++i) {
                const size_t length = std::min(piece, bytes.size() - at);
                out.write(bytes.data() + at, static_cast<int64_t>(length));
                at += length;
            }
        }
        out.write(bytes.data() + at, static_cast<int64_t>(bytes.size() - at));
        EXPECT_EQ(out.position(), static_cast<int64_t>(bytes.size()));
        out.finish();
    }
    EXPECT_EQ(test::readHostFile(dir.file("out")), bytes);

    // Given up unfinished, it goes without waiting for what was still queued.
    FileStream file(dir.file("dropped"), FileStream::Mode::Create);
    {
        ThreadedWriteStream out(file);
        out.write(bytes.data(), static_cast<int64_t>(bytes.size()));
    }
    EXPECT_LE(file.size(), static_cast<int64_t>(bytes.size()));
}

TEST(ThreadedWriteStream, AFullDiskIsRaisedToTheWriter) {
    FileStream full("/dev/full", FileStream::Mode::ReadWrite);
    const std::vector<uint8_t> piece(ThreadedWriteStream::kBufferSize, 'x');
    ThreadedWriteStream out(full);
    // Raised by a later write once the buffers are all taken, or by finish at the latest.
    EXPECT_THROW(
        {
            for (size_t i = 0; i < 2 * ThreadedWriteStream::kMostWaiting + 2; ++i)
                out.write(piece.data(), static_cast<int64_t>(piece.size()));
            out.finish();
        },
        EWriteError);
    EXPECT_THROW(out.finish(), EWriteError);
}

}  // namespace
}  // namespace ts
