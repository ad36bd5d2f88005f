#include "common/byte_reader.hpp"

namespace zarn {

bool read_u8_at(std::span<const u8> bytes, u64 off, u8& out) {
  if (!fits(bytes.size(), off, 1)) return false;
  out = bytes[off];
  return true;
}

bool read_u16_at(std::span<const u8> bytes, u64 off, u16& out) {
  if (!fits(bytes.size(), off, 2)) return false;
  out = load_u16(bytes.data() + off);  // bounds: fits() above
  return true;
}

bool read_u32_at(std::span<const u8> bytes, u64 off, u32& out) {
  if (!fits(bytes.size(), off, 4)) return false;
  out = load_u32(bytes.data() + off);  // bounds: fits() above
  return true;
}

bool read_u64_at(std::span<const u8> bytes, u64 off, u64& out) {
  if (!fits(bytes.size(), off, 8)) return false;
  out = load_u64(bytes.data() + off);  // bounds: fits() above
  return true;
}

bool read_le_at(std::span<const u8> bytes, u64 off, u64 width, u64& out) {
  if (width == 0 || width > 8 || !fits(bytes.size(), off, width)) return false;
  out = load_le(bytes.data() + off, width);  // bounds: fits() above
  return true;
}

void store_le(std::span<u8> bytes, u64 off, u64 width, u64 value) {
  if (!detail::field_held(bytes, off, width)) return;
  for (u64 i = 0; i < width; ++i) bytes[off + i] = static_cast<u8>(value >> (8 * i));
}

bool byte_reader::read_u8(u8& out) {
  if (!read_u8_at(bytes_, pos_, out)) return false;
  pos_ += 1;
  return true;
}

bool byte_reader::read_u16(u16& out) {
  if (!read_u16_at(bytes_, pos_, out)) return false;
  pos_ += 2;
  return true;
}

bool byte_reader::read_u32(u32& out) {
  if (!read_u32_at(bytes_, pos_, out)) return false;
  pos_ += 4;
  return true;
}

bool byte_reader::read_u64(u64& out) {
  if (!read_u64_at(bytes_, pos_, out)) return false;
  pos_ += 8;
  return true;
}

bool byte_reader::read_bytes(u64 n, std::span<const u8>& out) {
  if (n > remaining()) return false;
  out = bytes_.subspan(pos_, n);
  pos_ += n;
  return true;
}

bool byte_reader::read_window(u64 n, byte_reader& out) {
  std::span<const u8> window;
  if (!read_bytes(n, window)) return false;
  out = byte_reader(window);
  return true;
}

bool byte_reader::skip(u64 n) {
  if (n > remaining()) return false;
  pos_ += n;
  return true;
}

bool byte_reader::seek(u64 pos) {
  if (pos > bytes_.size()) return false;
  pos_ = pos;
  return true;
}

}  // namespace zarn
