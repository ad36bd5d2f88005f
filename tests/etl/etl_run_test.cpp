#include "etl/etl_run.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>

#include "etl/etl_reports.hpp"
#include "platform/fileio.hpp"
#include "support/file_run.hpp"
#include "support/log_builder.hpp"
#include "support/run_vesk.hpp"
#include "support/temp_dir.hpp"

using namespace logbuild;

namespace {

const char* const ev_text = "8e805eb3-6a8f-4a1e-90fa-a831d94e54a1";
const char* const msg_text = "2818ef08-6a54-396f-2244-5a6ea4a98cf0";
const guid ev_provider = guid_of(ev_text);
const guid msg_provider = guid_of(msg_text);

enum class mode { stats, guids, pullguid, table };

struct run_result {
  bool ok = false;
  std::string out;
  byte_array reduced;
  u8 reduced_failed = 0;
  u32 selector = 0;
};

// Runs one log file through process_etl_file with a fresh file run.
run_result run_log(const byte_array& log, mode m, const guid& pull = ev_provider) {
  temp_dir dir;
  const std::string path = dir.write("in.etl", log);
  file_run f;
  f.options.current_file = path;
  f.settings.stats = m == mode::stats;
  f.settings.guids = m == mode::guids;
  if (m == mode::pullguid) {
    f.settings.pullguid = 1;
    f.settings.pullguid_guid = pull;
    f.options.out_path = dir.path("reduced.etl");
  }
  std::ostringstream out;
  run_result r;
  r.ok = process_etl_file(out, path, f.run);
  r.out = out.str();
  r.reduced_failed = f.reduced.failed();
  if (m == mode::pullguid) r.reduced = read_all(f.options.out_path);
  r.selector = f.processor.templates.selector;
  // the reduced log is closed after the run
  EXPECT_FALSE(f.reduced.is_open());
  return r;
}

// The -stats text after the "file:" block.
std::string stats_of(const byte_array& log) {
  const run_result r = run_log(log, mode::stats);
  EXPECT_TRUE(r.ok);
  const std::size_t at = r.out.find("\n\n");
  return at == std::string::npos ? r.out : r.out.substr(at + 2);
}

// Places records after what the first buffer holds (its filled length) and
// moves the filled length on.
void add_to_first_buffer(byte_array& first, const std::vector<byte_array>& records) {
  u64 pos = u64{first[48]} | u64{first[49]} << 8 | u64{first[50]} << 16;
  for (const byte_array& r : records) {
    pos = (pos + 7) / 8 * 8;
    std::copy(r.begin(), r.end(), first.begin() + static_cast<std::ptrdiff_t>(pos));
    pos += r.size();
  }
  set_u32(first, 48, static_cast<u32>(pos));
}

byte_array ev(u16 id, u64 time = ft_2020 + 2) {
  return build_record(record_event{.type_code = 0xC013, .time = time, .event_id = id});
}
// A trace message as loggers write it: option flags GUID, time and system
// information, no sequence number.
byte_array msg(u16 id) {
  return build_record(record_9000{.variant = 24, .event_id = id, .property = 0x002A});
}

// A FILETIME-clock logfile-header log: a first buffer of 0x400 bytes holding
// one kernel record after the logfile-header record, then two buffers.
byte_array logfile_log(u32 pointer_size = 8, u32 buffer_size = 0x400) {
  byte_array first = build_logfile_first_buffer(
      {.pointer_size = pointer_size, .first_buffer_size = buffer_size, .clock_type = 2});
  add_to_first_buffer(first, {build_record(record_generic{.type_code = 0xC002, .hook_id = 0x0050})});
  const buffer_header_fields h{.buffer_size = buffer_size, .time = ft_2021};
  return join({first, buffer_builder(h).add(ev(10)).add(msg(1)).add(ev(9)).finish(),
               buffer_builder(h).add(ev(10)).add(msg(1)).finish()});
}

const std::string logfile_stats =
    "68fdd900-4a3e-11d1-84f4-0000f80464e3 : Kernel-Event-Trace\n"
    "event id | occurances\n"
    "      80 |          1\n"
    "\n"
    "2818ef08-6a54-396f-2244-5a6ea4a98cf0 : \n"
    "event id | occurances\n"
    "       1 |          2\n"
    "\n"
    "8e805eb3-6a8f-4a1e-90fa-a831d94e54a1 : \n"
    "event id | occurances\n"
    "       9 |          1\n"
    "      10 |          2\n"
    "\n";

// The two kinds without logfile header: their buffers use the "RlFs" layout.
byte_array rlfs_log() {
  const buffer_header_fields h{.buffer_size = 0x200, .time = ft_2021};
  return join({build_rlfs_header({}), buffer_builder(h, true).add(ev(10)).add(msg(1)).finish(),
               buffer_builder(h, true).add(ev(9)).add(ev(10)).add(msg(1)).finish()});
}

byte_array zeroed_log() {
  const buffer_header_fields h{.buffer_size = 0x200, .time = ft_2021};
  return join({byte_array(72, 0), buffer_builder(h, true).add(ev(10)).add(msg(1)).finish(),
               buffer_builder(h, true).add(ev(9)).add(ev(10)).add(msg(1)).finish()});
}

const std::string no_kernel_stats = logfile_stats.substr(logfile_stats.find("2818ef08"));

TEST(EtlRun, StatsOfEachKind) {
  EXPECT_EQ(stats_of(logfile_log(8)), logfile_stats);
  EXPECT_EQ(stats_of(logfile_log(4)), logfile_stats);
  EXPECT_EQ(stats_of(rlfs_log()), no_kernel_stats);
  EXPECT_EQ(stats_of(zeroed_log()), no_kernel_stats);
}

TEST(EtlRun, ExactTextOfStatsAndGuids) {
  temp_dir dir;
  const run_result s = run_log(logfile_log(), mode::stats);
  EXPECT_TRUE(s.ok);
  EXPECT_EQ(s.out.substr(0, s.out.find("file: ")), "---------------------\n");
  EXPECT_NE(s.out.find("in.etl\n\n68fdd900"), std::string::npos);
  const run_result g = run_log(logfile_log(), mode::guids);
  EXPECT_TRUE(g.ok);
  const std::string tail = g.out.substr(g.out.find("\n\n") + 2);
  EXPECT_EQ(tail,
            "68fdd900-4a3e-11d1-84f4-0000f80464e3 : Kernel-Event-Trace\n"
            "2818ef08-6a54-396f-2244-5a6ea4a98cf0 : \n"
            "8e805eb3-6a8f-4a1e-90fa-a831d94e54a1 : \n");
}

TEST(EtlRun, RejectedFilesWriteNothing) {
  struct reject {
    const char* name;
    byte_array log;
  };
  byte_array beyond = logfile_log();
  set_u32(beyond, 0, static_cast<u32>(beyond.size() + 1));  // first buffer beyond the file
  byte_array small_first = logfile_log();
  set_u32(small_first, 0, 385);  // a first buffer too small for the logfile header
  byte_array bad_rlfs = rlfs_log();
  set_u64(bad_rlfs, 16, 5);  // not a FILETIME
  const reject cases[] = {
      {"FileOf385Bytes", cut_short(logfile_log(), 385)},
      {"ZeroedFileOf385Bytes", byte_array(385, 0)},
      {"RlfsFileOf71Bytes", cut_short(rlfs_log(), 71)},
      {"FirstBufferBeyondFile", beyond},
      {"FirstBufferTooSmall", small_first},
      {"RlfsWithoutFiletime", bad_rlfs},
      {"Text", byte_array(400, 'a')},
  };
  for (const reject& c : cases) {
    SCOPED_TRACE(c.name);
    const run_result r = run_log(c.log, mode::stats);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.out, "");
  }
  // a 386-byte file of zeros is a zeroed file with nothing in it
  const run_result z = run_log(byte_array(386, 0), mode::stats);
  EXPECT_TRUE(z.ok);
  EXPECT_EQ(z.out.substr(z.out.find("\n\n") + 2), "");
}

// A real-time backup file of one small buffer is shorter than the 386-byte
// head the other kinds need; its header alone decides its kind.
TEST(EtlRun, RlfsFileShorterThanTheHead) {
  const buffer_header_fields h{.buffer_size = 0xF0, .time = ft_2021};
  const byte_array log = join({build_rlfs_header({.buffers_start = 72, .header_length = 72}),
                               buffer_builder(h, true).add(ev(10)).finish()});
  ASSERT_LT(log.size(), etl_min_file_size);
  EXPECT_EQ(stats_of(log),
            "8e805eb3-6a8f-4a1e-90fa-a831d94e54a1 : \n"
            "event id | occurances\n"
            "      10 |          1\n\n");
}

TEST(EtlRun, ZeroSizeBufferHeaderInLogfileFile) {
  // The second buffer's size is zero: it is read as the file's buffer size
  // (stated in the logfile header) and the third buffer is still found.
  const buffer_header_fields h{.buffer_size = 0x400, .time = ft_2021};
  byte_array first = build_logfile_first_buffer({.first_buffer_size = 0x400, .clock_type = 2});
  byte_array log = join({first, buffer_builder(h).add(ev(1)).finish(),
                         buffer_builder(h).add(ev(2)).finish(), buffer_builder(h).add(ev(3)).finish()});
  zero_buffer_size(log, 0x800);
  EXPECT_EQ(stats_of(log),
            "8e805eb3-6a8f-4a1e-90fa-a831d94e54a1 : \n"
            "event id | occurances\n"
            "       1 |          1\n"
            "       2 |          1\n"
            "       3 |          1\n\n");
  // with an unusable buffer size in the logfile header, the first buffer's
  // size is the step
  const std::string all_three = stats_of(log);
  set_u32(log, 104, 0);
  EXPECT_EQ(stats_of(log), all_three);
  set_u32(log, 104, 0xFFFFFFFF);
  EXPECT_EQ(stats_of(log), all_three);
}

TEST(EtlRun, ZeroSizeHeadersInRlfsFile) {
  const buffer_header_fields h{.buffer_size = 0x200, .time = ft_2021};
  const byte_array empty_header = build_rlfs_buffer_header({.buffer_size = 0});
  const byte_array log = join({build_rlfs_header({}), buffer_builder(h, true).add(ev(1)).finish(),
                               empty_header, empty_header, empty_header,
                               buffer_builder(h, true).add(ev(2)).finish()});
  EXPECT_EQ(stats_of(log),
            "8e805eb3-6a8f-4a1e-90fa-a831d94e54a1 : \n"
            "event id | occurances\n"
            "       1 |          1\n"
            "       2 |          1\n\n");
}

TEST(EtlRun, CutOffLastBuffer) {
  // The last buffer is cut by the end of the file: the records it holds
  // whole are read, however few bytes of it remain.
  const buffer_header_fields h{.buffer_size = 0x1000, .time = ft_2021};
  buffer_builder last(h);
  for (u16 i = 0; i < 20; ++i) last.add(ev(static_cast<u16>(100 + i)));
  const byte_array first = build_logfile_first_buffer({.first_buffer_size = 0x400, .clock_type = 2});
  const byte_array full = join({first, last.finish()});
  for (const u64 left : {u64{600}, u64{300}, u64{513}, u64{512}}) {
    SCOPED_TRACE(left);
    const byte_array log = cut_short(full, 0x400 + left);
    const run_result r = run_log(log, mode::stats);
    ASSERT_TRUE(r.ok);
    u64 whole = 0;
    for (u16 i = 0; i < 20; ++i) whole += last.offset_of(i) + 86 <= left ? 1 : 0;
    ASSERT_GT(whole, 0u);
    for (u16 i = 0; i < 20; ++i) {
      const std::string row = "     " + std::to_string(100 + i) + " |          1\n";
      EXPECT_EQ(r.out.find(row) != std::string::npos, i < whole) << i;
    }
  }
}

TEST(EtlRun, FileCutAtEveryLength) {
  byte_array first = build_logfile_first_buffer({.first_buffer_size = 0x200, .clock_type = 2});
  add_to_first_buffer(first, {build_record(record_generic{.type_code = 0xC011, .hook_id = 0x0A00})});
  const buffer_header_fields h{.buffer_size = 0x100, .time = ft_2021};
  const byte_array full = join({first, buffer_builder(h).add(ev(1)).add(msg(2)).finish(),
                                buffer_builder(h).add(ev(3)).finish()});
  const std::string all = stats_of(full);
  for (u64 n = 0; n <= full.size(); ++n) {
    SCOPED_TRACE(n);
    const run_result r = run_log(cut_short(full, n), mode::stats);
    // shorter than the first buffer: not a logfile-header file
    EXPECT_EQ(r.ok, n >= 0x200);
    if (n == full.size()) {
      EXPECT_EQ(r.out.substr(r.out.find("\n\n") + 2), all);
    }
  }
}

// The buffer loop reads ahead in blocks: buffers that straddle a block's
// end, and a buffer longer than a block, are each read once and whole.
TEST(EtlRun, BuffersAcrossReadBlocksAreEachReadOnce) {
  byte_array log = build_logfile_first_buffer({.first_buffer_size = 0x400, .clock_type = 2});
  std::string expected = std::string(ev_text) + " : \nevent id | occurances\n";
  for (u16 id = 0; id < 241; ++id) {
    // 12 KiB buffers, which do not divide a block, around one of 1.5 MiB
    buffer_builder b({.buffer_size = id == 120 ? 0x180000u : 0x3000u, .time = ft_2021});
    // a count of records that changes with each buffer
    for (u64 n = 0; n <= id % 7; ++n) b.add(ev(id));
    const byte_array buffer = b.finish();
    log.insert(log.end(), buffer.begin(), buffer.end());
    const std::string text = std::to_string(id);
    expected += std::string(8 - text.size(), ' ') + text + " |          " +
                std::to_string(id % 7 + 1) + "\n";
  }
  EXPECT_EQ(stats_of(log), expected + "\n");
}

// A file that shrinks after it was opened: the read that comes back short
// ends the file there, as if it had been cut there.
TEST(EtlRun, ShrunkFileReadsAsIfCutThere) {
  temp_dir dir;
  for (const byte_array& full : {logfile_log(), rlfs_log(), zeroed_log()}) {
    for (u64 n = 386; n <= full.size(); n += 8) {
      SCOPED_TRACE(n);
      std::string outs[2];
      for (const bool shrinks : {false, true}) {
        const std::string path = dir.write("in.etl", shrinks ? full : cut_short(full, n));
        uni::fileio file;
        ASSERT_TRUE(file.open(path, 0, 0, 0));
        if (shrinks) {
          ASSERT_EQ(truncate(path.c_str(), static_cast<off_t>(n)), 0);
        }
        file_run f;
        f.settings.stats = 1;
        std::ostringstream out;
        (void)run_etl_file(out, file, f.run);
        outs[shrinks] = out.str();
      }
      EXPECT_EQ(outs[1], outs[0]);
    }
  }
}

TEST(EtlRun, ZeroedFileAfterLogfileFile) {
  // The second file is read as a file without logfile header, whatever the
  // first one left: its buffers use the "RlFs" layout, the selector is 0.
  temp_dir dir;
  const std::string a = dir.write("a.etl", logfile_log());
  const std::string b = dir.write("b.etl", zeroed_log());
  file_run f;
  f.settings.stats = 1;
  std::ostringstream out;
  ASSERT_TRUE(process_etl_file(out, a, f.run));
  ASSERT_TRUE(process_etl_file(out, b, f.run));
  EXPECT_EQ(out.str().substr(out.str().rfind("\n\n2818ef08") + 2), no_kernel_stats);
  EXPECT_EQ(f.processor.templates.providers.size(), 31u);  // kept
}

// Nothing describes a zeroed file's clock: its records keep their own
// FILETIMEs, whatever its buffer headers' times say.
TEST(EtlRun, ZeroedFileRecordsKeepTheirFiletimes) {
  temp_dir dir;
  const buffer_header_fields h{.buffer_size = 0x200, .time = 0};
  const std::string path = dir.write(
      "z.etl", join({byte_array(72, 0), buffer_builder(h, true).add(ev(1, ft_2021)).add(ev(2)).finish()}));
  file_run f;
  std::ostringstream out;
  std::vector<u64> times;
  f.run.write_row = [&times](std::ostream&, const event_record& r, cmd_params&) {
    times.push_back(r.filetime);
  };
  ASSERT_TRUE(process_etl_file(out, path, f.run));
  EXPECT_EQ(times, (std::vector<u64>{ft_2021, ft_2020 + 2}));
}

TEST(EtlRun, EventRowsNeedAWriter) {
  temp_dir dir;
  const std::string path = dir.write("a.etl", logfile_log());
  file_run f;
  std::ostringstream out;
  EXPECT_FALSE(process_etl_file(out, path, f.run));
  EXPECT_EQ(out.str(), "");
  std::vector<u64> rows;
  f.run.write_row = [&rows](std::ostream&, const event_record& r, cmd_params&) {
    rows.push_back(r.file_offset);
  };
  ASSERT_TRUE(process_etl_file(out, path, f.run));
  // the first buffer's kernel record, then three and two records
  ASSERT_EQ(rows.size(), 6u);
  EXPECT_TRUE(std::is_sorted(rows.begin(), rows.end()));
  EXPECT_LT(rows[0], 0x400u);
  EXPECT_EQ(out.str().rfind("orig source path: c:\\logs\\test.etl\n"), out.str().find("orig"));
}

// ---- -pullguid ----

TEST(Pullguid, ReducedLogReadsBackWithExactlyThatProvider) {
  struct pull_case {
    const char* name;
    byte_array log;
    const guid* provider;
    std::string stats;
  };
  const std::string ev_stats = no_kernel_stats.substr(no_kernel_stats.find(ev_text));
  const std::string msg_stats = no_kernel_stats.substr(0, no_kernel_stats.find(ev_text));
  const guid kernel = guid_of("68fdd900-4a3e-11d1-84f4-0000f80464e3");
  const pull_case cases[] = {
      {"LogfileEvents", logfile_log(), &ev_provider, ev_stats},
      {"LogfileMessages", logfile_log(), &msg_provider, msg_stats},
      {"LogfileKernelInFirstBuffer", logfile_log(), &kernel,
       logfile_stats.substr(0, logfile_stats.find(msg_text))},
      {"Logfile32", logfile_log(4), &ev_provider, ev_stats},
      {"Rlfs", rlfs_log(), &ev_provider, ev_stats},
      {"Zeroed", zeroed_log(), &msg_provider, msg_stats},
  };
  for (const pull_case& c : cases) {
    SCOPED_TRACE(c.name);
    const run_result r = run_log(c.log, mode::pullguid, *c.provider);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.out, "");  // neither the "file:" block nor any row
    EXPECT_EQ(r.reduced_failed, 0);
    ASSERT_FALSE(r.reduced.empty());
    EXPECT_EQ(stats_of(r.reduced), c.stats);
  }
}

TEST(Pullguid, ProviderAbsentGivesTheHeadOnly) {
  const guid absent = guid_of("01234567-89ab-cdef-0123-456789abcdef");
  const run_result z = run_log(zeroed_log(), mode::pullguid, absent);
  ASSERT_TRUE(z.ok);
  EXPECT_EQ(z.reduced, byte_array(72, 0));
  const run_result r = run_log(rlfs_log(), mode::pullguid, absent);
  EXPECT_EQ(r.reduced, build_rlfs_header({}));
  const run_result l = run_log(logfile_log(), mode::pullguid, absent);
  EXPECT_EQ(l.reduced.size(), 0x400u);  // the first buffer, without its kernel record
  EXPECT_EQ(stats_of(l.reduced), "");
}

TEST(Pullguid, UnopenableReducedFileIsReported) {
  temp_dir dir;
  const std::string path = dir.write("a.etl", logfile_log());
  file_run f;
  f.settings.pullguid = 1;
  f.settings.pullguid_guid = ev_provider;
  f.options.out_path = dir.path("no/such/folder/r.etl");
  std::ostringstream out;
  EXPECT_TRUE(process_etl_file(out, path, f.run));
  EXPECT_TRUE(f.reduced.failed());
  EXPECT_EQ(out.str(), "");
}

}  // namespace

// ---- the -log road of the program ----

namespace {


// Every listed log is read; each one that cannot be is named, and the run
// ends with status 1.
TEST(LogRoad, EveryListedLogIsRead) {
  temp_dir dir;
  const std::string a = dir.write("a.etl", zeroed_log());
  const std::string bad = dir.write("bad.etl", byte_array(100, 1));
  const std::string missing = dir.path("missing.etl");
  const std::string c = dir.write("c.etl", rlfs_log());
  const std::string list = missing + "|" + a + "|" + bad + "|" + c;
  const vesk_result r = run_vesk({"-log", list, "-stats", "-quiet"});
  EXPECT_EQ(r.status, 1);
  // -quiet: no escape sequences, but every failure
  EXPECT_EQ(r.err, "prob parsing file: " + missing + "\nprob parsing file: " + bad + "\n");
  EXPECT_EQ(r.out, "\"cmdline: " VESK_BINARY " -log " + list + " -stats -quiet\"\n\n" +
                       "---------------------\nfile: " + a + "\n\n" + no_kernel_stats +
                       "---------------------\nfile: " + c + "\n\n" + no_kernel_stats);
}

// The reduced log holds the first log that is read; every later log is
// named as left out of it, and the run ends with status 1.
TEST(LogRoad, PullguidTakesTheFirstLogOnly) {
  temp_dir dir;
  const std::string bad = dir.write("bad.etl", byte_array(100, 1));
  const std::string a = dir.write("a.etl", zeroed_log());
  const std::string b = dir.write("b.etl", rlfs_log());
  const std::string reduced = dir.path("r.etl");
  const vesk_result r = run_vesk(
      {"-log", bad + "|" + a + "|" + b, "-pullguid", msg_text, "-out", reduced, "-quiet"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "prob parsing file: " + bad +
                       "\nnot taken into the reduced log, which holds the first log only: " + b +
                       "\n");
  const run_result alone = run_log(zeroed_log(), mode::pullguid, msg_provider);
  EXPECT_EQ(read_all(reduced), alone.reduced);
}

// An output file that is one of the input logs, by any name or link, is
// refused before anything is opened: the log stays byte for byte.
TEST(LogRoad, OutputNamingAnInputIsRefused) {
  temp_dir dir;
  const byte_array log = zeroed_log();
  const std::string in = dir.write("in.etl", log);
  std::filesystem::create_symlink(in, dir.path("link.etl"));
  std::filesystem::create_hard_link(in, dir.path("hard.etl"));
  std::filesystem::create_directory(dir.path("sub"));
  const std::string names[] = {in, dir.path("link.etl"), dir.path("hard.etl"),
                               dir.path("sub/../in.etl")};
  for (const std::string& name : names) {
    for (const std::vector<std::string>& extra :
         {std::vector<std::string>{"-stats", "-out", name},
          std::vector<std::string>{"-pullguid", ev_text, "-out", name},
          std::vector<std::string>{"-stats", "-diags", name}}) {
      SCOPED_TRACE(name + " " + extra[extra.size() - 2]);
      std::vector<std::string> args = {"-log", dir.path("other.etl") + "|" + in, "-quiet"};
      args.insert(args.end(), extra.begin(), extra.end());
      const vesk_result r = run_vesk(args);
      EXPECT_EQ(r.status, 255);
      EXPECT_EQ(r.err, "output file " + name + " is the input log " + in + ": refusing to write it\n");
      EXPECT_EQ(read_all(in), log);
    }
  }
}

// A run refused before any log is read leaves an existing -out file as it
// was.
TEST(LogRoad, RefusedRunLeavesTheOutFile) {
  temp_dir dir;
  const std::string a = dir.write("a.etl", zeroed_log());
  const std::string kept = dir.write("kept.txt", std::string("earlier results"));
  const std::vector<std::string> refused[] = {
      {"-bogus"}, {"-enumdir", dir.path("nowhere")}, {"-log", a, "-stats", "-templates", "t"}};
  for (const std::vector<std::string>& args : refused) {
    SCOPED_TRACE(args[0]);
    std::vector<std::string> all = args;
    all.insert(all.end(), {"-out", kept, "-quiet"});
    const vesk_result r = run_vesk(all);
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(read_text(kept), "earlier results");
  }
}

// A compressed buffer's bytes give no providers. Each such buffer is named
// on standard error where no row shows it, each log that has any is named
// with its count in every mode, -quiet or not, and the run is incomplete.
TEST(LogRoad, CompressedBuffersAreReportedNotRead) {
  temp_dir dir;
  byte_array log = zeroed_log();
  set_u16(log, 72 + 0x200 + 52, 0x0061);  // the second buffer
  byte_array all_compressed = log;
  set_u16(all_compressed, 72 + 52, 0x0061);  // the first buffer too
  const std::string a = dir.write("a.etl", log), b = dir.write("b.etl", all_compressed);
  const std::string second = "compressed buffer at file offset 584 not read: ";
  const struct {
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {{"-log", a, "-stats"}, second + a + "\n1 of 2 buffers compressed, not read: " + a + "\n"},
      {{"-log", a, "-guids"}, second + a + "\n1 of 2 buffers compressed, not read: " + a + "\n"},
      {{"-log", a, "-csvl2t"}, second + a + "\n1 of 2 buffers compressed, not read: " + a + "\n"},
      {{"-log", a, "-csv"}, "1 of 2 buffers compressed, not read: " + a + "\n"},  // a row shows it
      {{"-log", b, "-stats"},
       "compressed buffer at file offset 72 not read: " + b + "\n" + second + b +
           "\n2 of 2 buffers compressed, not read: " + b + "\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[1] + " " + c.args[2]);
    std::vector<std::string> args = c.args;
    args.push_back("-quiet");
    const vesk_result r = run_vesk(args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, c.err);
  }
  // only the first buffer's records count
  EXPECT_EQ(stats_of(log),
            "2818ef08-6a54-396f-2244-5a6ea4a98cf0 : \n"
            "event id | occurances\n"
            "       1 |          1\n\n"
            "8e805eb3-6a8f-4a1e-90fa-a831d94e54a1 : \n"
            "event id | occurances\n"
            "      10 |          1\n\n");
}

// A -templates file's template wins over the program block's for the same
// provider and event id, whatever builds either names: the worked example of the file format,
// for ids 4 to 6 and 9 of the .NET runtime under build 900, decodes a GC
// segment event (id 5) that the block would read as Address, Size, Type and
// ClrInstanceID. Malformed lines are named and skipped; a file that cannot
// be read refuses the run.
TEST(LogRoad, TemplatesFileWinsOverTheBlock) {
  temp_dir dir;
  writer payload;
  payload.put_u32(0x11).put_u64(0x22);
  const auto log_of_build = [&](u32 build) {
    byte_array first = build_logfile_first_buffer(
        {.first_buffer_size = 0x400, .provider_version = build, .clock_type = 2});
    const buffer_header_fields h{.buffer_size = 0x400, .time = ft_2021};
    record_event e{.provider = guid_of("e13c0d23-ccbc-4e12-931b-d9cc2eee27e4"), .event_id = 5,
                   .payload = payload.bytes()};
    return join({first, buffer_builder(h).add(build_record(e)).finish()});
  };
  const std::string templates = dir.write(
      "t.txt", std::string("{e13c0d23-ccbc-4e12-931b-d9cc2eee27e4}!GC $4-6;9, #900, LStatus, 8, 10\n"
                           "{e13c0d23-ccbc-4e12-931b-d9cc2eee27e4}!GC $4- 6, LStatus, 8\n"));
  const std::string warning = templates + ":2: template line skipped: no last event id right after \"-\"\n";
  const std::string from_file = R"(data{"01-Status":"0x00000011";"02":"0x0000000000000022"})";
  const std::string from_block = R"(data{"01-Address":"0x0000002200000011")";
  struct row {
    const char* name;
    u32 build;
    bool with_file;
    const std::string& expected;
  };
  const row rows[] = {
      {"FileForItsBuild", 900, true, from_file},
      // the block's templates for the id, built for other builds, never win
      {"FileForOtherBuilds", 19045, true, from_file},
      {"BlockWithoutFile", 900, false, from_block},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    const std::string log = dir.write("a.etl", log_of_build(r.build));
    std::vector<std::string> args = {"-log", log, "-quiet"};
    if (r.with_file) args.insert(args.end(), {"-templates", templates});
    const vesk_result v = run_vesk(args);
    EXPECT_EQ(v.status, 0);
    EXPECT_EQ(v.err, r.with_file ? warning : "");
    EXPECT_NE(v.out.find(r.expected), std::string::npos) << v.out;
  }
  const std::string missing = dir.path("none.txt");
  const vesk_result v = run_vesk({"-log", dir.path("a.etl"), "-templates", missing, "-quiet"});
  EXPECT_EQ(v.status, 255);
  EXPECT_EQ(v.err, "prob reading templates file: " + missing + " (missing, unreadable or empty)\n");
}

// A template of structure words decodes a USB device's event end to end:
// its device handle record (64-bit pointers) and its device descriptor.
TEST(LogRoad, UsbEventThroughItsTemplate) {
  temp_dir dir;
  const guid provider = guid_of("c88a4ef5-d048-4013-9408-e04b7db2814a");
  writer payload;
  payload.put_u64(0xffffe00012345678ull);         // DevHandle
  payload.put_u16(0x0781).put_u16(0x5581);        // IDVendor, IDProduct
  payload.put_u32(2);                             // PortPathDepth
  for (u32 port : {1, 3, 0, 0, 0, 0}) payload.put_u32(port);  // PortPath[0..5]
  payload.put_u32(2).put_u32(5);                  // DeviceSpeed, DeviceAddr
  payload.put_bytes(byte_array{18, 1, 0x00, 0x02, 0, 0, 0, 64,  // length, type, USB 2.0, class
                               0x81, 0x07, 0x81, 0x55, 0x00, 0x01,  // vendor, product, device
                               1, 2, 3, 1});  // string indexes, configurations
  byte_array first = build_logfile_first_buffer({.first_buffer_size = 0x400, .clock_type = 2});
  const buffer_header_fields h{.buffer_size = 0x400, .time = ft_2021};
  const record_event e{.provider = provider, .event_id = 1, .payload = payload.bytes()};
  const std::string log = dir.write("usb.etl", join({first, buffer_builder(h).add(build_record(e)).finish()}));
  const std::string templates = dir.write(
      "usb.txt", std::string("{c88a4ef5-d048-4013-9408-e04b7db2814a}!UsbDevice $1, 0x8007, 0x8013\n"));
  const vesk_result v = run_vesk({"-log", log, "-templates", templates, "-quiet"});
  EXPECT_EQ(v.status, 0);
  EXPECT_EQ(v.err, "");
  const std::string expected =
      R"(data{"01-DevHandle":"0xffffe00012345678";"02-IDVendor":"0x0781";"03-IDProduct":"0x5581";)"
      R"("04-PortPathDepth":"0x00000002";"05-PortPath[0]":"0x00000001";"06-PortPath[1]":"0x00000003";)"
      R"("07-PortPath[2]":"0x00000000";"08-PortPath[3]":"0x00000000";"09-PortPath[4]":"0x00000000";)"
      R"("10-PortPath[5]":"0x00000000";"11-DeviceSpeed":"0x00000002";"12-DeviceAddr":"0x00000005";)"
      R"("13-USB_DEVICE_DESCRIPTOR [Length]":"0x12";"14-DescriptorType":"0x01";"15-bcdUSB":"0x0200";)"
      R"("16-DeviceClass":"0x00";"17-DeviceSubClass":"0x00";"18-DeviceProtocol":"0x00";)"
      R"("19-MaxPacketSize0":"0x40";"20-idVendor":"0x0781";"21-idProduct":"0x5581";)"
      R"("22-bcdDevice":"0x0100";"23-Manufacturer":"0x01";"24-Product":"0x02";)"
      R"("25-SerialNumber":"0x03";"26-NumConfigurations":"0x01"})";
  EXPECT_NE(v.out.find(expected), std::string::npos) << v.out;
}

TEST(LogRoad, PullguidWritesACleanLog) {
  // The results text goes to standard output, so the reduced log holds
  // nothing else. (An -out path that cannot be written is refused by the
  // option parser before any file is read.)
  temp_dir dir;
  const std::string a = dir.write("a.etl", zeroed_log());
  const std::string good = dir.path("r.etl");
  const vesk_result ok = run_vesk({"-log", a, "-pullguid", ev_text, "-out", good, "-quiet"});
  EXPECT_EQ(ok.status, 0);
  EXPECT_EQ(ok.err, "");
  EXPECT_EQ(ok.out, "\"cmdline: " VESK_BINARY " -log " + a + " -pullguid " + ev_text + " -out " +
                        good + " -quiet\"\n\n");
  EXPECT_EQ(stats_of(read_all(good)), no_kernel_stats.substr(no_kernel_stats.find(ev_text)));
}

// The header section follows the recorded source path: the table's header
// line, then the logfile header's own row.
TEST(EtlRun, HeaderSectionFollowsTheSourcePath) {
  temp_dir dir;
  const std::string path = dir.write("a.etl", logfile_log());
  file_run f;
  std::ostringstream out;
  f.run.write_row = [](std::ostream&, const event_record&, cmd_params&) {};
  ASSERT_TRUE(process_etl_file(out, path, f.run));
  std::istringstream lines(out.str());
  std::string line;
  std::vector<std::string> all;
  while (std::getline(lines, line)) all.push_back(line);
  ASSERT_GE(all.size(), 5u);
  EXPECT_EQ(all[0], "---------------------");
  EXPECT_EQ(all[2], "orig source path: c:\\logs\\test.etl");
  EXPECT_EQ(all[3].rfind(" created [utc or #ticks]", 0), 0u) << all[3];
  EXPECT_NE(all[4].find("<header info only>"), std::string::npos) << all[4];
  EXPECT_NE(all[4].find("Test Session"), std::string::npos) << all[4];
  EXPECT_NE(all[4].find("data{\"00-TimeType:Filetime\";"), std::string::npos) << all[4];
  EXPECT_NE(all[4].find("\"11-LogfileName:c:/logs/test.etl\"}"), std::string::npos) << all[4];

  // A zeroed file has no logfile header: its row says so and names nothing.
  const std::string zeroed = dir.write("z.etl", zeroed_log());
  std::ostringstream zout;
  ASSERT_TRUE(process_etl_file(zout, zeroed, f.run));
  EXPECT_NE(zout.str().find("orig source path: <not available>\n created"), std::string::npos)
      << zout.str();
  EXPECT_NE(zout.str().find("<header info only>"), std::string::npos);
}

}  // namespace
