#include "support/run_vesk.hpp"

#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <string_view>

#include "common/byte_reader.hpp"
#include "decode/template_db.hpp"

#include "support/temp_dir.hpp"

namespace {
std::string shell_quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) {
    if (c == '\'') {
      q += "'\\''";
    } else {
      q += c;
    }
  }
  return q + "'";
}
}  // namespace

vesk_result run_program(const std::string& program, const std::vector<std::string>& args,
                        const std::string& stdin_text, const std::string& env) {
  temp_dir dir;
  const std::string in = dir.write("stdin", stdin_text);
  std::string cmd = env.empty() ? "" : env + " ";
  cmd += shell_quote(program);
  for (const std::string& a : args) cmd += " " + shell_quote(a);
  cmd += " <" + shell_quote(in) + " >" + shell_quote(dir.path("out")) + " 2>" +
         shell_quote(dir.path("err"));
  const int raw = std::system(cmd.c_str());
  vesk_result r;
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  r.out = read_text(dir.path("out"));
  r.err = read_text(dir.path("err"));
  return r;
}

vesk_result run_vesk(const std::vector<std::string>& args, const std::string& stdin_text,
                     const std::string& env) {
  return run_program(VESK_BINARY, args, stdin_text, env);
}

byte_array program_template_block(const std::string& program) {
  const byte_array file = read_all(program);
  constexpr std::string_view marker = "VESK_TEMPLATE_DB";
  const auto at = std::search(file.begin(), file.end(), marker.begin(), marker.end());
  u32 offset = 0;
  u32 length = 0;
  const u64 pos = static_cast<u64>(at - file.begin()) + marker.size();
  if (at == file.end() || !zarn::read_u32_at(file, pos, offset) ||
      !zarn::read_u32_at(file, pos + 4, length)) {
    return {};
  }
  byte_array block;
  (void)read_template_block(block, offset, length, program);
  return block;
}
