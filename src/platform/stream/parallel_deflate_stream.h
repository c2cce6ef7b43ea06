#pragma once
// A write-only stream that compresses everything written to it into one zlib stream
// (two-byte header, deflate data, Adler-32 trailer) on another stream, using several
// processors: the plain data is cut into pieces that workers deflate side by side, each
// primed with the 32 KiB before it so the result compresses as well as a single stream.
// Bytes written through writeTransformed are transformed by the workers too (a cipher), so
// the writer only copies.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/stream/chunk_deflater.h"
#include "platform/stream/stream.h"

namespace ts {

// The zlib level for a project's CompressionLevel: 0 stored, 1 fastest, 2 zlib's default
// (handed over as -1), 3 best. Values no project writes fall back to the default level.
int zlibLevelFor(uint8_t compressionLevel);

class ParallelDeflateStream final : public Stream {
public:
    // The largest block the compressed output is written to dest in.
    static constexpr int64_t kOutputBlockSize = 65536;
    // Each piece is primed with the window before it; in larger pieces that costs less.
    static constexpr int64_t kDefaultChunkSize = 512 * 1024;
    // How far back deflate matches reach: the dictionary each piece is primed with.
    static constexpr int64_t kWindowSize = 32768;
    static constexpr int kMaxWorkers = 8;

    // Starts a zlib stream at zlibLevel (-1 or 0 to 9) with the default window and memory
    // settings. workerCount 0 takes one worker per processor, at most kMaxWorkers.
    // dest must outlive this object; it is written only from the calling thread.
    ParallelDeflateStream(Stream& dest, int zlibLevel, int64_t chunkSize = kDefaultChunkSize, int workerCount = 0);
    // Stops the workers. A stream not finished leaves dest without its end.
    ~ParallelDeflateStream() override;

    // Compresses what is left, then writes the remaining compressed bytes and the trailer.
    // Further writes are refused.
    void finish();

    int64_t position() const override { return plainCount_; }
    int64_t size() const override { return plainCount_; }
    // Only the current position is accepted: a compressed stream cannot move.
    void seek(int64_t position) override;
    // Refused: this stream only takes bytes.
    int64_t read(void* buffer, int64_t count) override;
    // A failure of a worker or of dest surfaces here or in finish(); the stream then
    // refuses further use.
    int64_t write(const void* buffer, int64_t count) override;
    // The workers apply the transform just before compressing; a block that would straddle
    // two pieces is transformed here. Pieces under kWindowSize transform everything here.
    int64_t writeTransformed(uint8_t* buffer, int64_t count, const std::shared_ptr<const BlockTransform>& transform) override;

    int64_t compressedCount() const { return compressedCount_; }
    int workerCount() const { return static_cast<int>(workers_.size()); }

private:
    void append(const uint8_t* bytes, int64_t count, const std::shared_ptr<const BlockTransform>* transform);
    void submitFillingChunk(bool last);
    // Waits for the oldest piece in flight and appends its output to dest.
    void writeOldestChunk();
    void emit(const uint8_t* bytes, size_t count);
    void flushOutputBlock();
    void throwIfUnusable() const;
    void runWorker(std::stop_token stop, ChunkDeflater& deflater);
    // Applies the piece's transforms, then takes its dictionary from the piece before it.
    // False when the stream is being destroyed meanwhile.
    bool prepare(std::stop_token stop, DeflateChunk& chunk);

    Stream& dest_;
    const int zlibLevel_;
    const size_t chunkSize_;
    // Pieces of at least a window take their dictionary from the piece before them, on the
    // worker, after its transforms; smaller ones get it from window_.
    const bool dictionaryFromPrevious_;
    size_t maxChunksInFlight_ = 0;
    std::unique_ptr<DeflateChunk> filling_;
    std::vector<uint8_t> window_;  // the last kWindowSize bytes handed to a worker (small pieces)
    // Pieces in stream order, oldest first; only the calling thread touches this list.
    std::deque<std::unique_ptr<DeflateChunk>> inFlight_;
    std::vector<std::unique_ptr<DeflateChunk>> spare_;
    std::vector<uint8_t> outputBlock_;
    uint32_t adler_ = 1;
    int64_t plainCount_ = 0;
    int64_t compressedCount_ = 0;
    bool headerWritten_ = false;
    bool finished_ = false;
    bool broken_ = false;

    // Guards queued_ and every queued piece's done, error, transformed and dictionaryTaken.
    std::mutex mutex_;
    std::deque<DeflateChunk*> queued_;
    std::condition_variable_any chunkQueued_;
    std::condition_variable_any chunkTransformed_;
    std::condition_variable chunkDone_;
    std::vector<std::unique_ptr<ChunkDeflater>> deflaters_;
    // Last, so the threads are stopped and joined before anything they use goes away,
    // also when the constructor fails half way.
    std::vector<std::jthread> workers_;
};

}  // namespace ts
