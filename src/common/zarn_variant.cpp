#include "common/zarn_variant.hpp"

#include <cassert>

namespace {
u64 join_words(u32 low, u32 high) { return static_cast<u64>(low) | (static_cast<u64>(high) << 32); }
}  // namespace

zarn_variant_lite::zarn_variant_lite(const std::string& t, u32 ref_low, u32 ref_high) {
  text = t;
  reference = join_words(ref_low, ref_high);
  flags = has_reference;
}

zarn_variant_lite::zarn_variant_lite(const std::string& t, u32 ref_low, u32 ref_high, u16 tag,
                                     u32 f) {
  text = t;
  reference = join_words(ref_low, ref_high);
  type = tag;
  flags = f | has_reference;
}

void zarn_variant_lite::clear() {
  // member by member: a cell reused row after row keeps its text capacity
  type = 0;
  max_width = 20;
  flags = 0;
  reference = 0;
  second = 0;
  bytes.clear();
  text.clear();
  number = 0;
  wtext.clear();
  assert(*this == zarn_variant_lite{});
}
