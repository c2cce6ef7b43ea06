#include "items/capture/file_list_block_section.h"

#include <algorithm>
#include <cstring>

#include "part/bp_object.h"
#include "platform/exception.h"

namespace ts {

namespace {

constexpr int64_t kBlockSize = 8;
// Blocks deciphered per refill; the buffers stay this size whatever the section's length.
constexpr int64_t kChunkBlocks = 8192;

int64_t readPayloadLength(Stream& source) {
    const auto length = source.readValue<int64_t>();
    if (length < 0 || length > source.size() - source.position()) throw ECipherException();
    return length;
}

}  // namespace

SectionPlainStream::SectionPlainStream(const TtsBPObject& codec, Stream& source)
    : source_(source),
      payloadLength_(readPayloadLength(source)),
      payloadStart_(source.position()),
      payload_(source, payloadLength_) {
    const TtsProjectLink* project = codec.Project();
    if (!project) return;  // the codec gives nothing without a project
    encrypted_ = project->Encrypt();
    if (!encrypted_) {
        plainLimit_ = payloadLength_;
        return;
    }
    if (payloadLength_ == 0) return;  // an empty payload is never handed to the cipher
    cipherBlocksLeft_ = payloadLength_ / kBlockSize;
    if (cipherBlocksLeft_ == 0) throw ECipherException();
    plainLimit_ = cipherBlocksLeft_ * kBlockSize;
    cipher_.GenerateKey(project->Password());
}

// The cipher takes the last block of its input as the one holding the count of data bytes.
// A chunk from the middle of the payload is therefore deciphered with one block more than is
// kept: that block's output is dropped and it opens the next chunk, where it is a plain
// block again. Only the payload's real last block is read as the count block.
bool SectionPlainStream::refill() {
    if (cipherBlocksLeft_ == 0 && cipherChunk_.empty()) return false;
    const size_t carried = cipherChunk_.size();
    const int64_t taken = std::min(cipherBlocksLeft_, kChunkBlocks);
    cipherChunk_.resize(carried + static_cast<size_t>(taken * kBlockSize));
    int64_t done = 0;
    while (done < taken * kBlockSize) {
        const int64_t got = payload_.read(cipherChunk_.data() + carried + done, taken * kBlockSize - done);
        if (got <= 0) throw ECipherException();
        done += got;
    }
    cipherBlocksLeft_ -= taken;

    ByteViewStream in(cipherChunk_.data(), static_cast<int64_t>(cipherChunk_.size()));
    MemoryStream out;
    cipher_.DecryptStream(in, out);
    plain_ = out.takeBytes();
    plainOffset_ = 0;
    if (cipherBlocksLeft_ == 0) {
        cipherChunk_.clear();
    } else {
        plain_.resize(cipherChunk_.size() - kBlockSize);
        cipherChunk_.erase(cipherChunk_.begin(), cipherChunk_.end() - kBlockSize);
    }
    return true;
}

int64_t SectionPlainStream::read(void* buffer, int64_t count) {
    if (count <= 0) return 0;
    if (!encrypted_) {
        const int64_t got = position_ < plainLimit_ ? payload_.read(buffer, std::min(count, plainLimit_ - position_)) : 0;
        position_ += got;
        return got;
    }
    auto* out = static_cast<uint8_t*>(buffer);
    int64_t done = 0;
    while (done < count) {
        if (plainOffset_ == plain_.size() && !refill()) break;
        const int64_t n = std::min<int64_t>(count - done, static_cast<int64_t>(plain_.size() - plainOffset_));
        std::memcpy(out + done, plain_.data() + plainOffset_, static_cast<size_t>(n));
        plainOffset_ += static_cast<size_t>(n);
        done += n;
    }
    position_ += done;
    return done;
}

void SectionPlainStream::seek(int64_t position) {
    if (position != position_) throw EStreamError("Invalid stream position: a section is read once, forwards");
}

void SectionPlainStream::skipRest() {
    const int64_t end = payloadStart_ + payloadLength_;
    if (source_.position() != end) source_.seek(end);
}

int64_t SectionPlainStream::write(const void*, int64_t) {
    throw EWriteError("Stream write error: a section being read is read only");
}

}  // namespace ts
