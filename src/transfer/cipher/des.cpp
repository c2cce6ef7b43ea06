#include "transfer/cipher/des.h"

#include <bit>
#include <cstring>

namespace ts::des {
namespace {

// The tables of the standard. Bit 1 is the most significant bit of the first byte.
constexpr uint8_t kInitialPermutation[64] = {
    58, 50, 42, 34, 26, 18, 10, 2, 60, 52, 44, 36, 28, 20, 12, 4,
    62, 54, 46, 38, 30, 22, 14, 6, 64, 56, 48, 40, 32, 24, 16, 8,
    57, 49, 41, 33, 25, 17, 9,  1, 59, 51, 43, 35, 27, 19, 11, 3,
    61, 53, 45, 37, 29, 21, 13, 5, 63, 55, 47, 39, 31, 23, 15, 7};

constexpr uint8_t kPermutationP[32] = {
    16, 7, 20, 21, 29, 12, 28, 17, 1,  15, 23, 26, 5,  18, 31, 10,
    2,  8, 24, 14, 32, 27, 3,  9,  19, 13, 30, 6,  22, 11, 4,  25};

constexpr uint8_t kPermutedChoice1[56] = {
    57, 49, 41, 33, 25, 17, 9,  1,  58, 50, 42, 34, 26, 18, 10, 2,  59, 51, 43,
    35, 27, 19, 11, 3,  60, 52, 44, 36, 63, 55, 47, 39, 31, 23, 15, 7,  62, 54,
    46, 38, 30, 22, 14, 6,  61, 53, 45, 37, 29, 21, 13, 5,  28, 20, 12, 4};

constexpr uint8_t kPermutedChoice2[48] = {
    14, 17, 11, 24, 1,  5,  3,  28, 15, 6,  21, 10, 23, 19, 12, 4,
    26, 8,  16, 7,  27, 20, 13, 2,  41, 52, 31, 37, 47, 55, 30, 40,
    51, 45, 33, 48, 44, 49, 39, 56, 34, 53, 46, 42, 50, 36, 29, 32};

constexpr uint8_t kKeyShifts[16] = {1, 1, 2, 2, 2, 2, 2, 2, 1, 2, 2, 2, 2, 2, 2, 1};

constexpr uint8_t kSBoxes[8][64] = {
    {14, 4,  13, 1, 2,  15, 11, 8,  3,  10, 6,  12, 5,  9,  0, 7,
     0,  15, 7,  4, 14, 2,  13, 1,  10, 6,  12, 11, 9,  5,  3, 8,
     4,  1,  14, 8, 13, 6,  2,  11, 15, 12, 9,  7,  3,  10, 5, 0,
     15, 12, 8,  2, 4,  9,  1,  7,  5,  11, 3,  14, 10, 0,  6, 13},
    {15, 1,  8,  14, 6,  11, 3,  4,  9,  7, 2,  13, 12, 0, 5,  10,
     3,  13, 4,  7,  15, 2,  8,  14, 12, 0, 1,  10, 6,  9, 11, 5,
     0,  14, 7,  11, 10, 4,  13, 1,  5,  8, 12, 6,  9,  3, 2,  15,
     13, 8,  10, 1,  3,  15, 4,  2,  11, 6, 7,  12, 0,  5, 14, 9},
    {10, 0,  9,  14, 6, 3,  15, 5,  1,  13, 12, 7,  11, 4,  2,  8,
     13, 7,  0,  9,  3, 4,  6,  10, 2,  8,  5,  14, 12, 11, 15, 1,
     13, 6,  4,  9,  8, 15, 3,  0,  11, 1,  2,  12, 5,  10, 14, 7,
     1,  10, 13, 0,  6, 9,  8,  7,  4,  15, 14, 3,  11, 5,  2,  12},
    {7,  13, 14, 3, 0,  6,  9,  10, 1,  2, 8, 5,  11, 12, 4,  15,
     13, 8,  11, 5, 6,  15, 0,  3,  4,  7, 2, 12, 1,  10, 14, 9,
     10, 6,  9,  0, 12, 11, 7,  13, 15, 1, 3, 14, 5,  2,  8,  4,
     3,  15, 0,  6, 10, 1,  13, 8,  9,  4, 5, 11, 12, 7,  2,  14},
    {2,  12, 4,  1,  7,  10, 11, 6,  8,  5,  3,  15, 13, 0, 14, 9,
     14, 11, 2,  12, 4,  7,  13, 1,  5,  0,  15, 10, 3,  9, 8,  6,
     4,  2,  1,  11, 10, 13, 7,  8,  15, 9,  12, 5,  6,  3, 0,  14,
     11, 8,  12, 7,  1,  14, 2,  13, 6,  15, 0,  9,  10, 4, 5,  3},
    {12, 1,  10, 15, 9, 2,  6,  8,  0,  13, 3,  4,  14, 7,  5,  11,
     10, 15, 4,  2,  7, 12, 9,  5,  6,  1,  13, 14, 0,  11, 3,  8,
     9,  14, 15, 5,  2, 8,  12, 3,  7,  0,  4,  10, 1,  13, 11, 6,
     4,  3,  2,  12, 9, 5,  15, 10, 11, 14, 1,  7,  6,  0,  8,  13},
    {4,  11, 2,  14, 15, 0, 8,  13, 3,  12, 9, 7,  5,  10, 6, 1,
     13, 0,  11, 7,  4,  9, 1,  10, 14, 3,  5, 12, 2,  15, 8, 6,
     1,  4,  11, 13, 12, 3, 7,  14, 10, 15, 6, 8,  0,  5,  9, 2,
     6,  11, 13, 8,  1,  4, 10, 7,  9,  5,  0, 15, 14, 2,  3, 12},
    {13, 2,  8,  4, 6,  15, 11, 1,  10, 9,  3,  14, 5,  0,  12, 7,
     1,  15, 13, 8, 10, 3,  7,  4,  12, 5,  6,  11, 0,  14, 9,  2,
     7,  11, 4,  1, 9,  12, 14, 2,  0,  6,  10, 13, 15, 3,  5,  8,
     2,  1,  14, 7, 4,  10, 8,  13, 15, 12, 9,  0,  3,  5,  6,  11}};

// Output bit j (1-based, most significant first, of outputBits) takes input bit table[j-1]
// (1-based, most significant first, of inputBits).
constexpr uint64_t permute(uint64_t input, int inputBits, const uint8_t* table, int outputBits) {
    uint64_t output = 0;
    for (int j = 0; j < outputBits; ++j) {
        uint64_t bit = (input >> (inputBits - table[j])) & 1;
        output |= bit << (outputBits - 1 - j);
    }
    return output;
}

// The halves are kept rotated left by this many bits, so that the even S-box inputs sit in
// the low six bits of the four bytes of a half and the odd ones after one more rotation by 4.
// The round then needs a single rotation and eight byte look-ups.
constexpr int kHalfRotation = 5;

// A 64-bit permutation applied nibble by nibble: 16 look-ups instead of 64 bit moves.
using NibbleTable = std::array<std::array<uint64_t, 16>, 16>;

constexpr NibbleTable nibbleTable(const uint8_t* table) {
    NibbleTable result{};
    for (int position = 0; position < 16; ++position)
        for (uint64_t value = 0; value < 16; ++value)
            result[position][value] = permute(value << (60 - 4 * position), 64, table, 64);
    return result;
}

constexpr std::array<uint8_t, 64> inverse(const uint8_t* table) {
    std::array<uint8_t, 64> result{};
    for (int j = 0; j < 64; ++j) result[table[j] - 1] = static_cast<uint8_t>(j + 1);
    return result;
}

constexpr auto kFinalPermutation = inverse(kInitialPermutation);
constexpr NibbleTable kInitialTable = nibbleTable(kInitialPermutation);
constexpr NibbleTable kFinalTable = nibbleTable(kFinalPermutation.data());

// S-box i and P merged: the 6-bit input taken from the low bits of a byte (its two high bits
// ignored), the 32-bit output already permuted by P and rotated like the halves.
using SpTables = std::array<std::array<uint32_t, 256>, 8>;

constexpr SpTables spTables() {
    SpTables result{};
    for (int box = 0; box < 8; ++box) {
        for (int index = 0; index < 256; ++index) {
            int six = index & 0x3f;
            int row = ((six >> 4) & 2) | (six & 1);
            int column = (six >> 1) & 0xf;
            uint64_t sOut = static_cast<uint64_t>(kSBoxes[box][row * 16 + column]) << (28 - 4 * box);
            auto p = static_cast<uint32_t>(permute(sOut, 32, kPermutationP, 32));
            result[box][index] = std::rotl(p, kHalfRotation);
        }
    }
    return result;
}

constexpr SpTables kSp = spTables();

inline uint64_t applyNibbleTable(const NibbleTable& table, uint64_t value) {
    uint64_t result = 0;
    for (int position = 0; position < 16; ++position)
        result |= table[position][(value >> (60 - 4 * position)) & 0xf];
    return result;
}

inline uint64_t loadBigEndian(const uint8_t* bytes) {
    uint64_t value;
    std::memcpy(&value, bytes, 8);
    return __builtin_bswap64(value);
}

inline void storeBigEndian(uint8_t* bytes, uint64_t value) {
    value = __builtin_bswap64(value);
    std::memcpy(bytes, &value, 8);
}

inline uint32_t roundFunction(uint32_t half, uint32_t evenKey, uint32_t oddKey) {
    uint32_t even = half ^ evenKey;
    uint32_t odd = std::rotl(half, 4) ^ oddKey;
    return kSp[0][even & 0xff] ^ kSp[6][(even >> 8) & 0xff] ^ kSp[4][(even >> 16) & 0xff] ^
           kSp[2][even >> 24] ^ kSp[1][odd & 0xff] ^ kSp[7][(odd >> 8) & 0xff] ^
           kSp[5][(odd >> 16) & 0xff] ^ kSp[3][odd >> 24];
}

// Sixteen rounds on `Lanes` blocks side by side. On return left and right hold L16 and R16.
template <size_t Lanes>
inline void sixteenRounds(const uint32_t* keys, uint32_t (&left)[Lanes], uint32_t (&right)[Lanes]) {
    for (int round = 0; round < 16; round += 2, keys += 4) {
        for (size_t lane = 0; lane < Lanes; ++lane) left[lane] ^= roundFunction(right[lane], keys[0], keys[1]);
        for (size_t lane = 0; lane < Lanes; ++lane) right[lane] ^= roundFunction(left[lane], keys[2], keys[3]);
    }
}

template <size_t Lanes>
inline void loadHalves(const uint8_t* in, uint32_t (&left)[Lanes], uint32_t (&right)[Lanes]) {
    for (size_t lane = 0; lane < Lanes; ++lane) {
        uint64_t permuted = applyNibbleTable(kInitialTable, loadBigEndian(in + 8 * lane));
        left[lane] = std::rotl(static_cast<uint32_t>(permuted >> 32), kHalfRotation);
        right[lane] = std::rotl(static_cast<uint32_t>(permuted), kHalfRotation);
    }
}

// Writes the pre-output block (first, second) through the final permutation.
template <size_t Lanes>
inline void storeHalves(uint8_t* out, const uint32_t (&first)[Lanes], const uint32_t (&second)[Lanes]) {
    for (size_t lane = 0; lane < Lanes; ++lane) {
        uint64_t preOutput = (static_cast<uint64_t>(std::rotr(first[lane], kHalfRotation)) << 32) |
                             std::rotr(second[lane], kHalfRotation);
        storeBigEndian(out + 8 * lane, applyNibbleTable(kFinalTable, preOutput));
    }
}

template <size_t Lanes>
inline void cryptLanes(const uint32_t* keys, const uint8_t* in, uint8_t* out) {
    uint32_t left[Lanes], right[Lanes];
    loadHalves(in, left, right);
    sixteenRounds(keys, left, right);
    storeHalves(out, right, left);
}

// Between the three stages the final permutation of one and the initial permutation of the
// next cancel, so the halves go straight on, swapped as the pre-output block orders them.
template <size_t Lanes>
inline void cryptEdeLanes(const uint32_t* first, const uint32_t* middle, const uint32_t* last,
                          const uint8_t* in, uint8_t* out) {
    uint32_t left[Lanes], right[Lanes];
    loadHalves(in, left, right);
    sixteenRounds(first, left, right);
    sixteenRounds(middle, right, left);
    sixteenRounds(last, left, right);
    storeHalves(out, right, left);
}

constexpr size_t kLanes = 8;

}  // namespace

KeySchedule::KeySchedule(const uint8_t key[8], Direction direction) {
    uint64_t cd = permute(loadBigEndian(key), 64, kPermutedChoice1, 56);
    uint32_t c = static_cast<uint32_t>(cd >> 28);
    uint32_t d = static_cast<uint32_t>(cd & 0x0fffffff);
    for (int round = 0; round < 16; ++round) {
        int shift = kKeyShifts[round];
        c = ((c << shift) | (c >> (28 - shift))) & 0x0fffffff;
        d = ((d << shift) | (d >> (28 - shift))) & 0x0fffffff;
        uint64_t roundKey = permute((static_cast<uint64_t>(c) << 28) | d, 56, kPermutedChoice2, 48);
        uint32_t group[8];
        for (int g = 0; g < 8; ++g) group[g] = static_cast<uint32_t>((roundKey >> (42 - 6 * g)) & 0x3f);
        int slot = direction == Direction::Encrypt ? round : 15 - round;
        words_[2 * slot] = group[0] | group[6] << 8 | group[4] << 16 | group[2] << 24;
        words_[2 * slot + 1] = group[1] | group[7] << 8 | group[5] << 16 | group[3] << 24;
    }
}

void crypt(const KeySchedule& schedule, const uint8_t* in, uint8_t* out, size_t count) {
    size_t done = 0;
    for (; done + kLanes <= count; done += kLanes)
        cryptLanes<kLanes>(schedule.words(), in + 8 * done, out + 8 * done);
    for (; done < count; ++done) cryptLanes<1>(schedule.words(), in + 8 * done, out + 8 * done);
}

void cryptEde(const KeySchedule& first, const KeySchedule& middle, const KeySchedule& last,
              const uint8_t* in, uint8_t* out, size_t count) {
    size_t done = 0;
    for (; done + kLanes <= count; done += kLanes)
        cryptEdeLanes<kLanes>(first.words(), middle.words(), last.words(), in + 8 * done, out + 8 * done);
    for (; done < count; ++done)
        cryptEdeLanes<1>(first.words(), middle.words(), last.words(), in + 8 * done, out + 8 * done);
}

}  // namespace ts::des
