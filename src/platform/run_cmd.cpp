#include "platform/run_cmd.hpp"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

extern char** environ;

namespace {

void close_fd(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

// When we run with descriptor 0, 1 or 2 closed, a new pipe end can land on
// one of them and the child's own dup2 onto that number would clobber it;
// such an end is moved above 2 first.
bool lift_above_std(int& fd) {
  if (fd > 2) return true;
  const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
  close_fd(fd);
  fd = moved;
  return fd >= 0;
}

// Copies one read, dropping every CR that an LF follows. A CR ending the read
// is held back: the next read decides (an LF first drops it), and at the end
// of the output the caller writes it.
void copy_chunk(std::ostream& out, const char* p, size_t n, bool& held_cr) {
  if (held_cr && (n == 0 || p[0] != '\n')) out.put('\r');
  held_cr = false;
  size_t start = 0;
  for (size_t i = 0; i < n; ++i) {
    if (p[i] != '\r') continue;
    if (i + 1 < n && p[i + 1] != '\n') continue;  // a lone CR stays
    out.write(p + start, static_cast<std::streamsize>(i - start));
    start = i + 1;
    if (start == n) held_cr = true;
  }
  out.write(p + start, static_cast<std::streamsize>(n - start));
}

// Starts the program with standard output (and, when asked, standard error)
// on write_end and standard input on /dev/null. The child starts with every
// signal at its default and none blocked, whatever we ignore or block.
// Returns posix_spawn's error number (0 when the program runs).
int spawn_child(pid_t& pid, const run_cmd_ctx& ctx, int write_end) {
  std::vector<std::string> words;
  words.reserve(ctx.args.size() + 1);
  words.push_back(ctx.program);
  words.insert(words.end(), ctx.args.begin(), ctx.args.end());
  std::vector<char*> argv;
  argv.reserve(words.size() + 1);
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
  if (posix_spawn_file_actions_init(&actions) != 0) return ENOMEM;
  if (posix_spawnattr_init(&attr) != 0) {
    posix_spawn_file_actions_destroy(&actions);
    return ENOMEM;
  }
  sigset_t all, none;
  sigfillset(&all);
  sigemptyset(&none);
  int err = posix_spawnattr_setsigdefault(&attr, &all);
  if (err == 0) err = posix_spawnattr_setsigmask(&attr, &none);
  const short flags = POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK;
  if (err == 0) err = posix_spawnattr_setflags(&attr, flags);
  if (err == 0) err = posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  if (err == 0) err = posix_spawn_file_actions_adddup2(&actions, write_end, 1);
  if (err == 0 && ctx.append_stderr) err = posix_spawn_file_actions_adddup2(&actions, write_end, 2);
  // Both pipe ends carry close-on-exec, so the child keeps only 1 (and 2).
  // A program that cannot be executed is reported here, already reaped.
  if (err == 0) err = posix_spawn(&pid, ctx.program.c_str(), &actions, &attr, argv.data(), environ);
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  return err;
}

}  // namespace

int run_cmd_capture(run_cmd_ctx& ctx) {
  ctx.result = -1;
  ctx.bytes_read = 0;
  if (ctx.out == nullptr || ctx.program.empty()) return -1;

  int ends[2] = {-1, -1};
  if (pipe2(ends, O_CLOEXEC) != 0) return -1;
  if (!lift_above_std(ends[0]) || !lift_above_std(ends[1])) {
    close_fd(ends[0]);
    close_fd(ends[1]);
    return -1;
  }
  pid_t pid = -1;
  const int spawn_err = spawn_child(pid, ctx, ends[1]);
  close_fd(ends[1]);  // the child holds its own copy; ours would keep the pipe from ending
  if (spawn_err != 0) {
    close_fd(ends[0]);
    return -1;
  }

  // Streamed a read at a time: the output is never held whole.
  std::vector<char> chunk(run_cmd_chunk_size);
  bool held_cr = false;
  bool read_failed = false;
  for (;;) {
    const ssize_t n = read(ends[0], chunk.data(), chunk.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      read_failed = true;
      break;
    }
    if (n == 0) break;
    ctx.bytes_read += static_cast<u64>(n);
    copy_chunk(*ctx.out, chunk.data(), static_cast<size_t>(n), held_cr);
  }
  if (held_cr) ctx.out->put('\r');
  // After a failed read, closing our end lets a still-writing child end on
  // a broken pipe rather than block, so the wait below returns.
  close_fd(ends[0]);

  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  if (WIFEXITED(status)) ctx.result = WEXITSTATUS(status);
  return ctx.result == 0 && !read_failed ? 0 : -1;
}

bool run_cmd(const std::string& program, const std::vector<std::string>& args, std::ostream* out,
             u8 append_stderr) {
  if (program.empty() || out == nullptr) return false;
  run_cmd_ctx ctx;
  ctx.program = program;
  ctx.args = args;
  ctx.out = out;
  ctx.append_stderr = append_stderr;
  return run_cmd_capture(ctx) == 0 && ctx.bytes_read > 0;
}
