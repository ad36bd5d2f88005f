#pragma once
// SQM datapoint records: a session GUID, a datapoint id, a datapoint type,
// a 32-bit value, then a tail of tagged entries (raw 8-byte values, runs of
// bytes and UTF-16 texts).
#include <span>

#include "common/zarn_types.hpp"
#include "decode/field_map.hpp"

// Decodes the record at the start of `bytes` into fields under `key` + their
// offset (element flag 1; a field held at a key stays). Each field is made
// only when its bytes lie wholly within `bytes`. False, with nothing made,
// when fewer than 20 bytes are held.
bool decode_sqm(field_map& map, std::span<const u8> bytes, u64 key);
