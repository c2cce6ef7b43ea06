#include "part/bp_object.h"

#include "platform/stream/bounded_stream.h"
#include "platform/exception.h"
#include "transfer/cipher/triple_des.h"

namespace ts {
namespace {

constexpr int64_t kLengthFieldSize = 8;

// A cipher keyed afresh from the pass phrase for every call: no key outlives its section.
TLb3DES keyedCipher(const TtsProjectLink& project) {
    TLb3DES cipher;
    cipher.GenerateKey(project.Password());
    return cipher;
}

}  // namespace

int64_t TtsBPObject::EncodeStream(Stream& Source, Stream& Dest) const {
    if (!project_) return 0;
    if (!project_->Encrypt()) return Dest.copyFrom(Source, Source.size());
    int64_t before = Dest.size();
    keyedCipher(*project_).EncryptStream(Source, Dest);
    return Dest.size() - before;
}

int64_t TtsBPObject::EncodeBuffer(const void* Buffer, int64_t Count, Stream& Dest) const {
    if (!project_) return 0;
    if (!project_->Encrypt()) return Dest.write(Buffer, Count);
    ByteViewStream source(Buffer, Count);
    return EncodeStream(source, Dest);
}

int64_t TtsBPObject::DecodeStream(Stream& Source, Stream& Dest) const {
    if (!project_) return 0;
    if (!project_->Encrypt()) return Dest.copyFrom(Source, Source.size());
    int64_t before = Dest.size();
    keyedCipher(*project_).DecryptStream(Source, Dest);
    return Dest.size() - before;
}

int64_t TtsBPObject::EncodedLength(int64_t plainCount) const {
    if (!project_) return 0;
    if (!project_->Encrypt()) return plainCount;
    return (plainCount / 8 + 1) * 8;
}

int64_t TtsBPObject::WriteSection(Stream& plain, int64_t plainCount, Stream& dest) const {
    // Checked before anything is written, so a short source never leaves half a section.
    if (plainCount < 0 || plain.remaining() < plainCount) throw EReadError();
    int64_t length = EncodedLength(plainCount);
    dest.writeValue<int64_t>(length);
    if (length > 0) {
        BoundedStream window(plain, plainCount);
        EncodeStream(window, dest);
    }
    return kLengthFieldSize + length;
}

int64_t TtsBPObject::WriteSectionBuffer(const void* buffer, int64_t count, Stream& dest) const {
    ByteViewStream plain(buffer, count);
    return WriteSection(plain, count, dest);
}

int64_t TtsBPObject::ReadSection(Stream& source, Stream& dest) const {
    auto length = source.readValue<int64_t>();
    int64_t start = source.position();
    if (length < 0 || length > source.size() - start) throw ECipherException();
    // An empty payload is never handed to the cipher, which would reject it.
    if (length > 0) {
        BoundedStream payload(source, length);
        DecodeStream(payload, dest);
    }
    // The cipher leaves bytes after the last whole block unread; the section ends here anyway.
    source.seek(start + length);
    return kLengthFieldSize + length;
}

}  // namespace ts
