#include "common/stopwatch.hpp"

#include <sys/time.h>

#include <cstring>

#include "common/zarn_time.hpp"

namespace {
// FILETIME of 1900-01-01 00:00:00 UTC, the NTP epoch.
constexpr u64 ntp_epoch_filetime = zarn::ntp_epoch_ticks;
constexpr u64 ticks_per_second = zarn::ticks_per_second;

u32 read_be32(const u8* p) {
  return (static_cast<u32>(p[0]) << 24) | (static_cast<u32>(p[1]) << 16) |
         (static_cast<u32>(p[2]) << 8) | static_cast<u32>(p[3]);
}
void write_be32(u8* p, u32 v) {
  p[0] = static_cast<u8>(v >> 24);
  p[1] = static_cast<u8>(v >> 16);
  p[2] = static_cast<u8>(v >> 8);
  p[3] = static_cast<u8>(v);
}
}  // namespace

bool ntp_mark::is_zero() const {
  for (u8 b : bytes) {
    if (b != 0) return false;
  }
  return true;
}

u32 bswap32(u32 v) {
  return (v >> 24) | ((v >> 8) & 0xff00u) | ((v << 8) & 0xff0000u) | (v << 24);
}

u32 ntp_mark_seconds(const ntp_mark& m) { return read_be32(m.bytes); }
u32 ntp_mark_fraction(const ntp_mark& m) { return read_be32(m.bytes + 4); }

bool filetime_to_ntp(u64 ft, ntp_mark& out) {
  out = ntp_mark();
  // A time before 1900 has no NTP form; subtracting would wrap.
  if ((ft >> 63) != 0 || ft < ntp_epoch_filetime) return false;
  const u64 seconds = (ft - ntp_epoch_filetime) / ticks_per_second;
  // Only the low 32 bits are kept: the count wraps on 2036-02-07 06:28:16 UTC.
  write_be32(out.bytes, static_cast<u32>(seconds));
  write_be32(out.bytes + 4, 0);
  return true;
}

ntp_mark filetime_to_ntp_mark(u64 ft) {
  ntp_mark m;
  filetime_to_ntp(ft, m);
  return m;
}

ntp_mark ntp_now() {
  struct timeval tv {};
  gettimeofday(&tv, nullptr);
  const zarn::time now(static_cast<i64>(tv.tv_sec), zarn::type_time::unix_time);
  return filetime_to_ntp_mark(now.filetime());
}

void stopwatch_start(ntp_mark& start) { start = ntp_now(); }

double ntp_elapsed_seconds(const ntp_mark& a, const ntp_mark& b) {
  const long double va =
      ntp_mark_seconds(a) + static_cast<long double>(ntp_mark_fraction(a)) / 4294967296.0L;
  const long double vb =
      ntp_mark_seconds(b) + static_cast<long double>(ntp_mark_fraction(b)) / 4294967296.0L;
  return static_cast<double>(va > vb ? va - vb : vb - va);
}
