// The ChaCha20 block function (the stream cipher's core, as its published reference defines it),
// used as a generator: a 256-bit key drawn from the system's generator gives a stream from which no
// output reveals the key or any other output. Stretches one draw of the system's generator into
// the many draws of a call.
#pragma once

#include <cstdint>

namespace vexorin {

class ChaCha20Stream {
 public:
  // `key` is 32 bytes, read as 8 little-endian words; the nonce is zero and the block counter
  // starts at `counter`.
  explicit ChaCha20Stream(const unsigned char* key, std::uint32_t counter = 0) noexcept : counter_(counter) {
    for (int i = 0; i < 8; ++i) {
      key_[i] = static_cast<std::uint32_t>(key[4 * i]) | static_cast<std::uint32_t>(key[4 * i + 1]) << 8 |
                static_cast<std::uint32_t>(key[4 * i + 2]) << 16 | static_cast<std::uint32_t>(key[4 * i + 3]) << 24;
    }
  }
  // The next 32-bit word of the stream.
  std::uint32_t Next() noexcept {
    if (used_ == 16) {
      Block(counter_++, block_);
      used_ = 0;
    }
    return block_[used_++];
  }
  // One 64-byte block for `counter` (nonce words as given), as 16 words.
  void Block(std::uint32_t counter, std::uint32_t (&out)[16], std::uint32_t nonce0 = 0, std::uint32_t nonce1 = 0,
             std::uint32_t nonce2 = 0) const noexcept {
    const std::uint32_t input[16] = {0x61707865u, 0x3320646eu, 0x79622d32u, 0x6b206574u,
                                     key_[0],     key_[1],     key_[2],     key_[3],
                                     key_[4],     key_[5],     key_[6],     key_[7],
                                     counter,     nonce0,      nonce1,      nonce2};
    std::uint32_t x[16];
    for (int i = 0; i < 16; ++i) x[i] = input[i];
    for (int round = 0; round < 10; ++round) {
      Quarter(x[0], x[4], x[8], x[12]);
      Quarter(x[1], x[5], x[9], x[13]);
      Quarter(x[2], x[6], x[10], x[14]);
      Quarter(x[3], x[7], x[11], x[15]);
      Quarter(x[0], x[5], x[10], x[15]);
      Quarter(x[1], x[6], x[11], x[12]);
      Quarter(x[2], x[7], x[8], x[13]);
      Quarter(x[3], x[4], x[9], x[14]);
    }
    for (int i = 0; i < 16; ++i) out[i] = x[i] + input[i];
  }

 private:
  static std::uint32_t Rotate(std::uint32_t v, int n) noexcept { return (v << n) | (v >> (32 - n)); }
  static void Quarter(std::uint32_t& a, std::uint32_t& b, std::uint32_t& c, std::uint32_t& d) noexcept {
    a += b; d ^= a; d = Rotate(d, 16);
    c += d; b ^= c; b = Rotate(b, 12);
    a += b; d ^= a; d = Rotate(d, 8);
    c += d; b ^= c; b = Rotate(b, 7);
  }

  std::uint32_t key_[8];
  std::uint32_t counter_;
  std::uint32_t block_[16] = {};
  int used_ = 16;
};

}  // namespace vexorin
