#pragma once
// The one bounded little-endian reader for every byte a file supplies.
//
// Contract: a read that does not fit in what remains returns false, consumes
// nothing and leaves its output untouched. Offsets and sizes are 64-bit, and
// no check computes `offset + size` on values that came from a file: every
// comparison is made against what remains, so it cannot overflow.
#include <cassert>
#include <span>

#include "common/zarn_types.hpp"

namespace zarn {

// True when n bytes starting at off lie inside a region of `size` bytes.
// Written as two comparisons so that an offset near UINT64_MAX is refused
// instead of wrapping around.
[[nodiscard]] constexpr bool fits(u64 size, u64 off, u64 n) {
  return n <= size && off <= size - n;
}

// Little-endian loads from bytes that the caller has already bounded.
constexpr u16 load_u16(const u8* p) { return static_cast<u16>(p[0] | (p[1] << 8)); }
constexpr u32 load_u32(const u8* p) {
  return static_cast<u32>(p[0]) | (static_cast<u32>(p[1]) << 8) |
         (static_cast<u32>(p[2]) << 16) | (static_cast<u32>(p[3]) << 24);
}
constexpr u64 load_u64(const u8* p) {
  return static_cast<u64>(load_u32(p)) | (static_cast<u64>(load_u32(p + 4)) << 32);
}
// `width` bytes (at most 8), widened.
constexpr u64 load_le(const u8* p, u64 width) {
  u64 value = 0;
  for (u64 i = 0; i < width; ++i) value |= static_cast<u64>(p[i]) << (8 * i);
  return value;
}

// Checked reads at a fixed offset: false when the field does not lie inside
// `bytes`, and `out` is then untouched.
[[nodiscard]] bool read_u8_at(std::span<const u8> bytes, u64 off, u8& out);
[[nodiscard]] bool read_u16_at(std::span<const u8> bytes, u64 off, u16& out);
[[nodiscard]] bool read_u32_at(std::span<const u8> bytes, u64 off, u32& out);
[[nodiscard]] bool read_u64_at(std::span<const u8> bytes, u64 off, u64& out);

// Field reads for a fixed header whose whole size the caller has checked
// once (fits(bytes.size(), 0, header_size)). Reading outside `bytes` is a bug
// in the caller, not bad input: it asserts in debug builds, and in every build
// reads nothing and gives 0, so a missed check can never reach past the bytes.
namespace detail {
inline bool field_held(std::span<const u8> bytes, u64 off, u64 n) {
  const bool held = fits(bytes.size(), off, n);
  assert(held && "field outside the checked header");
  return held;
}
}  // namespace detail
inline u8 u8_at(std::span<const u8> bytes, u64 off) {
  return detail::field_held(bytes, off, 1) ? bytes[off] : 0;
}
inline u16 u16_at(std::span<const u8> bytes, u64 off) {
  return detail::field_held(bytes, off, 2) ? load_u16(bytes.data() + off) : 0;
}
inline u32 u32_at(std::span<const u8> bytes, u64 off) {
  return detail::field_held(bytes, off, 4) ? load_u32(bytes.data() + off) : 0;
}
inline u64 u64_at(std::span<const u8> bytes, u64 off) {
  return detail::field_held(bytes, off, 8) ? load_u64(bytes.data() + off) : 0;
}

// The little-endian number of `width` bytes (1 to 8) at `off`, widened, from
// a field of a header the caller has checked whole; like the field reads
// above, a field outside `bytes` is a caller's bug: asserted, and 0.
inline u64 le_at(std::span<const u8> bytes, u64 off, u64 width) {
  assert(width >= 1 && width <= 8);
  if (width > 8 || !detail::field_held(bytes, off, width)) return 0;
  return load_le(bytes.data() + off, width);  // bounds: field_held above
}
// The same, checked: false, with `out` untouched, when the field does not lie
// inside `bytes` or the width is not 1 to 8.
[[nodiscard]] bool read_le_at(std::span<const u8> bytes, u64 off, u64 width, u64& out);

// Stores the low `width` bytes of value little-endian at `off`, into a field
// of a header the caller built or checked whole; like the field reads, a
// field outside `bytes` is a caller's bug: asserted, and nothing is written.
void store_le(std::span<u8> bytes, u64 off, u64 width, u64 value);

class byte_reader {
 public:
  byte_reader() = default;
  explicit byte_reader(std::span<const u8> bytes) : bytes_(bytes) {}
  byte_reader(const u8* data, u64 size) : bytes_(data, size) {}

  [[nodiscard]] bool read_u8(u8& out);
  [[nodiscard]] bool read_u16(u16& out);
  [[nodiscard]] bool read_u32(u32& out);
  [[nodiscard]] bool read_u64(u64& out);
  // The next n bytes as a view into the underlying buffer.
  [[nodiscard]] bool read_bytes(u64 n, std::span<const u8>& out);
  // A reader over exactly the next n bytes, which are consumed here: an inner
  // length that is damaged cannot reach past them.
  [[nodiscard]] bool read_window(u64 n, byte_reader& out);
  [[nodiscard]] bool skip(u64 n);
  // Moves to an absolute position; positions beyond the end are refused.
  [[nodiscard]] bool seek(u64 pos);

  u64 remaining() const { return bytes_.size() - pos_; }
  u64 position() const { return pos_; }
  u64 size() const { return bytes_.size(); }
  // The bytes from the current position to the end.
  std::span<const u8> rest() const { return bytes_.subspan(pos_); }

 private:
  std::span<const u8> bytes_;
  u64 pos_ = 0;
};

}  // namespace zarn
