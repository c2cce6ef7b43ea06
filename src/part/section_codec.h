#pragma once
// The one section codec of the parts. A section is an 8-byte length followed by the codec's
// output: the plain bytes unchanged, or Triple-DES under a key digested from the pass phrase.
// The key is digested once and kept until the switch or the pass phrase changes, so a run
// pays for the digest once however many sections it codes. Usable on its own (benchmarks,
// fuzz targets, converters) as well as through a project.
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/stream/bounded_stream.h"
#include "platform/stream/stream.h"
#include "transfer/cipher/triple_des.h"

namespace ts {

class SectionCodec {
public:
    SectionCodec() = default;
    SectionCodec(bool encrypt, std::string password);
    SectionCodec(const SectionCodec& other);
    SectionCodec& operator=(const SectionCodec& other);

    bool Encrypt() const;
    std::string Password() const;  // host text (UTF-8)
    void SetEncrypt(bool encrypt);
    void SetPassword(const std::string& password);
    // Both at once; the kept key survives when neither changes.
    void Configure(bool encrypt, const std::string& password);

    // With Encrypt off the bytes pass unchanged; with it on they go through Triple-DES.
    // Source is read from its current position, its blocks counted from its total size.
    // Each returns how much Dest grew.
    int64_t EncodeStream(Stream& Source, Stream& Dest) const;
    int64_t EncodeBuffer(const void* Buffer, int64_t Count, Stream& Dest) const;
    int64_t DecodeStream(Stream& Source, Stream& Dest) const;

    // The payload length a section of plainCount bytes gets: plainCount when plain,
    // (plainCount div 8 + 1) * 8 when encrypted.
    int64_t EncodedLength(int64_t plainCount) const;

    // Writes one section of exactly plainCount bytes read from plain's current position,
    // streaming through fixed buffers. Returns 8 + payload length. Throws EReadError, before
    // writing anything, when plain holds fewer bytes.
    int64_t writeSection(Stream& plain, int64_t plainCount, Stream& dest) const;
    int64_t WriteSectionBuffer(const void* buffer, int64_t count, Stream& dest) const;
    // Reads one section from source's current position into dest (through SectionReader).
    // Returns the bytes consumed from source (8 + L).
    int64_t ReadSection(Stream& source, Stream& dest) const;

    // A cipher holding the kept key, digesting it first when there is none.
    TLb3DES KeyedCipher() const;

    // How many pass-phrase digests codecs of this process have made so far.
    static uint64_t KeyDerivations();

private:
    mutable std::mutex mutex_;
    bool encrypt_ = false;
    std::string password_;
    mutable std::optional<DigestKey> key_;
};

// The plain bytes of one section, decoded as they are read. A saved file's section can be as
// large as the file, so it is never copied or decoded whole: reading pulls the payload from
// the source through fixed buffers.
class SectionReader : public Stream {
public:
    // Reads the section's 8-byte length from source and stands at the start of its payload.
    // A negative length, one beyond the end of source, or an encrypted payload shorter than a
    // block raises ECipherException ("Invalid file format").
    SectionReader(const SectionCodec& codec, Stream& source);

    // The bytes the section takes in source: 8 plus the payload length.
    int64_t sectionSize() const { return 8 + payloadLength_; }
    // Moves source to the end of the section, dropping whatever was not read. Bytes after
    // the last whole block of an encrypted payload belong to the section and go with it.
    void skipRest();
    // Writes all plain bytes not yet read to dest, straight from the deciphered chunks.
    // Returns how many.
    int64_t drainTo(Stream& dest);

    int64_t position() const override { return position_; }
    // The most plain bytes the payload can give: exact when plain; when encrypted the count
    // block is deciphered only at the end, so the limit stands in for the size until then.
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
    BoundedStream payload_;  // after payloadLength_, which it is built from
    int64_t plainLimit_ = 0;
    int64_t position_ = 0;
    bool encrypted_ = false;
    TLb3DES cipher_;
    int64_t cipherBlocksLeft_ = 0;  // whole encrypted blocks not yet deciphered
    std::vector<uint8_t> plain_;    // deciphered bytes of the last refill
    size_t plainOffset_ = 0;
    size_t plainEnd_ = 0;
};

}  // namespace ts
