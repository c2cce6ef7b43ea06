#include "transfer/cipher/passphrase_digest.h"

#include <cstring>

namespace ts {
namespace {

uint32_t loadLittleEndian(const uint8_t* bytes) {
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

void storeLittleEndian(uint8_t* bytes, uint32_t value) {
    for (int k = 0; k < 4; ++k) bytes[k] = static_cast<uint8_t>(value >> (8 * k));
}

// One step of the ISAAC generator's word mix over its eight words.
void isaacMix(uint32_t& a, uint32_t& b, uint32_t& c, uint32_t& d, uint32_t& e, uint32_t& f,
              uint32_t& g, uint32_t& h) {
    a ^= b << 11; d += a; b += c;
    b ^= c >> 2;  e += b; c += d;
    c ^= d << 8;  f += c; d += e;
    d ^= e >> 16; g += d; e += f;
    e ^= f << 10; h += e; f += g;
    f ^= g >> 4;  a += f; g += h;
    g ^= h << 8;  b += g; h += a;
    h ^= a >> 9;  c += h; a += b;
}

constexpr uint32_t kRunningKeyStart = 0x55555555;
constexpr uint8_t kClosingBytes[8] = {1, 0, 0, 0, 0, 0, 0, 0};

}  // namespace

const std::array<uint8_t, 256> kPiBytes = {
    0x24, 0x3F, 0x6A, 0x88, 0x85, 0xA3, 0x08, 0xD3, 0x13, 0x19, 0x8A, 0x2E, 0x03, 0x70, 0x73, 0x44,
    0xA4, 0x09, 0x38, 0x22, 0x29, 0x9F, 0x31, 0xD0, 0x08, 0x2E, 0xFA, 0x98, 0xEC, 0x4E, 0x6C, 0x89,
    0x45, 0x28, 0x21, 0xE6, 0x38, 0xD0, 0x13, 0x77, 0xBE, 0x54, 0x66, 0xCF, 0x34, 0xE9, 0x0C, 0x6C,
    0xC0, 0xAC, 0x29, 0xB7, 0xC9, 0x7C, 0x50, 0xDD, 0x3F, 0x84, 0xD5, 0xB5, 0xB5, 0x47, 0x09, 0x17,
    0x92, 0x16, 0xD5, 0xD9, 0x89, 0x79, 0xFB, 0x1B, 0xD1, 0x31, 0x0B, 0xA6, 0x98, 0xDF, 0xB5, 0xAC,
    0x2F, 0xFD, 0x72, 0xDB, 0xD0, 0x1A, 0xDF, 0xB7, 0xB8, 0xE1, 0xAF, 0xED, 0x6A, 0x26, 0x7E, 0x96,
    0xBA, 0x7C, 0x90, 0x45, 0xF1, 0x2C, 0x7F, 0x99, 0x24, 0xA1, 0x99, 0x47, 0xB3, 0x91, 0x6C, 0xF7,
    0x08, 0x01, 0xF2, 0xE2, 0x85, 0x8E, 0xFC, 0x16, 0x63, 0x69, 0x20, 0xD8, 0x71, 0x57, 0x4E, 0x69,
    0xA4, 0x58, 0xFE, 0xA3, 0xF4, 0x93, 0x3D, 0x7E, 0x0D, 0x95, 0x74, 0x8F, 0x72, 0x8E, 0xB6, 0x58,
    0x71, 0x8B, 0xCD, 0x58, 0x82, 0x15, 0x4A, 0xEE, 0x7B, 0x54, 0xA4, 0x1D, 0xC2, 0x5A, 0x59, 0xB5,
    0x9C, 0x30, 0xD5, 0x39, 0x2A, 0xF2, 0x60, 0x13, 0xC5, 0xD1, 0xB0, 0x23, 0x28, 0x60, 0x85, 0xF0,
    0xCA, 0x41, 0x79, 0x18, 0xB8, 0xDB, 0x38, 0xEF, 0x8E, 0x79, 0xDC, 0xB0, 0x60, 0x3A, 0x18, 0x0E,
    0x6C, 0x9E, 0x0E, 0x8B, 0xB0, 0x1E, 0x8A, 0x3E, 0xD7, 0x15, 0x77, 0xC1, 0xBD, 0x31, 0x4B, 0x27,
    0x78, 0xAF, 0x2F, 0xDA, 0x55, 0x60, 0x5C, 0x60, 0xE6, 0x55, 0x25, 0xF3, 0xAA, 0x55, 0xAB, 0x94,
    0x57, 0x48, 0x98, 0x62, 0x63, 0xE8, 0x14, 0x40, 0x55, 0xCA, 0x39, 0x6A, 0x2A, 0xAB, 0x10, 0xB6,
    0xB4, 0xCC, 0x5C, 0x34, 0x11, 0x41, 0xE8, 0xCE, 0xA1, 0x54, 0x86, 0xAF, 0x7C, 0x72, 0xE9, 0x93,
};

void KeyMix(uint32_t& a, uint32_t& b, uint32_t& c, uint32_t& d) {
    a += d; d += a; a ^= a >> 7;
    b += a; a += b; b ^= b << 13;
    c += b; b += c; c ^= c >> 17;
    d += c; c += d; d ^= d << 9;
    a += d; d += a; a ^= a >> 3;
    b += a; a += b; b ^= b << 7;
    c += b; b += c; c ^= d >> 15;  // d, not c: the original shifts the neighbour here
    d += c; c += d; d ^= d << 11;
}

MixCipher::MixCipher(const DigestKey& key) {
    static constexpr uint32_t kPassConstants[2] = {0x55555555, 0xAAAAAAAA};
    uint32_t u[4];
    for (int k = 0; k < 4; ++k) u[k] = loadLittleEndian(key.data() + 4 * k);
    // Each pass of the generator's mix yields four round keys; 8 rounds need two passes.
    for (int pass = 0; pass < kRounds / 4; ++pass) {
        uint32_t t = kPassConstants[pass];
        uint32_t a = u[0], b = t, c = u[1], d = t, e = u[2], f = t, g = u[3], h = t;
        for (int step = 0; step < 8; ++step) isaacMix(a, b, c, d, e, f, g, h);
        roundKeys_[4 * pass + 0] = {a, b};
        roundKeys_[4 * pass + 1] = {c, d};
        roundKeys_[4 * pass + 2] = {e, f};
        roundKeys_[4 * pass + 3] = {g, h};
    }
}

DigestKey MixCipher::encrypt(const DigestKey& block) const {
    uint32_t l0 = loadLittleEndian(block.data()), l1 = loadLittleEndian(block.data() + 4);
    uint32_t r0 = loadLittleEndian(block.data() + 8), r1 = loadLittleEndian(block.data() + 12);
    for (const auto& roundKey : roundKeys_) {
        uint32_t a = l0, b = roundKey[0], c = l1, d = roundKey[1];
        KeyMix(a, b, c, d);
        uint32_t a2 = c, b2 = d, c2 = a, d2 = b;
        KeyMix(a2, b2, c2, d2);
        uint32_t f0 = a2 ^ b2, f1 = c2 ^ d2;
        uint32_t newL0 = r0 ^ f0, newL1 = r1 ^ f1;
        r0 = l0;
        r1 = l1;
        l0 = newL0;
        l1 = newL1;
    }
    DigestKey result;
    storeLittleEndian(result.data(), r0);
    storeLittleEndian(result.data() + 4, r1);
    storeLittleEndian(result.data() + 8, l0);
    storeLittleEndian(result.data() + 12, l1);
    return result;
}

PassphraseDigest::PassphraseDigest() : table_(kPiBytes) {
    words_.fill(kRunningKeyStart);
}

void PassphraseDigest::update(std::string_view bytes) {
    for (char x : bytes) feed(static_cast<uint8_t>(x));
}

void PassphraseDigest::feed(uint8_t byte) {
    table_[tableIndex_] ^= byte;
    tableIndex_ = (tableIndex_ + 1) % table_.size();
    // Input enters only the first 8 bytes of the running key: words 0 and 1, little-endian.
    words_[keyIndex_ / 4] ^= static_cast<uint32_t>(byte) << (8 * (keyIndex_ % 4));
    if (++keyIndex_ == 8) {
        mixRunningKey();
        keyIndex_ = 0;
    }
}

void PassphraseDigest::mixRunningKey() {
    uint32_t a = words_[3], b = words_[2], c = words_[1], d = words_[0];
    for (int k = 0; k < 4; ++k) KeyMix(a, b, c, d);
    words_ = {a, b, c, d};
    ++mixPasses_;
}

DigestKey PassphraseDigest::finish() {
    // The closing bytes always complete the current group, so the last group is always mixed.
    size_t closing = 8 - keyIndex_;
    for (size_t k = 0; k < closing; ++k) feed(kClosingBytes[k]);

    DigestKey runningKey;
    for (int k = 0; k < 4; ++k) storeLittleEndian(runningKey.data() + 4 * k, words_[k]);
    DigestKey head;
    std::memcpy(head.data(), table_.data(), head.size());
    return MixCipher(runningKey).encrypt(head);
}

DigestKey PassphraseDigest::of(std::string_view bytes) {
    PassphraseDigest digest;
    digest.update(bytes);
    return digest.finish();
}

}  // namespace ts
