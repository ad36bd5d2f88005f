#include "support/run_vesk.hpp"

#include <sys/wait.h>

#include <cstdlib>

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

vesk_result run_vesk(const std::vector<std::string>& args, const std::string& stdin_text,
                     const std::string& env) {
  temp_dir dir;
  const std::string in = dir.write("stdin", stdin_text);
  std::string cmd = env.empty() ? "" : env + " ";
  cmd += shell_quote(VESK_BINARY);
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
