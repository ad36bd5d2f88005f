#include "app/vesk_main.hpp"

#include <fcntl.h>
#include <unistd.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <sstream>
#include <utility>
#include <vector>

#include "app/name_source.hpp"
#include "app/sibling_tool.hpp"
#include "app/vesk_user_opts.hpp"
#include "common/zarn_string.hpp"
#include "decode/template_db.hpp"
#include "etl/etl_run.hpp"
#include "output/csv_field.hpp"
#include "output/event_table.hpp"
#include "platform/console.hpp"
#include "platform/fileio.hpp"

namespace {

// The command-line line opens with this label.
constexpr char header_label[] = "cmdline";
constexpr char banner[] = "vesk - Windows event trace log parser, version 0.1";

int ignore_string_callback(std::string*) { return 0; }

// A standard stream the program was started without is held by /dev/null,
// read-only. Left free, its number would go to the first file the run
// opens: results meant for standard output would land in the results file
// or the -diags file, and a log's bytes would be read as -pipe names.
// Read-only, a write to it still fails and is reported.
void hold_standard_streams() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    const int held = ::open("/dev/null", O_RDONLY);
    if (held != fd && held != -1) ::close(held);
  }
}

// Exit statuses besides 0 and -1 (seen as 255).
// a log could not be read or was left out, a folder of the walk could not
// be listed, or the -diags file could not be written
constexpr int status_incomplete = 1;

// The output file (results, reduced log or -diags) that is the input file
// `name`, under any name or link; null when there is none. The run that
// read such a file would destroy it.
const std::string* output_that_is(const vesk_user_opts& opts, const std::string& name) {
  for (const std::string* output : {&opts.out_path, &opts.diags_path}) {
    if (!output->empty() && uni::same_file(*output, name)) return output;
  }
  return nullptr;
}

// The files the run reads before it writes: the logs of -log, the
// -templates file, and a sibling mode's PE file or hive. (Names read from
// standard input or a walk come later and are tested one by one.)
std::vector<std::pair<std::string, const char*>> named_inputs(const vesk_user_opts& opts) {
  std::vector<std::pair<std::string, const char*>> inputs;
  if (!opts.templates_file.empty()) inputs.emplace_back(opts.templates_file, "templates file");
  if (opts.extract_bxml) {
    if (!opts.pipe && !opts.enumdir_given) inputs.emplace_back(opts.pefile, "input file");
  } else if (opts.providers) {
    inputs.emplace_back(opts.hive, "input file");
  } else {
    for (const std::string& log : opts.log_files) inputs.emplace_back(log, "input log");
  }
  return inputs;
}

// Two output paths name one file: the same file when it exists, else the
// same name in the same folder (neither has been created yet).
bool same_output(const std::string& a, const std::string& b) {
  if (uni::same_file(a, b)) return true;
  struct stat st;
  if (uni::stat_path(a.c_str(), &st) == 0 || uni::stat_path(b.c_str(), &st) == 0) return false;
  const std::filesystem::path pa(a), pb(b);
  const std::string folder_a = pa.has_parent_path() ? pa.parent_path().string() : ".";
  const std::string folder_b = pb.has_parent_path() ? pb.parent_path().string() : ".";
  return pa.filename() == pb.filename() && uni::same_file(folder_a, folder_b);
}

// No output file may be an input, or the other output: the results file
// would destroy what it was made from, and diagnostics written into the
// results would leave lines that are not results.
bool outputs_spare_inputs(const vesk_user_opts& opts) {
  if (!opts.out_path.empty() && !opts.diags_path.empty() && same_output(opts.out_path, opts.diags_path)) {
    print_message("output file %s is also the -diags file: refusing to mix diagnostics into it\n",
                  opts.out_path.c_str());
    return false;
  }
  for (const auto& [input, what] : named_inputs(opts)) {
    const std::string* output = output_that_is(opts, input);
    if (output == nullptr) continue;
    print_message("output file %s is the %s %s: refusing to write it\n", output->c_str(), what,
                  input.c_str());
    return false;
  }
  return true;
}

// The names of -pipe and -enumdir come only once the outputs are open: an
// output file that already holds a log (of any kind the run reads) may be
// one of them, and opening the output would destroy it before it is read.
bool outputs_hold_no_log(const vesk_user_opts& opts) {
  const bool names_come_later =
      opts.log_files.empty() && (opts.pipe != 0 || opts.enumdir_given != 0);
  if (opts.extract_bxml || opts.providers || !names_come_later) return true;
  for (const std::string* output : {&opts.out_path, &opts.diags_path}) {
    struct stat st;
    // only a regular file is looked into: opening a FIFO to read would wait
    if (output->empty() || uni::stat_path(output->c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
      continue;
    }
    if (log_file_kind(*output) == etl_file_kind_t::not_etl) continue;
    print_message(
        "output file %s is a log that -pipe or -enumdir may name: refusing to overwrite it\n",
        output->c_str());
    return false;
  }
  return true;
}

// Whether the run can start, and the -pipe or -enumdir name source started.
// Decided before anything is opened for writing, so that a run refused here
// leaves every named output file as it was.
bool run_can_start(const vesk_user_opts& opts, zarnportdir::stdin_stream_ex& names) {
  if (!outputs_spare_inputs(opts) || !outputs_hold_no_log(opts)) return false;
  if (opts.extract_bxml || opts.providers || !opts.log_files.empty()) return true;
  if (opts.pipe != 0) return names.init_pipe(1);
  if (opts.enumdir_given == 0) return false;  // no input mode: nothing to say
  // a folder that cannot be listed is said before any output is opened
  if (names.init_enumdir(opts.enumdir_path, opts.num_subdirs, opts.include_filters, opts.skip_filters)) {
    return true;
  }
  if (!opts.enumdir_path.empty()) print_message("prob listing folder: %s\n", opts.enumdir_path.c_str());
  return false;
}

// One input log: read, or named when it cannot be. Returns the status it
// leaves: 0, or status_incomplete when it was not read, or not all of it.
// With -pullguid the reduced log holds the first log read, and every later
// one is named as left out.
int read_one_log(std::ostream& out, vesk_user_opts& opts, etl_run& run, const std::string& name) {
  if (opts.reduced.taken()) {
    print_message("not taken into the reduced log, which holds the first log only: %s\n",
                  name.c_str());
    return status_incomplete;
  }
  opts.current_file = name;
  opts.processor.file_name = name;
  const u64 not_read_before = run.buffers_not_read;
  if (!process_etl_file(out, name, run)) {
    print_message("prob parsing file: %s\n", name.c_str());
    return status_incomplete;
  }
  // compressed buffers were left unread (the file run has named them)
  return run.buffers_not_read != not_read_before ? status_incomplete : 0;
}

// The -log list, in the order given. Every log is read; each one that
// cannot be is named.
int run_log_list(std::ostream& out, vesk_user_opts& opts, etl_run& run) {
  int status = 0;
  for (const std::string& name : opts.log_files) {
    status = std::max(status, read_one_log(out, opts, run, name));
  }
  return status;
}

// The names of -pipe (standard input) or -enumdir (a folder walk), each
// narrowed by the filters. A log that cannot be read is named whether or
// not the status line is shown, and leaves status_incomplete, as does a
// folder of the walk that cannot be listed.
int run_name_source(std::ostream& out, vesk_user_opts& opts, etl_run& run,
                    zarnportdir::stdin_stream_ex& source) {
  int status = 0;
  std::string name;
  file_info info;
  while (source.next_name(name, 1)) {
    if (name.empty()) continue;
    if (name.find('\0') != std::string::npos) {
      // no file name holds a NUL: opened, or even tested by the filter, the
      // name would stand for the file its text before the NUL names
      print_message("prob parsing file: %s\n", name_shown(name).c_str());
      status = status_incomplete;
      continue;
    }
    info.clear();
    if (!name_passes_filters(opts, name, opts.include_filters, opts.skip_filters, info)) continue;
    try {
      name = expand_env_vars(name, true);
      std::string folder, file;
      if (!split_path(name, folder, file)) continue;
      if (opts.status_display != 0) print_message("%s\n", name.c_str());
      if (const std::string* output = output_that_is(opts, name)) {
        print_message("input log %s is the output file %s: not read\n", name.c_str(),
                      output->c_str());
        status = status_incomplete;
        continue;
      }
      status = std::max(status, read_one_log(out, opts, run, name));
    } catch (...) {
      print_message("exception caught on file %s\n", name.c_str());
      status = status_incomplete;
    }
  }
  if (source.folders_not_listed() != 0) status = status_incomplete;
  return status;
}

// The templates of the log-reading road: the user's file, the block the
// build placed in the program, the kernel provider names. A template file
// that was named but cannot be read refuses the run: its events would
// otherwise come out undecoded as if no file had been given.
bool load_run_templates(vesk_user_opts& opts) {
  if (opts.extract_bxml || opts.providers) return true;
  // Without its block (a build that placed none, a section emptied or a
  // file cut short since) the program decodes nothing by template; an
  // examiner must learn that from the run, not from the rows.
  byte_array block;
  const std::string program = get_exe_path();
  if (!read_located_template_block(block, template_db_locator, program)) {
    print_message("no template block in %s: payloads are guessed only\n", program.c_str());
  }
  return opts.processor.load_templates(std::move(block), opts.templates_file);
}

// The log-reading road: the logs of -log, -pipe or -enumdir.
int run_logs(std::ostream& out, vesk_user_opts& opts, zarnportdir::stdin_stream_ex& names) {
  opts.processor.no_guessing = opts.no_guessing;
  event_writer writer;
  etl_run run{opts, opts.run_settings, opts.processor, opts.reduced,
              [&writer](std::ostream& out, event_record& e, cmd_params& o) {
                writer.write_event_row(e, out, o);
              }};
  const int status =
      opts.log_files.empty() ? run_name_source(out, opts, run, names) : run_log_list(out, opts, run);
  // the reduced log is this mode's whole result: losing it is a failure
  return opts.reduced.failed() ? -1 : status;
}

}  // namespace

void print_usage(const std::string&) {
  static const char* const lines[] = {
      "Usage:",
      "  vesk -log \"log1 | log2 | ..\"   = pull data from extracted logs",
      "  find /somedir -name *.etl -type f | vesk  -pipe [options]",
      "  ls /somedir/*.etl | vesk  -pipe [options]",
      "  vesk -enumdir <folder> -num_subdirs <#> [options]",
      "",
      " Basic options",
      "  -csvl2t                     = log2timeline output",
      "  -pipe                       = pipe files into vesk for processing",
      "  -quiet                      = don't display status during run",
      "  -filter <*partial*|*.ext>   = filters stdin data from -pipe option",
      "  -dateformat mm/dd/yyyy      = \"yyyy-mm-dd\" is the default",
      "  -timeformat hh:mm:ss        = \"hh:mm:ss.xxxxxxxxx\" is the default",
      "  -no_whitespace              = remove whitespace between csv delimiter",
      "  -csv_separator \"|\"          = use a pipe char for csv separator",
      "",
      " --- the following options are for debugging purposes only ---",
      " Other options",
      "  -stats                      = list the stats in the ETL file(s)",
      "  -templates <file>           = file with template instructions",
      "  -guids                      = list the providers in the ETL file(s)",
      "  -pullguid <guid> -out <etl> = create subset ETL file with just GUID records",
      "",
      " Standalone utility options",
      "  -extract_bxml <pefile>      = pull out vesk encoded bxml for event ids",
      "  -providers <sw hive>        = pull out providers from software hive",
      "",
  };
  std::string text(77, '-');
  text += "\n\n";
  text += banner;
  text += "\n\n";
  for (const char* line : lines) {
    text += line;
    text += '\n';
  }
  std::fputs(text.c_str(), stderr);
}

namespace {

// Results go out in large blocks, like the results file's: the library's own
// buffer of standard output takes no other size once its stream is open, and
// writes 8 KB at a time. Standard output is given a buffer of 256 KiB for the
// run and its own buffer back at the end, everything written.
class standard_output_blocks {
 public:
  standard_output_blocks() : previous_(std::cout.rdbuf(&blocks_)) {}
  ~standard_output_blocks() {
    std::cout.flush();
    std::cout.rdbuf(previous_);
  }
  standard_output_blocks(const standard_output_blocks&) = delete;
  standard_output_blocks& operator=(const standard_output_blocks&) = delete;

 private:
  uni::descriptor_ostream blocks_{STDOUT_FILENO, std::size_t{1} << 18};
  std::streambuf* previous_;
};

}  // namespace

int vesk_main(int argc, const char* const* argv) {
  hold_standard_streams();
  const standard_output_blocks result_blocks;
  std::vector<std::string> args;
  args_to_vector(args, argc, argv);
  auto ctx = std::make_unique<cmdline_ctx>();

  for (const char* help : {"-h", "-help", "/?", "--help"}) {
    if (has_flag(help, args, 0)) {
      // The context is not configured yet, so it reports nothing at its end.
      print_usage(args.empty() ? "" : args[0]);
      return 0;
    }
  }
  if (args.size() <= 1) {
    print_usage(args.empty() ? "" : args[0]);
    return 0;
  }

  // The line repeats the command line between double quotes. Names in it come
  // from the user and may hold quotes or line breaks: written as one CSV
  // field, marked like decoded values, they can neither end the line early
  // nor unbalance a reader's quotes.
  std::string command = header_label;
  command += ": ";
  if (has_flag_nokeep("-pipe", args, 1)) command += "<filelist> ... | ";
  std::string joined;
  join_quoted(joined, args, '\'');
  command += joined;
  mark_breaks_and_nuls(command);
  std::string header;
  append_csv_quoted(header, command);
  header += '\n';

  int status = -1;
  {
    vesk_user_opts opts;
    zarnportdir::stdin_stream_ex names(&opts);
    if (!opts.read_options(args) || !run_can_start(opts, names) || !load_run_templates(opts)) {
      std::cout << header << '\n';
      std::cout.flush();
      return -1;
    }
    // a -diags file that cannot be written costs the run its diagnostics,
    // not its results: named, and the run ends incomplete
    const std::string diags_path = opts.diags_path;
    const bool diags_lost = !opts.open_diagnostics();
    if (diags_lost) print_message("prob writing diagnostics file: %s\n", diags_path.c_str());
    ctx->configure(opts, ignore_string_callback);

    // With -pullguid the -out path receives the reduced log, which must stay a
    // clean log: the results text then goes to standard output.
    uni::fileio results;
    std::ostream* out = &std::cout;
    if (!opts.out_path.empty() && opts.run_settings.mode() != run_mode::pullguid) {
      if (!results.open(opts.out_path, 1, 0, 1)) {
        print_message("prob opening results file: %s for writing\n", opts.out_path.c_str());
        return -1;
      }
      out = results.make_output();
    }
    // log2timeline output is CSV and nothing else: every line a timeline line
    if (opts.csvl2t == 0) *out << header << '\n';
    status = opts.extract_bxml ? run_extract_bxml(*out, opts)
             : opts.providers  ? run_providers(*out, opts)
                               : run_logs(*out, opts, names);
    out->flush();
    if (results.is_open() && !results.close()) {
      // A full disk or a failing device must not leave a cut results file
      // looking complete.
      print_message("prob writing results file: %s\n", opts.out_path.c_str());
      status = -1;
    }
    if (out == &std::cout && !std::cout.good()) {
      // the same for standard output: a full device, a closed stream
      print_message("prob writing results file: %s\n", "standard output");
      status = -1;
    }
    if (diags_lost && status == 0) status = status_incomplete;
  }
  // The elapsed time goes into the -diags file last of all.
  if (!ctx->finish() && status == 0) status = status_incomplete;
  return status;
}
