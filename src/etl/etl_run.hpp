#pragma once
// The run over one .etl file: its kind, its header section, its buffers one
// by one through the trace processor, and after each buffer the events it
// produced (written, counted or copied to the reduced log).
#include <functional>
#include <ostream>
#include <string>

#include "common/guid.hpp"
#include "common/zarn_types.hpp"
#include "decode/event_record.hpp"
#include "etl/etl_headers.hpp"

class cmd_params;
class reduced_log;
class trace_processor;
namespace uni {
class fileio;
}

// What a file run produces, decided once from the tool's switches.
enum class run_mode : u8 {
  events,    // one row per event
  pullguid,  // one provider's records copied into the reduced log
  stats,     // event counts per provider and event id
  guids,     // the providers seen
};

// The tool's switches that steer a file run.
struct etl_run_settings {
  u8 pullguid = 0;
  guid pullguid_guid;  // the provider whose records go into the reduced log
  u8 guids = 0;
  u8 stats = 0;

  // -pullguid before -stats before -guids; events when none is given.
  run_mode mode() const;
};

// Writes one event as a row of the results (its field texts may be edited
// in place: the record is dropped right after).
using event_row_writer =
    std::function<void(std::ostream& out, event_record& rec, cmd_params& options)>;

// Everything a file run works with, owned by the caller for the whole run:
// the trace processor keeps its templates across files, the reduced log is
// written by the first file run of -pullguid.
struct etl_run {
  cmd_params& options;
  const etl_run_settings& settings;
  trace_processor& processor;
  reduced_log& reduced;
  event_row_writer write_row;
  // Compressed buffers left unread, over the whole run: each log that has
  // any is named with its count, and the run is then not complete.
  u64 buffers_not_read = 0;
};

// A buffer that claims more than this is damage: reading it would allocate
// without bound.
inline constexpr u64 max_buffer_size = u64{64} << 20;
// Fewer bytes than a buffer header cannot be a buffer.
inline constexpr u64 min_buffer_bytes = 72;

// The head a file's kind is decided from: etl_min_file_size bytes, or the
// whole of a shorter file. False when it cannot be read or is too short for
// any kind's own header.
bool read_log_head(uni::fileio& file, byte_array& head);
// The kind of the file at `path` (etl_file_kind of its head); not_etl when it
// cannot be opened or read.
etl_file_kind_t log_file_kind(const std::string& path);

// Opens the file, runs it and resets the trace processor for the next file
// (its templates stay). False when the file could not be opened or was not
// read (see run_etl_file); then nothing was written for it.
bool process_etl_file(std::ostream& out, const std::string& name, etl_run& run);

// True when the file was read to its end, whatever its buffers held. False,
// with nothing written to `out` or to the reduced log, when the file is not
// open, is too short for its kind (386 bytes, or the 72-byte header of an
// "RlFs" file), its head, first buffer or "RlFs" header cannot be read, it is
// none of the three kinds, or events are to be written and
// no row writer is given.
bool run_etl_file(std::ostream& out, uni::fileio& file, etl_run& run);
