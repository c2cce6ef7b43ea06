#pragma once
// The digest that turns a pass phrase into the 16-byte Triple-DES key. Every encrypted byte
// of a project or data file depends on it, so it reproduces the original program's steps
// exactly: a running key mixed in groups of 8 input bytes, a 256-byte table starting as the
// hexadecimal digits of pi, and a small Feistel cipher over the table's first 16 bytes.
#include <array>
#include <cstdint>
#include <string_view>

namespace ts {

using DigestKey = std::array<uint8_t, 16>;

// The first 256 bytes of the fractional part of pi in hexadecimal (24 3F 6A 88 ...).
extern const std::array<uint8_t, 256> kPiBytes;

// The eight-step word mix used both by the digest's running key and by MixCipher's rounds.
void KeyMix(uint32_t& a, uint32_t& b, uint32_t& c, uint32_t& d);

// The Feistel cipher that closes the digest: round keys derived from a 16-byte key with the
// word mix of the ISAAC generator, 8 rounds on one 16-byte block.
class MixCipher {
public:
    explicit MixCipher(const DigestKey& key);
    DigestKey encrypt(const DigestKey& block) const;

private:
    static constexpr int kRounds = 8;
    std::array<std::array<uint32_t, 2>, kRounds> roundKeys_{};
};

// The digest as a running state, so that the grouping of the input can be observed.
class PassphraseDigest {
public:
    PassphraseDigest();
    void update(std::string_view bytes);
    // Feeds the closing bytes and returns the key; the state is spent afterwards.
    DigestKey finish();
    // How many times the running key has been mixed (4 KeyMix steps each time).
    int mixPasses() const { return mixPasses_; }

    // The whole digest of one pass phrase, given as the 8-bit bytes it is made of.
    static DigestKey of(std::string_view bytes);

private:
    void feed(uint8_t byte);
    void mixRunningKey();

    std::array<uint8_t, 256> table_;
    size_t tableIndex_ = 0;
    std::array<uint32_t, 4> words_;
    size_t keyIndex_ = 0;
    int mixPasses_ = 0;
};

}  // namespace ts
