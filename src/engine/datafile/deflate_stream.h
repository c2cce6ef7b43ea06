#pragma once
// A write-only stream that compresses everything written to it into one zlib stream
// (two-byte header, deflate data, Adler-32 trailer) on another stream.
#include <cstdint>
#include <memory>

#include "platform/stream.h"

namespace ts {

// The zlib level for a project's CompressionLevel: 0 stored, 1 fastest, 2 zlib's default
// (handed over as -1), 3 best. Values no project writes fall back to the default level.
int zlibLevelFor(uint8_t compressionLevel);

class DeflateStream final : public Stream {
public:
    // The largest block the compressed output is written to dest in.
    static constexpr int64_t kOutputBlockSize = 65536;

    // Starts a zlib stream with the default window and memory settings at zlibLevel
    // (-1 or 0 to 9). dest must outlive this object.
    DeflateStream(Stream& dest, int zlibLevel);
    // Releases zlib's state. A stream not finished leaves dest without its end marker.
    ~DeflateStream() override;

    // Flushes with the final marker: the remaining compressed bytes and the trailer.
    // Further writes are refused.
    void finish();

    int64_t position() const override { return plainCount_; }
    int64_t size() const override { return plainCount_; }
    // Only the current position is accepted: a compressed stream cannot move.
    void seek(int64_t position) override;
    // Refused: this stream only takes bytes.
    int64_t read(void* buffer, int64_t count) override;
    int64_t write(const void* buffer, int64_t count) override;

    int64_t compressedCount() const { return compressedCount_; }

private:
    // Runs deflate over the pending input with the given flush mode, writing each full
    // output block to dest.
    void pump(int flush);

    struct State;
    std::unique_ptr<State> state_;
    Stream& dest_;
    int64_t plainCount_ = 0;
    int64_t compressedCount_ = 0;
    bool finished_ = false;
};

}  // namespace ts
