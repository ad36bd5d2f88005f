#pragma once
// The one entry through which an event payload becomes fields: the
// template found for its provider and event id, then guessing over what the
// template left.
#include <span>

#include "common/guid.hpp"
#include "common/zarn_types.hpp"
#include "decode/field_map.hpp"
#include "decode/template_map.hpp"

struct decode_scratch;

// Decodes an event payload into `map` under keys from `base_key` (the file
// offset of the payload's first byte): the template found for the provider
// and event id is applied when its names and type words pair up; `guessed`
// is then cleared. When more than 3 bytes follow the ones the template used
// (all of them without a template), guess_fields reads them into the same
// map and `guessed` is set to 1; a template that used more than the payload
// holds leaves nothing to guess. Without `keep` the map is emptied first.
// True when a template was applied or bytes were guessed; `guessed` is left
// as it was when neither happened. Both steps work in `scratch`, whose
// storage is kept for the next payload. `class_version` is the class version
// a kernel record's header carries (no_class_version for other records): the
// template that claims it is found before the build's.
bool decode_payload(field_map& map, u64 base_key, const guid* provider, u16 event_id,
                    std::span<const u8> payload, const template_map* templates, bool pointer64,
                    bool keep, u8& guessed, decode_scratch& scratch,
                    u16 class_version = no_class_version);
