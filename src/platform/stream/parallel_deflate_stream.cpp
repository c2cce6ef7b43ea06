#include "platform/stream/parallel_deflate_stream.h"

#include <algorithm>
#include <array>
#include <string>
#include <zlib.h>

#include "platform/exception.h"

namespace ts {

namespace {

constexpr int64_t kMaxChunkSize = int64_t{1} << 30;

// The two bytes zlib itself starts a stream of this level with (RFC 1950): deflate with a
// 32 KiB window, the level's class, no dictionary, and the check bits.
std::array<uint8_t, 2> zlibHeaderFor(int zlibLevel) {
    const int level = zlibLevel == Z_DEFAULT_COMPRESSION ? 6 : zlibLevel;
    const unsigned levelClass = level < 2 ? 0 : level < 6 ? 1 : level == 6 ? 2 : 3;
    const unsigned cmf = Z_DEFLATED | (MAX_WBITS - 8) << 4;
    unsigned flg = levelClass << 6;
    flg += 31 - (cmf << 8 | flg) % 31;
    return {static_cast<uint8_t>(cmf), static_cast<uint8_t>(flg)};
}

int defaultWorkerCount() {
    const unsigned processors = std::thread::hardware_concurrency();
    return std::clamp(static_cast<int>(processors), 1, ParallelDeflateStream::kMaxWorkers);
}

}  // namespace

int zlibLevelFor(uint8_t compressionLevel) {
    switch (compressionLevel) {
        case 0: return Z_NO_COMPRESSION;
        case 1: return Z_BEST_SPEED;
        case 3: return Z_BEST_COMPRESSION;
        default: return Z_DEFAULT_COMPRESSION;
    }
}

ParallelDeflateStream::ParallelDeflateStream(Stream& dest, int zlibLevel, int64_t chunkSize, int workerCount)
    : dest_(dest),
      zlibLevel_(zlibLevel),
      chunkSize_(static_cast<size_t>(chunkSize)),
      dictionaryFromPrevious_(chunkSize >= kWindowSize),
      filling_(std::make_unique<DeflateChunk>()) {
    if (chunkSize <= 0 || chunkSize > kMaxChunkSize)
        throw TsException("Cannot compress in pieces of " + std::to_string(chunkSize) + " bytes");
    if (workerCount <= 0) workerCount = defaultWorkerCount();
    workerCount = std::min(workerCount, kMaxWorkers);
    // Pieces waiting beside the ones being compressed keep every worker busy while the
    // caller reads, also when a busy machine leaves the caller's thread waiting for a while;
    // a few MiB in all.
    maxChunksInFlight_ = 4 * static_cast<size_t>(workerCount);
    // Made here so a level zlib refuses fails in the caller, before any thread starts.
    for (int i = 0; i < workerCount; ++i) deflaters_.push_back(std::make_unique<ChunkDeflater>(zlibLevel));
    filling_->input.reserve(chunkSize_);
    filling_->dictionary.reserve(static_cast<size_t>(kWindowSize));
    outputBlock_.reserve(static_cast<size_t>(kOutputBlockSize));
    for (auto& deflater : deflaters_)
        workers_.emplace_back([this, &deflater](std::stop_token stop) { runWorker(stop, *deflater); });
}

ParallelDeflateStream::~ParallelDeflateStream() {
    // Ask all at once; the members' destruction then joins them.
    for (auto& worker : workers_) worker.request_stop();
}

void ParallelDeflateStream::seek(int64_t position) {
    if (position != plainCount_) throw EStreamError("A compressing stream cannot change its position");
}

int64_t ParallelDeflateStream::read(void*, int64_t) {
    throw EStreamError("A compressing stream cannot be read");
}

void ParallelDeflateStream::throwIfUnusable() const {
    if (finished_) throw EWriteError("Cannot write after the compressed stream was finished");
    if (broken_) throw EWriteError("Cannot write to a compressed stream after it failed");
}

int64_t ParallelDeflateStream::write(const void* buffer, int64_t count) {
    throwIfUnusable();
    if (count <= 0) return 0;
    try {
        append(static_cast<const uint8_t*>(buffer), count, nullptr);
    } catch (...) {
        broken_ = true;
        throw;
    }
    plainCount_ += count;
    return count;
}

int64_t ParallelDeflateStream::writeTransformed(uint8_t* buffer, int64_t count,
                                                const std::shared_ptr<const BlockTransform>& transform) {
    constexpr auto kBlock = static_cast<size_t>(BlockTransform::kBlockSize);
    throwIfUnusable();
    if (count % BlockTransform::kBlockSize != 0) throw EWriteError("Stream write error: a partial block to transform");
    if (count <= 0) return 0;
    if (!dictionaryFromPrevious_) return Stream::writeTransformed(buffer, count, transform);
    try {
        uint8_t* in = buffer;
        int64_t left = count;
        while (left > 0) {
            const size_t room = chunkSize_ - filling_->input.size();
            if (room < kBlock) {
                // This block's bytes land in two pieces; no worker sees it whole.
                transform->apply(in, 1);
                append(in, BlockTransform::kBlockSize, nullptr);
                in += kBlock;
                left -= BlockTransform::kBlockSize;
                continue;
            }
            const auto take = std::min<int64_t>(left, static_cast<int64_t>(room - room % kBlock));
            append(in, take, &transform);
            in += take;
            left -= take;
        }
    } catch (...) {
        broken_ = true;
        throw;
    }
    plainCount_ += count;
    return count;
}

void ParallelDeflateStream::append(const uint8_t* in, int64_t count,
                                   const std::shared_ptr<const BlockTransform>* transform) {
    while (count > 0) {
        DeflateChunk& chunk = *filling_;
        const size_t room = chunkSize_ - chunk.input.size();
        const size_t take = static_cast<size_t>(std::min<int64_t>(count, static_cast<int64_t>(room)));
        if (transform) {
            auto& ranges = chunk.transforms;
            if (!ranges.empty() && ranges.back().transform == *transform &&
                ranges.back().offset + ranges.back().length == chunk.input.size())
                ranges.back().length += take;
            else
                ranges.push_back({chunk.input.size(), take, *transform});
        }
        chunk.input.insert(chunk.input.end(), in, in + take);
        in += take;
        count -= static_cast<int64_t>(take);
        if (chunk.input.size() == chunkSize_) submitFillingChunk(false);
    }
}

void ParallelDeflateStream::finish() {
    if (finished_) return;
    throwIfUnusable();
    try {
        submitFillingChunk(true);
        while (!inFlight_.empty()) writeOldestChunk();
    } catch (...) {
        broken_ = true;
        throw;
    }
    finished_ = true;
}

void ParallelDeflateStream::submitFillingChunk(bool last) {
    DeflateChunk& chunk = *filling_;
    chunk.last = last;
    if (dictionaryFromPrevious_) {
        // Every piece but the last is whole, so the one before holds a full window. The
        // list is never emptied between two pieces (see writeOldestChunk), so the piece
        // before is still at hand.
        chunk.previous = inFlight_.empty() ? nullptr : inFlight_.back().get();
    } else {
        chunk.dictionary = window_;
        const std::vector<uint8_t>& input = chunk.input;
        if (input.size() >= static_cast<size_t>(kWindowSize)) {
            window_.assign(input.end() - kWindowSize, input.end());
        } else {
            window_.insert(window_.end(), input.begin(), input.end());
            if (window_.size() > static_cast<size_t>(kWindowSize))
                window_.erase(window_.begin(), window_.end() - kWindowSize);
        }
    }

    // At least one piece stays in flight, so the next piece finds the one before it.
    while (inFlight_.size() >= maxChunksInFlight_) writeOldestChunk();
    {
        std::lock_guard lock(mutex_);
        queued_.push_back(filling_.get());
    }
    inFlight_.push_back(std::move(filling_));
    chunkQueued_.notify_one();

    if (spare_.empty()) {
        filling_ = std::make_unique<DeflateChunk>();
        filling_->input.reserve(chunkSize_);
        // So a worker taking its dictionary never allocates.
        filling_->dictionary.reserve(static_cast<size_t>(kWindowSize));
    } else {
        filling_ = std::move(spare_.back());
        spare_.pop_back();
    }
}

void ParallelDeflateStream::writeOldestChunk() {
    DeflateChunk& chunk = *inFlight_.front();
    {
        std::unique_lock lock(mutex_);
        chunkDone_.wait(lock, [&] { return chunk.done; });
    }
    if (chunk.error) std::rethrow_exception(chunk.error);

    if (!headerWritten_) {
        const std::array<uint8_t, 2> header = zlibHeaderFor(zlibLevel_);
        emit(header.data(), header.size());
        headerWritten_ = true;
    }
    emit(chunk.output.data(), chunk.output.size());
    adler_ = static_cast<uint32_t>(adler32_combine(adler_, chunk.adler, static_cast<z_off_t>(chunk.input.size())));
    if (chunk.last) {
        const std::array<uint8_t, 4> trailer = {static_cast<uint8_t>(adler_ >> 24), static_cast<uint8_t>(adler_ >> 16),
                                                static_cast<uint8_t>(adler_ >> 8), static_cast<uint8_t>(adler_)};
        emit(trailer.data(), trailer.size());
        flushOutputBlock();
    }

    if (inFlight_.size() > 1 && inFlight_[1]->previous == &chunk) {
        // The next piece's worker may still be copying its dictionary out of this one.
        DeflateChunk& next = *inFlight_[1];
        std::unique_lock lock(mutex_);
        chunkDone_.wait(lock, [&] { return next.dictionaryTaken; });
    }
    chunk.clear();
    spare_.push_back(std::move(inFlight_.front()));
    inFlight_.pop_front();
}

void ParallelDeflateStream::emit(const uint8_t* bytes, size_t count) {
    while (count > 0) {
        const size_t take = std::min(count, static_cast<size_t>(kOutputBlockSize) - outputBlock_.size());
        outputBlock_.insert(outputBlock_.end(), bytes, bytes + take);
        bytes += take;
        count -= take;
        if (outputBlock_.size() == static_cast<size_t>(kOutputBlockSize)) flushOutputBlock();
    }
}

void ParallelDeflateStream::flushOutputBlock() {
    if (outputBlock_.empty()) return;
    dest_.write(outputBlock_.data(), static_cast<int64_t>(outputBlock_.size()));
    compressedCount_ += static_cast<int64_t>(outputBlock_.size());
    outputBlock_.clear();
}

void ParallelDeflateStream::runWorker(std::stop_token stop, ChunkDeflater& deflater) {
    for (;;) {
        DeflateChunk* chunk = nullptr;
        {
            std::unique_lock lock(mutex_);
            chunkQueued_.wait(lock, stop, [&] { return !queued_.empty(); });
            // A stream being destroyed needs none of the pieces still queued.
            if (stop.stop_requested()) return;
            chunk = queued_.front();
            queued_.pop_front();
        }
        if (!prepare(stop, *chunk)) return;
        std::exception_ptr error;
        try {
            deflater.deflate(*chunk);
        } catch (...) {
            error = std::current_exception();
        }
        {
            std::lock_guard lock(mutex_);
            chunk->error = error;
            chunk->done = true;
        }
        chunkDone_.notify_all();
    }
}

bool ParallelDeflateStream::prepare(std::stop_token stop, DeflateChunk& chunk) {
    for (const TransformedRange& range : chunk.transforms)
        range.transform->apply(chunk.input.data() + range.offset,
                               range.length / static_cast<size_t>(BlockTransform::kBlockSize));
    std::unique_lock lock(mutex_);
    chunk.transformed = true;
    chunkTransformed_.notify_all();
    if (chunk.previous) {
        DeflateChunk& previous = *chunk.previous;
        // The piece before was taken from the queue earlier, and a worker transforms a piece
        // before it waits for anything, so this wait always ends.
        if (!chunkTransformed_.wait(lock, stop, [&] { return previous.transformed; })) return false;
        lock.unlock();
        // Reading the piece before while its own worker compresses it: neither writes it.
        chunk.dictionary.assign(previous.input.end() - kWindowSize, previous.input.end());
        lock.lock();
        chunk.dictionaryTaken = true;
        chunkDone_.notify_all();
    }
    return true;
}

}  // namespace ts
