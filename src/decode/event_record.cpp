#include "decode/event_record.hpp"

#include <algorithm>
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
}

event_record* pending_records::add(u64 offset) {
  const auto before = [](const value_type& r, u64 at) { return r.first < at; };
  iterator at = end();
  if (size_ != 0 && records_[size_ - 1].first >= offset) {
    at = std::lower_bound(begin(), end(), offset, before);
    if (at->first == offset) return nullptr;
  }
  const std::ptrdiff_t place = at - begin();
  if (size_ == records_.size()) records_.emplace_back();
  records_[size_].first = offset;
  records_[size_].second.reset();
  ++size_;
  // the record is made past the end, then turned to its place
  std::rotate(begin() + place, end() - 1, end());
  return &records_[static_cast<std::size_t>(place)].second;
}

pending_records::const_iterator pending_records::find(u64 offset) const {
  const const_iterator at = std::lower_bound(
      begin(), end(), offset, [](const value_type& r, u64 o) { return r.first < o; });
  return at != end() && at->first == offset ? at : end();
}

const event_record& pending_records::at(u64 offset) const {
  const const_iterator it = find(offset);
  if (it == end()) throw std::out_of_range("no record pending at this offset");
  return it->second;
}
