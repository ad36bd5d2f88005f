#pragma once
// One event's decoded fields: an ordered map from the file offset of a
// field's first byte to the field, so iteration is payload order.
#include <initializer_list>
#include <utility>
#include <vector>
#include <span>
#include <string>

#include "common/guid.hpp"
#include "common/zarn_types.hpp"
#include "decode/kept_store.hpp"

struct event_template;

struct field_rec {
  u8 in_type = 0;           // low byte of the type word, or the in-type given by its maker
  u8 high_byte = 0;         // bits 8-15 of the template type word; 0 without one
  u8 element_flag = 0;      // 1 on guessed, element-array and payload-decoder fields
  u8 placeholder_flag = 0;  // 1 when the value text is the "-" placeholder
  std::string name;         // may be empty
  std::string value;        // UTF-8 value text of text-like fields
  u64 number = 0;           // value of numeric fields
  byte_array bytes;         // raw bytes of byte fields
  u32 size = 0;             // payload bytes covered; 0 for marker fields

  // Member by member: a record reused event after event keeps its texts'
  // storage. Built with assertions, it checks that the record then equals a
  // new one, so that a member left out cannot carry a value to the next field.
  void clear();
  bool operator==(const field_rec&) const = default;

  // Each setter clears the record first (set_raw only when asked to), then
  // fills what it names. The _from_template setters take the in-type, the
  // high byte and the name from the template's type word and name at
  // `index`; an index past the template's type words leaves the record
  // cleared.
  void set_number(u64 value, u32 field_size, u8 type, const std::string& field_name, u8 flag);
  void set_text(const std::string& text, u32 field_size, u8 type, const std::string& field_name,
                u8 flag);
  void set_number_from_template(u64 value, u32 field_size, const event_template& t, u32 index);
  void set_text_from_template(const std::string& text, u32 field_size, const event_template& t,
                              u32 index);
  // Sizes 1, 2, 4 and 8 are read little-endian into the number; any other
  // size is copied into the bytes. Empty bytes fill nothing.
  void set_raw(std::span<const u8> raw, u8 type, const std::string& field_name, u8 flag,
               bool clear_first);
  void set_bytes(std::span<const u8> raw, u8 type, const std::string& field_name, u8 flag);
  // The name is `name_override` when it is not empty, else the template's.
  void set_from_template(std::span<const u8> raw, const event_template& t, u32 index,
                         const std::string& name_override);

 private:
  // In-type, high byte and name from the template; false (record left as
  // is) when the index is past its type words.
  bool take_template_word(const event_template& t, u32 index);
};

// Where an entry sorts in its event. A marker stands for bytes that were not
// read where it sits (a blob of unknown length, a field whose size the payload
// could not give, the event name of a self-describing event); it sorts after
// every field before its offset and before the field that a later decoder
// (guessing, most often) puts at that same offset, so that neither is lost.
enum class key_rank : u8 {
  event_name = 0,  // the "{guess}" marker that names a self-describing event
  marker = 1,      // "{blob}" and "-" markers
  field = 2,       // a field that covers bytes from its offset on
};

struct field_key {
  u64 offset = 0;  // file offset of the entry's first byte
  key_rank rank = key_rank::field;

  // A plain offset is the key of a field.
  constexpr field_key(u64 at = 0, key_rank r = key_rank::field) : offset(at), rank(r) {}
  friend constexpr auto operator<=>(const field_key&, const field_key&) = default;
};

// The ordered map of one event's fields, by key. Insertion never replaces:
// the first field decoded at a key stays. A map emptied for the next event
// keeps its fields' storage.
class field_map : public kept_store<field_key, field_rec> {
 public:
  field_map() = default;
  field_map(std::initializer_list<value_type> entries);

  // The field at `key` unless one is held there already; the bool tells
  // which. The hint is not needed: the end is tried first.
  std::pair<iterator, bool> emplace(field_key key, field_rec&& f);
  std::pair<iterator, bool> emplace(field_key key, const field_rec& f) {
    return emplace(key, field_rec(f));
  }
  iterator emplace_hint(const_iterator, field_key key, field_rec&& f) {
    return emplace(key, std::move(f)).first;
  }
  // A decoder may fill the next field in place: next_slot() gives a cleared
  // record in the storage past the end (keeping an earlier event's text
  // storage), and emplace() with that very record places it without a copy.
  // Nothing else may be added between the two.
  field_rec& next_slot();
  // The field at `key`, a cleared one made there when none is held.
  field_rec& operator[](field_key key) { return emplace(key, field_rec{}).first->second; }
  // The field at `key`; std::out_of_range when none is held.
  field_rec& at(field_key key);
  const field_rec& at(field_key key) const;
  // Takes every field of `other` whose key this map does not hold.
  void merge(field_map& other);
};
