#pragma once
// The header section of one input file: the event table's header line when
// it is pending, then one table row that describes the log itself, made from
// the logfile header or, for files without one, from the copy of the first
// 72-byte buffer header.
#include <ostream>
#include <span>
#include <string>

#include "common/zarn_types.hpp"
#include "etl/logfile_header.hpp"

class cmd_params;

// Writes the pending table header, then the header row of a logfile-header
// file: the start time (or, when it is not a FILETIME, the record's raw
// timestamp) in the created column, "<header info only>", the session name,
// the record's process and thread ids and processor time, and the log's
// fields as the extra data. Under log2timeline nothing more is written when
// the start time is non-zero.
void print_header_info(const logfile_header_info& info, std::ostream& out, cmd_params& options);

// The extra-data text of that row: "data{", the twelve quoted items
// "NN-Label:value" joined by ';', "}". The info is not changed.
void print_logfile_header_fields(const logfile_header_info& info, std::ostream& out,
                                 const cmd_params& options);

// The header row of a file without a logfile header, from the copy of its
// first 72-byte buffer header: the u64 at 24 as the created time when it is a
// FILETIME, else the u64 at 16 as a raw number. False, with nothing written,
// when fewer than 72 bytes are given.
bool print_header_info_only(std::span<const u8> first_header, std::ostream& out, cmd_params& options);

// The bias in minutes as hours: "-5.5" for -330, "1" for 60, "5.75" for 345.
// Exact for every multiple of 3 minutes (all real time zones); other values
// are rounded to the nearest hundredth of an hour.
std::string bias_hours_text(i32 minutes);

// The log-file name as the extra data shows it: every backslash turned into
// '/', every double quote preceded by a backslash.
std::string escaped_log_file_name(const std::string& name);
