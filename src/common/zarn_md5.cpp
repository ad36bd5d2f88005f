#include "common/zarn_md5.hpp"

#include <bit>
#include <cstring>

#include "common/byte_reader.hpp"

namespace {

constexpr u32 block_size = 64;   // bytes per transform
constexpr u32 length_off = 56;   // where the bit count goes in the last block
constexpr u32 length_size = 8;   // u64 bit count, little-endian
static_assert(length_off + length_size == block_size);

constexpr u32 init_state[4] = {0x67452301u, 0xefcdab89u, 0x98badcfeu, 0x10325476u};

// Additive constants: the integer part of 2^32 x |sin(i + 1)|.
constexpr u32 sine_table[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee,
    0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be,
    0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa,
    0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed,
    0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c,
    0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05,
    0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039,
    0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1,
    0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391,
};

// Left-rotation amounts: four per round, repeated over the round's 16 steps.
constexpr int shifts[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

void store_u32(u8* p, u32 v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<u8>(v >> (8 * i));
}

// The word of the block each step reads: in order in the first round, then
// (5i + 1), (3i + 5) and 7i modulo 16.
constexpr int word_index[64] = {
    0, 1, 2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15,
    1, 6, 11, 0,  5,  10, 15, 4,  9,  14, 3,  8,  13, 2,  7,  12,
    5, 8, 11, 14, 1,  4,  7,  10, 13, 0,  3,  6,  9,  12, 15, 2,
    0, 7, 14, 5,  12, 3,  10, 1,  8,  15, 6,  13, 4,  11, 2,  9,
};

// The round's mixing function of the last three chaining words.
template <int Round>
u32 mix(u32 b, u32 c, u32 d) {
  if constexpr (Round == 0) return (b & c) | (~b & d);
  if constexpr (Round == 1) return (b & d) | (c & ~d);
  if constexpr (Round == 2) return b ^ c ^ d;
  return c ^ (b | ~d);
}

// The sixteen steps of one round, each with the round's own function (a
// digest is taken of every block the program carries, at every start).
template <int Round>
void round_steps(u32& a, u32& b, u32& c, u32& d, const u32 x[16]) {
#pragma GCC unroll 16
  for (int j = 0; j < 16; ++j) {
    const int i = Round * 16 + j;
    const u32 f = mix<Round>(b, c, d);
    const u32 t = d;
    d = c;
    c = b;
    b = b + std::rotl(a + f + sine_table[i] + x[word_index[i]], shifts[Round][j % 4]);
    a = t;
  }
}

// One 64-byte block into the chaining words. The block is read as sixteen
// little-endian words; it may sit at any alignment inside the caller's data.
void transform(u32 state[4], const u8* block) {
  u32 x[16];
  for (int i = 0; i < 16; ++i) x[i] = zarn::load_u32(block + 4 * i);

  u32 a = state[0], b = state[1], c = state[2], d = state[3];
  round_steps<0>(a, b, c, d, x);
  round_steps<1>(a, b, c, d, x);
  round_steps<2>(a, b, c, d, x);
  round_steps<3>(a, b, c, d, x);
  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
}

}  // namespace

bool md5_init(md5_context* ctx) {
  if (ctx == nullptr) return false;
  std::memcpy(ctx->state, init_state, sizeof ctx->state);
  ctx->count[0] = 0;
  ctx->count[1] = 0;
  std::memset(ctx->buffer, 0, sizeof ctx->buffer);
  return true;
}

bool md5_update(md5_context* ctx, const u8* data, u32 len) {
  if (ctx == nullptr || data == nullptr || len == 0) return false;

  // Bytes already waiting in the buffer, from the bit count before this call.
  const u32 held = (ctx->count[0] >> 3) & (block_size - 1);

  // The bit count is 64-bit across two words; carry out of the low word.
  const u32 low_bits = len << 3;
  ctx->count[0] += low_bits;
  if (ctx->count[0] < low_bits) ++ctx->count[1];
  ctx->count[1] += len >> 29;

  u32 used = 0;
  const u32 room = block_size - held;
  if (len >= room) {
    std::memcpy(ctx->buffer + held, data, room);
    transform(ctx->state, ctx->buffer);
    used = room;
    // Compared as what remains, so a length near 2^32 cannot wrap.
    while (len - used >= block_size) {
      transform(ctx->state, data + used);  // bounds: len - used >= 64
      used += block_size;
    }
    std::memcpy(ctx->buffer, data + used, len - used);
  } else {
    std::memcpy(ctx->buffer + held, data, len);
  }
  return true;
}

bool md5_final(u8 out[16], md5_context* ctx) {
  if (out == nullptr || ctx == nullptr) return false;

  // The bit count before padding: low word first, each little-endian.
  u8 bit_count[length_size];
  store_u32(bit_count, ctx->count[0]);
  store_u32(bit_count + 4, ctx->count[1]);

  // Always at least the 0x80 byte; a tail past 55 bytes spills into a block
  // of its own so that the count still lands at 56.
  u8 padding[block_size] = {0x80};
  const u32 held = (ctx->count[0] >> 3) & (block_size - 1);
  const u32 pad_len = held < length_off ? length_off - held : block_size + length_off - held;
  (void)md5_update(ctx, padding, pad_len);              // pad_len is 1..64
  (void)md5_update(ctx, bit_count, length_size);        // completes the last block

  for (int i = 0; i < 4; ++i) store_u32(out + 4 * i, ctx->state[i]);
  (void)md5_init(ctx);
  return true;
}

bool md5(const u8* data, u32 len, u8 out[16]) {
  if (data == nullptr || len == 0 || out == nullptr) return false;
  md5_context ctx;
  if (!md5_init(&ctx) || !md5_update(&ctx, data, len)) return false;
  return md5_final(out, &ctx);
}
