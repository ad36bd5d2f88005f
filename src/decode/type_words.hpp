#pragma once
// The vocabulary of template type words, named once for every decoder (and
// checked against the build-time converter's by a test).
//
// A type word whose top four bits are 0 is a plain in-type: its low byte says
// how the field is read. Any other word is an extension word, read by its
// class (the word & 0xF0FF) and by n, bits 8-11, which is a count (0..15) or,
// for the kinds sized by an earlier field, how many fields to count back from
// the last one stored.
#include <array>

#include "common/zarn_types.hpp"

// ---- plain in-types ----
namespace in_type {
inline constexpr u8 utf16_text = 1;      // UTF-16LE text up to its 0 unit
inline constexpr u8 ansi_text = 2;       // 8-bit text up to its 0 byte
inline constexpr u8 int8 = 3;
inline constexpr u8 uint8 = 4;
inline constexpr u8 int16 = 5;
inline constexpr u8 uint16 = 6;
inline constexpr u8 int32 = 7;
inline constexpr u8 uint32 = 8;
inline constexpr u8 int64 = 9;
inline constexpr u8 uint64 = 10;
inline constexpr u8 float32 = 11;        // kept as its bits
inline constexpr u8 float64 = 12;        // kept as its bits
inline constexpr u8 boolean = 13;        // 4 bytes, the first decides
inline constexpr u8 binary = 14;         // of unknown length
inline constexpr u8 guid = 15;
inline constexpr u8 pointer = 16;        // 4 or 8 bytes by the trace's pointer size
inline constexpr u8 filetime = 17;
inline constexpr u8 systemtime = 18;
inline constexpr u8 sid = 19;
inline constexpr u8 hex_int32 = 20;
inline constexpr u8 hex_int64 = 21;
inline constexpr u8 counted_utf16 = 22;  // u16 byte count, then the text
// The words above 22 that templates use, each read like one of the above.
inline constexpr u8 uint8_84 = 84;
inline constexpr u8 boolean_125 = 125;
inline constexpr u8 uint8_132 = 132;
inline constexpr u8 uint32_135 = 135;
inline constexpr u8 uint32_136 = 136;
inline constexpr u8 binary_rest = 142;   // binary to the end of the payload
inline constexpr u8 pointer_144 = 144;
inline constexpr u8 utf16_slot6 = 145;   // UTF-16LE text in a fixed 6-byte slot
inline constexpr u8 raw16 = 146;         // 16 raw bytes
inline constexpr u8 utf16_slot8 = 161;
inline constexpr u8 unix_time = 168;     // u32 seconds since 1970
inline constexpr u8 utf16_slot512 = 177;
}  // namespace in_type

// The in-types of a self-describing event's schema that are not template
// words: counted 8-bit text, a structure (its members follow) and counted
// binary.
namespace schema_type {
inline constexpr u8 counted_ansi = 23;
inline constexpr u8 structure = 24;
inline constexpr u8 counted_binary = 25;
}  // namespace schema_type

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
    {in_type::utf16_text, in_kind::utf16z, 0},
    {in_type::ansi_text, in_kind::ansiz, 0},
    {in_type::int8, in_kind::number, 1},
    {in_type::uint8, in_kind::number, 1},
    {in_type::uint8_84, in_kind::number, 1},
    {in_type::uint8_132, in_kind::number, 1},
    {in_type::int16, in_kind::number, 2},
    {in_type::uint16, in_kind::number, 2},
    {in_type::int32, in_kind::number, 4},
    {in_type::uint32, in_kind::number, 4},
    {in_type::float32, in_kind::number, 4},
    {in_type::hex_int32, in_kind::number, 4},
    {in_type::uint32_135, in_kind::number, 4},
    {in_type::uint32_136, in_kind::number, 4},
    {in_type::int64, in_kind::number, 8},
    {in_type::uint64, in_kind::number, 8},
    {in_type::float64, in_kind::number, 8},
    {in_type::hex_int64, in_kind::number, 8},
    {in_type::boolean, in_kind::bool4, 4},
    {in_type::boolean_125, in_kind::bool4, 4},
    {in_type::binary, in_kind::blob_unknown, 0},
    {in_type::guid, in_kind::guid16, 16},
    {in_type::pointer, in_kind::pointer, 0},
    {in_type::pointer_144, in_kind::pointer, 0},
    {in_type::filetime, in_kind::filetime, 8},
    {in_type::systemtime, in_kind::systemtime, 16},
    {in_type::sid, in_kind::sid, 0},
    {in_type::counted_utf16, in_kind::counted_utf16, 0},
    {in_type::binary_rest, in_kind::blob_rest, 0},
    {in_type::utf16_slot6, in_kind::utf16_slot, 6},
    {in_type::utf16_slot8, in_kind::utf16_slot, 8},
    {in_type::utf16_slot512, in_kind::utf16_slot, 512},
    {in_type::raw16, in_kind::raw16, 16},
    {in_type::unix_time, in_kind::unix_time, 4},
}};

// The row of a plain in-type; null for a type the walk does not understand.
const in_type_row* find_in_type(u8 type);


// ---- extension words ----

constexpr bool is_extension_word(u16 word) { return (word & 0xF000) != 0; }
constexpr u16 class_of(u16 word) { return word & 0xF0FF; }
constexpr u8 n_of(u16 word) { return static_cast<u8>((word >> 8) & 0xF); }
// The word of a class with n set.
constexpr u16 with_n(u16 word_class, u8 n) {
  return static_cast<u16>(word_class | ((n & 0xF) << 8));
}

// A template whose first word is one of these and whose payload is empty
// shows a "{comment}" marker.
inline constexpr u16 comment_word = 0x8000;

namespace word_class {
inline constexpr u16 guess_marker = 0x8001;  // also the event-name word of a schema's template
inline constexpr u16 app_hash = 0x8002;
inline constexpr u16 sqm = 0x8003;
inline constexpr u16 blob_rest = 0x8004;
inline constexpr u16 utf16_slot32 = 0x8005;
inline constexpr u16 usb_first = 0x8006;     // the USB, URB and PCI structures...
inline constexpr u16 usb_last = 0x8017;      // ...up to here
inline constexpr u16 utf16_list_n = 0x9081;
inline constexpr u16 u8_length_at_n = 0x9084;
inline constexpr u16 u16_length_at_n = 0x9086;
inline constexpr u16 u32_length_at_n = 0x9088;
inline constexpr u16 back_utf16 = 0xA001;
inline constexpr u16 back_ansi = 0xA002;
inline constexpr u16 back_utf16_list = 0xA081;
inline constexpr u16 back_ansi_list = 0xA082;
inline constexpr u16 back_bytes = 0xA084;
inline constexpr u16 back_u32s = 0xA088;
inline constexpr u16 back_pointers = 0xA090;
inline constexpr u16 length_next_word = 0xB084;
inline constexpr u16 blob_n_bytes = 0xC084;
inline constexpr u16 blob_n_u16s = 0xC086;
inline constexpr u16 blob_n_u32s = 0xC088;
inline constexpr u16 blob_n_u64s = 0xC095;
inline constexpr u16 ansi_n = 0xD002;
inline constexpr u16 ansi_list_n = 0xD082;
inline constexpr u16 bytes_n = 0xD084;
inline constexpr u16 u16s_n = 0xD086;
inline constexpr u16 u32s_n = 0xD088;
inline constexpr u16 pointers_n = 0xD090;
inline constexpr u16 u64s_n = 0xD095;
inline constexpr u16 blob_back = 0xE084;
}  // namespace word_class

enum class special_kind : u8 {
  guess_marker,      // a "{guess}" marker; the next word decodes the same bytes
  app_hash,          // 21 bytes named AppHash
  sqm,               // an SQM datapoint record: the rest of the payload
  usb_decoder,       // a USB, URB or PCI structure, by the decoder of its word class
  blob_rest,         // a blob to the end of the payload
  utf16_slot32,      // UTF-16LE text in a 32-byte slot
  length_at_n,       // a length of `width` bytes at payload byte n sizes the field
  length_next_word,  // the next template word is the length (0xB184 blob, 0xB284 bytes)
  blob_n_units,      // a blob of n units of `width` bytes
  blob_back,         // a blob sized by an earlier field
  bytes_n,           // n bytes
  ansi_n,            // n bytes as 8-bit text
  elements_n,        // n numbers of `width` bytes
  utf16_list_n,      // up to n UTF-16LE texts, each to its 0 unit
  ansi_list_n,       // up to n 8-bit texts, each to its 0 byte
  back_ansi,         // 8-bit text of as many bytes as an earlier field says
  back_utf16,        // UTF-16LE text of as many characters (or bytes) as an earlier field says
  back_utf16_list,   // as many UTF-16LE texts as an earlier field says
  back_ansi_list,    // as many 8-bit texts as an earlier field says
  back_bytes,        // as many bytes as an earlier field says, with any text they hold
  back_elements,     // as many numbers of `width` bytes as an earlier field says
};

struct special_word_row {
  u16 word_class;  // the word & 0xF0FF
  u16 last_class;  // the same, except for the run of payload-decoder classes
  special_kind kind;
  u8 width;    // bytes of a length, unit or element; 0 for the trace's pointer size
  u8 in_type;  // in-type given to each element field
};

// Every extension word class the walk understands; any other yields nothing
// and uses no bytes.
inline constexpr std::array<special_word_row, 30> special_words = {{
    {word_class::guess_marker, word_class::guess_marker, special_kind::guess_marker, 0, 0},
    {word_class::app_hash, word_class::app_hash, special_kind::app_hash, 0, 0},
    {word_class::sqm, word_class::sqm, special_kind::sqm, 0, 0},
    {word_class::blob_rest, word_class::blob_rest, special_kind::blob_rest, 0, 0},
    {word_class::utf16_slot32, word_class::utf16_slot32, special_kind::utf16_slot32, 0, 0},
    {word_class::usb_first, word_class::usb_last, special_kind::usb_decoder, 0, 0},
    {word_class::utf16_list_n, word_class::utf16_list_n, special_kind::utf16_list_n, 0, 0},
    {word_class::u8_length_at_n, word_class::u8_length_at_n, special_kind::length_at_n, 1, 0},
    {word_class::u16_length_at_n, word_class::u16_length_at_n, special_kind::length_at_n, 2, 0},
    {word_class::u32_length_at_n, word_class::u32_length_at_n, special_kind::length_at_n, 4, 0},
    {word_class::back_utf16, word_class::back_utf16, special_kind::back_utf16, 0, 0},
    {word_class::back_ansi, word_class::back_ansi, special_kind::back_ansi, 0, 0},
    {word_class::back_utf16_list, word_class::back_utf16_list, special_kind::back_utf16_list, 0, 0},
    {word_class::back_ansi_list, word_class::back_ansi_list, special_kind::back_ansi_list, 0, 0},
    {word_class::back_bytes, word_class::back_bytes, special_kind::back_bytes, 0, 0},
    {word_class::back_u32s, word_class::back_u32s, special_kind::back_elements, 4, in_type::uint32},
    {word_class::back_pointers, word_class::back_pointers, special_kind::back_elements, 0, in_type::pointer},
    {word_class::length_next_word, word_class::length_next_word, special_kind::length_next_word, 0, 0},
    {word_class::blob_n_bytes, word_class::blob_n_bytes, special_kind::blob_n_units, 1, 0},
    {word_class::blob_n_u16s, word_class::blob_n_u16s, special_kind::blob_n_units, 2, 0},
    {word_class::blob_n_u32s, word_class::blob_n_u32s, special_kind::blob_n_units, 4, 0},
    {word_class::blob_n_u64s, word_class::blob_n_u64s, special_kind::blob_n_units, 8, 0},
    {word_class::ansi_n, word_class::ansi_n, special_kind::ansi_n, 0, 0},
    {word_class::ansi_list_n, word_class::ansi_list_n, special_kind::ansi_list_n, 0, 0},
    {word_class::bytes_n, word_class::bytes_n, special_kind::bytes_n, 0, 0},
    {word_class::u16s_n, word_class::u16s_n, special_kind::elements_n, 2, in_type::uint16},
    {word_class::u32s_n, word_class::u32s_n, special_kind::elements_n, 4, in_type::uint32},
    {word_class::pointers_n, word_class::pointers_n, special_kind::elements_n, 0, in_type::pointer},
    {word_class::u64s_n, word_class::u64s_n, special_kind::elements_n, 8, in_type::hex_int64},
    {word_class::blob_back, word_class::blob_back, special_kind::blob_back, 0, 0},
}};

// The row of an extension word's class; null for a class the walk does not
// understand.
const special_word_row* find_special_word(u16 word);

// The two words whose next template word is no field but their length.
inline constexpr u16 blob_by_next_word = with_n(word_class::length_next_word, 1);
inline constexpr u16 bytes_by_next_word = with_n(word_class::length_next_word, 2);
constexpr bool takes_next_word(u16 word) {
  return word == blob_by_next_word || word == bytes_by_next_word;
}
