#include "decode/type_words.hpp"

const in_type_row* find_in_type(u8 type) {
  for (const in_type_row& row : plain_in_types) {
    if (row.type == type) return &row;
  }
  return nullptr;
}

const special_word_row* find_special_word(u16 word) {
  const u16 word_class = class_of(word);
  for (const special_word_row& row : special_words) {
    if (word_class >= row.word_class && word_class <= row.last_class) return &row;
  }
  return nullptr;
}
