#include <gtest/gtest.h>
#define OPENSSL_SUPPRESS_DEPRECATED  // the low-level DES calls serve only as an oracle
#include <openssl/des.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "transfer/cipher/des.h"

namespace ts::des {
namespace {

std::vector<uint8_t> fromHex(const std::string& hex) {
    std::vector<uint8_t> bytes;
    for (size_t k = 0; k + 1 < hex.size(); k += 2) bytes.push_back(static_cast<uint8_t>(std::stoi(hex.substr(k, 2), nullptr, 16)));
    return bytes;
}

std::vector<uint8_t> desOnce(const std::vector<uint8_t>& key, Direction direction, std::vector<uint8_t> block) {
    KeySchedule schedule(key.data(), direction);
    crypt(schedule, block.data(), block.data(), block.size() / 8);
    return block;
}

struct KnownAnswer {
    const char* key;
    const char* plain;
    const char* cipher;
};

// Known answers of the standard's validation tests (variable plaintext, variable key,
// permutation and substitution tables) and the textbook example.
constexpr KnownAnswer kKnownAnswers[] = {
    {"0101010101010101", "8000000000000000", "95F8A5E5DD31D900"},
    {"0101010101010101", "4000000000000000", "DD7F121CA5015619"},
    {"0101010101010101", "0000000000000001", "166B40B44ABA4BD6"},
    {"8001010101010101", "0000000000000000", "95A8D72813DAA94D"},
    {"4001010101010101", "0000000000000000", "0EEC1487DD8C26D5"},
    {"1046913489980131", "0000000000000000", "88D55E54F54C97B4"},
    {"7CA110454A1A6E57", "01A1D6D039776742", "690F5B0D9A26939B"},
    {"0E329232EA6D0D73", "8787878787878787", "0000000000000000"},
    {"133457799BBCDFF1", "0123456789ABCDEF", "85E813540F0AB405"},
};

TEST(Des, MatchesTheStandardsKnownAnswersBothWays) {
    for (const auto& answer : kKnownAnswers) {
        auto key = fromHex(answer.key);
        EXPECT_EQ(desOnce(key, Direction::Encrypt, fromHex(answer.plain)), fromHex(answer.cipher)) << answer.key;
        EXPECT_EQ(desOnce(key, Direction::Decrypt, fromHex(answer.cipher)), fromHex(answer.plain)) << answer.key;
    }
}

TEST(Des, IgnoresTheParityBitOfEveryKeyByte) {
    auto key = fromHex("133457799BBCDFF1");
    auto flipped = key;
    for (auto& byte : flipped) byte ^= 1;
    auto plain = fromHex("0123456789ABCDEF");
    EXPECT_EQ(desOnce(key, Direction::Encrypt, plain), desOnce(flipped, Direction::Encrypt, plain));
}

// Batches run several blocks side by side; every batch size and tail must agree with the
// independent implementation block for block.
TEST(Des, EveryBlockOfABatchMatchesTheOracle) {
    for (uint32_t seed = 1; seed <= 20; ++seed) {
        auto key = test::randomBytes(8, seed);
        auto plain = test::randomBytes(8 * (seed % 11), seed + 100);
        auto ours = desOnce(key, Direction::Encrypt, plain);

        DES_cblock oracleKey;
        std::memcpy(oracleKey, key.data(), 8);
        DES_key_schedule oracleSchedule;
        DES_set_key_unchecked(&oracleKey, &oracleSchedule);
        for (size_t block = 0; block < plain.size() / 8; ++block) {
            DES_cblock in, out;
            std::memcpy(in, plain.data() + 8 * block, 8);
            DES_ecb_encrypt(&in, &out, &oracleSchedule, DES_ENCRYPT);
            EXPECT_EQ(0, std::memcmp(out, ours.data() + 8 * block, 8)) << "seed " << seed << " block " << block;
        }
        EXPECT_EQ(desOnce(key, Direction::Decrypt, ours), plain);
    }
}

}  // namespace
}  // namespace ts::des
