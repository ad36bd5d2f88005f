#include "common/zarn_variant.hpp"

#include <gtest/gtest.h>

namespace {

TEST(ZarnVariant, DefaultAndClearedAreIdentical) {
  zarn_variant_lite v("title", 7, 1, 3, 0x100);
  v.bytes = {1, 2};
  v.number = 9;
  v.wtext = L"w";
  v.second = 4;
  v.max_width = 5;
  v.clear();
  EXPECT_EQ(v, zarn_variant_lite());
  EXPECT_EQ(v.type, 0);
  EXPECT_EQ(v.max_width, 20);
  EXPECT_EQ(v.flags, 0u);
  EXPECT_TRUE(v.text.empty());
  EXPECT_TRUE(v.bytes.empty());
  EXPECT_TRUE(v.wtext.empty());
  EXPECT_EQ(v.number, 0u);
}

TEST(ZarnVariant, ReferenceConstructorsSetTheReferenceBit) {
  zarn_variant_lite plain("name", 12, 0);
  EXPECT_EQ(plain.flags, zarn_variant_lite::has_reference);
  EXPECT_EQ(plain.reference, 12u);
  EXPECT_EQ(plain.type, 0);
  EXPECT_EQ(plain.text, "name");

  zarn_variant_lite tagged("date", 1, 2, 9, 0);
  EXPECT_EQ(tagged.flags, zarn_variant_lite::has_reference);
  EXPECT_EQ(tagged.reference, 0x0000000200000001ull);
  EXPECT_EQ(tagged.type, 9);
  zarn_variant_lite with_bit("t", 0, 0, 1, 0x80 | 0x4000);
  EXPECT_EQ(with_bit.flags, 0x4080u);
}

}  // namespace
