#pragma once
// The one file object: a POSIX descriptor with 64-bit sizes and offsets, read
// in whole ranges and written at the end or at an offset. Paths are kept as
// the bytes the caller gave (Linux file names need not be UTF-8).
#include <sys/stat.h>

#include <memory>
#include <ostream>
#include <span>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

#include "common/zarn_types.hpp"
#include "platform/file_info.hpp"

namespace uni {

class fileio;

// Collects bytes and hands them to a fileio in blocks; flushing the std::ostream
// writes nothing, the bytes reach the file when the buffer fills and when the
// file is closed.
class fileio_ostream : public std::streambuf {
 public:
  fileio_ostream(fileio* target, u32 n);
  ~fileio_ostream() override;
  // Writes what is buffered; -1 when the file refused it (the bytes stay).
  int flush_output();
  bool ok() const { return !buffer_.empty(); }

 protected:
  int overflow(int c) override;
  int sync() override { return 0; }

 private:
  std::vector<char> buffer_;
  fileio* target_ = nullptr;
  u8 target_open_ = 0;
};

class fileio_output : public std::ostream {
 public:
  fileio_output(fileio* target, u32 n);
  int flush_output() { return buf_.flush_output(); }

 private:
  fileio_ostream buf_;
};

// Collects bytes in a buffer of its own and writes them to a descriptor it
// does not own (standard output, which may be a pipe or a terminal): when
// the buffer is full and on every flush. After a failed write every later one
// fails too, so the stream's state tells the caller that bytes were lost.
class descriptor_ostream : public std::streambuf {
 public:
  descriptor_ostream(int fd, std::size_t n);
  ~descriptor_ostream() override;

 protected:
  int overflow(int c) override;
  int sync() override;

 private:
  bool write_buffered();

  int fd_;
  std::vector<char> buffer_;
  bool failed_ = false;
};

class fileio {
 public:
  fileio() = default;
  fileio(const std::string& path, u8 write, u8 text, u8 flag);
  fileio(const std::wstring& wpath, u8 write, u8 text, u8 flag);
  virtual ~fileio();
  fileio(const fileio&) = delete;
  fileio& operator=(const fileio&) = delete;

  // Opens for reading, or for writing (created with mode 0666 less the umask;
  // with truncate the file is emptied, without it the file must exist).
  // Directories, FIFOs and sockets are refused. A read-only open never truncates.
  [[nodiscard]] bool open(const std::string& path, u8 write, u8 text, u8 truncate);
  [[nodiscard]] bool open(const std::wstring& wpath, u8 write, u8 text, u8 truncate);
  [[nodiscard]] bool open_ex(const std::string& path, u8 write, u8 text, u8 truncate, u8 flag);
  [[nodiscard]] bool open_ex(const std::wstring& wpath, u8 write, u8 text, u8 truncate, u8 flag);
  bool is_open() const { return fd_ != -1 && open_ok_; }
  u64 size() const;
  // Reads `length` bytes at `offset` (cut to the end of the file) into out.
  // False when the file is not open, the offset is at or past the end, or
  // fewer bytes arrived than asked (out then holds only those that did).
  [[nodiscard]] bool read(byte_array& out, u64 length, u64 offset);
  // Reads up to dest.size() bytes at `offset` (cut to the end of the file)
  // into dest; `got` tells how many arrived. False when the file is not
  // open, the offset is at or past the end, or fewer bytes arrived than the
  // cut length.
  [[nodiscard]] bool read_into(std::span<u8> dest, u64 offset, u64& got);
  // Writes every byte at the end (write) or at an offset (write_at); false
  // when any byte could not be written.
  [[nodiscard]] bool write(const u8* buf, u64 len);
  [[nodiscard]] bool write_at(const u8* buf, u64 len, u64 offset);
  [[nodiscard]] bool append(const byte_array& bytes);
  [[nodiscard]] bool append_text(const std::ostringstream& text);
  // Flushes and drops the attached output stream, then closes. False when
  // buffered bytes could not be written.
  bool close();
  // A buffered output stream over this file, owned by it; null when not open.
  fileio_output* make_output();
  // True once any write to this file failed.
  bool write_failed() const { return write_failed_; }
  const std::string& path() const { return path_; }

 private:
  void reset();
  u64 measure_size() const;
  // Reads from the current position until `length` bytes arrived or a read
  // gives none; returns how many arrived.
  u64 read_here(u8* dest, u64 length);
  bool write_all(const u8* buf, u64 len);

  int fd_ = -1;
  u64 size_ = 0;
  u8 write_ = 0;
  u8 open_ok_ = 0;
  u8 text_ = 0;
  bool write_failed_ = false;
  std::string path_;
  std::unique_ptr<fileio_output> output_;
};

bool fileio_is_open(const void* file);

// Reads a file front to back in large blocks: each range asked for is a view
// into the window's bytes when it lies inside them; otherwise the window
// moves to the range's start, keeps what it already holds from there on and
// reads the rest, a block's worth or the whole range when that is longer.
// One read serves many small ranges and no byte is read twice in a row;
// memory stays at a block or the longest range, whatever the file's size.
class read_window {
 public:
  read_window(fileio& file, u64 block_size) : file_(file), block_size_(block_size) {}

  // `length` bytes at `offset` (cut to the end of the file), valid until the
  // next call. False, as for fileio::read, when the offset is at or past the
  // end or fewer bytes arrived than asked (out then views those that did).
  [[nodiscard]] bool view(std::span<const u8>& out, u64 length, u64 offset);

 private:
  // Moves the window to `offset` and fills it up to `want` bytes. False when
  // it could not grow (the window is then as it was).
  bool move_to(u64 offset, u64 want);

  fileio& file_;
  u64 block_size_;
  byte_array bytes_;      // grown, never shrunk: no read clears it again
  u64 bytes_offset_ = 0;  // where bytes_ starts in the file
  u64 held_ = 0;          // how many of bytes_ the reads filled
};

// Reads the first min(max, size) bytes of a file.
[[nodiscard]] bool read_file_head(byte_array& out, const std::string& path, u32 max);
// Fills the record from stat; the record's path is the caller's.
[[nodiscard]] bool get_file_info(file_info& info, const std::wstring& wpath);
[[nodiscard]] bool get_file_info(file_info& info, const std::string& path);
// Both names exist and are one file (the same device and inode), whatever
// links or ".." lead to it.
[[nodiscard]] bool same_file(const std::string& a, const std::string& b);
void clear_stat(struct stat* st);
int stat_path(const char* path, struct stat* st);
bool stat_path_w(struct stat* st, const std::wstring& wpath);
int fstat_fd(int fd, struct stat* st);

}  // namespace uni

// The program's own path, from /proc/self/exe; "" when it cannot be read.
std::string get_exe_path();
