#pragma once
// The extended-data items an event record may carry between its header and
// its payload: each item becomes at most one field, and the event schema
// item (type 11, written by self-describing providers) becomes the template
// for the payload that follows the items.
#include <span>

#include "common/zarn_types.hpp"
#include "decode/field_map.hpp"

struct event_template;

// Field types of the item types that yield one.
namespace ext_field {
inline constexpr u16 related_activity = 1;  // a GUID
inline constexpr u16 sid = 2;
inline constexpr u16 session_id = 3;        // u32
inline constexpr u16 event_key = 10;        // u64
inline constexpr u16 schema = 11;
inline constexpr u16 provider_traits = 12;
inline constexpr u16 process_start_key = 13;  // u64
}  // namespace ext_field

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
