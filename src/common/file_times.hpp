#pragma once
// The timestamps of one thing in the MACB convention and their grouping into
// timeline entries, one entry per distinct moment.
//
// M = last modified, A = last accessed, C = metadata changed, B = created
// (born). When several slots hold the same moment the timeline shows one line
// for it, and that line's MACB text marks every slot holding the moment.
// Further times (always FILETIMEs) ride in the C slot: each one either joins
// the entry of a slot holding the same moment or becomes a "..C." entry of its
// own.
#include <map>
#include <string>
#include <vector>

#include "common/zarn_time.hpp"
#include "common/zarn_types.hpp"

// The record a timeline line is built from. The log2timeline record derives
// from it.
struct file_times {
  // An empty record, as after clear().
  file_times();
  virtual ~file_times();
  file_times(const file_times&) = default;
  file_times& operator=(const file_times&) = default;
  file_times(file_times&&) = default;
  file_times& operator=(file_times&&) = default;
  bool operator==(const file_times&) const = default;

  // Timestamps 0, the five labels empty, type filetime, tag 0, no further times.
  void clear();
  // The four slot timestamps and the encoding they are given in.
  void set_times(u64 m, u64 a, u64 c, u64 b, zarn::type_time time_type);
  // The four slot labels; the base label is left as it is.
  void set_labels(const std::string& m, const std::string& a, const std::string& c,
                  const std::string& b);
  // Appends a further time with its label and two texts, not yet used.
  void add_further_time(u64 ft, const std::string& label, const std::string& first,
                        const std::string& second);

  u64 modified = 0;
  u64 accessed = 0;
  u64 changed = 0;
  u64 created = 0;
  std::string modified_label;
  std::string accessed_label;
  std::string changed_label;
  std::string created_label;
  // Used only when not empty: a slot without a label of its own then shows up
  // as "base [MACB]"-style text (see build_macb_times).
  std::string base_label;
  // The zarn::type_time value of the four slot timestamps.
  u32 type = static_cast<u32>(zarn::type_time::filetime);
  // Copied into every entry.
  u32 tag = 0;
  // Index for index: the FILETIME, its label, its two texts and its used flag
  // (non-zero once the time has gone into an entry).
  std::vector<u64> further_times;
  std::vector<std::string> further_labels;
  std::vector<std::string> further_firsts;
  std::vector<std::string> further_seconds;
  byte_array further_used;
};

// One timeline line: one moment of a record and the slots holding it.
struct macb_entry {
  // The record's type word.
  u32 type = 1;
  // The leading slot's raw timestamp (a further time's FILETIME for a "..C."
  // entry of its own); the result map is ordered by it.
  u64 key = 0;
  zarn::time time;
  // Four characters for M, A, C, B: the slot's letter or '.'.
  std::string macb;
  std::string label;
  // The record's tag word.
  u32 tag = 0;
  // Not filled by the grouping.
  std::vector<std::string> texts;
  // First and second texts of the further times merged into this entry, each
  // joined without separator.
  std::string source;
  std::string second;
  // Overrides a writer reads; left empty by the grouping.
  std::string user;
  std::string filename;
  std::string extra;
  u32 word = 0;

  // Type 1, key and time zero, every text and the vector empty, both words 0.
  void reset();
};

// Adds the entries of `record` to `out`, one per distinct moment; entries with
// an equal key stay in the order they were added. `type` is the record's own
// type word, the encoding of its four slot timestamps. Further times that go
// into an entry are marked used in the record, so grouping it again adds no
// second entry for them. A slot opens an entry only when its raw timestamp is
// non-zero and its time is valid; an unmatched further time gets its own entry
// whatever its value.
void build_macb_times(std::multimap<u64, macb_entry>& out, file_times& record,
                      zarn::type_time type);
