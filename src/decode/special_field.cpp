#include "decode/special_field.hpp"

#include <algorithm>
#include <cassert>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

#include "common/byte_reader.hpp"
#include "common/zarn_bytes.hpp"
#include "common/zarn_string.hpp"
#include "decode/template_walk.hpp"
#include "decode/sqm.hpp"
#include "decode/template_map.hpp"
#include "decode/usb_decoders.hpp"

namespace {

constexpr field_step nothing{0, true};  // the word yields no field; the walk goes on
constexpr u64 app_hash_size = 21;
constexpr u64 slot32_size = 32;

struct special_walk : template_walk {
  u16 word = 0;
  u8 n = 0;  // bits 8-11: a count, or how far back the sizing field lies

  u64 left() const { return payload.size(); }
  u64 pointer_size() const { return pointer64 ? 8 : 4; }
  std::string name() const { return index < t.names.size() ? t.names[index] : std::string(); }
};

i32 byte_limit(u64 n) {
  return static_cast<i32>(std::min<u64>(n, std::numeric_limits<i32>::max()));
}

// The number of the n-th field counted back from the last one stored. It
// sizes a read only when above 0 and within the bytes left: an earlier
// field is payload data, and a damaged one may hold any of 2^64 values.
bool back_value(const special_walk& w, u64& out) {
  if (w.n == 0 || w.map.size() < w.n) return false;
  const u64 value = std::prev(w.map.end(), w.n)->second.number;
  if (value == 0 || value > w.left()) return false;
  out = value;
  return true;
}

// "{blob}" for `size` bytes the walk steps over without reading.
field_step store_blob(special_walk& w, u64 size) {
  if (size == 0) return nothing;
  const std::string name = w.name();
  field_rec f;
  f.set_text_from_template("{blob}", static_cast<u32>(size), w.t, w.index);
  f.name = (name.empty() ? "skip" : name) + "_" + std::to_string(size) + "_bytes";
  w.store(w.key(), f);
  return {size, true};
}

// "-" for a field whose size the payload could not give.
field_step store_placeholder(special_walk& w) {
  field_rec f;
  f.set_text_from_template("-", 0, w.t, w.index);
  f.placeholder_flag = 1;
  w.store(marker_key(w.key()), f);
  return nothing;
}

field_step store_bytes(special_walk& w, u64 size, const std::string& name = "") {
  if (size == 0) return nothing;
  field_rec f;
  f.set_from_template(w.rest().first(size), w.t, w.index, name);
  w.store(w.key(), f);
  return {size, true};
}

// `size` bytes as 8-bit text, 0 bytes kept in it.
field_step store_narrow(special_walk& w, u64 size) {
  if (size == 0) return nothing;
  const std::span<const u8> raw = w.rest().first(size);
  std::string text(raw.begin(), raw.end());
  mark_line_endings(text);
  field_rec f;
  f.set_text_from_template(text, static_cast<u32>(size), w.t, w.index);
  w.store(w.key(), f);
  return {size, true};
}

// `count` numbers of `size` bytes from the field's first byte, each a field
// of its own; the caller has bounded count x size by the bytes left.
void store_elements(special_walk& w, u64 count, u64 size, u8 in_type, bool indexed) {
  for (u64 i = 0; i < count; ++i) {
    field_rec f;
    // the element arrays of a fixed count keep the template word's high byte
    if (!indexed) f.high_byte = static_cast<u8>(w.word >> 8);
    const std::string name = indexed ? w.name() + "[" + std::to_string(i) + "]" : "";
    f.set_raw(w.rest().subspan(i * size, size), in_type, name, 1, false);
    w.store(w.key() + i * size, f);
  }
}

struct text_list {
  u64 count;        // the most texts to read
  bool utf16;       // UTF-16LE, else 8-bit
  bool indexed;     // names get "[i]"
  u64 fewest_left;  // fewer bytes than this before a text: the rest of the payload is spent
};

// Texts one after another, each to its terminator and never past the payload.
field_step store_text_list(special_walk& w, const text_list& list) {
  const std::span<const u8> rest = w.rest();
  u64 offset = 0;
  for (u64 i = 0; i < list.count; ++i) {
    if (rest.size() - offset < list.fewest_left) return {rest.size(), true};
    const std::span<const u8> from = rest.subspan(offset);
    const payload_text p = list.utf16 ? utf16z_text(from, from.size()) : ansiz_text(from);
    // a lone byte holds no UTF-16 unit: nothing more to read
    if (p.covered == 0) break;
    field_rec f;
    f.set_text_from_template(p.empty ? "-" : p.text, static_cast<u32>(p.covered), w.t, w.index);
    f.placeholder_flag = p.empty ? 1 : 0;
    if (list.indexed) f.name = w.name() + "[" + std::to_string(i) + "]";
    w.store(w.key() + offset, f);
    offset += p.covered;
  }
  return {offset, true};
}

field_step read_guess_marker(special_walk& w) {
  field_rec f;
  f.set_text_from_template("{guess}", 0, w.t, w.index);
  // before the placeholder that a field at the same offset may leave
  w.store({w.key(), key_rank::event_name}, f);
  return nothing;
}

field_step read_slot32(special_walk& w) {
  if (w.left() < slot32_size) return nothing;
  std::string text;
  (void)utf16le_to_utf8(w.rest().first(slot32_size), text, byte_limit(slot32_size), false);
  field_rec f;
  f.set_text_from_template(text.empty() ? "-" : text, slot32_size, w.t, w.index);
  f.placeholder_flag = text.empty() ? 1 : 0;
  // an empty slot is a marker and sorts before what the next field puts here
  w.store(text.empty() ? marker_key(w.key()) : w.key(), f);
  return {slot32_size, true};
}

field_step read_length_at_n(special_walk& w, u8 width) {
  const std::span<const u8> rest = w.rest();
  // the length lies at byte n; the field starts at byte 0 and includes it
  if (!zarn::fits(rest.size(), w.n, 4)) return nothing;
  const u64 length = zarn::le_at(rest, w.n, width);
  if (length > rest.size()) return nothing;
  return store_bytes(w, length);
}

field_step read_length_next_word(special_walk& w) {
  // the next template word holds the length, not a field
  if (w.index + 1 >= w.t.types.size()) return nothing;
  const u64 size = w.t.types[w.index + 1];
  if (size > w.left()) return nothing;
  if (w.word == blob_by_next_word) return store_blob(w, size);
  if (w.word == bytes_by_next_word) return store_bytes(w, size);
  return nothing;
}

field_step read_elements_n(special_walk& w, const special_word_row& row) {
  const u64 size = row.width != 0 ? row.width : w.pointer_size();
  const u64 total = std::min<u64>(w.n * size, w.left());
  // an element cut by the end of the payload makes no field
  store_elements(w, total / size, size, row.in_type, false);
  return {total, true};
}

field_step read_back_utf16(special_walk& w, u64 count) {
  // a count of characters, unless twice it runs past the payload: then of bytes
  const u64 limit = count <= w.left() / 2 ? count * 2 : count;
  const payload_text p = utf16z_text(w.rest(), limit);
  // a text that fills its count of bytes exactly was given in bytes
  const u64 size = p.covered * 2 == limit ? p.covered : limit;
  field_rec f;
  f.set_text_from_template(p.empty ? "-" : p.text, static_cast<u32>(size), w.t, w.index);
  f.placeholder_flag = p.empty ? 1 : 0;
  w.store(w.key(), f);
  return {size, true};
}

field_step read_back_bytes(special_walk& w, u64 count) {
  const std::span<const u8> raw = w.rest().first(count);
  field_rec f;
  f.set_from_template(raw, w.t, w.index, "");
  if (count >= 5 && raw[0] >= 32 && raw[0] <= 125) {
    std::vector<std::string> runs;
    std::vector<u64> offsets;
    (void)extract_ascii_strings(raw, 5, runs, offsets, true, false);
    if (!runs.empty() && runs[0].size() >= count - 1) {
      f.value = runs[0];
    } else if (raw[1] == 0 && raw[3] == 0) {
      std::string text;
      const i32 covered = utf16le_to_utf8(raw, text, byte_limit(count), true);
      if (covered > 5 && static_cast<u64>(covered) == count) f.value = text;
    }
  }
  w.store(w.key(), f);
  return {count, true};
}

field_step read_back_elements(special_walk& w, const special_word_row& row, u64 count) {
  const u64 size = row.width != 0 ? row.width : w.pointer_size();
  // the count fits the bytes left but the elements may not: the bytes after
  // them cannot be placed, so the walk ends and leaves them to guessing
  if (count > w.left() / size) return end_walk;
  store_elements(w, count, size, row.in_type, true);
  return {count * size, true};
}

// The kinds sized by an earlier field: without n nothing, and a count the
// payload cannot back leaves a placeholder.
field_step read_back_sized(special_walk& w, const special_word_row& row) {
  if (w.n == 0) return nothing;
  u64 count = 0;
  if (!back_value(w, count)) return store_placeholder(w);
  switch (row.kind) {
    case special_kind::back_ansi: return store_narrow(w, count);
    case special_kind::back_utf16: return read_back_utf16(w, count);
    case special_kind::back_utf16_list: return store_text_list(w, {count, true, false, 3});
    case special_kind::back_ansi_list: return store_text_list(w, {count, false, false, 2});
    case special_kind::back_bytes: return read_back_bytes(w, count);
    case special_kind::back_elements: return read_back_elements(w, row, count);
    default: return nothing;
  }
}

// A USB, URB or PCI structure. The isochronous packets take their count
// from an earlier field (0, which decodes nothing, when it gives none).
field_step read_usb_structure(special_walk& w) {
  const u16 word_class = class_of(w.word);
  if (word_class == iso_packets_word) {
    if (w.n == 0) return nothing;
    u64 count = 0;
    (void)back_value(w, count);
    return {decode_iso_packets(w.map, w.rest(), w.key(), count), true};
  }
  const usb_decoder_row* row = find_usb_decoder(word_class);
  if (row == nullptr) return nothing;
  return {row->decode(w.map, w.rest(), w.key(), w.pointer64), true};
}

field_step read_special(special_walk& w, const special_word_row& row) {
  switch (row.kind) {
    case special_kind::guess_marker: return read_guess_marker(w);
    case special_kind::app_hash:
      return w.left() >= app_hash_size ? store_bytes(w, app_hash_size, "AppHash") : nothing;
    case special_kind::sqm:
      // a record it could read takes the rest of the payload
      return decode_sqm(w.map, w.rest(), w.key()) ? field_step{w.left(), true} : nothing;
    case special_kind::usb_decoder: return read_usb_structure(w);
    case special_kind::blob_rest: return store_blob(w, w.left());
    case special_kind::utf16_slot32: return read_slot32(w);
    case special_kind::length_at_n: return read_length_at_n(w, row.width);
    case special_kind::length_next_word: return read_length_next_word(w);
    case special_kind::blob_n_units: {
      const u64 size = u64{w.n} * row.width;
      return size <= w.left() ? store_blob(w, size) : nothing;
    }
    case special_kind::blob_back: {
      u64 size = 0;
      return back_value(w, size) ? store_blob(w, size) : nothing;
    }
    case special_kind::bytes_n: return store_bytes(w, std::min<u64>(w.n, w.left()));
    case special_kind::ansi_n: return store_narrow(w, std::min<u64>(w.n, w.left()));
    case special_kind::elements_n: return read_elements_n(w, row);
    case special_kind::utf16_list_n: return store_text_list(w, {w.n, true, true, 1});
    case special_kind::ansi_list_n: return store_text_list(w, {w.n, false, true, 1});
    case special_kind::back_ansi:
    case special_kind::back_utf16:
    case special_kind::back_utf16_list:
    case special_kind::back_ansi_list:
    case special_kind::back_bytes:
    case special_kind::back_elements: return read_back_sized(w, row);
  }
  return nothing;
}

}  // namespace


i32 decode_special_field(const event_template& t, field_map& map, std::span<const u8> rest,
                         u32 index, u64 key, bool pointer64) {
  if (index >= t.types.size()) return 0;
  const u16 word = t.types[index];
  const special_word_row* row = find_special_word(word);
  if (row == nullptr) return 0;
  const u8 n = n_of(word);
  special_walk w{{t, map, rest, key, pointer64, 0, index}, word, n};
  const field_step step = read_special(w, *row);
  if (!step.go_on) return special_field_ends_walk;
  assert(step.used <= rest.size() && "an extension field used more than the bytes left");
  return byte_limit(step.used);
}
