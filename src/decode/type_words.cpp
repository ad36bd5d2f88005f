#include "decode/type_words.hpp"

namespace {

// Each in-type's row in plain_in_types, plus one; 0 for a type without a row
// (every field of a template looks its type up).
constexpr std::array<u8, 256> in_type_rows = [] {
  std::array<u8, 256> rows{};
  for (std::size_t i = 0; i < plain_in_types.size(); ++i) {
    rows[plain_in_types[i].type] = static_cast<u8>(i + 1);
  }
  return rows;
}();
static_assert(plain_in_types.size() < 255);

}  // namespace

const in_type_row* find_in_type(u8 type) {
  const u8 row = in_type_rows[type];
  return row == 0 ? nullptr : &plain_in_types[row - 1u];
}

const special_word_row* find_special_word(u16 word) {
  const u16 word_class = class_of(word);
  for (const special_word_row& row : special_words) {
    if (word_class >= row.word_class && word_class <= row.last_class) return &row;
  }
  return nullptr;
}
