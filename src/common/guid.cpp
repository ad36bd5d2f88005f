#include "common/guid.hpp"

#include <cstdio>
#include <cstring>

#include "common/byte_reader.hpp"

guid::guid(const u8* p) {
  if (p != nullptr) std::memcpy(bytes, p, sizeof bytes);
}

void guid::clear() { std::memset(bytes, 0, sizeof bytes); }

bool guid::is_zero() const {
  for (u8 b : bytes) {
    if (b != 0) return false;
  }
  return true;
}

u32 guid::data1() const { return zarn::load_u32(bytes); }
u16 guid::data2() const { return zarn::load_u16(bytes + 4); }
u16 guid::data3() const { return zarn::load_u16(bytes + 6); }

bool guid::operator==(const guid& other) const {
  return std::memcmp(bytes, other.bytes, sizeof bytes) == 0;
}

std::size_t guid_hash::operator()(const guid& g) const {
  u64 low = 0;
  u64 high = 0;
  for (int i = 0; i < 8; ++i) {
    low |= u64{g.bytes[i]} << (8 * i);
    high |= u64{g.bytes[8 + i]} << (8 * i);
  }
  return static_cast<std::size_t>(low ^ (high * 0x9E3779B97F4A7C15ull));
}

bool guid_less(const guid& a, const guid& b) {
  return std::memcmp(a.bytes, b.bytes, sizeof a.bytes) < 0;
}

void append_guid_text(std::string& out, const guid& g) {
  // Every event row shows two GUIDs: written digit by digit, not through a
  // formatted print. Data1, Data2 and Data3 are little-endian numbers, the
  // eight Data4 bytes follow as stored.
  static constexpr char digits[] = "0123456789abcdef";
  // where each stored byte's two digits go in the text
  static constexpr int place[16] = {6, 4, 2, 0, 11, 9, 16, 14, 19, 21, 24, 26, 28, 30, 32, 34};
  char text[36];
  text[8] = text[13] = text[18] = text[23] = '-';
  for (int i = 0; i < 16; ++i) {
    const u8 b = g.bytes[i];
    text[place[i]] = digits[b >> 4];
    text[place[i] + 1] = digits[b & 0x0F];
  }
  out.append(text, sizeof text);
}

std::string guid_to_string(const guid& g) {
  std::string text;
  text.reserve(36);
  append_guid_text(text, g);
  return text;
}

namespace {

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads `digits` hex digits at text[pos] into value; false on any other character.
bool read_hex_group(const std::string& text, size_t pos, size_t digits, u64& value) {
  value = 0;
  for (size_t i = 0; i < digits; ++i) {
    int v = hex_value(text[pos + i]);
    if (v < 0) return false;
    value = (value << 4) | static_cast<u64>(v);
  }
  return true;
}

}  // namespace

bool parse_guid_text(const std::string& text, byte_array& out) {
  constexpr size_t dashed_length = 36;
  std::string body = text;
  if (body.size() == dashed_length + 2 && body.front() == '{' && body.back() == '}') {
    body = body.substr(1, dashed_length);
  }
  if (body.size() != dashed_length) return false;
  if (body[8] != '-' || body[13] != '-' || body[18] != '-' || body[23] != '-') return false;

  u64 data1 = 0, data2 = 0, data3 = 0, group4 = 0, group5 = 0;
  if (!read_hex_group(body, 0, 8, data1) || !read_hex_group(body, 9, 4, data2) ||
      !read_hex_group(body, 14, 4, data3) || !read_hex_group(body, 19, 4, group4) ||
      !read_hex_group(body, 24, 12, group5)) {
    return false;
  }
  byte_array bytes(16, 0);
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<u8>(data1 >> (8 * i));
  for (int i = 0; i < 2; ++i) bytes[4 + i] = static_cast<u8>(data2 >> (8 * i));
  for (int i = 0; i < 2; ++i) bytes[6 + i] = static_cast<u8>(data3 >> (8 * i));
  // The fourth and fifth groups are written in text order (big-endian).
  bytes[8] = static_cast<u8>(group4 >> 8);
  bytes[9] = static_cast<u8>(group4);
  for (int i = 0; i < 6; ++i) bytes[10 + i] = static_cast<u8>(group5 >> (8 * (5 - i)));
  out = std::move(bytes);
  return true;
}
