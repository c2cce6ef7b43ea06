#pragma once
// The plain bytes of one section, decoded as they are read. A saved file's section can be as
// large as the file, so it is never copied or decoded whole: reading pulls the payload from
// the data stream through fixed buffers.
#include <cstdint>
#include <vector>

#include "platform/stream/bounded_stream.h"
#include "platform/stream/stream.h"
#include "transfer/cipher/triple_des.h"

namespace ts {

class TtsBPObject;

class SectionPlainStream : public Stream {
public:
    // Reads the section's 8-byte length from source and stands at the start of its payload.
    // A negative length, or one beyond the end of source, raises "Invalid file format" as the
    // codec does. codec decides plain or encrypted (and the key) as for its DecodeStream.
    SectionPlainStream(const TtsBPObject& codec, Stream& source);

    // The bytes the section took in source: 8 plus the payload length.
    int64_t sectionSize() const { return 8 + payloadLength_; }
    // The most plain bytes the payload can give (exact when the section is plain).
    int64_t plainLimit() const { return plainLimit_; }
    // Moves source to the end of the section, dropping whatever was not read.
    void skipRest();

    int64_t position() const override { return position_; }
    // Not known before the end of an encrypted payload: the limit stands in for it.
    int64_t size() const override { return plainLimit_; }
    // Only to the current position: the payload is read once, forwards.
    void seek(int64_t position) override;
    int64_t read(void* buffer, int64_t count) override;
    int64_t write(const void* buffer, int64_t count) override;

private:
    bool refill();

    Stream& source_;
    int64_t payloadLength_;
    int64_t payloadStart_;
    int64_t plainLimit_ = 0;
    int64_t position_ = 0;
    bool encrypted_ = false;
    TLb3DES cipher_;
    BoundedStream payload_;  // after payloadLength_, which it is built from
    int64_t cipherBlocksLeft_ = 0;       // whole encrypted blocks not yet deciphered
    std::vector<uint8_t> cipherChunk_;   // the encrypted blocks of the next refill
    std::vector<uint8_t> plain_;         // deciphered bytes not yet read
    size_t plainOffset_ = 0;
};

}  // namespace ts
