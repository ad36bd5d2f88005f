#include "decode/apply_template.hpp"

#include <algorithm>
#include <cassert>

#include "common/byte_reader.hpp"
#include "common/zarn_bytes.hpp"
#include "common/zarn_string.hpp"
#include "common/zarn_time.hpp"
#include "common/zarn_time_text.hpp"
#include "decode/decode_scratch.hpp"
#include "decode/special_field.hpp"
#include "decode/template_map.hpp"

namespace {

field_step read_number(template_walk& w, u64 size) {
  const std::span<const u8> rest = w.rest();
  if (rest.size() < size) return end_walk;
  field_rec& f = w.slot();
  f.set_number_from_template(zarn::le_at(rest, 0, size), static_cast<u32>(size), w.t, w.index);
  w.store(w.key(), f);
  return {size, true};
}

field_step read_bool4(template_walk& w) {
  if (w.rest().size() < 4) return end_walk;
  field_rec& f = w.slot();
  // the first byte decides; the other three are padding
  f.set_number_from_template(zarn::u8_at(w.rest(), 0), 4, w.t, w.index);
  w.store(w.key(), f);
  return {4, true};
}

field_step read_filetime(template_walk& w) {
  if (w.rest().size() < 8) return end_walk;
  const u64 value = zarn::u64_at(w.rest(), 0);
  field_rec& f = w.slot();
  f.set_number_from_template(value, 8, w.t, w.index);
  const zarn::time t(value, zarn::type_time::filetime);
  if (value != 0 && t.is_valid()) f.value = number_with_time(value, 16, t);
  w.store(w.key(), f);
  return {8, true};
}

field_step read_unix_time(template_walk& w) {
  if (w.rest().size() < 4) return end_walk;
  const u32 value = zarn::u32_at(w.rest(), 0);
  field_rec& f = w.slot();
  f.set_number_from_template(value, 4, w.t, w.index);
  const zarn::time t(value, zarn::type_time::unix_time);
  if (value != 0 && t.is_valid()) f.value = number_with_time(value, 8, t);
  w.store(w.key(), f);
  return {4, true};
}

field_step read_systemtime(template_walk& w) {
  zarn::_windows_systemtime st;
  if (!zarn::read_systemtime(w.rest(), st)) return end_walk;
  const std::span<const u8> raw = w.rest().first(zarn::systemtime_size);
  field_rec& f = w.slot();
  f.set_from_template(raw, w.t, w.index, "");
  const zarn::time t(st);
  if (t.is_valid()) f.value = systemtime_text(raw, t);
  w.store(w.key(), f);
  return {zarn::systemtime_size, true};
}

field_step read_raw16(template_walk& w, bool is_guid) {
  const std::span<const u8> rest = w.rest();
  // cut by the end of the payload: the walk ends, and guessing shows the bytes
  if (rest.size() < 16) return end_walk;
  const bool unnamed = w.index >= w.t.names.size() || w.t.names[w.index].empty();
  field_rec& f = w.slot();
  f.set_from_template(rest.first(16), w.t, w.index, is_guid && unnamed ? "guid" : "");
  w.store(w.key(), f);
  return {16, true};
}

// A text field whose value is the "-" placeholder of an empty text.
void store_empty_text(template_walk& w, u32 size) {
  field_rec& f = w.slot();
  f.set_text_from_template("-", size, w.t, w.index);
  f.placeholder_flag = 1;
  w.store(w.key(), f);
}

// `p` holds the text while it is read: its storage serves every such field.
field_step read_utf16z(template_walk& w, payload_text& p) {
  const std::span<const u8> rest = w.rest();
  // the terminator test needs one whole unit
  if (rest.size() < 2) return end_walk;
  read_utf16z_text(p, rest, rest.size());
  if (p.empty) {
    store_empty_text(w, 0);
    return {2, true};
  }
  field_rec& f = w.slot();
  f.set_text_from_template(p.text, static_cast<u32>(p.covered), w.t, w.index);
  w.store(w.key(), f);
  return {p.covered, true};
}

field_step read_ansiz(template_walk& w) {
  payload_text p = ansiz_text(w.rest());
  if (p.empty) {
    store_empty_text(w, 1);
    return {1, true};
  }
  field_rec& f = w.slot();
  f.set_text_from_template(p.text, static_cast<u32>(p.covered), w.t, w.index);
  w.store(w.key(), f);
  return {p.covered, true};
}

field_step read_sid(template_walk& w) {
  const std::string text = sid_to_string(w.rest());
  // bytes that are no SID: the next word must not read them as one
  if (text.empty()) return end_walk;
  const u32 length = sid_length(w.rest());
  field_rec& f = w.slot();
  f.set_text_from_template(text, length, w.t, w.index);
  w.store(w.key(), f);
  return {length, true};
}

field_step read_counted_utf16(template_walk& w) {
  const std::span<const u8> rest = w.rest();
  if (rest.size() < 2) return end_walk;
  const u16 count = zarn::u16_at(rest, 0);
  // a count beyond the payload: the walk ends at the count, and guessing shows
  // the bytes from there
  if (count > rest.size() - 2) return end_walk;
  std::string text;
  (void)utf16le_to_utf8(rest.subspan(2, count), text, count, false);
  field_rec& f = w.slot();
  f.set_text_from_template(text, count, w.t, w.index);
  w.store(w.key() + 2, f);
  return {u64{2} + count, true};
}

field_step read_utf16_slot(template_walk& w, u64 slot) {
  // the text ends at its 0 unit and never reads past its slot or the payload
  const std::span<const u8> rest = w.rest();
  const std::span<const u8> held = rest.first(std::min<u64>(slot, rest.size()));
  std::string text;
  (void)utf16le_to_utf8(held, text, static_cast<i32>(held.size()), false);
  field_rec& f = w.slot();
  if (text.empty()) {
    // an empty slot shows as an empty text, not as its hundreds of zero bytes
    f.set_text_from_template("-", static_cast<u32>(slot), w.t, w.index);
    f.placeholder_flag = 1;
  } else {
    f.set_text_from_template(text, static_cast<u32>(slot), w.t, w.index);
  }
  w.store(w.key(), f);
  return {slot, true};
}

field_step store_blob_marker(template_walk& w, field_key at, u64 used) {
  field_rec& f = w.slot();
  f.set_text_from_template("{blob}", 0, w.t, w.index);
  w.store(at, f);
  return {used, used != 0};
}

field_step read_field(template_walk& w, const in_type_row& row, decode_scratch& scratch) {
  switch (row.kind) {
    case in_kind::utf16z: return read_utf16z(w, scratch.utf16);
    case in_kind::ansiz: return read_ansiz(w);
    case in_kind::number: return read_number(w, row.size);
    case in_kind::bool4: return read_bool4(w);
    case in_kind::pointer: return read_number(w, w.pointer64 ? 8 : 4);
    case in_kind::guid16: return read_raw16(w, true);
    case in_kind::raw16: return read_raw16(w, false);
    case in_kind::filetime: return read_filetime(w);
    case in_kind::systemtime: return read_systemtime(w);
    case in_kind::unix_time: return read_unix_time(w);
    case in_kind::sid: return read_sid(w);
    case in_kind::counted_utf16: return read_counted_utf16(w);
    case in_kind::utf16_slot: return read_utf16_slot(w, row.size);
    // The walk ends before a blob of unknown length, which guessing then
    // reads: its marker must not take the key of guessing's first field.
    case in_kind::blob_unknown: return store_blob_marker(w, marker_key(w.key()), 0);
    case in_kind::blob_rest: return store_blob_marker(w, w.key(), w.rest().size());
  }
  return end_walk;
}

}  // namespace

i32 apply_template(const event_template& t, field_map& map, std::span<const u8> payload,
                   u64 base_key, bool pointer64, decode_scratch& scratch) {
  if (payload.empty()) {
    if (!t.types.empty() && (t.types[0] == comment_word || t.types[0] == word_class::guess_marker)) {
      field_rec f;
      f.set_text_from_template("{comment}", 0, t, 0);
      map.emplace(base_key, std::move(f));
    }
    return 0;
  }
  template_walk w{t, map, payload, base_key, pointer64};
  while (w.index < t.types.size() && w.position < payload.size()) {
    const u16 word = t.types[w.index];
    if (word == 0) break;
    if (is_extension_word(word)) {
      const i32 used = decode_special_field(t, map, w.rest(), w.index, w.key(), pointer64);
      if (used == special_field_ends_walk) break;
      // the decoder never uses more than the bytes left
      assert(used >= 0 && static_cast<u64>(used) <= w.rest().size());
      w.position += static_cast<u64>(used);
      w.index += takes_next_word(word) ? 2 : 1;
      continue;
    }
    const in_type_row* row = find_in_type(static_cast<u8>(word & 0xFF));
    if (row == nullptr) break;
    const field_step step = read_field(w, *row, scratch);
    w.position += step.used;
    if (!step.go_on) break;
    ++w.index;
  }
  return static_cast<i32>(w.position);
}
