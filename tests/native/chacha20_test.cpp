#include <cstdint>

#include <gtest/gtest.h>

#include "component/audio/chacha20.h"

namespace {

// The block function's published test vector: key 00 01 .. 1f, nonce 00000009 0000004a 00000000,
// block counter 1.
TEST(ChaCha20Test, BlockFunctionMatchesThePublishedVector) {
  unsigned char key[32];
  for (int i = 0; i < 32; ++i) key[i] = static_cast<unsigned char>(i);
  const vexorin::ChaCha20Stream stream(key);
  std::uint32_t out[16];
  stream.Block(1, out, 0x09000000u, 0x4a000000u, 0);
  const std::uint32_t expected[16] = {0xe4e7f110, 0x15593bd1, 0x1fdd0f50, 0xc47120a3, 0xc7f4d1c7, 0x0368c033,
                                      0x9aaa2204, 0x4e6cd4c3, 0x466482d2, 0x09aa9f07, 0x05d7c214, 0xa2028bd9,
                                      0xd19c12b5, 0xb94e16de, 0xe883d0cb, 0x4e3c50a2};
  for (int i = 0; i < 16; ++i) EXPECT_EQ(out[i], expected[i]) << "word " << i;
}

TEST(ChaCha20Test, TheStreamIsTheBlocksInTurnFromCounterZero) {
  unsigned char key[32] = {7};
  vexorin::ChaCha20Stream stream(key);
  std::uint32_t first[16], second[16];
  stream.Block(0, first);
  stream.Block(1, second);
  for (std::uint32_t w : first) EXPECT_EQ(stream.Next(), w);
  for (std::uint32_t w : second) EXPECT_EQ(stream.Next(), w);
}

}  // namespace
