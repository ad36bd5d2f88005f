#include "platform/stdin_stream.hpp"

#include "common/zarn_string.hpp"

namespace uni {

stdin_stream::stdin_stream(u8 flag) : stdin_stream(flag, stdin) {}

stdin_stream::stdin_stream(u8 flag, FILE* source) {
  file_ = source;
  if (file_ == nullptr) return;
  buffer_ = std::make_unique<char[]>(buffer_size_);
  flag_ = flag;
  ready_ = 1;
}

stdin_stream::~stdin_stream() { close(); }

void stdin_stream::close() {
  buffer_.reset();
  file_ = nullptr;
  ready_ = 0;
}

bool stdin_stream::read_line(std::string& out, u8 trim) { return next_line(out, trim); }

bool stdin_stream::next_line(std::string& out, u8 trim) {
  out.clear();
  if (ready_ == 0 || file_ == nullptr || !buffer_) return false;
  // Byte by byte into the buffer, handed on whenever it fills: the line ends
  // only at a real LF or the end of input, never at a full buffer, and a NUL
  // byte inside a name cannot hide where the line stops.
  u32 used = 0;
  bool any = false;
  int c = 0;
  while ((c = std::getc(file_)) != EOF) {
    any = true;
    buffer_[used++] = static_cast<char>(c);
    if (used == buffer_size_) {
      out.append(buffer_.get(), used);
      used = 0;
    }
    if (c == '\n') break;
  }
  out.append(buffer_.get(), used);
  if ((c == EOF && std::ferror(file_) != 0) || !any) {
    out.clear();
    return false;
  }
  if (trim == 1) strip_trailing_crlf(out);
  return true;
}

bool stdin_stream::read_wline(std::wstring& out, u8 trim) {
  out.clear();
  std::string line;
  if (!next_line(line, trim)) return false;
  // A line that is not valid UTF-8 is still a line read; the caller gets
  // whatever part of it decoded.
  utf8_to_wstring_ex(out, line);
  return true;
}

bool stdin_ready() { return true; }

}  // namespace uni
