#include "engine/datafile/deflate_stream.h"

#include <algorithm>
#include <climits>
#include <vector>
#include <zlib.h>

#include "engine/datafile/zlib_error.h"

namespace ts {

int zlibLevelFor(uint8_t compressionLevel) {
    switch (compressionLevel) {
        case 0: return Z_NO_COMPRESSION;
        case 1: return Z_BEST_SPEED;
        case 3: return Z_BEST_COMPRESSION;
        default: return Z_DEFAULT_COMPRESSION;
    }
}

struct DeflateStream::State {
    z_stream z{};
    std::vector<uint8_t> out = std::vector<uint8_t>(static_cast<size_t>(kOutputBlockSize));
};

DeflateStream::DeflateStream(Stream& dest, int zlibLevel) : state_(std::make_unique<State>()), dest_(dest) {
    int rc = deflateInit(&state_->z, zlibLevel);
    if (rc != Z_OK) {
        throw TsException("Cannot start compression at level " + std::to_string(zlibLevel) + ": " +
                          (state_->z.msg ? state_->z.msg : zError(rc)));
    }
    state_->z.next_out = state_->out.data();
    state_->z.avail_out = static_cast<uInt>(state_->out.size());
}

DeflateStream::~DeflateStream() {
    deflateEnd(&state_->z);
}

void DeflateStream::seek(int64_t position) {
    if (position != plainCount_) throw EStreamError("A compressing stream cannot change its position");
}

int64_t DeflateStream::read(void*, int64_t) {
    throw EStreamError("A compressing stream cannot be read");
}

int64_t DeflateStream::write(const void* buffer, int64_t count) {
    if (finished_) throw EWriteError("Cannot write after the compressed stream was finished");
    if (count <= 0) return 0;
    const auto* in = static_cast<const uint8_t*>(buffer);
    int64_t left = count;
    while (left > 0) {
        uInt chunk = static_cast<uInt>(std::min<int64_t>(left, UINT_MAX));
        state_->z.next_in = const_cast<Bytef*>(in);
        state_->z.avail_in = chunk;
        pump(Z_NO_FLUSH);
        in += chunk;
        left -= chunk;
    }
    plainCount_ += count;
    return count;
}

void DeflateStream::finish() {
    if (finished_) return;
    state_->z.next_in = nullptr;
    state_->z.avail_in = 0;
    pump(Z_FINISH);
    finished_ = true;
}

void DeflateStream::pump(int flush) {
    z_stream& z = state_->z;
    for (;;) {
        int rc = deflate(&z, flush);
        if (rc == Z_STREAM_ERROR) throw TsException("Compression failed: inconsistent zlib state");
        bool blockFull = z.avail_out == 0;
        bool done = flush == Z_FINISH ? rc == Z_STREAM_END : (z.avail_in == 0 && !blockFull);
        if (blockFull || (done && flush == Z_FINISH)) {
            int64_t n = static_cast<int64_t>(state_->out.size()) - z.avail_out;
            if (n > 0) dest_.write(state_->out.data(), n);
            compressedCount_ += n;
            z.next_out = state_->out.data();
            z.avail_out = static_cast<uInt>(state_->out.size());
        }
        if (done) return;
    }
}

}  // namespace ts
