#pragma once
// The one text form of an event's decoded fields: quoted items in field-map
// order, "NN-Name":"value", separated by ";".
#include <string>

#include "decode/field_map.hpp"

// Appends the fields of `map` to `out` as one line of quoted items (nothing
// for an empty map). The value is the field's text (with every backslash turned
// into '/' and every double quote escaped, in the map itself), else its bytes
// (a 16-byte GUID field in braces, other bytes as hexadecimal pairs), else
// its number as "0x" and hexadecimal zero-filled to twice its size; fields
// whose type word's high nibble is 0xc or 0xe and hold neither show an empty
// value.
void dump_field_map(std::string& out, field_map& map);
