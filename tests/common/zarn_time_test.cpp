#include "common/zarn_time.hpp"

#include <gtest/gtest.h>

namespace {

using zarn::type_time;

TEST(ZarnTime, FiletimeValidityBounds) {
  struct row {
    u64 ft;
    bool valid;
  };
  const row rows[] = {
      {0, false},
      {116444736000000000ULL, false},  // first second of 1970
      {116444736009999999ULL, false},
      {116444736010000000ULL, true},   // 1970-01-01 00:00:01
      {94354848000000000ULL, true},    // 1900-01-01 00:00:00
      {94354848000000000ULL - 1, false},
      {1ULL << 63, false},
      {~0ULL, false},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.ft);
    EXPECT_EQ(zarn::time(r.ft, type_time::filetime).is_valid(), r.valid);
  }
}

}  // namespace
