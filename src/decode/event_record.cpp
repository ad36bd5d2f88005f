#include "decode/event_record.hpp"

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
