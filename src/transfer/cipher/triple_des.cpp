#include "transfer/cipher/triple_des.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/ansi_text.h"
#include "platform/exception.h"
#include "transfer/cipher/des.h"

namespace ts {
namespace {

constexpr int64_t kBlockSize = 8;
// Blocks are ciphered in chunks of this size, so memory does not grow with the stream.
constexpr int64_t kChunkBlocks = 8192;

// The three DES key schedules of one direction: K1 this way, K2 the other way, K1 again.
struct EdeContext {
    des::KeySchedule outer;
    des::KeySchedule middle;

    EdeContext(const DigestKey& key, des::Direction direction)
        : outer(key.data(), direction),
          middle(key.data() + 8,
                 direction == des::Direction::Encrypt ? des::Direction::Decrypt : des::Direction::Encrypt) {}

    void apply(uint8_t* blocks, size_t count) const { des::cryptEde(outer, middle, outer, blocks, blocks, count); }
};

// What a stream needs to encrypt on threads of its own.
class EdeTransform final : public BlockTransform {
public:
    EdeTransform(const DigestKey& key, des::Direction direction) : context_(key, direction) {}
    void apply(uint8_t* blocks, size_t count) const override { context_.apply(blocks, count); }

private:
    EdeContext context_;
};

// Reads exactly count bytes; anything less means the input ends inside a block.
void readBlocks(Stream& in, uint8_t* buffer, int64_t count) {
    int64_t done = 0;
    while (done < count) {
        int64_t got = in.read(buffer + done, count - done);
        if (got <= 0) throw ECipherException();
        done += got;
    }
}

// Runs `blocks` whole blocks from In through the context into Out, chunk by chunk.
void cipherWholeBlocks(const EdeContext& context, Stream& in, Stream& out, int64_t blocks) {
    std::vector<uint8_t> buffer(static_cast<size_t>(std::min(blocks, kChunkBlocks) * kBlockSize));
    while (blocks > 0) {
        int64_t chunk = std::min(blocks, kChunkBlocks);
        readBlocks(in, buffer.data(), chunk * kBlockSize);
        context.apply(buffer.data(), static_cast<size_t>(chunk));
        out.write(buffer.data(), chunk * kBlockSize);
        blocks -= chunk;
    }
}

}  // namespace

void TLb3DES::GenerateKey(std::string_view passPhrase) {
    key_ = PassphraseDigest::of(toAnsi(passPhrase));
}

int64_t TLb3DES::EncryptStream(Stream& In, Stream& Out) const {
    // Out applies it, so a compressing stream can encrypt on its workers.
    const auto transform = std::make_shared<const EdeTransform>(key_, des::Direction::Encrypt);
    int64_t total = In.size();
    int64_t wholeBlocks = total / kBlockSize;
    int64_t rest = total % kBlockSize;
    std::vector<uint8_t> buffer(static_cast<size_t>(std::min(wholeBlocks, kChunkBlocks) * kBlockSize));
    for (int64_t blocks = wholeBlocks; blocks > 0;) {
        const int64_t chunk = std::min(blocks, kChunkBlocks);
        readBlocks(In, buffer.data(), chunk * kBlockSize);
        Out.writeTransformed(buffer.data(), chunk * kBlockSize, transform);
        blocks -= chunk;
    }

    std::array<uint8_t, kBlockSize> last{};
    readBlocks(In, last.data(), rest);
    last[kBlockSize - 1] = static_cast<uint8_t>(rest);
    Out.writeTransformed(last.data(), kBlockSize, transform);
    return (wholeBlocks + 1) * kBlockSize;
}

int64_t TLb3DES::DecryptStream(Stream& In, Stream& Out) const {
    EdeContext context(key_, des::Direction::Decrypt);
    int64_t blocks = In.size() / kBlockSize;
    if (blocks == 0) throw ECipherException();
    cipherWholeBlocks(context, In, Out, blocks - 1);

    std::array<uint8_t, kBlockSize> last{};
    readBlocks(In, last.data(), kBlockSize);
    context.apply(last.data(), 1);
    int64_t count = DataBytesOfLastBlock(last.data());
    Out.write(last.data(), count);
    return (blocks - 1) * kBlockSize + count;
}

void TLb3DES::DecryptBlocks(uint8_t* blocks, size_t count) const {
    if (count == 0) return;
    EdeContext(key_, des::Direction::Decrypt).apply(blocks, count);
}

int64_t TLb3DES::DataBytesOfLastBlock(const uint8_t* lastBlock) {
    // A count above 7 only comes from a wrong key; keeping the whole block never reads past
    // it and leaves a length the callers' checks reject.
    const uint8_t count = lastBlock[kBlockSize - 1];
    return count < kBlockSize ? count : kBlockSize;
}

}  // namespace ts
