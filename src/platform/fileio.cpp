#include "platform/fileio.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "common/byte_reader.hpp"
#include "common/zarn_string.hpp"

namespace uni {

namespace {

// Reads and writes move at most this much per system call.
constexpr u64 io_chunk = 0x10000000;

// Results-file streams collect this many bytes before each write.
constexpr u32 output_block = 0x40000;

std::string strip_trailing_slashes(const std::string& path) {
  size_t end = path.size();
  while (end > 0 && (path[end - 1] == '/' || path[end - 1] == '\\')) --end;
  return path.substr(0, end);
}

// Writes every byte, in pieces of at most io_chunk; false when the
// descriptor takes no more.
bool write_to_descriptor(int fd, const u8* buf, u64 len) {
  u64 done = 0;
  while (done < len) {
    const u64 want = std::min(io_chunk, len - done);
    const ssize_t n = ::write(fd, buf + done, want);  // bounds: want <= len - done
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<u64>(n);
  }
  return true;
}

}  // namespace

// ---- buffered output ----

descriptor_ostream::descriptor_ostream(int fd, std::size_t n)
    : fd_(fd), buffer_(std::max<std::size_t>(n, 1)) {
  setp(buffer_.data(), buffer_.data() + buffer_.size());
}

descriptor_ostream::~descriptor_ostream() { (void)write_buffered(); }

int descriptor_ostream::overflow(int c) {
  if (!write_buffered()) return traits_type::eof();
  if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
  *pptr() = traits_type::to_char_type(c);
  pbump(1);
  return c;
}

int descriptor_ostream::sync() { return write_buffered() ? 0 : -1; }

bool descriptor_ostream::write_buffered() {
  const u64 count = static_cast<u64>(pptr() - pbase());
  failed_ = failed_ || !write_to_descriptor(fd_, reinterpret_cast<const u8*>(pbase()), count);
  // bytes the descriptor refused are dropped: they cannot be written later
  setp(buffer_.data(), buffer_.data() + buffer_.size());
  return !failed_;
}

fileio_ostream::fileio_ostream(fileio* target, u32 n) {
  if (n < 2) return;
  buffer_.assign(n, 0);
  target_ = target;
  target_open_ = (target != nullptr && target->is_open()) ? 1 : 0;
  // The last byte stays free for the character overflow() receives.
  setp(buffer_.data(), buffer_.data() + buffer_.size() - 1);
}

fileio_ostream::~fileio_ostream() { flush_output(); }

int fileio_ostream::overflow(int c) {
  if (buffer_.empty() || target_ == nullptr) return traits_type::eof();
  // Open the reserved last byte for c; after a failed write the whole buffer
  // is already the put area and a full one takes nothing more.
  const long used = pptr() - pbase();
  setp(buffer_.data(), buffer_.data() + buffer_.size());
  pbump(static_cast<int>(used));
  if (!traits_type::eq_int_type(c, traits_type::eof())) {
    if (pptr() == epptr()) return traits_type::eof();
    *pptr() = traits_type::to_char_type(c);
    pbump(1);
  }
  const u64 count = static_cast<u64>(pptr() - pbase());
  if (count > 0 && !target_->write(reinterpret_cast<const u8*>(pbase()), count)) {
    return traits_type::eof();
  }
  setp(buffer_.data(), buffer_.data() + buffer_.size() - 1);
  return traits_type::eq_int_type(c, traits_type::eof()) ? 0 : c;
}

int fileio_ostream::flush_output() {
  if (buffer_.empty()) return 0;
  if (pptr() == pbase()) return 0;
  return traits_type::eq_int_type(overflow(traits_type::eof()), traits_type::eof()) ? -1 : 0;
}

fileio_output::fileio_output(fileio* target, u32 n) : std::ostream(nullptr), buf_(target, n) {
  if (buf_.ok() && target != nullptr && target->is_open()) rdbuf(&buf_);
}

// ---- the file object ----

fileio::fileio(const std::string& path, u8 write, u8 text, u8 flag) {
  open_ok_ = open_ex(path, write, text, 1, flag) ? 1 : 0;
}

fileio::fileio(const std::wstring& wpath, u8 write, u8 text, u8 flag)
    : fileio(uni::wstring_to_utf8(wpath), write, text, flag) {}

fileio::~fileio() { close(); }

void fileio::reset() {
  fd_ = -1;
  size_ = 0;
  write_ = 0;
  open_ok_ = 0;
  text_ = 0;
  path_.clear();
}

bool fileio::open(const std::wstring& wpath, u8 write, u8 text, u8 truncate) {
  return open(uni::wstring_to_utf8(wpath), write, text, truncate);
}

bool fileio::open_ex(const std::string& path, u8 write, u8 text, u8 truncate, u8) {
  return open(path, write, text, truncate);
}

bool fileio::open_ex(const std::wstring& wpath, u8 write, u8 text, u8 truncate, u8) {
  return open(wpath, write, text, truncate);
}

bool fileio::open(const std::string& path_in, u8 write, u8 text, u8 truncate) {
  if (path_in.empty()) return false;
  const std::string path = strip_trailing_slashes(path_in);
  if (is_open() || fd_ != -1) close();
  // A failed write of an earlier file says nothing about this one.
  write_failed_ = false;
  text_ = text;
  write_ = write;
  path_ = path;
  if (path.empty()) {
    reset();
    return false;
  }

  int flags = O_NONBLOCK | O_CLOEXEC;
  if (write) {
    flags |= O_RDWR;
    if (truncate) flags |= O_CREAT | O_TRUNC;
  } else {
    // A read-only open never creates or truncates.
    flags |= O_RDONLY;
  }
  const int fd = ::open(path.c_str(), flags, 0666);
  if (fd == -1) {
    reset();
    return false;
  }
  // A directory opens on Linux and reports a size of 2^63-1; a FIFO or socket
  // would block or never end. None of them is a log or a results file.
  struct stat st;
  clear_stat(&st);
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode) || S_ISFIFO(st.st_mode) ||
      S_ISSOCK(st.st_mode)) {
    ::close(fd);
    reset();
    return false;
  }
  fd_ = fd;
  open_ok_ = 1;
  size_ = measure_size();
  return true;
}

u64 fileio::measure_size() const {
  if (fd_ == -1) return 0;
  const off_t here = ::lseek(fd_, 0, SEEK_CUR);
  errno = 0;
  const off_t end = ::lseek(fd_, 0, SEEK_END);
  const int err = errno;
  if (here != -1) (void)::lseek(fd_, here, SEEK_SET);
  if (end == 0 || end == -1) {
    // Files under /proc report no size; that many bytes are read from them.
    if (err == EINVAL && path_.rfind("/proc", 0) == 0) return 0x40000;
    return 0;
  }
  return static_cast<u64>(end);
}

u64 fileio::size() const { return is_open() ? size_ : 0; }

bool fileio::read(byte_array& out, u64 length, u64 offset) {
  if (!is_open() || offset >= size_) return false;
  if (length == 0) return true;
  if (::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) == -1) return false;
  length = std::min(length, size_ - offset);
  try {
    out.resize(length);
  } catch (const std::bad_alloc&) {
    return false;
  }
  const u64 got = read_here(out.data(), length);
  if (got < length) {
    // The file shrank or the device failed: the caller must not take the
    // missing bytes for data.
    out.resize(got);
    return false;
  }
  return true;
}

u64 fileio::read_here(u8* dest, u64 length) {
  u64 got = 0;
  while (got < length) {
    const u64 want = std::min(io_chunk, length - got);
    const ssize_t n = ::read(fd_, dest + got, want);  // bounds: want <= length - got
    if (n < 0 && errno == EINTR) continue;
    if (n < 1) break;
    got += static_cast<u64>(n);
  }
  return got;
}

bool fileio::read_into(std::span<u8> dest, u64 offset, u64& got) {
  got = 0;
  if (!is_open() || offset >= size_) return false;
  const u64 length = std::min<u64>(dest.size(), size_ - offset);
  if (length == 0) return true;
  if (::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) == -1) return false;
  got = read_here(dest.data(), length);
  return got == length;
}

bool fileio::write_all(const u8* buf, u64 len) {
  if (write_to_descriptor(fd_, buf, len)) return true;
  write_failed_ = true;
  return false;
}

bool fileio::write(const u8* buf, u64 len) {
  if (!is_open() || buf == nullptr) return false;
  if (len == 0) return true;
  if (::lseek(fd_, 0, SEEK_END) == -1) return false;
  const bool ok = write_all(buf, len);
  size_ = measure_size();
  return ok;
}

bool fileio::write_at(const u8* buf, u64 len, u64 offset) {
  if (!is_open() || buf == nullptr) return false;
  if (len == 0) return true;
  if (::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) == -1) return false;
  const bool ok = write_all(buf, len);
  size_ = measure_size();
  (void)::lseek(fd_, 0, SEEK_END);
  return ok;
}

bool fileio::append(const byte_array& bytes) {
  if (!is_open() || bytes.empty()) return false;
  return write(bytes.data(), bytes.size());
}

bool fileio::append_text(const std::ostringstream& text) {
  if (!is_open()) return false;
  const std::string s = text.str();
  if (s.empty()) return true;
  return write(reinterpret_cast<const u8*>(s.data()), s.size());
}

bool fileio::close() {
  bool ok = true;
  if (output_) {
    ok = output_->flush_output() == 0;
    output_.reset();
  }
  if (fd_ != -1) ::close(fd_);
  reset();
  return ok && !write_failed_;
}

fileio_output* fileio::make_output() {
  if (!is_open()) return nullptr;
  output_ = std::make_unique<fileio_output>(this, output_block);
  return output_.get();
}

bool fileio_is_open(const void* file) {
  return file != nullptr && static_cast<const fileio*>(file)->is_open();
}

bool read_window::view(std::span<const u8>& out, u64 length, u64 offset) {
  out = {};
  const u64 size = file_.size();
  if (offset >= size) return false;
  length = std::min(length, size - offset);
  // offset - bytes_offset_ cannot wrap: the first test rules that out
  const bool inside = offset >= bytes_offset_ && zarn::fits(held_, offset - bytes_offset_, length);
  if (!inside && !move_to(offset, std::max(length, std::min(block_size_, size - offset)))) {
    return false;
  }
  // after a move the window starts at offset; a short read holds less
  const u64 at = offset - bytes_offset_;
  out = std::span<const u8>(bytes_).subspan(at, std::min(length, held_ - at));
  return out.size() == length;
}

bool read_window::move_to(u64 offset, u64 want) {
  try {
    if (bytes_.size() < want) bytes_.resize(want);
  } catch (const std::bad_alloc&) {
    return false;
  }
  // the bytes held from `offset` on (a buffer that ran past the window's
  // end) move to the front instead of being read again
  u64 kept = 0;
  if (offset >= bytes_offset_ && offset - bytes_offset_ < held_) {
    const u64 skip = offset - bytes_offset_;
    kept = held_ - skip;
    const auto from = bytes_.begin() + static_cast<std::ptrdiff_t>(skip);
    if (skip != 0) std::copy(from, from + static_cast<std::ptrdiff_t>(kept), bytes_.begin());
  }
  bytes_offset_ = offset;
  held_ = kept;
  if (kept < want) {
    u64 got = 0;
    // a short read leaves the window holding what did arrive
    (void)file_.read_into(std::span<u8>(bytes_).subspan(kept, want - kept), offset + kept, got);
    held_ += got;
  }
  return true;
}

bool read_file_head(byte_array& out, const std::string& path, u32 max) {
  out.clear();
  if (path.empty() || max == 0) return false;
  fileio f;
  if (!f.open(path, 0, 1, 0)) return false;
  const u64 n = std::min<u64>(max, f.size());
  if (n == 0) return false;
  return f.read(out, n, 0);
}

void clear_stat(struct stat* st) { std::memset(st, 0, sizeof *st); }

bool same_file(const std::string& a, const std::string& b) {
  struct stat sa;
  struct stat sb;
  if (stat_path(a.c_str(), &sa) != 0 || stat_path(b.c_str(), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

int stat_path(const char* path, struct stat* st) {
  clear_stat(st);
  return ::stat(path, st);
}

bool stat_path_w(struct stat* st, const std::wstring& wpath) {
  return stat_path(uni::wstring_to_utf8(wpath).c_str(), st) == 0;
}

int fstat_fd(int fd, struct stat* st) {
  clear_stat(st);
  return ::fstat(fd, st);
}

bool get_file_info(file_info& info, const std::string& path) {
  info.clear();
  if (path.empty()) return false;
  struct stat st;
  if (stat_path(path.c_str(), &st) != 0) return false;
  info.mode = st.st_mode;
  info.inode = st.st_ino;
  info.size = static_cast<u64>(st.st_size);
  info.modified = st.st_mtime;
  info.changed = st.st_ctime;
  info.accessed = st.st_atime;
  info.is_dir = S_ISDIR(st.st_mode) ? 1 : 0;
  info.time_kind = info.modified < 0 ? 16 : 8;
  return true;
}

bool get_file_info(file_info& info, const std::wstring& wpath) {
  return get_file_info(info, uni::wstring_to_utf8(wpath));
}

}  // namespace uni

std::string get_exe_path() {
  std::vector<char> buf(2048, 0);
  const ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size() - 1);
  if (n < 0) return "";
  return std::string(buf.data());
}
