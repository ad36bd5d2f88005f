#include "common/zarn_md5.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string hex(const u8 (&d)[16]) {
  std::string s;
  for (u8 b : d) s += {"0123456789abcdef"[b >> 4], "0123456789abcdef"[b & 15]};
  return s;
}

byte_array bytes_of(const std::string& text) { return byte_array(text.begin(), text.end()); }

// The RFC 1321 suite with its published digests, then lengths either side of
// where the bit count no longer fits in the last block (digests from md5sum).
TEST(Md5, KnownDigests) {
  const struct {
    byte_array input;
    const char* digest;
  } rows[] = {
      {bytes_of("a"), "0cc175b9c0f1b6a831c399e269772661"},
      {bytes_of("abc"), "900150983cd24fb0d6963f7d28e17f72"},
      {bytes_of("message digest"), "f96b697d7cb7938d525a2f31aaf161d0"},
      {bytes_of("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b"},
      {bytes_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
       "d174ab98d277d9f5a5611c2c9f419d9f"},
      {bytes_of("1234567890123456789012345678901234567890"
                "1234567890123456789012345678901234567890"),
       "57edf4a22be3c955ac49da2e2107b67a"},
      {byte_array(55, 'a'), "ef1772b6dff9a122358552954ad0df65"},  // 55 bytes of 'a'
      {byte_array(56, 'a'), "3b0c8ac703f828b04c6c197006d17218"},  // 56 bytes of 'a'
      {byte_array(63, 'a'), "b06521f39153d618550606be297466d5"},  // 63 bytes of 'a'
      {byte_array(64, 'a'), "014842d480b571495a4a0363793f7367"},  // 64 bytes of 'a'
      {byte_array(65, 'a'), "c743a45e0d2e6a95cb859adae0248435"},  // 65 bytes of 'a'
  };
  for (const auto& r : rows) {
    u8 out[16] = {};
    EXPECT_TRUE(md5(r.input.data(), static_cast<u32>(r.input.size()), out));
    EXPECT_EQ(hex(out), r.digest) << r.input.size() << " bytes";
  }
}

// 1000 bytes, byte i = i % 251 (digest from md5sum), fed in pieces that
// straddle the block edges.
TEST(Md5, UnevenPieces) {
  byte_array data(1000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<u8>(i % 251);
  const std::vector<std::vector<u32>> plans = {{1000}, {1, 63, 64, 65, 127, 680}, {55, 9, 500, 3, 433}};
  for (const auto& plan : plans) {
    md5_context ctx;
    ASSERT_TRUE(md5_init(&ctx));
    u32 at = 0;
    for (u32 piece : plan) {
      EXPECT_TRUE(md5_update(&ctx, data.data() + at, piece));
      at += piece;
    }
    u8 out[16] = {};
    EXPECT_TRUE(md5_final(out, &ctx));
    EXPECT_EQ(hex(out), "a24f1e3ef66950e1327f210e3997ba2c") << plan.size() << " pieces";
  }
}

// A refused call writes nothing: neither the digest nor the context.
TEST(Md5, RefusalsChangeNothing) {
  const u8 abc[3] = {'a', 'b', 'c'};
  const struct {
    const u8* data;
    u32 len;
  } rows[] = {{nullptr, 3}, {abc, 0}, {nullptr, 0}};
  md5_context ctx;
  ASSERT_TRUE(md5_init(&ctx));
  ASSERT_TRUE(md5_update(&ctx, abc, 3));
  u8 out[16];
  for (const auto& r : rows) {
    std::fill(out, out + 16, 0xaa);
    EXPECT_FALSE(md5(r.data, r.len, out)) << r.len;
    EXPECT_EQ(std::count(out, out + 16, 0xaa), 16) << r.len;
    EXPECT_FALSE(md5_update(&ctx, r.data, r.len)) << r.len;
  }
  EXPECT_FALSE(md5_final(nullptr, &ctx));
  EXPECT_TRUE(md5_final(out, &ctx));
  EXPECT_EQ(hex(out), "900150983cd24fb0d6963f7d28e17f72");  // still the digest of "abc"
  EXPECT_FALSE(md5_init(nullptr));
  EXPECT_FALSE(md5_update(nullptr, abc, 3));
  EXPECT_FALSE(md5_final(out, nullptr));
}

// md5_final leaves the context as md5_init does, and the next digest is right.
TEST(Md5, FinalResetsContext) {
  md5_context fresh, ctx;
  ASSERT_TRUE(md5_init(&fresh) && md5_init(&ctx));
  u8 out[16] = {};
  const byte_array texts[] = {bytes_of("message digest"), bytes_of("abc")};
  const char* digests[] = {"f96b697d7cb7938d525a2f31aaf161d0", "900150983cd24fb0d6963f7d28e17f72"};
  for (int i = 0; i < 2; ++i) {
    ASSERT_TRUE(md5_update(&ctx, texts[i].data(), static_cast<u32>(texts[i].size())));
    ASSERT_TRUE(md5_final(out, &ctx));
    EXPECT_EQ(hex(out), digests[i]);
    EXPECT_EQ(std::memcmp(&ctx, &fresh, sizeof ctx), 0);
  }
}

}  // namespace
