#pragma once
// The cipher component of the section codec: two-key Triple-DES in ECB mode over whole
// streams, closed by one extra block whose last byte says how many of its bytes are data.
#include <cstdint>
#include <string_view>

#include "platform/stream/stream.h"
#include "transfer/cipher/passphrase_digest.h"

namespace ts {

enum class TLbCipherMode { cmECB = 0, cmCBC = 1 };

class TLb3DES {
public:
    TLb3DES() = default;

    // Only ECB is implemented; the codec never changes the mode.
    TLbCipherMode CipherMode() const { return TLbCipherMode::cmECB; }

    // Sets the key to the digest of the pass phrase. The pass phrase is host text (UTF-8); it
    // is digested as the 8-bit bytes the Windows program would see (see toAnsi), so the same
    // password gives the same key on both systems. No trimming, letter case kept.
    void GenerateKey(std::string_view passPhrase);
    void SetKey(const DigestKey& key) { key_ = key; }
    const DigestKey& Key() const { return key_; }

    // Both read In from its current position but count blocks from In's total size, and
    // append to Out. They return how many bytes they wrote.
    // Encryption writes 8 * (size div 8 + 1) bytes; a short read raises ECipherException.
    int64_t EncryptStream(Stream& In, Stream& Out) const;
    // Decryption writes 8 * (n - 1) + c bytes for n whole blocks and the decrypted count
    // byte c; a count above 7 (a wrong key) writes the whole last block. Fewer than 8 bytes,
    // or a short read, raise ECipherException. Bytes after the last whole block are not read.
    int64_t DecryptStream(Stream& In, Stream& Out) const;

    // The pieces a streaming reader needs: whole blocks deciphered in place, and how many
    // bytes of the deciphered last block of a stream are data (the count block rule).
    void DecryptBlocks(uint8_t* blocks, size_t count) const;
    static int64_t DataBytesOfLastBlock(const uint8_t* lastBlock);

private:
    DigestKey key_{};
};

}  // namespace ts
