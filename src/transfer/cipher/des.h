#pragma once
// DES (FIPS 46-3) on 8-byte blocks, and its two-key EDE composition. Blocks are processed in
// batches: in ECB every block is independent, so several are run through the rounds side by
// side, which keeps the processor busy while one block waits for its table look-ups.
#include <array>
#include <cstddef>
#include <cstdint>

namespace ts::des {

enum class Direction { Encrypt, Decrypt };

// The 16 round keys of one DES key for one direction, in the order the rounds use them.
// Each round key is kept as two words that line up with the round function's S-box inputs.
class KeySchedule {
public:
    // The low bit of every key byte (the parity bit) is ignored.
    KeySchedule(const uint8_t key[8], Direction direction);

    const uint32_t* words() const { return words_.data(); }

private:
    std::array<uint32_t, 32> words_{};
};

// Single DES over count blocks; in and out may be the same buffer.
void crypt(const KeySchedule& schedule, const uint8_t* in, uint8_t* out, size_t count);

// Three chained DES operations over count blocks: for encryption E_K1, D_K2, E_K1 (first =
// last = K1 encrypting, middle = K2 decrypting), for decryption the reverse. In and out may be
// the same buffer.
void cryptEde(const KeySchedule& first, const KeySchedule& middle, const KeySchedule& last,
              const uint8_t* in, uint8_t* out, size_t count);

}  // namespace ts::des
