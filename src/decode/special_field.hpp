#pragma once
// Extension type words: template words with any of bits 12-15 set. Such a
// word is read by its class (the word & 0xF0FF) and by n, bits 8-11, which
// is a count (0..15) or, for the kinds sized by an earlier field, how many
// fields to count back from the last one stored. Only 0xB184 and 0xB284 are
// told apart from the other words of their class.
#include <array>
#include <span>

#include "common/zarn_types.hpp"
#include "decode/field_map.hpp"

struct event_template;

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
    {0x8001, 0x8001, special_kind::guess_marker, 0, 0},
    {0x8002, 0x8002, special_kind::app_hash, 0, 0},
    {0x8003, 0x8003, special_kind::sqm, 0, 0},
    {0x8004, 0x8004, special_kind::blob_rest, 0, 0},
    {0x8005, 0x8005, special_kind::utf16_slot32, 0, 0},
    {0x8006, 0x8017, special_kind::usb_decoder, 0, 0},
    {0x9081, 0x9081, special_kind::utf16_list_n, 0, 0},
    {0x9084, 0x9084, special_kind::length_at_n, 1, 0},
    {0x9086, 0x9086, special_kind::length_at_n, 2, 0},
    {0x9088, 0x9088, special_kind::length_at_n, 4, 0},
    {0xA001, 0xA001, special_kind::back_utf16, 0, 0},
    {0xA002, 0xA002, special_kind::back_ansi, 0, 0},
    {0xA081, 0xA081, special_kind::back_utf16_list, 0, 0},
    {0xA082, 0xA082, special_kind::back_ansi_list, 0, 0},
    {0xA084, 0xA084, special_kind::back_bytes, 0, 0},
    {0xA088, 0xA088, special_kind::back_elements, 4, 8},
    {0xA090, 0xA090, special_kind::back_elements, 0, 16},
    {0xB084, 0xB084, special_kind::length_next_word, 0, 0},
    {0xC084, 0xC084, special_kind::blob_n_units, 1, 0},
    {0xC086, 0xC086, special_kind::blob_n_units, 2, 0},
    {0xC088, 0xC088, special_kind::blob_n_units, 4, 0},
    {0xC095, 0xC095, special_kind::blob_n_units, 8, 0},
    {0xD002, 0xD002, special_kind::ansi_n, 0, 0},
    {0xD082, 0xD082, special_kind::ansi_list_n, 0, 0},
    {0xD084, 0xD084, special_kind::bytes_n, 0, 0},
    {0xD086, 0xD086, special_kind::elements_n, 2, 6},
    {0xD088, 0xD088, special_kind::elements_n, 4, 8},
    {0xD090, 0xD090, special_kind::elements_n, 0, 16},
    {0xD095, 0xD095, special_kind::elements_n, 8, 21},
    {0xE084, 0xE084, special_kind::blob_back, 0, 0},
}};

// The row of an extension word's class; null for a class the walk does not
// understand.
const special_word_row* find_special_word(u16 word);

// The two words whose next template word is no field but their length.
inline constexpr u16 blob_by_next_word = 0xB184;
inline constexpr u16 bytes_by_next_word = 0xB284;
constexpr bool takes_next_word(u16 word) {
  return word == blob_by_next_word || word == bytes_by_next_word;
}

// What decode_special_field returns when the walk must end at the field: an
// element array sized by an earlier field that the payload cannot hold. The
// bytes from there are left to guessing.
inline constexpr i32 special_field_ends_walk = -1;

// Decodes the field of the extension word at `index` of the template from
// `rest`, the payload from the field's first byte to its end; `key` is the
// field map key of that byte and sub-fields go under key + their offset.
// Returns the bytes used, never more than `rest` holds; 0 when the word
// yields nothing (an index past the type words, a class not understood, a
// size or count that the bytes left cannot hold); special_field_ends_walk
// when the walk must end here. A length or count taken from an earlier field
// is trusted only when above 0 and not above the bytes left.
i32 decode_special_field(const event_template& t, field_map& map, std::span<const u8> rest,
                         u32 index, u64 key, bool pointer64);
