#pragma once
// Standard input read one line at a time, for lists of names piped to the
// program. A line comes back whole however long it is: the line buffer is only
// the chunk each read fills, so a long file name never runs into the next one.
#include <cstdio>
#include <memory>
#include <string>

#include "common/zarn_types.hpp"

namespace uni {

class stdin_stream {
 public:
  // Bytes each read fills before they are added to the line.
  static constexpr u32 line_buffer_size = 4096;

  // Reads from stdin. The flag is kept for derived readers.
  explicit stdin_stream(u8 flag);
  // Reads from `source` instead (a null source leaves the stream not ready).
  // The FILE stays the caller's: closing the stream never closes it.
  stdin_stream(u8 flag, FILE* source);
  virtual ~stdin_stream();
  stdin_stream(const stdin_stream&) = delete;
  stdin_stream& operator=(const stdin_stream&) = delete;

  // Reads the next line into out, its line end included, or with trim the
  // trailing run of CRs and LFs removed. A last line without a line end is
  // still a line, and an empty line is an empty string (true). False, out
  // empty, when the stream is not ready, at the end of input, or when the
  // read failed (a line cut short by the failure is dropped, not returned).
  virtual bool read_line(std::string& out, u8 trim);
  // The same line decoded from UTF-8. True whenever a line was read; a byte
  // that breaks UTF-8 ends the text there (out holds what decoded before it).
  virtual bool read_wline(std::wstring& out, u8 trim);

  // Frees the line buffer and lets go of the FILE; later reads give false.
  void close();
  bool ready() const { return ready_ != 0; }

 protected:
  u8 flag() const { return flag_; }

 private:
  // Both reads share this, so an override of one does not change the other.
  bool next_line(std::string& out, u8 trim);

  std::unique_ptr<char[]> buffer_;
  FILE* file_ = nullptr;
  u8 ready_ = 0;
  u8 flag_ = 0;
  u32 buffer_size_ = line_buffer_size;
};

// Standard input can always be asked for a line (at worst it gives none).
bool stdin_ready();

}  // namespace uni
