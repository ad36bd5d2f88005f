#pragma once
// The run over one .etl file: its kind, its header section, its buffers one
// by one through the trace processor, and after each buffer the events it
// produced (written, counted or copied to the reduced file).
#include <functional>
#include <ostream>
#include <string>

#include "common/zarn_types.hpp"
#include "etl/event_record.hpp"

class vesk_user_opts;
namespace uni {
class fileio;
}

// Writes one event as a row of the results.
using event_row_writer =
    std::function<void(std::ostream& out, const event_record& rec, vesk_user_opts& opts)>;

// A buffer that claims more than this is damage: reading it would allocate
// without bound.
inline constexpr u64 max_buffer_size = u64{64} << 20;
// Fewer bytes than a buffer header cannot be a buffer.
inline constexpr u64 min_buffer_bytes = 72;

// Opens the file, runs it and resets the trace processor for the next file
// (its templates stay). False when the file could not be opened or was not
// read (see run_etl_file); then nothing was written for it.
bool process_etl_file(std::ostream& out, const std::string& name, vesk_user_opts& opts,
                      const event_row_writer& write_row = {});

// True when the file was read to its end, whatever its buffers held. False,
// with nothing written to `out`, when the file is not open, is under 386
// bytes, its head, first buffer or "RlFs" header cannot be read, it is none
// of the three kinds, or events are to be written and no row writer is given.
bool run_etl_file(std::ostream& out, uni::fileio& file, vesk_user_opts& opts,
                  const event_row_writer& write_row = {});
