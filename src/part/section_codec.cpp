#include "part/section_codec.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "platform/exception.h"
#include "platform/two_halves.h"

namespace ts {
namespace {

constexpr int64_t kLengthFieldSize = 8;
constexpr int64_t kBlockSize = 8;
// Blocks deciphered per refill; the buffer stays this size whatever the section's length.
constexpr int64_t kChunkBlocks = 8192;
constexpr size_t kBlocksWorthSplitting = 1024;

std::atomic<uint64_t> keyDerivations{0};

}  // namespace

SectionCodec::SectionCodec(bool encrypt, std::string password) : encrypt_(encrypt), password_(std::move(password)) {}

SectionCodec::SectionCodec(const SectionCodec& other) {
    std::lock_guard lock(other.mutex_);
    encrypt_ = other.encrypt_;
    password_ = other.password_;
    key_ = other.key_;
}

SectionCodec& SectionCodec::operator=(const SectionCodec& other) {
    if (this == &other) return *this;
    std::scoped_lock lock(mutex_, other.mutex_);
    encrypt_ = other.encrypt_;
    password_ = other.password_;
    key_ = other.key_;
    return *this;
}

bool SectionCodec::Encrypt() const {
    std::lock_guard lock(mutex_);
    return encrypt_;
}

std::string SectionCodec::Password() const {
    std::lock_guard lock(mutex_);
    return password_;
}

void SectionCodec::SetEncrypt(bool encrypt) {
    std::lock_guard lock(mutex_);
    encrypt_ = encrypt;
}

void SectionCodec::SetPassword(const std::string& password) {
    std::lock_guard lock(mutex_);
    if (password == password_) return;
    password_ = password;
    key_.reset();
}

void SectionCodec::Configure(bool encrypt, const std::string& password) {
    std::lock_guard lock(mutex_);
    encrypt_ = encrypt;
    if (password == password_) return;
    password_ = password;
    key_.reset();
}

uint64_t SectionCodec::KeyDerivations() {
    return keyDerivations.load();
}

// The key depends on the pass phrase alone; switching Encrypt off and on again keeps it.
TLb3DES SectionCodec::KeyedCipher() const {
    std::lock_guard lock(mutex_);
    TLb3DES cipher;
    if (!key_) {
        cipher.GenerateKey(password_);
        key_ = cipher.Key();
        ++keyDerivations;
    } else {
        cipher.SetKey(*key_);
    }
    return cipher;
}

int64_t SectionCodec::EncodeStream(Stream& Source, Stream& Dest) const {
    if (!Encrypt()) return Dest.copyFrom(Source, Source.size());
    const int64_t before = Dest.size();
    KeyedCipher().EncryptStream(Source, Dest);
    return Dest.size() - before;
}

int64_t SectionCodec::EncodeBuffer(const void* Buffer, int64_t Count, Stream& Dest) const {
    if (!Encrypt()) return Dest.write(Buffer, Count);
    ByteViewStream source(Buffer, Count);
    return EncodeStream(source, Dest);
}

int64_t SectionCodec::DecodeStream(Stream& Source, Stream& Dest) const {
    if (!Encrypt()) return Dest.copyFrom(Source, Source.size());
    const int64_t before = Dest.size();
    KeyedCipher().DecryptStream(Source, Dest);
    return Dest.size() - before;
}

int64_t SectionCodec::EncodedLength(int64_t plainCount) const {
    if (!Encrypt()) return plainCount;
    return (plainCount / kBlockSize + 1) * kBlockSize;
}

int64_t SectionCodec::writeSection(Stream& plain, int64_t plainCount, Stream& dest) const {
    // Checked before anything is written, so a short source never leaves half a section.
    if (plainCount < 0 || plain.remaining() < plainCount) throw EReadError();
    const int64_t length = EncodedLength(plainCount);
    dest.writeValue<int64_t>(length);
    if (length > 0) {
        BoundedStream window(plain, plainCount);
        EncodeStream(window, dest);
    }
    return kLengthFieldSize + length;
}

int64_t SectionCodec::WriteSectionBuffer(const void* buffer, int64_t count, Stream& dest) const {
    ByteViewStream plain(buffer, count);
    return writeSection(plain, count, dest);
}

int64_t SectionCodec::ReadSection(Stream& source, Stream& dest) const {
    SectionReader section(*this, source);
    section.drainTo(dest);
    section.skipRest();
    return section.sectionSize();
}

namespace {

int64_t readPayloadLength(Stream& source) {
    const auto length = source.readValue<int64_t>();
    if (length < 0 || length > source.size() - source.position()) throw ECipherException();
    return length;
}

}  // namespace

SectionReader::SectionReader(const SectionCodec& codec, Stream& source)
    : source_(source),
      payloadLength_(readPayloadLength(source)),
      payloadStart_(source.position()),
      payload_(source, payloadLength_) {
    encrypted_ = codec.Encrypt();
    if (!encrypted_) {
        plainLimit_ = payloadLength_;
        return;
    }
    if (payloadLength_ == 0) return;  // an empty payload is never handed to the cipher
    cipherBlocksLeft_ = payloadLength_ / kBlockSize;
    if (cipherBlocksLeft_ == 0) throw ECipherException();
    plainLimit_ = cipherBlocksLeft_ * kBlockSize;
    cipher_ = codec.KeyedCipher();
}

// ECB deciphers every block on its own, so a chunk is deciphered in place; only the chunk
// that holds the payload's last whole block is cut at the count that block gives.
bool SectionReader::refill() {
    if (cipherBlocksLeft_ == 0) return false;
    const int64_t taken = std::min(cipherBlocksLeft_, kChunkBlocks);
    const auto bytes = static_cast<size_t>(taken * kBlockSize);
    if (plain_.size() < bytes) plain_.resize(bytes);
    int64_t done = 0;
    while (done < static_cast<int64_t>(bytes)) {
        const int64_t got = payload_.read(plain_.data() + done, static_cast<int64_t>(bytes) - done);
        if (got <= 0) throw ECipherException();
        done += got;
    }
    // Triple-DES is the slowest step of an encrypted restore; each block stands alone.
    runInTwoHalves(static_cast<size_t>(taken), kBlocksWorthSplitting, [this](size_t begin, size_t end) {
        cipher_.DecryptBlocks(plain_.data() + begin * kBlockSize, end - begin);
    });
    cipherBlocksLeft_ -= taken;
    plainOffset_ = 0;
    plainEnd_ = bytes;
    if (cipherBlocksLeft_ == 0) {
        plainEnd_ =
            bytes - kBlockSize + static_cast<size_t>(TLb3DES::DataBytesOfLastBlock(plain_.data() + bytes - kBlockSize));
    }
    return true;
}

int64_t SectionReader::read(void* buffer, int64_t count) {
    if (count <= 0) return 0;
    if (!encrypted_) {
        const int64_t got =
            position_ < plainLimit_ ? payload_.read(buffer, std::min(count, plainLimit_ - position_)) : 0;
        position_ += got;
        return got;
    }
    auto* out = static_cast<uint8_t*>(buffer);
    int64_t done = 0;
    while (done < count) {
        if (plainOffset_ == plainEnd_ && !refill()) break;
        const int64_t n = std::min<int64_t>(count - done, static_cast<int64_t>(plainEnd_ - plainOffset_));
        std::memcpy(out + done, plain_.data() + plainOffset_, static_cast<size_t>(n));
        plainOffset_ += static_cast<size_t>(n);
        done += n;
    }
    position_ += done;
    return done;
}

int64_t SectionReader::drainTo(Stream& dest) {
    int64_t total = 0;
    if (!encrypted_) {
        total = dest.copyFrom(payload_, plainLimit_ - position_);
    } else {
        while (plainOffset_ < plainEnd_ || refill()) {
            const auto n = static_cast<int64_t>(plainEnd_ - plainOffset_);
            dest.write(plain_.data() + plainOffset_, n);
            plainOffset_ = plainEnd_;
            total += n;
        }
    }
    position_ += total;
    return total;
}

void SectionReader::seek(int64_t position) {
    if (position != position_) throw EStreamError("Invalid stream position: a section is read once, forwards");
}

void SectionReader::skipRest() {
    const int64_t end = payloadStart_ + payloadLength_;
    if (source_.position() != end) source_.seek(end);
}

int64_t SectionReader::write(const void*, int64_t) {
    throw EWriteError("Stream write error: a section being read is read only");
}

}  // namespace ts
