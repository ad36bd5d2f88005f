#pragma once
// MD5 message digest (RFC 1321): the 16-byte key of an event template is the
// digest of its signature text.
//
// Incremental use: md5_init, any number of md5_update calls, md5_final. A
// one-shot md5 does the same on a context of its own. Every function returns
// false for a null context or output and then does nothing at all, so a
// refused call never leaves a half-updated context or a partial digest.
#include "common/zarn_types.hpp"

// Running state of one digest. Bytes are taken little-endian into the block
// transform; nothing here depends on the host's byte order.
struct md5_context {
  u32 state[4];    // the chaining words A, B, C, D
  u32 count[2];    // bits processed so far, modulo 2^64: low word, then high word
  u8 buffer[64];   // bytes of the block not yet transformed
};

// Sets the initial chaining words, a zero bit count and a zeroed buffer.
// False for a null context.
[[nodiscard]] bool md5_init(md5_context* ctx);

// Adds len bytes from data. False, with the context untouched, when ctx or
// data is null or len is 0; true otherwise. Whole 64-byte blocks are
// transformed as they complete; the tail waits in the buffer.
[[nodiscard]] bool md5_update(md5_context* ctx, const u8* data, u32 len);

// Pads the message (0x80, zeros up to 56 mod 64, the bit count as 8
// little-endian bytes), writes the 16-byte digest to out and resets the
// context as md5_init does, ready for a new digest. False, with out and the
// context untouched, for a null context or a null out.
[[nodiscard]] bool md5_final(u8 out[16], md5_context* ctx);

// The digest of len bytes from data. False, with out not written, when data
// or out is null or len is 0: the empty input has no digest here.
[[nodiscard]] bool md5(const u8* data, u32 len, u8 out[16]);
