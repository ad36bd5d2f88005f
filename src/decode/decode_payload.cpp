#include "decode/decode_payload.hpp"

#include "decode/apply_template.hpp"
#include "decode/guess.hpp"

bool decode_payload(field_map& map, u64 base_key, const guid* provider, u16 event_id,
                    std::span<const u8> payload, const template_map* templates, bool pointer64,
                    bool keep, u8& guessed, decode_scratch& scratch, u16 class_version) {
  if (!keep) map.clear();
  bool decoded = false;
  i64 used = 0;
  const event_template* t = nullptr;
  if (!payload.empty() && templates != nullptr && provider != nullptr) {
    t = templates->find(provider, event_id, class_version);
  }
  // a template whose names and type words do not pair up is not trusted
  if (t != nullptr && !t->types.empty() && t->names.size() == t->types.size()) {
    used = apply_template(*t, map, payload, base_key, pointer64, scratch);
    guessed = 0;
    decoded = true;
  }
  // A fixed text slot at the payload's end may claim more than it holds:
  // used then passes the size and nothing is left to guess.
  const i64 left = static_cast<i64>(payload.size()) - used;
  if (used >= 0 && left > 3) {
    const u64 from = static_cast<u64>(used);
    guess_fields(map, base_key + from, payload.subspan(from), true, scratch);
    guessed = 1;
    decoded = true;
  }
  return decoded;
}
