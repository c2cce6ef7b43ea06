#include "platform/stream/inflate_stream.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <exception>
#include <vector>
#include <zlib.h>

#include "platform/stream/zlib_error.h"

namespace ts {

namespace {
// Reads smaller than this are served from a block inflated ahead: a reader that takes a few
// bytes at a time (a key tree's strings) would otherwise call inflate once for each.
constexpr int64_t kSmallRead = 4096;
constexpr size_t kAheadSize = 65536;
}  // namespace

struct InflateStream::State {
    z_stream z{};
    std::vector<uint8_t> in = std::vector<uint8_t>(static_cast<size_t>(kInputBlockSize));
    std::vector<uint8_t> ahead;  // plain bytes inflated but not yet read
    size_t aheadPos = 0;
    size_t aheadEnd = 0;
    // A failure met while inflating ahead belongs to the bytes after those inflated: it is
    // raised only when a read reaches them.
    std::exception_ptr aheadFailure;
    int64_t buffered() const { return static_cast<int64_t>(aheadEnd - aheadPos); }
};

InflateStream::InflateStream(Stream& source, std::string sourceName)
    : state_(std::make_unique<State>()), source_(source), sourceName_(std::move(sourceName)) {
    int rc = inflateInit(&state_->z);
    if (rc != Z_OK) fail(state_->z.msg ? state_->z.msg : zError(rc));
}

InflateStream::~InflateStream() {
    inflateEnd(&state_->z);
}

void InflateStream::fail(const std::string& reason) const {
    throw ECompressedDataError("Cannot decompress \"" + sourceName_ + "\": " + reason);
}

int64_t InflateStream::size() const {
    return streamEnd_ || inputEnded_ ? plainCount_ + state_->buffered() : kUnknownSize;
}

int64_t InflateStream::compressedConsumed() const {
    return static_cast<int64_t>(state_->z.total_in);
}

bool InflateStream::refill() {
    if (inputEnded_) return false;
    int64_t got = source_.read(state_->in.data(), kInputBlockSize);
    if (got <= 0) {
        inputEnded_ = true;
        return false;
    }
    state_->z.next_in = state_->in.data();
    state_->z.avail_in = static_cast<uInt>(got);
    return true;
}

int64_t InflateStream::read(void* buffer, int64_t count) {
    if (count <= 0) return 0;
    State& st = *state_;
    auto* out = static_cast<uint8_t*>(buffer);
    int64_t done = 0;
    if (st.buffered() == 0 && count < kSmallRead && !streamEnd_ && !st.aheadFailure) {
        if (st.ahead.empty()) st.ahead.resize(kAheadSize);
        st.aheadPos = 0;
        st.aheadEnd = 0;
        try {
            inflateInto(st.ahead.data(), static_cast<int64_t>(kAheadSize), st.aheadEnd);
        } catch (...) {
            st.aheadFailure = std::current_exception();
        }
    }
    if (st.buffered() > 0) {
        done = std::min(count, st.buffered());
        std::memcpy(out, st.ahead.data() + st.aheadPos, static_cast<size_t>(done));
        st.aheadPos += static_cast<size_t>(done);
    }
    if (done < count) {
        if (st.aheadFailure) {
            plainCount_ += done;
            std::rethrow_exception(st.aheadFailure);
        }
        size_t direct = 0;
        inflateInto(out + done, count - done, direct);
        done += static_cast<int64_t>(direct);
    }
    plainCount_ += done;
    return done;
}

void InflateStream::inflateInto(uint8_t* out, int64_t count, size_t& done) {
    if (count <= 0 || streamEnd_) return;
    z_stream& z = state_->z;
    while (static_cast<int64_t>(done) < count && !streamEnd_) {
        if (z.avail_in == 0 && !refill()) break;
        uInt room = static_cast<uInt>(std::min<int64_t>(count - static_cast<int64_t>(done), UINT_MAX));
        z.next_out = out + done;
        z.avail_out = room;
        int rc = inflate(&z, Z_NO_FLUSH);
        done += room - z.avail_out;
        switch (rc) {
            case Z_OK:
            case Z_BUF_ERROR:  // needs more input; the loop refills or ends
                break;
            case Z_STREAM_END:
                streamEnd_ = true;
                break;
            case Z_NEED_DICT:
                fail("needs a preset dictionary");
            case Z_MEM_ERROR:
                fail("out of memory");
            default:
                fail(std::string("damaged or not compressed data (") + (z.msg ? z.msg : zError(rc)) + ")");
        }
    }
}

int64_t InflateStream::write(const void*, int64_t) {
    throw EStreamError("A decompressing stream cannot be written");
}

void InflateStream::seek(int64_t position) {
    if (position < plainCount_) throw EStreamError("A decompressing stream cannot move backwards");
    std::vector<uint8_t> scratch(static_cast<size_t>(std::min<int64_t>(position - plainCount_, 65536)));
    while (plainCount_ < position) {
        int64_t want = std::min<int64_t>(position - plainCount_, static_cast<int64_t>(scratch.size()));
        if (read(scratch.data(), want) == 0) throw EReadError();
    }
}

void InflateStream::skipToEnd() {
    std::vector<uint8_t> scratch(65536);
    while (read(scratch.data(), static_cast<int64_t>(scratch.size())) > 0) {
    }
}

void InflateStream::verifyComplete() {
    skipToEnd();
    if (!streamEnd_) fail("the file is cut short (the end of the compressed data is missing)");
    uint8_t probe;
    if (state_->z.avail_in > 0 || source_.read(&probe, 1) > 0) fail("unexpected bytes follow the end of the compressed data");
}

}  // namespace ts
