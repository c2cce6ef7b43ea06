#include <gtest/gtest.h>
#define OPENSSL_SUPPRESS_DEPRECATED  // the low-level DES calls serve only as an oracle
#include <openssl/des.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/exception.h"
#include "support/temp_dir.h"
#include "transfer/cipher/triple_des.h"

namespace ts {
namespace {

using Bytes = std::vector<uint8_t>;

// Two-key Triple-DES of OpenSSL, block by block, as an independent oracle.
class Oracle {
public:
    explicit Oracle(const DigestKey& key) {
        DES_cblock k1, k2;
        std::memcpy(k1, key.data(), 8);
        std::memcpy(k2, key.data() + 8, 8);
        DES_set_key_unchecked(&k1, &first_);
        DES_set_key_unchecked(&k2, &second_);
    }
    Bytes apply(const Bytes& in, int direction) {
        Bytes out(in.size());
        for (size_t k = 0; k + 8 <= in.size(); k += 8) {
            DES_cblock block, result;
            std::memcpy(block, in.data() + k, 8);
            DES_ecb3_encrypt(&block, &result, &first_, &second_, &first_, direction);
            std::memcpy(out.data() + k, result, 8);
        }
        return out;
    }
    Bytes encrypt(const Bytes& in) { return apply(in, DES_ENCRYPT); }
    Bytes decrypt(const Bytes& in) { return apply(in, DES_DECRYPT); }

private:
    DES_key_schedule first_, second_;
};

DigestKey keyFromSeed(uint32_t seed) {
    auto bytes = test::randomBytes(16, seed);
    DigestKey key;
    std::copy(bytes.begin(), bytes.end(), key.begin());
    return key;
}

Bytes encrypt(const TLb3DES& cipher, const Bytes& plain) {
    MemoryStream in(plain), out;
    int64_t written = cipher.EncryptStream(in, out);
    EXPECT_EQ(written, out.size());
    return out.takeBytes();
}

Bytes decrypt(const TLb3DES& cipher, const Bytes& encrypted) {
    MemoryStream in(encrypted), out;
    int64_t written = cipher.DecryptStream(in, out);
    EXPECT_EQ(written, out.size());
    return out.takeBytes();
}

// What the stream encryption must produce: the whole blocks, then a block holding the
// remaining bytes, zeros, and their count in byte 7.
Bytes paddedPlain(const Bytes& plain) {
    Bytes padded(plain);
    size_t rest = plain.size() % 8;
    padded.resize(plain.size() - rest + 8, 0);
    padded.back() = static_cast<uint8_t>(rest);
    return padded;
}

TEST(TripleDes, StreamLengthsBlocksAndCountByteMatchTheOracle) {
    const size_t lengths[] = {0, 7, 8, 9, 40, 1281};
    const size_t expected[] = {8, 8, 16, 16, 48, 1288};
    for (size_t k = 0; k < std::size(lengths); ++k) {
        DigestKey key = keyFromSeed(static_cast<uint32_t>(k + 1));
        TLb3DES cipher;
        cipher.SetKey(key);
        Bytes plain = test::randomBytes(lengths[k], static_cast<uint32_t>(k + 50));
        Bytes encrypted = encrypt(cipher, plain);
        ASSERT_EQ(encrypted.size(), expected[k]) << lengths[k];
        EXPECT_EQ(encrypted, Oracle(key).encrypt(paddedPlain(plain))) << lengths[k];
        EXPECT_EQ(decrypt(cipher, encrypted), plain) << lengths[k];
    }
}

TEST(TripleDes, EqualHalvesOfTheKeyGiveSingleDes) {
    DigestKey key = keyFromSeed(7);
    std::copy(key.begin(), key.begin() + 8, key.begin() + 8);
    TLb3DES cipher;
    cipher.SetKey(key);
    Bytes plain = test::randomBytes(64, 8);
    Bytes encrypted = encrypt(cipher, plain);

    DES_cblock k1;
    std::memcpy(k1, key.data(), 8);
    DES_key_schedule single;
    DES_set_key_unchecked(&k1, &single);
    for (size_t k = 0; k < plain.size(); k += 8) {
        DES_cblock in, out;
        std::memcpy(in, plain.data() + k, 8);
        DES_ecb_encrypt(&in, &out, &single, DES_ENCRYPT);
        EXPECT_EQ(0, std::memcmp(out, encrypted.data() + k, 8)) << "block " << k / 8;
    }
}

TEST(TripleDes, InputEndingInsideABlockIsAnInvalidFileFormat) {
    TLb3DES cipher;
    cipher.GenerateKey("secret");
    for (size_t size : {size_t{0}, size_t{5}}) {
        MemoryStream in(Bytes(size, 0x41)), out;
        try {
            cipher.DecryptStream(in, out);
            ADD_FAILURE() << "no exception for " << size << " bytes";
        } catch (const ECipherException& e) {
            EXPECT_STREQ(e.what(), "Invalid file format");
        }
        EXPECT_EQ(out.size(), 0);
    }
    // Blocks are counted from the total size but read from the current position.
    MemoryStream in(Bytes(16, 0x41)), out;
    in.seek(8);
    EXPECT_THROW(cipher.EncryptStream(in, out), ECipherException);
}

TEST(TripleDes, BytesAfterTheLastWholeBlockAreNotRead) {
    TLb3DES cipher;
    cipher.GenerateKey("secret");
    Bytes encrypted = encrypt(cipher, Bytes{1, 2, 3});
    encrypted.insert(encrypted.end(), {9, 9, 9});
    MemoryStream in(encrypted), out;
    cipher.DecryptStream(in, out);
    EXPECT_EQ(out.bytes(), (Bytes{1, 2, 3}));
    EXPECT_EQ(in.position(), 8);
}

TEST(TripleDes, AWrongKeyGivesNoiseOfAnotherLength) {
    TLb3DES right, wrong;
    right.GenerateKey("correct horse");
    wrong.GenerateKey("Correct horse");
    Bytes plain = test::randomBytes(1281, 3);
    Bytes decoded = decrypt(wrong, encrypt(right, plain));
    EXPECT_NE(decoded.size(), plain.size());
    EXPECT_GE(decoded.size(), 1280u);
    EXPECT_LE(decoded.size(), 1288u);
}

// A count byte above 7 cannot come from the encryption; the whole last block is kept and
// nothing beyond it is read.
TEST(TripleDes, ACountByteAboveSevenKeepsTheWholeLastBlock) {
    DigestKey key = keyFromSeed(11);
    TLb3DES cipher;
    cipher.SetKey(key);
    Bytes plain = test::randomBytes(16, 12);
    plain[15] = 200;
    Bytes encrypted = Oracle(key).encrypt(plain);
    EXPECT_EQ(decrypt(cipher, encrypted), plain);
}

TEST(TripleDes, GenerateKeyDigestsTheWindowsBytesOfTheHostText) {
    TLb3DES cipher;
    cipher.GenerateKey("\xC3\xA9t\xC3\xA9");  // "été" typed on Linux
    EXPECT_EQ(cipher.Key(), PassphraseDigest::of("\xE9t\xE9"));
    cipher.GenerateKey("Secret");
    EXPECT_EQ(cipher.Key(), PassphraseDigest::of("Secret"));
    EXPECT_NE(cipher.Key(), PassphraseDigest::of("secret"));
}

TEST(TripleDes, EveryLengthUpTo2048RoundTrips) {
    for (uint32_t length = 0; length <= 2048; ++length) {
        Bytes phrase = test::randomBytes(length % 23, length + 5000);
        TLb3DES cipher;
        cipher.GenerateKey(std::string(phrase.begin(), phrase.end()));
        Bytes plain = test::randomBytes(length, length);
        Bytes encrypted = encrypt(cipher, plain);
        ASSERT_EQ(encrypted.size(), (length / 8 + 1) * 8) << length;
        ASSERT_EQ(decrypt(cipher, encrypted), plain) << length;
    }
}

TEST(TripleDes, LargeStreamsCrossChunkBoundariesIntact) {
    DigestKey key = keyFromSeed(21);
    TLb3DES cipher;
    cipher.SetKey(key);
    Bytes plain = test::randomBytes(200003, 22);
    Bytes encrypted = encrypt(cipher, plain);
    EXPECT_EQ(encrypted, Oracle(key).encrypt(paddedPlain(plain)));
    EXPECT_EQ(decrypt(cipher, encrypted), plain);
}

}  // namespace
}  // namespace ts
