#include "decode/extended_item.hpp"

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "common/byte_reader.hpp"
#include "common/guid.hpp"
#include "common/zarn_bytes.hpp"
#include "common/zarn_string.hpp"
#include "decode/type_words.hpp"
#include "decode/template_map.hpp"

using zarn::u16_at;
using zarn::u32_at;
using zarn::u64_at;

namespace {

constexpr u64 guid_size = 16;

// Provider traits data: u16 total size, the provider's name with its NUL,
// then traits of u16 size, u8 type and data. A trait of 19 bytes holds a
// GUID (the provider group).
namespace traits {
constexpr u64 name = 2;
constexpr u16 guid_trait_size = 19;
constexpr u64 trait_guid = 3;  // after the trait's size and type
}  // namespace traits

// Event schema data, as self-describing providers write it:
//   u16 size of the schema
//   event tags: bytes with bit 7 set, then one byte without it
//   the event name, NUL-terminated
//   per field: its name, NUL-terminated; the in-type byte; when the in-type
//   has bit 7 set, an out-type byte, and when that has bit 7 set the field's
//   tags (as the event's); a u16 element count for a constant-count array;
//   a u16 size and that many bytes for a field with a custom layout.
namespace schema {
constexpr u8 type_mask = 0x1F;
constexpr u8 count_mask = 0x60;
constexpr u8 constant_count = 0x20;  // the element count is in the schema
constexpr u8 variable_count = 0x40;  // a u16 element count precedes the elements
constexpr u8 custom_layout = 0x60;   // a u16 byte length precedes the bytes
constexpr u8 chain = 0x80;           // another byte of the same part follows
constexpr u8 members_mask = 0x7F;    // a structure's out-type: its member count
// the template's leading word names the event: a "{guess}" marker
constexpr u16 name_word = word_class::guess_marker;
constexpr u16 length_word = in_type::uint16;  // a u16 count or length ahead of the values
// What one schema may cost stays bounded however large the counts it
// states; what does not fit is guessed. Counts multiply through nested
// structure arrays, and an element that adds no word (an empty structure)
// would repeat without ever reaching the word limit, so every field visit
// and every element repetition is a step of a fixed budget; and a long name
// is copied into every word that repeats it, so the names' bytes have
// their own limit.
constexpr std::size_t max_words = 4096;
constexpr u32 max_steps = 16 * max_words;
constexpr std::size_t max_name_bytes = std::size_t{1} << 20;
constexpr int max_depth = 16;        // structures inside structures
}  // namespace schema

struct schema_field {
  std::string name;
  u8 type = 0;        // the in-type's low five bits
  u8 count_kind = 0;  // 0, or one of the count kinds above
  u16 count = 0;      // elements of a constant-count array
  u8 members = 0;     // a structure's member count
};

// Types written as a u16 byte length and then the bytes: the word that
// takes the length from the field decoded just before.
struct length_prefixed_row {
  u8 type;
  u16 word;
};
constexpr std::array<length_prefixed_row, 3> length_prefixed_types = {{
    {in_type::binary, with_n(word_class::back_bytes, 1)},
    {schema_type::counted_ansi, with_n(word_class::back_ansi, 1)},
    {schema_type::counted_binary, with_n(word_class::back_bytes, 1)},
}};

// Variable-count arrays the type words can express: the word that reads as
// many elements as the count field decoded just before says.
struct array_row {
  u8 type;
  u16 word;
};
constexpr std::array<array_row, 6> variable_array_words = {{
    {in_type::utf16_text, with_n(word_class::back_utf16_list, 1)},
    {in_type::int8, with_n(word_class::back_bytes, 1)},
    {in_type::uint8, with_n(word_class::back_bytes, 1)},
    {in_type::int32, with_n(word_class::back_u32s, 1)},
    {in_type::uint32, with_n(word_class::back_u32s, 1)},
    {in_type::hex_int32, with_n(word_class::back_u32s, 1)},
}};

// A NUL-terminated name inside the schema; false (nothing consumed) when no
// NUL comes before the end of the item's data.
bool read_name(zarn::byte_reader& r, std::string& out) {
  const std::span<const u8> rest = r.rest();
  const auto nul = std::find(rest.begin(), rest.end(), u8{0});
  if (nul == rest.end()) return false;
  out.assign(rest.begin(), nul);
  const u64 length = out.size();
  // a line break in a name would split the event's row
  mark_line_endings(out);
  return r.skip(length + 1);
}

// Tag bytes: every byte with bit 7 set and the one that ends them.
bool skip_tags(zarn::byte_reader& r) {
  u8 b = 0;
  do {
    if (!r.read_u8(b)) return false;
  } while ((b & schema::chain) != 0);
  return true;
}

bool read_schema_field(zarn::byte_reader& r, schema_field& f) {
  u8 in_type = 0;
  if (!read_name(r, f.name) || !r.read_u8(in_type)) return false;
  f.type = in_type & schema::type_mask;
  f.count_kind = in_type & schema::count_mask;
  if ((in_type & schema::chain) != 0) {
    u8 out_type = 0;
    if (!r.read_u8(out_type)) return false;
    f.members = out_type & schema::members_mask;
    if ((out_type & schema::chain) != 0 && !skip_tags(r)) return false;
  }
  if (f.count_kind == schema::constant_count && !r.read_u16(f.count)) return false;
  if (f.count_kind == schema::custom_layout) {
    u16 layout_size = 0;
    if (!r.read_u16(layout_size) || !r.skip(layout_size)) return false;
  }
  return true;
}

// For every field, the index after it and, for a structure, after all its
// members; 0 where a structure's members run past the last field (a cut
// schema). Built from the last field back, each structure stepping over its
// members' own spans, so the whole list costs one pass.
std::vector<std::size_t> field_ends(const std::vector<schema_field>& fields) {
  std::vector<std::size_t> ends(fields.size(), 0);
  for (std::size_t i = fields.size(); i-- > 0;) {
    std::size_t next = i + 1;
    if (fields[i].type == schema_type::structure) {
      for (u8 m = 0; m < fields[i].members && next != 0; ++m) {
        next = next < fields.size() ? ends[next] : 0;
      }
    }
    ends[i] = next;
  }
  return ends;
}

// Turns schema fields into type words, stopping at the first field whose
// layout no word expresses or when the schema's budget is spent.
class word_builder {
 public:
  word_builder(event_template& t, const std::vector<schema_field>& fields)
      : t_(t), fields_(fields), ends_(field_ends(fields)) {}

  void add_all() {
    std::size_t i = 0;
    while (i < fields_.size() && add_field(i, "", 0)) i = ends_[i];
  }

 private:
  // One step of the schema's work; false once the budget is spent.
  bool charge() {
    if (steps_ >= schema::max_steps) return false;
    ++steps_;
    return true;
  }

  bool add_word(u16 word, std::string name) {
    if (t_.types.size() >= schema::max_words) return false;
    if (name.size() > schema::max_name_bytes - name_bytes_) return false;
    name_bytes_ += name.size();
    t_.add_field(word, name);
    return true;
  }

  // One value of a scalar type.
  bool add_value(u8 type, const std::string& name) {
    for (const length_prefixed_row& row : length_prefixed_types) {
      if (row.type == type) {
        return add_word(schema::length_word, name + "_length") && add_word(row.word, name);
      }
    }
    if (type == 0 || find_in_type(type) == nullptr) return false;
    return add_word(type, name);
  }

  // Field i; `index` is the element index of the structure array around it
  // ("" outside one), written after the field's name.
  bool add_field(std::size_t i, const std::string& index, int depth) {
    if (!charge()) return false;
    const schema_field& f = fields_[i];
    if (f.type == schema_type::structure) return add_structure(i, depth);
    const std::string name = f.name + index;
    switch (f.count_kind) {
      case 0:
        return add_value(f.type, name);
      case schema::constant_count:
        for (u16 k = 0; k < f.count; ++k) {
          if (!charge() || !add_value(f.type, name + "[" + std::to_string(k) + "]")) return false;
        }
        return true;
      case schema::variable_count:
        for (const array_row& row : variable_array_words) {
          if (row.type == f.type) {
            return add_word(schema::length_word, name + "_count") && add_word(row.word, name);
          }
        }
        return false;
      default:  // custom layout: its bytes, after their length
        return add_word(schema::length_word, name + "_length") &&
               add_word(with_n(word_class::back_bytes, 1), name);
    }
  }

  // A structure's members, once or (a constant-count array of structures)
  // once per element; a structure array counted in the payload is not
  // expressible. Every element has the same layout, so once one adds no
  // word the rest would add none either and the repetition ends.
  bool add_structure(std::size_t i, int depth) {
    const schema_field& f = fields_[i];
    if (depth >= schema::max_depth) return false;
    const bool array = f.count_kind == schema::constant_count;
    if (f.count_kind != 0 && !array) return false;
    const u16 elements = array ? f.count : 1;
    const std::size_t end = ends_[i];
    if (end == 0) return false;
    for (u16 k = 0; k < elements; ++k) {
      if (!charge()) return false;
      const std::size_t words_before = t_.types.size();
      const std::string index = array ? "[" + std::to_string(k) + "]" : "";
      for (std::size_t j = i + 1; j < end; j = ends_[j]) {
        if (!add_field(j, index, depth + 1)) return false;
      }
      if (t_.types.size() == words_before) break;
    }
    return true;
  }

  event_template& t_;
  const std::vector<schema_field>& fields_;
  const std::vector<std::size_t> ends_;
  u32 steps_ = 0;
  std::size_t name_bytes_ = 0;
};

void decode_provider_traits(field_rec& f, std::span<const u8> data) {
  // the traits' own total size is not trusted: they are read within the item
  if (data.size() <= traits::name) return;
  const std::span<const u8> rest = data.subspan(traits::name);
  const u8 first = rest[0];
  const u8 second = rest.size() > 1 ? rest[1] : 0;
  if (first != 0 && second != 0) {
    const auto nul = std::find(rest.begin(), rest.end(), u8{0});
    const std::string name(rest.begin(), nul);
    f.set_text(name, static_cast<u32>(name.size()), ext_item_type::provider_traits, "utf8", 0);
    return;
  }
  if (first != 0) {
    std::string name;
    const i32 covered = utf16le_to_utf8(rest, name, static_cast<i32>(rest.size()), true);
    f.set_text(name, static_cast<u32>(std::max(covered, 0)), ext_item_type::provider_traits, "utf16",
               0);
    return;
  }
  // no name: the first trait follows the NUL
  const std::span<const u8> trait = rest.subspan(1);
  u16 trait_size = 0;
  if (!zarn::read_u16_at(trait, 0, trait_size) || trait_size != traits::guid_trait_size) return;
  if (!zarn::fits(trait.size(), traits::trait_guid, guid_size)) return;
  const std::string text = guid_to_string(guid(trait.data() + traits::trait_guid));
  f.set_text(text, guid_size, ext_item_type::provider_traits, "guid", 0);
}

void decode_item_data(field_rec& f, u16 type, std::span<const u8> data) {
  switch (type) {
    case ext_item_type::related_activity:
      if (data.size() < guid_size) return;
      f.set_text(guid_to_string(guid(data.data())), guid_size, static_cast<u8>(type), "guid", 0);
      f.bytes.assign(data.begin(), data.begin() + guid_size);
      return;
    case ext_item_type::sid: {
      const u32 length = sid_length(data);
      if (length == 0 || length > data.size()) return;
      const std::string text = sid_to_string(data.first(length));
      if (!text.empty()) f.set_text(text, length, static_cast<u8>(type), "sid", 0);
      return;
    }
    case ext_item_type::session_id:
      if (data.size() >= 4) f.set_number(u32_at(data, 0), 4, static_cast<u8>(type), "value", 0);
      return;
    case ext_item_type::event_key:
    case ext_item_type::process_start_key:
      if (data.size() >= 8) f.set_number(u64_at(data, 0), 8, static_cast<u8>(type), "value", 0);
      return;
    case ext_item_type::provider_traits:
      decode_provider_traits(f, data);
      return;
    default:  // instance data, stack traces, counters and the like: no field
      return;
  }
}

// True when the walk that reaches `item` (the bytes from it to the end of
// the items) goes on to another schema item, whose template replaces this
// one's.
bool schema_item_follows(std::span<const u8> item) {
  bool follows = false;
  (void)walk_ext_items(item, [&follows](u64 pos, std::span<const u8> next) {
    if (pos != 0 && is_ext_item_schema(next)) follows = true;
  });
  return follows;
}

}  // namespace

u16 decode_extended_item(event_template& schema, field_rec& f, bool& linked,
                         std::span<const u8> item) {
  f.clear();
  linked = false;
  if (!is_ext_item_header(item)) return 0;
  linked = ext_item_is_linked(item);
  const u16 type = u16_at(item, ext_item::type);
  if (type == ext_item_type::schema) {
    // Only the last schema item of the walk gives the event its template;
    // building an earlier one is work thrown away, which a record packed
    // with schema items would pay once for each.
    if (schema_item_follows(item)) {
      schema.clear();
    } else {
      bool schema_linked = false;
      (void)build_template_from_schema(schema, schema_linked, item, false);
    }
  } else {
    // the item test keeps the data inside the item
    decode_item_data(f, type, item.subspan(ext_item::header_length,
                                           u16_at(item, ext_item::data_size)));
  }
  return u16_at(item, ext_item::size);
}

u32 build_template_from_schema(event_template& t, bool& linked, std::span<const u8> item,
                               bool keep) {
  if (!keep) t.clear();
  linked = false;
  if (!is_ext_item_header(item)) return 0;
  linked = ext_item_is_linked(item);
  if (!is_ext_item_schema(item)) return 0;
  zarn::byte_reader r(
      item.subspan(ext_item::header_length, u16_at(item, ext_item::data_size)));
  std::string event_name;
  u16 schema_size = 0;
  if (r.read_u16(schema_size) && skip_tags(r) && read_name(r, event_name)) {
    std::vector<schema_field> fields;
    // a field cut by the end of the data is left out with all after it
    while (r.remaining() > 0) {
      schema_field f;
      if (!read_schema_field(r, f)) break;
      fields.push_back(std::move(f));
    }
    t.add_field(schema::name_word, event_name);
    word_builder(t, fields).add_all();
    t.finalize();
  }
  return static_cast<u32>(ext_item::header_length + r.position());
}

bool is_ext_item_header(std::span<const u8> item) {
  if (item.size() < ext_item::header_length) return false;
  const u16 size = u16_at(item, ext_item::size);
  const u16 data = u16_at(item, ext_item::data_size);
  // an item shorter than its header, or one whose data runs past its own
  // size, would send the item walk outside the item
  if (size < ext_item::header_length || size > item.size()) return false;
  if (!zarn::fits(size, ext_item::header_length, data)) return false;
  const u16 type = u16_at(item, ext_item::type);
  return std::any_of(ext_item_types.begin(), ext_item_types.end(),
                     [type](const ext_item_type_row& row) { return row.type == type; });
}

bool ext_item_is_linked(std::span<const u8> item) {
  return item.size() >= ext_item::link + 2 && u16_at(item, ext_item::link) != 0;
}

bool is_ext_item_schema(std::span<const u8> item) {
  return item.size() >= ext_item::type + 2 && u16_at(item, ext_item::type) == ext_item_type::schema;
}

void dump_ext_item_header(std::span<const u8>, std::ostream&, u64) {}
