#include "decode/sqm.hpp"

#include <algorithm>
#include <string>
#include <utility>

#include "common/byte_reader.hpp"
#include "common/guid.hpp"
#include "common/zarn_string.hpp"
#include "decode/type_words.hpp"

namespace {

// The record's fixed part.
namespace sqm {
constexpr u64 session_guid = 0;  // 16 bytes
constexpr u64 id = 16;           // u32
constexpr u64 type = 20;         // u32
constexpr u64 dword_value = 24;  // u32, a field only for the types below
constexpr u64 tail = 28;
constexpr u64 min_size = 20;
constexpr u32 dword_type_a = 5;
constexpr u32 dword_type_b = 6;
}  // namespace sqm

// Tail tags. The first tag of the tail chooses how the later ones read.
namespace tag {
constexpr u32 end = 0;
constexpr u32 raw = 1;    // 8 raw bytes, or (first tag 0) a length and that many bytes
constexpr u32 text = 2;   // a UTF-16 text
constexpr u32 raw10 = 3;  // 8 raw bytes, in-type 10 (first tag only)
}  // namespace tag
constexpr u64 raw_size = 8;
constexpr u64 entry_min = 12;  // a later entry starts only with this many bytes left
// A length of a run or text in a tail that the first tag did not choose
// counts 8 bytes of its own header, which are not in the run.
constexpr u64 length_header = 8;


// The bytes still to decode, from `pos` to the end of the record.
class tail_reader {
 public:
  tail_reader(field_map& map, std::span<const u8> bytes, u64 key, u64 pos)
      : map_(map), bytes_(bytes), key_(key), pos_(pos) {}

  u64 left() const { return bytes_.size() - pos_; }
  // The next u32; false when it is not held.
  bool read_u32(u32& out) {
    if (!zarn::read_u32_at(bytes_, pos_, out)) return false;
    pos_ += 4;
    return true;
  }
  void raw(u64 size, u8 in_type) {
    field_rec f;
    f.set_bytes(bytes_.subspan(pos_, size), in_type, "", 1);
    store(f);
    pos_ += size;
  }
  // A UTF-16 text: in the next `size` bytes, or (size 0) up to its NUL
  // within the bytes left, covering them. With `empty_ends`, an empty text
  // read to its NUL makes no field and gives false: the tail ends there.
  bool text(u64 size, bool empty_ends) {
    const std::span<const u8> from = bytes_.subspan(pos_, size != 0 ? size : left());
    std::string value;
    const i32 covered =
        utf16le_to_utf8(from, value, static_cast<i32>(std::min<u64>(from.size(), 0x7FFFFFFF)),
                        true);
    if (empty_ends && size == 0 && value.empty()) return false;
    const u64 field_size = size != 0 ? size : static_cast<u64>(std::max(covered, 0));
    field_rec f;
    f.set_text(value, static_cast<u32>(field_size), in_type::utf16_text, "utf16", 1);
    store(f);
    pos_ += field_size;
    return true;
  }

 private:
  void store(field_rec& f) { map_.emplace(key_ + pos_, std::move(f)); }

  field_map& map_;
  std::span<const u8> bytes_;
  u64 key_;
  u64 pos_;
};

// The later entries when the first tag was 1, 2 or 3.
void tail_after_value(tail_reader& t) {
  while (t.left() >= entry_min) {
    u32 next = 0;
    (void)t.read_u32(next);
    if (next == tag::raw) {
      t.raw(raw_size, in_type::uint8);  // 8 bytes are left: the loop needs 12
    } else if (next == tag::text) {
      if (!t.text(0, true)) return;
    }
    // any other tag (0 too) is passed over
  }
}

// The later entries when the first tag was 0 or unknown: runs and texts
// with their own lengths.
void tail_of_runs(tail_reader& t) {
  while (t.left() >= entry_min) {
    u32 next = 0;
    (void)t.read_u32(next);
    if (next == tag::end) return;
    if (next != tag::raw && next != tag::text) continue;
    // a run needs its length and 8 bytes more after the tag
    if (next == tag::raw && t.left() < entry_min) continue;
    u32 length = 0;
    (void)t.read_u32(length);  // 8 bytes are left: the loop needs 12
    const u64 size = length > length_header ? length - length_header : length;
    if (next == tag::raw) {
      if (size > t.left()) return;
      if (size != 0) t.raw(size, in_type::uint8);
    } else if (size <= t.left()) {
      if (!t.text(size, true)) return;
    }
    // a text longer than the bytes left is passed over: its length field
    // was read and the next tag follows it
  }
}

}  // namespace

bool decode_sqm(field_map& map, std::span<const u8> bytes, u64 key) {
  if (bytes.size() < sqm::min_size) return false;
  field_rec f;
  f.set_text(guid_to_string(guid(bytes.data() + sqm::session_guid)), 16, in_type::guid,
             "SqmSessionGuid", 1);
  map.emplace(key + sqm::session_guid, std::move(f));
  f.set_number(zarn::u32_at(bytes, sqm::id), 4, in_type::uint32, "SqmID", 1);
  map.emplace(key + sqm::id, std::move(f));
  u32 type = 0;
  if (!zarn::read_u32_at(bytes, sqm::type, type)) return true;
  f.set_number(type, 4, in_type::uint32, "SqmType", 1);
  map.emplace(key + sqm::type, std::move(f));
  u32 value = 0;
  if (!zarn::read_u32_at(bytes, sqm::dword_value, value)) return true;
  if (type == sqm::dword_type_a || type == sqm::dword_type_b) {
    f.set_number(value, 4, in_type::uint32, "SqmDWORDDatapointValue", 1);
    map.emplace(key + sqm::dword_value, std::move(f));
  }
  tail_reader t(map, bytes, key, sqm::tail);
  u32 first = 0;
  if (!t.read_u32(first)) return true;
  switch (first) {
    case tag::raw:
      if (t.left() >= raw_size) t.raw(raw_size, in_type::uint8);
      tail_after_value(t);
      break;
    case tag::raw10:
      if (t.left() >= raw_size) t.raw(raw_size, in_type::uint64);
      tail_after_value(t);
      break;
    case tag::text: {
      u32 length = 0;
      if (!t.read_u32(length)) return true;
      // a text whose length runs past the record ends it: nothing after
      // it can be placed
      if (t.left() < 4 || length > t.left()) return true;
      (void)t.text(length, false);
      tail_after_value(t);
      break;
    }
    default:
      tail_of_runs(t);
      break;
  }
  return true;
}
