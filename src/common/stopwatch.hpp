#pragma once
// Whole-second marks in the NTP timestamp layout (seconds since 1900 and a
// fraction word, both big-endian) for timing a run.
#include "common/zarn_types.hpp"

struct ntp_mark {
  u8 bytes[8] = {};
  bool is_zero() const;
};

ntp_mark ntp_now();
void stopwatch_start(ntp_mark& start);
// The distance between two marks in seconds, whatever their order.
double ntp_elapsed_seconds(const ntp_mark& a, const ntp_mark& b);
// False (and an all-zero mark) for a FILETIME with the top bit set or one
// before 1900.
bool filetime_to_ntp(u64 ft, ntp_mark& out);
ntp_mark filetime_to_ntp_mark(u64 ft);
u32 bswap32(u32 v);
u32 ntp_mark_seconds(const ntp_mark& m);
u32 ntp_mark_fraction(const ntp_mark& m);
