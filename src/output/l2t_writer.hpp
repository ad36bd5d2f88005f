#pragma once
// log2timeline CSV: under -csvl2t every event with a converted time becomes
// one line of seventeen fields (sixteen with date and time combined), built
// from a timeline record that groups the thing's times into one line per
// distinct moment.
#include <ostream>
#include <string>

#include "common/date_time_format.hpp"
#include "common/file_times.hpp"
#include "common/zarn_time_text.hpp"
#include "common/zarn_types.hpp"
#include "output/fixed_texts.hpp"

class cmd_params;

// "yyyy-mm-dd" and "hh:mm:ss.xxx" compiled: a timeline record's format until
// the options give theirs.
const date_time_format& default_timeline_format();

// The fields of the timeline lines of one thing, on top of its times. A new
// record holds the defaults that the members state.
struct timeline_record : file_times {
  // Clears the times and sets the defaults: timezone "UTC", version 2, format
  // "-csvl2t", the default date and time formats, separator ",", blank as the
  // in-field replacement, not padded, not combined, no options. A record
  // reused for every event keeps its texts' storage. Built with assertions,
  // it checks that the record then equals a new one, so that a member left
  // out cannot carry the previous event's value into the next line.
  void set_defaults();
  // Takes user and host names, the program name, the formats, the separator
  // and the padding and date/time switches from the options; null does nothing.
  void init_from_options(cmd_params* opts);
  // Writes the header line when it is pending (clearing the flag), then one
  // line per valid time entry. Every text field has the separator character
  // replaced and its line breaks and NUL bytes marked (the date, the time and
  // the version are kept as they are), and is written between double quotes
  // (inner double quotes doubled) under quoting or when it opens with a
  // double quote, so that a CSV reader always splits a line into the same
  // number of fields. Returns 1.
  i32 write_l2t(u8& header_pending, std::ostream& out);

  std::string timezone{fixed_text::timezone};
  std::string source;
  std::string sourcetype;
  std::string type_text;  // the "type" field
  std::string user;
  std::string host;
  std::string short_text;
  std::string desc;
  u32 version = 2;
  std::string filename;
  std::string inode;
  std::string notes;
  std::string format = "-csvl2t";
  std::string extra;
  std::string date_format_text = "yyyy-mm-dd";
  std::string time_format_text = "hh:mm:ss.xxx";
  date_time_format compiled = default_timeline_format();
  std::string separator_text = ",";
  char separator = ',';
  char replacement = ' ';
  u8 padded = 0;
  u8 unpadded = 0;
  u8 combined = 0;
  u8 quoted = 0;
  cmd_params* options = nullptr;  // not owned

  // What writing the lines reuses from line to line and record to record:
  // storage only, each filled before it is read, so no part of the record's
  // value: any two compare equal.
  struct line_buffers {
    std::string line;
    std::string date;
    std::string time_text;
    std::string edited;  // a field's text while separators and line breaks are edited
    filetime_text_writer dates;

    bool operator==(const line_buffers&) const { return true; }
  };
  line_buffers buffers;

  // Member by member, the times of the base included.
  bool operator==(const timeline_record&) const = default;
};

// "date" and "time" (or "date/time" alone when combined), then "timezone"
// to "extra", joined by the separator text; no line end. A name that holds a
// character of the separator text other than a blank is quoted.
void write_l2t_header(std::ostream& out, const std::string& separator, bool combined);
