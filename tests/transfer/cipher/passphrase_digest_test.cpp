#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "transfer/cipher/passphrase_digest.h"

namespace ts {
namespace {

std::string hex(const DigestKey& key) {
    static const char* digits = "0123456789ABCDEF";
    std::string text;
    for (uint8_t byte : key) {
        text += digits[byte >> 4];
        text += digits[byte & 0xf];
    }
    return text;
}

// Hexadecimal digit `position` (0 = first after the point) of pi by the Bailey-Borwein-Plouffe
// formula, an independent way to the digits the digest's table starts from.
int piHexDigit(int position) {
    auto series = [position](int offset) {
        double sum = 0;
        for (int k = 0; k <= position; ++k) {
            double denominator = 8.0 * k + offset;
            double power = 1, base = 16;
            for (int e = position - k; e > 0; e >>= 1, base = std::fmod(base * base, denominator))
                if (e & 1) power = std::fmod(power * base, denominator);
            sum = std::fmod(sum + power / denominator, 1.0);
        }
        for (int k = position + 1; k <= position + 12; ++k) sum += std::pow(16.0, position - k) / (8.0 * k + offset);
        return sum;
    };
    double fraction = 4 * series(1) - 2 * series(4) - series(5) - series(6);
    fraction -= std::floor(fraction);
    return static_cast<int>(fraction * 16);
}

TEST(PassphraseDigest, TheTableStartsWithTheHexDigitsOfPi) {
    const uint8_t firstSixteen[16] = {0x24, 0x3F, 0x6A, 0x88, 0x85, 0xA3, 0x08, 0xD3,
                                      0x13, 0x19, 0x8A, 0x2E, 0x03, 0x70, 0x73, 0x44};
    for (int k = 0; k < 16; ++k) EXPECT_EQ(kPiBytes[k], firstSixteen[k]) << k;
    for (int k = 0; k < 256; ++k)
        EXPECT_EQ(kPiBytes[k], piHexDigit(2 * k) << 4 | piHexDigit(2 * k + 1)) << "byte " << k;
}

// A group of 8 input bytes is mixed when it completes, and the closing bytes always complete
// the last group: 8 bytes mix twice, nothing mixes once.
TEST(PassphraseDigest, TheClosingBytesAlwaysCompleteOneMoreGroup) {
    struct Case { std::string phrase; int passes; };
    for (const auto& [phrase, passes] : {Case{"", 1}, Case{"1234567", 1}, Case{"12345678", 2},
                                         Case{"123456789", 2}, Case{"1234567812345678", 3}}) {
        PassphraseDigest digest;
        digest.update(phrase);
        digest.finish();
        EXPECT_EQ(digest.mixPasses(), passes) << '"' << phrase << '"';
    }
}

// Expected keys from a second, separately written implementation of the same steps; they pin
// the bytes every encrypted file depends on.
TEST(PassphraseDigest, GivesTheKeysOfTheReferenceImplementation) {
    EXPECT_EQ(hex(PassphraseDigest::of("")), "0BD132AA831C56AC1F92E61084A342D2");
    EXPECT_EQ(hex(PassphraseDigest::of("secret")), "60E8A60079326715D45041BC99BD2369");
    EXPECT_EQ(hex(PassphraseDigest::of("Secret")), "D310C606CCBA257FA42AEE213518C5E2");
    EXPECT_EQ(hex(PassphraseDigest::of("12345678")), "B71BCCFC7A8C64AAE7E3B7C6716AD7D6");
    EXPECT_EQ(hex(PassphraseDigest::of("\xE9t\xE9")), "BB822C8AB22F038732221B1067A3F5CA");
    std::string longPhrase;
    for (int k = 0; k < 7; ++k) longPhrase += "A long pass phrase of more than 256 bytes ";
    // Past 256 bytes the table index wraps around.
    EXPECT_EQ(hex(PassphraseDigest::of(longPhrase)), "7C118BFCE256E9A5EE726F83EB963DDB");
}

TEST(PassphraseDigest, EveryByteCountsIncludingCaseAndTrailingSpace) {
    EXPECT_NE(PassphraseDigest::of("secret"), PassphraseDigest::of("Secret"));
    EXPECT_NE(PassphraseDigest::of("secret"), PassphraseDigest::of("secret "));
    EXPECT_NE(PassphraseDigest::of(""), PassphraseDigest::of(std::string(1, '\0')));
    // Seven bytes plus the first closing byte are not the same as those eight bytes given.
    EXPECT_NE(PassphraseDigest::of("1234567"), PassphraseDigest::of("1234567\x01"));
}

}  // namespace
}  // namespace ts
