#include "platform/stream/chunk_deflater.h"

#include <climits>
#include <string>
#include <zlib.h>

#include "platform/exception.h"

namespace ts {

namespace {

// Negative window bits: deflate data without zlib's header and trailer, which the joining
// stream writes once for all pieces.
constexpr int kRawWindowBits = -MAX_WBITS;
constexpr int kDefaultMemLevel = 8;

}  // namespace

void DeflateChunk::clear() {
    dictionary.clear();
    input.clear();
    last = false;
    transforms.clear();
    previous = nullptr;
    transformed = false;
    dictionaryTaken = false;
    output.clear();
    adler = 1;
    done = false;
    error = nullptr;
}

struct ChunkDeflater::State {
    z_stream z{};
};

ChunkDeflater::ChunkDeflater(int zlibLevel) : state_(std::make_unique<State>()) {
    int rc = deflateInit2(&state_->z, zlibLevel, Z_DEFLATED, kRawWindowBits, kDefaultMemLevel, Z_DEFAULT_STRATEGY);
    if (rc != Z_OK) {
        throw TsException("Cannot start compression at level " + std::to_string(zlibLevel) + ": " +
                          (state_->z.msg ? state_->z.msg : zError(rc)));
    }
}

ChunkDeflater::~ChunkDeflater() {
    deflateEnd(&state_->z);
}

void ChunkDeflater::deflate(DeflateChunk& chunk) {
    z_stream& z = state_->z;
    if (chunk.input.size() > UINT_MAX || chunk.dictionary.size() > UINT_MAX)
        throw TsException("Compression failed: a piece of " + std::to_string(chunk.input.size()) + " bytes is too large");
    if (deflateReset(&z) != Z_OK) throw TsException("Compression failed: inconsistent zlib state");
    if (!chunk.dictionary.empty() &&
        deflateSetDictionary(&z, chunk.dictionary.data(), static_cast<uInt>(chunk.dictionary.size())) != Z_OK)
        throw TsException("Compression failed: zlib refused the preceding data as dictionary");

    const int flush = chunk.last ? Z_FINISH : Z_SYNC_FLUSH;
    z.next_in = chunk.input.data();
    z.avail_in = static_cast<uInt>(chunk.input.size());
    // deflateBound covers the data; the flush marker and the final block need a few bytes more.
    chunk.output.resize(deflateBound(&z, static_cast<uLong>(chunk.input.size())) + 64);
    size_t used = 0;
    for (;;) {
        z.next_out = chunk.output.data() + used;
        z.avail_out = static_cast<uInt>(chunk.output.size() - used);
        int rc = ::deflate(&z, flush);
        if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR)
            throw TsException(std::string("Compression failed: ") + (z.msg ? z.msg : zError(rc)));
        used = chunk.output.size() - z.avail_out;
        // A flush is complete when deflate leaves output space unused; the end when it says so.
        if (chunk.last ? rc == Z_STREAM_END : z.avail_out != 0) break;
        if (z.avail_out != 0) throw TsException("Compression failed: zlib could not end the data");
        chunk.output.resize(chunk.output.size() * 2);
    }
    chunk.output.resize(used);
    chunk.adler = static_cast<uint32_t>(adler32(1, chunk.input.data(), static_cast<uInt>(chunk.input.size())));
}

}  // namespace ts
