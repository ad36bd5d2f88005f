#pragma once
// Template application: an event payload walked with the type words of one
// template, one word per field in template order, each field stored in the
// event's field map under the file offset of its first byte.
#include <array>
#include <span>
#include <string>
#include <utility>

#include "common/zarn_types.hpp"
#include "decode/field_map.hpp"
#include "decode/template_walk.hpp"

struct event_template;

// How a plain in-type (a type word whose top four bits are 0; its low byte)
// is read from the payload.
enum class in_kind : u8 {
  utf16z,         // UTF-16LE text up to its 0 unit
  ansiz,          // 8-bit text up to its 0 byte
  number,         // a little-endian number of `size` bytes
  bool4,          // a 4-byte boolean: its first byte
  pointer,        // 4 or 8 bytes by the trace's pointer size
  guid16,         // a GUID
  filetime,       // a u64 FILETIME, with its time text
  systemtime,     // a 16-byte SYSTEMTIME, with its time text
  unix_time,      // u32 seconds since 1970, with its time text
  raw16,          // 16 raw bytes
  sid,            // a security identifier
  counted_utf16,  // u16 byte count, then that much UTF-16LE text
  utf16_slot,     // UTF-16LE text in a fixed slot of `size` bytes
  blob_unknown,   // binary of unknown length: the walk ends before it
  blob_rest,      // binary to the end of the payload
};

struct in_type_row {
  u8 type;
  in_kind kind;
  u16 size;  // the bytes a number, slot or fixed field takes; 0 when the data decide
};

// Every plain in-type the walk understands; any other ends the walk.
inline constexpr std::array<in_type_row, 34> plain_in_types = {{
    {1, in_kind::utf16z, 0},          {2, in_kind::ansiz, 0},
    {3, in_kind::number, 1},          {4, in_kind::number, 1},
    {84, in_kind::number, 1},         {132, in_kind::number, 1},
    {5, in_kind::number, 2},          {6, in_kind::number, 2},
    {7, in_kind::number, 4},          {8, in_kind::number, 4},
    {11, in_kind::number, 4},         {20, in_kind::number, 4},
    {135, in_kind::number, 4},        {136, in_kind::number, 4},
    {9, in_kind::number, 8},          {10, in_kind::number, 8},
    {12, in_kind::number, 8},         {21, in_kind::number, 8},
    {13, in_kind::bool4, 4},          {125, in_kind::bool4, 4},
    {14, in_kind::blob_unknown, 0},   {15, in_kind::guid16, 16},
    {16, in_kind::pointer, 0},        {144, in_kind::pointer, 0},
    {17, in_kind::filetime, 8},       {18, in_kind::systemtime, 16},
    {19, in_kind::sid, 0},            {22, in_kind::counted_utf16, 0},
    {142, in_kind::blob_rest, 0},     {145, in_kind::utf16_slot, 6},
    {161, in_kind::utf16_slot, 8},    {177, in_kind::utf16_slot, 512},
    {146, in_kind::raw16, 16},        {168, in_kind::unix_time, 4},
}};

// The row of a plain in-type; null for a type the walk does not understand.
const in_type_row* find_in_type(u8 type);

// Walks `payload` (its file offset is `base_key`) with the template's type
// words and stores one field per word it decodes. An extension word (any of
// bits 12-15 set) goes to decode_special_field: the walk moves on by the
// bytes it used, to the next word, and past the length word that follows
// 0xB184 and 0xB284. A word of 0, a plain in-type the walk does not
// understand, a field whose fixed size runs past the payload, a text whose
// terminator or count does not fit, a SID that does not parse and an element
// array sized by an earlier field that the payload cannot hold end the
// walk: the bytes from there are left to guessing. Returns the bytes used; more than the
// payload holds when a fixed text slot at its end runs past it. An empty
// payload decodes nothing; a template that opens with a comment word (0x8000
// or 0x8001) then stores its "{comment}" marker.
i32 apply_template(const event_template& t, field_map& map, std::span<const u8> payload,
                   u64 base_key, bool pointer64);
