#include "common/file_times.hpp"

#include <algorithm>
#include <utility>

file_times::file_times() { clear(); }

file_times::~file_times() = default;

void file_times::clear() {
  modified = accessed = changed = created = 0;
  modified_label.clear();
  accessed_label.clear();
  changed_label.clear();
  created_label.clear();
  base_label.clear();
  type = static_cast<u32>(zarn::type_time::filetime);
  tag = 0;
  further_times.clear();
  further_labels.clear();
  further_firsts.clear();
  further_seconds.clear();
  further_used.clear();
}

void file_times::set_times(u64 m, u64 a, u64 c, u64 b, zarn::type_time time_type) {
  modified = m;
  accessed = a;
  changed = c;
  created = b;
  type = static_cast<u32>(time_type);
}

void file_times::set_labels(const std::string& m, const std::string& a, const std::string& c,
                            const std::string& b) {
  modified_label = m;
  accessed_label = a;
  changed_label = c;
  created_label = b;
}

void file_times::add_further_time(u64 ft, const std::string& label, const std::string& first,
                                  const std::string& second) {
  // a caller may have filled the vectors by hand; pad them so index i of the
  // new time is index i everywhere
  const size_t i = further_times.size();
  further_labels.resize(i);
  further_firsts.resize(i);
  further_seconds.resize(i);
  further_used.resize(i, 0);
  further_times.push_back(ft);
  further_labels.push_back(label);
  further_firsts.push_back(first);
  further_seconds.push_back(second);
  further_used.push_back(0);
}

void macb_entry::reset() {
  type = 1;
  key = 0;
  time = zarn::time{};
  macb.clear();
  label.clear();
  tag = 0;
  texts.clear();
  source.clear();
  second.clear();
  user.clear();
  filename.clear();
  extra.clear();
  word = 0;
}

namespace {

constexpr size_t slot_count = 4;
constexpr size_t slot_c = 2;
constexpr size_t slot_b = 3;
constexpr char slot_letter[slot_count] = {'M', 'A', 'C', 'B'};

// The text vectors are public and may be shorter than the times; a missing
// text is an empty one.
const std::string& text_at(const std::vector<std::string>& texts, size_t i) {
  static const std::string empty;
  return i < texts.size() ? texts[i] : empty;
}

// Appends a label of its own, "; " between labels; an empty label writes nothing.
void append_label(std::string& text, bool& written, const std::string& label) {
  if (label.empty()) return;
  if (written) text += "; ";
  text += label;
  written = true;
}

}  // namespace

void build_macb_times(std::multimap<u64, macb_entry>& out, file_times& record,
                      zarn::type_time type) {
  const u64 raw[slot_count] = {record.modified, record.accessed, record.changed,
                               record.created};
  const std::string* own_label[slot_count] = {&record.modified_label, &record.accessed_label,
                                              &record.changed_label, &record.created_label};
  const zarn::time times[slot_count] = {zarn::time(raw[0], type), zarn::time(raw[1], type),
                                        zarn::time(raw[2], type), zarn::time(raw[3], type)};
  const std::string& base = record.base_label;
  const size_t further_count = record.further_times.size();
  // flags missing for times added by hand count as not used
  if (record.further_used.size() < further_count) record.further_used.resize(further_count, 0);
  size_t remaining = further_count;
  bool taken[slot_count] = {};

  for (size_t lead = 0; lead < slot_count; ++lead) {
    if (taken[lead] || !times[lead].is_valid() || raw[lead] == 0) continue;
    const u64 v = times[lead].filetime();

    // Who holds this moment: the leader, the later slots not yet taken, and
    // the unused further times, which count for the C slot.
    bool holds[slot_count] = {};
    holds[lead] = taken[lead] = true;
    for (size_t s = lead + 1; s < slot_count; ++s) {
      if (!taken[s] && times[s].is_valid() && times[s].filetime() == v) {
        holds[s] = taken[s] = true;
      }
    }
    std::vector<size_t> joined;
    for (size_t i = 0; i < further_count; ++i) {
      if (record.further_used[i] == 0 && record.further_times[i] == v) {
        record.further_used[i] = 1;
        --remaining;
        joined.push_back(i);
      }
    }

    std::string macb(slot_count, '.');
    for (size_t s = lead; s < slot_count; ++s) {
      if (holds[s]) macb[s] = slot_letter[s];
    }
    if (!joined.empty()) macb[slot_c] = 'C';

    // Labels in slot order. The further times come right after the C slot,
    // whose letter they decide; under a B leader they come after the leader.
    // In the base form a slot without a label of its own shows its MACB
    // character, so the bracket always agrees with the MACB text.
    std::string label;
    std::string source;
    std::string second;
    bool written = false;
    for (size_t s = lead; s < slot_count; ++s) {
      const std::string& own = *own_label[s];
      if (s == lead) {
        if (!own.empty()) {
          append_label(label, written, own);
        } else if (!base.empty()) {
          // the leader's letter and the dots before it; a B leader's bracket
          // is the whole MACB text and closes here
          label += base;
          label += " [";
          label.append(macb, 0, lead + 1);
          if (lead == slot_b) label += ']';
          written = true;
        }
      } else if (holds[s] && !own.empty()) {
        append_label(label, written, own);
      } else if (own.empty() && !base.empty()) {
        label += macb[s];
      }
      if (s == std::max(lead, slot_c)) {
        for (size_t i : joined) {
          append_label(label, written, text_at(record.further_labels, i));
          source += text_at(record.further_firsts, i);
          second += text_at(record.further_seconds, i);
        }
      }
    }
    if (!base.empty() && lead != slot_b) label += ']';

    macb_entry entry;
    entry.reset();
    entry.type = record.type;
    entry.key = raw[lead];
    entry.time = times[lead];
    entry.macb = std::move(macb);
    entry.label = std::move(label);
    entry.tag = record.tag;
    entry.source = std::move(source);
    entry.second = std::move(second);
    out.insert({entry.key, std::move(entry)});
  }

  // Further times no slot claimed: one "..C." entry each, in index order,
  // valid or not.
  if (remaining == 0) return;
  for (size_t i = 0; i < further_count; ++i) {
    if (record.further_used[i] != 0) continue;
    record.further_used[i] = 1;
    macb_entry entry;
    entry.reset();
    entry.type = record.type;
    entry.key = record.further_times[i];
    entry.time = zarn::time(entry.key, zarn::type_time::filetime);
    entry.macb = "..C.";
    entry.label = text_at(record.further_labels, i);
    entry.tag = record.tag;
    entry.source = text_at(record.further_firsts, i);
    entry.second = text_at(record.further_seconds, i);
    out.insert({entry.key, std::move(entry)});
  }
}
