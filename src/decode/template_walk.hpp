#pragma once
// The pieces of a template walk that the plain in-types and the extension
// words share: the walk's state, what one field did, where a marker sorts,
// and the readers of texts and times inside a payload.
#include <span>
#include <string>
#include <utility>

#include "common/zarn_types.hpp"
#include "decode/field_map.hpp"

struct event_template;
namespace zarn {
class time;
}  // namespace zarn

// What one field did: the payload bytes it used, and whether the walk goes on.
struct field_step {
  u64 used = 0;
  bool go_on = false;
};
inline constexpr field_step end_walk{};

struct template_walk {
  const event_template& t;
  field_map& map;
  std::span<const u8> payload;
  u64 base_key;
  bool pointer64;
  u64 position = 0;
  u32 index = 0;

  std::span<const u8> rest() const { return payload.subspan(position); }
  u64 key() const { return base_key + position; }
  // The record to fill for the next field, in the map's own storage.
  field_rec& slot() { return map.next_slot(); }
  // Stores the field unless one is held at the key already.
  void store(field_key at, field_rec& f) { (void)map.emplace(at, std::move(f)); }
};

// A marker that stands for bytes the walk did not read sorts before the
// field that the next decoder puts at the same offset, so neither is lost.
constexpr field_key marker_key(u64 offset) { return {offset, key_rank::marker}; }

// A text that ends at its 0 unit or byte, read from the start of `bytes` (the
// payload from the text's first byte on, so nothing past the payload is read).
struct payload_text {
  std::string text;  // line breaks marked
  u64 covered = 0;   // its characters' bytes, and its terminator when the payload holds it
  bool empty = false;
};
// UTF-16LE, converted with at most `limit` bytes. An empty text covers its
// 0 unit (2 bytes) when the limit and the bytes hold it, else nothing.
payload_text utf16z_text(std::span<const u8> bytes, u64 limit);
// The same into `p`, whose text keeps its storage (every UTF-16 field of a
// template is read this way).
void read_utf16z_text(payload_text& p, std::span<const u8> bytes, u64 limit);
// 8-bit. An empty text covers its 0 byte; no bytes cover nothing.
payload_text ansiz_text(std::span<const u8> bytes);

// The value text of a FILETIME or Unix time: "0x" and the value in `digits`
// hexadecimal digits, then " [" its time "]".
std::string number_with_time(u64 value, std::size_t digits, const zarn::time& t);
// The value text of a SYSTEMTIME: its bytes from last to first in
// hexadecimal after "0x", then " [" its time "]".
std::string systemtime_text(std::span<const u8> raw, const zarn::time& t);
