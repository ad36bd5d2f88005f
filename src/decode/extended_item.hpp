#pragma once
// The extended-data items an event record may carry between its header and
// its payload: each item becomes at most one field, and the event schema
// item (type 11, written by self-describing providers) becomes the template
// for the payload that follows the items.
#include <array>
#include <ostream>
#include <span>

#include "common/byte_reader.hpp"
#include "common/zarn_types.hpp"
#include "decode/field_map.hpp"

struct event_template;

// Item header: u16 item size (header included), u16 type, u16 link, u16
// data size; the data follows.
namespace ext_item {
inline constexpr u64 size = 0;      // u16
inline constexpr u64 type = 2;      // u16
inline constexpr u64 link = 4;      // u16, non-zero when another item follows
inline constexpr u64 data_size = 6; // u16
inline constexpr u64 header_length = 8;
}  // namespace ext_item

// The item types Windows writes.
namespace ext_item_type {
inline constexpr u16 related_activity = 1;  // a GUID: a field
inline constexpr u16 sid = 2;               // a field
inline constexpr u16 session_id = 3;        // u32: a field
inline constexpr u16 instance_info = 4;
inline constexpr u16 stack_trace32 = 5;
inline constexpr u16 stack_trace64 = 6;
inline constexpr u16 pebs_index = 7;
inline constexpr u16 pmc_counters = 8;
inline constexpr u16 psm_key = 9;
inline constexpr u16 event_key = 10;        // u64: a field
inline constexpr u16 schema = 11;           // the template of the payload
inline constexpr u16 provider_traits = 12;  // a field
inline constexpr u16 process_start_key = 13;  // u64: a field
inline constexpr u16 control_guid = 14;
inline constexpr u16 qpc_delta = 15;
inline constexpr u16 container_id = 16;
inline constexpr u16 stack_key32 = 17;
inline constexpr u16 stack_key64 = 18;
}  // namespace ext_item_type

struct ext_item_type_row {
  u16 type;
  const char* name;
};
// Every item type Windows writes. Items that yield no field (stack traces,
// counters and the like) must still be known: the walk steps over them, and
// an item it stopped at would be read as the event's payload.
inline constexpr std::array<ext_item_type_row, 18> ext_item_types = {{
    {ext_item_type::related_activity, "related activity id"},
    {ext_item_type::sid, "sid"},
    {ext_item_type::session_id, "terminal session id"},
    {ext_item_type::instance_info, "instance info"},
    {ext_item_type::stack_trace32, "stack trace 32"},
    {ext_item_type::stack_trace64, "stack trace 64"},
    {ext_item_type::pebs_index, "pebs index"},
    {ext_item_type::pmc_counters, "pmc counters"},
    {ext_item_type::psm_key, "psm key"},
    {ext_item_type::event_key, "event key"},
    {ext_item_type::schema, "event schema"},
    {ext_item_type::provider_traits, "provider traits"},
    {ext_item_type::process_start_key, "process start key"},
    {ext_item_type::control_guid, "control guid"},
    {ext_item_type::qpc_delta, "qpc delta"},
    {ext_item_type::container_id, "container id"},
    {ext_item_type::stack_key32, "stack key 32"},
    {ext_item_type::stack_key64, "stack key 64"},
}};

// At least 8 bytes held; item size covers its 8-byte header and is not
// larger than the bytes held; the data fits inside the item; the type is
// one of ext_item_types.
[[nodiscard]] bool is_ext_item_header(std::span<const u8> item);
// The link field is non-zero; false when it is not held.
[[nodiscard]] bool ext_item_is_linked(std::span<const u8> item);
// The type is 11 (event schema); false when it is not held.
[[nodiscard]] bool is_ext_item_schema(std::span<const u8> item);
// Called before each extended-data item is decoded; writes nothing.
void dump_ext_item_header(std::span<const u8> item, std::ostream& out, u64 file_offset);

// Walks the items at the start of `items` (the bytes between an event
// header and its payload) as a record lays them out: each item must pass the
// item test against the bytes left, and the walk goes on while an item's
// link field says that another follows. `visit(offset, item)` sees each item
// (`item` runs from the item to the end of `items`). Returns where the items
// end: at the end of the last item walked, never past `items`.
template <typename Visit>
u64 walk_ext_items(std::span<const u8> items, Visit&& visit) {
  u64 pos = 0;
  while (pos < items.size()) {
    const std::span<const u8> item = items.subspan(pos);
    if (!is_ext_item_header(item)) break;
    visit(pos, item);
    // the item test keeps the size inside the items, and at least 8
    pos += zarn::u16_at(item, ext_item::size);
    if (!ext_item_is_linked(item)) break;
  }
  return pos;
}

// Decodes the item at the start of `item` (the bytes from the item to the
// end of the record) into `f` (cleared first); a schema item fills `schema`
// instead, or empties it when the linked items after it hold another schema
// item, whose template replaces its own. Returns the item's size, or 0 when
// the bytes form no item; then
// `linked` is left false. A value is taken only when the item's data holds
// all of it, and no text is read past the item's data; an item that yields
// no field leaves `f` with size 0.
u16 decode_extended_item(event_template& schema, field_rec& f, bool& linked,
                         std::span<const u8> item);

// The template a schema item describes: a leading 0x8001 word named with the
// event name, then the type words of its fields. Without `keep` the template
// is emptied first. Returns the bytes of the item read, 0 when the item is
// not a schema item. Fields whose layout the type words cannot express, and
// every field after them, are left out: their bytes are guessed.
u32 build_template_from_schema(event_template& t, bool& linked, std::span<const u8> item,
                               bool keep);
