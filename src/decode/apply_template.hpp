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
#include "decode/type_words.hpp"

struct decode_scratch;
struct event_template;

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
// or 0x8001) then stores its "{comment}" marker. Texts are read in
// `scratch`, whose storage is kept for the next call.
i32 apply_template(const event_template& t, field_map& map, std::span<const u8> payload,
                   u64 base_key, bool pointer64, decode_scratch& scratch);
