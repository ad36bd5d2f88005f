#pragma once
// The 16-byte provider identifier, held exactly as it is stored in a log.
#include <string>

#include "common/zarn_types.hpp"

// Windows layout: u32 Data1, u16 Data2, u16 Data3 (each little-endian), then
// the eight Data4 bytes.
struct guid {
  u8 bytes[16] = {};

  guid() = default;
  // Copies the 16 bytes at p; a null p gives the zero value.
  explicit guid(const u8* p);

  void clear();
  bool is_zero() const;
  u32 data1() const;
  u16 data2() const;
  u16 data3() const;

  bool operator==(const guid& other) const;
};

// Bytewise unsigned order from byte 0 to byte 15 of the stored layout; every
// map keyed by a guid iterates in this order.
bool guid_less(const guid& a, const guid& b);
inline bool operator<(const guid& a, const guid& b) { return guid_less(a, b); }

// For hashed containers: the two 8-byte halves mixed.
struct guid_hash {
  std::size_t operator()(const guid& g) const;
};

// Lower-case dashed text without braces, 36 characters; the second form
// appends it.
void append_guid_text(std::string& out, const guid& g);
std::string guid_to_string(const guid& g);

// Reads the dashed 8-4-4-4-12 hexadecimal form, optionally inside one pair of
// braces, into 16 bytes of guid layout. Any other text gives false and `out`
// is left untouched.
[[nodiscard]] bool parse_guid_text(const std::string& text, byte_array& out);
