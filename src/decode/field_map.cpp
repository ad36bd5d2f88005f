#include "decode/field_map.hpp"

#include <cassert>
#include <stdexcept>

#include "common/byte_reader.hpp"
#include "decode/template_map.hpp"

bool field_rec::take_template_word(const event_template& t, u32 index) {
  if (index >= t.types.size()) return false;
  const u16 word = t.types[index];
  in_type = static_cast<u8>(word & 0xFF);
  high_byte = static_cast<u8>(word >> 8);
  name = index < t.names.size() ? t.names[index] : std::string();
  return true;
}

void field_rec::set_number(u64 value, u32 field_size, u8 type, const std::string& field_name,
                           u8 flag) {
  clear();
  number = value;
  size = field_size;
  in_type = type;
  name = field_name;
  element_flag = flag;
}

void field_rec::set_text(const std::string& text, u32 field_size, u8 type,
                         const std::string& field_name, u8 flag) {
  clear();
  value = text;
  size = field_size;
  in_type = type;
  name = field_name;
  element_flag = flag;
}

void field_rec::set_number_from_template(u64 v, u32 field_size, const event_template& t,
                                         u32 index) {
  clear();
  if (!take_template_word(t, index)) return;
  number = v;
  size = field_size;
}

void field_rec::set_text_from_template(const std::string& text, u32 field_size,
                                       const event_template& t, u32 index) {
  clear();
  if (!take_template_word(t, index)) return;
  value = text;
  size = field_size;
}

void field_rec::set_raw(std::span<const u8> raw, u8 type, const std::string& field_name, u8 flag,
                        bool clear_first) {
  if (clear_first) clear();
  if (raw.empty()) return;
  size = static_cast<u32>(raw.size());
  in_type = type;
  name = field_name;
  element_flag = flag;
  if (raw.size() == 1 || raw.size() == 2 || raw.size() == 4 || raw.size() == 8) {
    number = zarn::le_at(raw, 0, raw.size());
  } else {
    bytes.assign(raw.begin(), raw.end());
  }
}

void field_rec::set_bytes(std::span<const u8> raw, u8 type, const std::string& field_name,
                          u8 flag) {
  clear();
  size = static_cast<u32>(raw.size());
  in_type = type;
  name = field_name;
  element_flag = flag;
  bytes.assign(raw.begin(), raw.end());
}

void field_rec::set_from_template(std::span<const u8> raw, const event_template& t, u32 index,
                                  const std::string& name_override) {
  clear();
  if (!take_template_word(t, index)) return;
  if (!name_override.empty()) name = name_override;
  size = static_cast<u32>(raw.size());
  bytes.assign(raw.begin(), raw.end());
}

void field_rec::clear() {
  in_type = 0;
  high_byte = 0;
  element_flag = 0;
  placeholder_flag = 0;
  name.clear();
  value.clear();
  number = 0;
  bytes.clear();
  size = 0;
  assert(*this == field_rec{});
}

field_map::field_map(std::initializer_list<value_type> entries) {
  for (const value_type& e : entries) (void)emplace(e.first, e.second);
}

field_rec& field_map::next_slot() {
  field_rec& f = spare();
  f.clear();
  return f;
}

std::pair<field_map::iterator, bool> field_map::emplace(field_key key, field_rec&& f) {
  if (!is_spare(f)) spare() = std::move(f);
  return place(key);
}

field_rec& field_map::at(field_key key) {
  const iterator it = find(key);
  if (it == end()) throw std::out_of_range("no field at this key");
  return it->second;
}

const field_rec& field_map::at(field_key key) const {
  const const_iterator it = find(key);
  if (it == end()) throw std::out_of_range("no field at this key");
  return it->second;
}

void field_map::merge(field_map& other) {
  field_map rest;
  for (value_type& e : other) {
    if (!emplace(e.first, field_rec(e.second)).second) (void)rest.emplace(e.first, std::move(e.second));
  }
  other = std::move(rest);
}
