#include "decode/template_walk.hpp"

#include <algorithm>
#include <limits>
#include <sstream>

#include "common/byte_reader.hpp"
#include "common/zarn_number.hpp"
#include "common/zarn_string.hpp"
#include "common/zarn_time.hpp"
#include "common/zarn_time_text.hpp"

namespace {

std::string time_text(const zarn::time& t) {
  std::ostringstream s;
  s << t;
  return s.str();
}

}  // namespace

payload_text utf16z_text(std::span<const u8> bytes, u64 limit) {
  payload_text p;
  read_utf16z_text(p, bytes, limit);
  return p;
}

void read_utf16z_text(payload_text& p, std::span<const u8> bytes, u64 limit) {
  p.covered = 0;
  p.empty = false;
  // the limit never reaches past the payload, whatever its caller was told
  const std::span<const u8> held = bytes.first(std::min<u64>(limit, bytes.size()));
  const i32 max_bytes =
      static_cast<i32>(std::min<u64>(held.size(), std::numeric_limits<i32>::max()));
  p.covered = static_cast<u64>(utf16le_to_utf8(held, p.text, max_bytes, true));
  if (p.covered == 0) {
    p.empty = true;
    // the conversion counts no terminator after no characters
    if (held.size() >= 2 && zarn::u16_at(held, 0) == 0) p.covered = 2;
  }
  mark_line_endings(p.text);
}

payload_text ansiz_text(std::span<const u8> bytes) {
  payload_text p;
  const auto end = std::find(bytes.begin(), bytes.end(), u8{0});
  p.text.assign(bytes.begin(), end);
  // the terminator counts only when the payload holds it
  p.covered = p.text.size() + (end != bytes.end() ? 1 : 0);
  p.empty = p.text.empty();
  mark_line_endings(p.text);
  return p;
}

std::string number_with_time(u64 value, std::size_t digits, const zarn::time& t) {
  return "0x" + hex_digits(value, digits) + " [" + time_text(t) + "]";
}

std::string systemtime_text(std::span<const u8> raw, const zarn::time& t) {
  std::string text = "0x";
  for (auto b = raw.rbegin(); b != raw.rend(); ++b) text += hex_digits(*b, 2);
  return text + " [" + time_text(t) + "]";
}
