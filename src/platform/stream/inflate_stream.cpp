#include "platform/stream/inflate_stream.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <exception>
#include <vector>
#include <zlib.h>
#if TESSALY_HAVE_ISAL
#include <isa-l/igzip_lib.h>
#endif

#include "platform/stream/zlib_error.h"

namespace ts {

namespace {
// Reads smaller than this are served from a block inflated ahead: a reader that takes a few
// bytes at a time (a key tree's strings) would otherwise call the inflater once for each.
constexpr int64_t kSmallRead = 4096;
constexpr size_t kAheadSize = 65536;

enum class Step { Progress, End, Failed };

#if TESSALY_HAVE_ISAL
// The faster inflater: it reads any zlib stream and checks its header and Adler-32 itself.
class Inflater {
public:
    Inflater() {
        isal_inflate_init(&state_);
        state_.crc_flag = ISAL_ZLIB;
    }
    void setInput(uint8_t* bytes, uInt count) {
        for (uInt i = 0; i < count && header_.size() < 2; ++i) header_.push_back(bytes[i]);
        state_.next_in = bytes;
        state_.avail_in = count;
    }
    uInt availableInput() const { return state_.avail_in; }
    // Bytes taken in but not used by the end of the stream: what followed it.
    bool inputLeftAfterEnd() const { return state_.avail_in > 0 || state_.read_in_length >= 8; }
    Step inflate(uint8_t* out, uInt room, uInt& produced, std::string& reason) {
        state_.next_out = out;
        state_.avail_out = room;
        const int rc = isal_inflate(&state_);
        produced = room - state_.avail_out;
        if (rc == ISAL_DECOMP_OK || rc == ISAL_END_INPUT || rc == ISAL_OUT_OVERFLOW)
            return state_.block_state == ISAL_BLOCK_FINISH ? Step::End : Step::Progress;
        // The wording zlib uses for the same faults, so messages do not depend on the build.
        switch (rc) {
            case ISAL_NEED_DICT: reason = "needs a preset dictionary"; break;
            case ISAL_INVALID_WRAPPER:
            case ISAL_UNSUPPORTED_METHOD: reason = "damaged or not compressed data (" + headerFault() + ")"; break;
            case ISAL_INCORRECT_CHECKSUM:
                // Also what a header failing its own check gives.
                reason = std::string("damaged or not compressed data (") +
                         (headerIsValid() ? "incorrect data check" : headerFault().c_str()) + ")";
                break;
            case ISAL_INVALID_BLOCK: reason = "damaged or not compressed data (invalid block type)"; break;
            case ISAL_INVALID_LOOKBACK: reason = "damaged or not compressed data (invalid distance too far back)"; break;
            default: reason = "damaged or not compressed data (invalid code)"; break;
        }
        return Step::Failed;
    }

private:
    bool headerIsValid() const {
        return header_.size() == 2 && (header_[0] << 8 | header_[1]) % 31 == 0 && (header_[0] & 15) == Z_DEFLATED &&
               (header_[0] >> 4) + 8 <= MAX_WBITS;
    }
    // zlib's first complaint about the two header bytes.
    std::string headerFault() const {
        if (header_.size() < 2) return "incorrect header check";
        const unsigned cmf = header_[0], flg = header_[1];
        if ((cmf << 8 | flg) % 31 != 0) return "incorrect header check";
        if ((cmf & 15) != Z_DEFLATED) return "unknown compression method";
        if ((cmf >> 4) + 8 > MAX_WBITS) return "invalid window size";
        return "incorrect header check";
    }

    inflate_state state_{};
    std::vector<uint8_t> header_;
};
#else
class Inflater {
public:
    Inflater() {
        const int rc = inflateInit(&z_);
        if (rc != Z_OK) throw ECompressedDataError(std::string("Cannot start decompression: ") + (z_.msg ? z_.msg : zError(rc)));
    }
    ~Inflater() { inflateEnd(&z_); }
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;
    void setInput(uint8_t* bytes, uInt count) {
        z_.next_in = bytes;
        z_.avail_in = count;
    }
    uInt availableInput() const { return z_.avail_in; }
    bool inputLeftAfterEnd() const { return z_.avail_in > 0; }
    Step inflate(uint8_t* out, uInt room, uInt& produced, std::string& reason) {
        z_.next_out = out;
        z_.avail_out = room;
        const int rc = ::inflate(&z_, Z_NO_FLUSH);
        produced = room - z_.avail_out;
        switch (rc) {
            case Z_OK:
            case Z_BUF_ERROR:  // needs more input; the caller refills or ends
                return Step::Progress;
            case Z_STREAM_END:
                return Step::End;
            case Z_NEED_DICT:
                reason = "needs a preset dictionary";
                return Step::Failed;
            case Z_MEM_ERROR:
                reason = "out of memory";
                return Step::Failed;
            default:
                reason = std::string("damaged or not compressed data (") + (z_.msg ? z_.msg : zError(rc)) + ")";
                return Step::Failed;
        }
    }

private:
    z_stream z_{};
};
#endif

}  // namespace

struct InflateStream::State {
    Inflater inflater;
    std::vector<uint8_t> in = std::vector<uint8_t>(static_cast<size_t>(kInputBlockSize));
    int64_t fed = 0;             // compressed bytes handed to the inflater so far
    std::vector<uint8_t> ahead;  // plain bytes inflated but not yet read
    size_t aheadPos = 0;
    size_t aheadEnd = 0;
    // A failure met while inflating ahead belongs to the bytes after those inflated: it is
    // raised only when a read reaches them.
    std::exception_ptr aheadFailure;
    int64_t buffered() const { return static_cast<int64_t>(aheadEnd - aheadPos); }
};

InflateStream::InflateStream(Stream& source, std::string sourceName)
    : state_(std::make_unique<State>()), source_(source), sourceName_(std::move(sourceName)) {}

InflateStream::~InflateStream() = default;

void InflateStream::fail(const std::string& reason) const {
    throw ECompressedDataError("Cannot decompress \"" + sourceName_ + "\": " + reason);
}

int64_t InflateStream::size() const {
    return streamEnd_ || outputEnded_ ? plainCount_ + state_->buffered() : kUnknownSize;
}

int64_t InflateStream::compressedConsumed() const {
    return state_->fed - static_cast<int64_t>(state_->inflater.availableInput());
}

bool InflateStream::refill() {
    if (inputEnded_) return false;
    int64_t got = source_.read(state_->in.data(), kInputBlockSize);
    if (got <= 0) {
        inputEnded_ = true;
        return false;
    }
    state_->inflater.setInput(state_->in.data(), static_cast<uInt>(got));
    state_->fed += got;
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
    Inflater& inflater = state_->inflater;
    std::string reason;
    while (static_cast<int64_t>(done) < count && !streamEnd_) {
        if (inflater.availableInput() == 0) refill();
        const auto room = static_cast<uInt>(std::min<int64_t>(count - static_cast<int64_t>(done), UINT_MAX));
        uInt produced = 0;
        const Step step = inflater.inflate(out + done, room, produced, reason);
        done += produced;
        if (step == Step::End) streamEnd_ = true;
        if (step == Step::Failed) fail(reason);
        // An inflater may hold output back from input it has taken in, so the end of the
        // input is the end only once nothing more comes out.
        if (produced == 0 && inputEnded_ && inflater.availableInput() == 0) {
            outputEnded_ = true;
            break;
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

void InflateStream::verifyNothingFollows() {
    uint8_t extra;
    if (read(&extra, 1) > 0) fail("unexpected data follows the end of its contents");
    verifyComplete();
}

void InflateStream::verifyComplete() {
    skipToEnd();
    if (!streamEnd_) fail("the file is cut short (the end of the compressed data is missing)");
    uint8_t probe;
    if (state_->inflater.inputLeftAfterEnd() || source_.read(&probe, 1) > 0)
        fail("unexpected bytes follow the end of the compressed data");
}

}  // namespace ts
