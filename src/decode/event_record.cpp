#include "decode/event_record.hpp"

#include <cassert>
#include <stdexcept>

void event_record::clear() {
  hook_event_id = 0;
  processor_number = 0;
  logger_id = 0;
  filetime = 0;
  provider_name.clear();
  fields.clear();
  kind = event_kind::none;
  guessed = 0;
  record_ok = 0;
  file_offset = 0;
  payload_offset = 0;
  payload_size = 0;
  compressed = 0;
  provider_known = 0;
}

u16 event_record::event_key() const {
  switch (kind) {
    case event_kind::system_c002:
    case event_kind::perfinfo_c011:
    case event_kind::generic:
      return hook_event_id;
    default:
      return descriptor.id;
  }
}

void event_record::reset() {
  size = 0;
  header_type = 0;
  flags = 0;
  event_property = 0;
  thread_id = 0;
  process_id = 0;
  raw_time = 0;
  provider.clear();
  descriptor = event_descriptor{};
  processor_time = 0;
  activity.clear();
  // clear() empties the name and the fields, which keep their storage
  clear();
  assert(*this == event_record{});
}

event_record* pending_records::add(u64 offset) {
  spare().reset();
  const auto [it, placed] = place(offset);
  return placed ? &it->second : nullptr;
}

const event_record& pending_records::at(u64 offset) const {
  const const_iterator it = find(offset);
  if (it == end()) throw std::out_of_range("no record pending at this offset");
  return it->second;
}
