#pragma once
// The fields of extension type words (decode/type_words.hpp names them):
// each word is read by its class and its n. Only 0xB184 and 0xB284 are
// told apart from the other words of their class.
#include <array>
#include <span>

#include "common/zarn_types.hpp"
#include "decode/field_map.hpp"
#include "decode/type_words.hpp"

struct event_template;

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
