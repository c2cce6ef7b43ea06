#pragma once
// A read-only, forward-only stream that inflates one zlib stream read from another stream.
//
// Input that stops before the zlib stream's end marker is not an error here: the plain
// stream simply ends where the input ends, and readers after it meet that end. Whoever
// must know that the file was whole (a check of a data file) asks verifyComplete(), which
// reads on to the end and insists on the end marker with its Adler-32 checksum.
#include <cstdint>
#include <limits>
#include <memory>
#include <string>

#include "platform/stream/stream.h"

namespace ts {

class InflateStream final : public Stream {
public:
    // The largest block the compressed input is read in.
    static constexpr int64_t kInputBlockSize = 65536;
    // What size() says while the end of the plain stream is not yet known.
    static constexpr int64_t kUnknownSize = std::numeric_limits<int64_t>::max();

    // Inflates from source's current position. sourceName names the input in error
    // messages. source must outlive this object.
    InflateStream(Stream& source, std::string sourceName);
    ~InflateStream() override;

    int64_t position() const override { return plainCount_; }
    // The plain stream's length once its end was reached; kUnknownSize before, so that a
    // reader's "does it fit" test never refuses bytes that may still come.
    int64_t size() const override;
    // Forward seeks inflate and discard; a seek backwards is refused.
    void seek(int64_t position) override;
    // Fills the buffer unless the plain stream ends. Damaged data throws
    // ECompressedDataError naming the source and zlib's reason.
    int64_t read(void* buffer, int64_t count) override;
    int64_t write(const void* buffer, int64_t count) override;

    // Reads and discards everything up to the end of the plain stream.
    void skipToEnd();
    // skipToEnd, then throws ECompressedDataError unless the zlib stream ended with its
    // end marker and a matching checksum and nothing follows it in the source.
    void verifyComplete();
    // For a reader that has read everything the contents hold: verifyComplete, and no plain
    // byte may be left either.
    void verifyNothingFollows();

    // How many bytes of the compressed input have been inflated: where in the file a
    // failure of its data showed.
    int64_t compressedConsumed() const;

    // The zlib end marker was read and its checksum matched.
    bool reachedStreamEnd() const { return streamEnd_; }
    // The input ended before the end marker.
    bool inputCutShort() const { return inputEnded_ && !streamEnd_; }

private:
    bool refill();
    // Inflates up to count bytes straight into out, counting them in done as it goes (so a
    // failure leaves done exact); fewer only at the end of the plain stream.
    void inflateInto(uint8_t* out, int64_t count, size_t& done);
    [[noreturn]] void fail(const std::string& reason) const;

    struct State;
    std::unique_ptr<State> state_;
    Stream& source_;
    std::string sourceName_;
    int64_t plainCount_ = 0;
    bool streamEnd_ = false;
    bool inputEnded_ = false;
    bool outputEnded_ = false;  // the input ended and nothing more comes out
};

}  // namespace ts
