#include <gtest/gtest.h>

#include <filesystem>

#include "support/log_builder.hpp"
#include "support/run_vesk.hpp"
#include "support/temp_dir.hpp"

namespace {

const std::string usage_start = std::string(77, '-') + "\n\nvesk - ";

TEST(ProgramEntry, HelpAndNoArgumentsPrintUsage) {
  const std::vector<std::vector<std::string>> cases = {
      {}, {"-h"}, {"-H"}, {"-help"}, {"/?"}, {"--help"}, {"-log", "x.etl", "--HELP"}};
  for (const auto& args : cases) {
    const vesk_result r = run_vesk(args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.rfind(usage_start, 0), 0u) << r.err;
    EXPECT_NE(r.err.find("  -pipe                       = pipe files into vesk for processing\n"),
              std::string::npos);
    EXPECT_NE(r.err.find("  -pullguid <guid> -out <etl> = create subset ETL file with just GUID "
                         "records\n"),
              std::string::npos);
  }
}

TEST(ProgramEntry, RejectedCommandLinesWriteTheHeaderAndExit255) {
  struct reject_case {
    std::vector<std::string> args;
    std::string err;
    std::string header;
  };
  const reject_case cases[] = {
      {{"-guids"}, "This option requires -log <etl file>\n", "\"cmdline: " VESK_BINARY " -guids\"\n\n"},
      {{"-stats", "-enumdir", "/tmp"},
       "This option requires -log <etl file>\n",
       "\"cmdline: " VESK_BINARY " -stats -enumdir /tmp\"\n\n"},
      {{"-pullguid", "01234567-89ab-cdef-0123-456789abcdef"},
       "This option requires -out <file>\n",
       "\"cmdline: " VESK_BINARY " -pullguid 01234567-89ab-cdef-0123-456789abcdef\"\n\n"},
      {{"-pipe", "-sqlite", "x"},
       "This option is not offered in this build\n",
       "\"cmdline: <filelist> ... | " VESK_BINARY " -pipe -sqlite x\"\n\n"},

      // a name's quote is doubled and its line break marked: one CSV field, one line
      {{"-pullguid", "a\"b\nc"},
       "This option requires -out <file>\n",
       "\"cmdline: " VESK_BINARY " -pullguid a\"\"b[LF]c\"\n\n"},
  };
  for (const auto& c : cases) {
    const vesk_result r = run_vesk(c.args);
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.out, c.header);
  }
}

// A value that is not a GUID must not be taken for the zero GUID.
TEST(ProgramEntry, PullguidWithGarbageIsRejectedWithoutMessage) {
  temp_dir dir;
  const vesk_result r =
      run_vesk({"-log", "x.etl", "-out", dir.path("o.etl"), "-pullguid", "{not-a-guid}"});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.err, "");
}

TEST(ProgramEntry, HeaderQuotesItemsWithBlanks) {
  const vesk_result r = run_vesk({"-csv", "-filter", "a b", "-quiet"});
  EXPECT_EQ(r.status, 255);  // no input mode: no message at all
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, "\"cmdline: " VESK_BINARY " -csv -filter 'a b' -quiet\"\n\n");
  // With status display on but no status line drawn, nothing needs blanking.
  const vesk_result shown = run_vesk({"-csv"});
  EXPECT_EQ(shown.status, 255);
  EXPECT_EQ(shown.err, "");
}

TEST(ProgramEntry, UnwritableResultsFileIsReported) {
  const vesk_result r = run_vesk({"-log", "x.etl", "-out", "/no/such/folder/r.txt"});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.err, "prob opening file /no/such/folder/r.txt for output, aborting\n");
}

}  // namespace

namespace {

// A command line rejected after the -out probe leaves the named file as it was.
TEST(ProgramEntry, RejectedCommandLineKeepsTheOutFile) {
  temp_dir dir;
  const std::string precious = dir.write("evidence.etl", std::string("evidence"));
  const vesk_result r = run_vesk({"-log", "x.etl", "-out", precious, "-pullguid", "not a guid"});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(read_text(precious), "evidence");
}

}  // namespace

namespace {

// No output may be written over a file the run reads, or over the other
// output: refused before anything is opened, the file's bytes unchanged.
TEST(ProgramEntry, OutputsNeverOverwriteInputsOrEachOther) {
  temp_dir dir;
  const std::string tmpl = dir.write("t.txt", std::string("tmpl")), pe = dir.write("pe.dll", std::string("pe")),
                    hive = dir.write("hive", std::string("hive")), res = dir.write("r.csv", std::string("keep")),
                    fresh = dir.path("new.csv");
  // a zeroed log: the names of -pipe and -enumdir are not known when the
  // outputs are opened, so an output that holds a log could be one of them
  const std::string log = dir.write("old.etl", std::string(386, '\0'));
  const std::string as_log = " is a log that -pipe or -enumdir may name: refusing to overwrite it\n";
  const std::string guid = "01234567-89ab-cdef-0123-456789abcdef";
  struct refusal {
    std::vector<std::string> args;
    std::string kept;  // the file that must stay as it was
    std::string err;
  };
  const std::string as_tmpl = " is the templates file " + tmpl + ": refusing to write it\n";
  const refusal cases[] = {
      {{"-log", "x.etl", "-templates", tmpl, "-out", tmpl}, tmpl, "output file " + tmpl + as_tmpl},
      {{"-log", "x.etl", "-templates", tmpl, "-diags", tmpl}, tmpl, "output file " + tmpl + as_tmpl},
      {{"-log", "x.etl", "-templates", tmpl, "-out", tmpl, "-pullguid", guid}, tmpl, "output file " + tmpl + as_tmpl},
      {{"-extract_bxml", pe, "-out", pe}, pe,
       "output file " + pe + " is the input file " + pe + ": refusing to write it\n"},
      {{"-providers", hive, "-diags", hive}, hive,
       "output file " + hive + " is the input file " + hive + ": refusing to write it\n"},
      {{"-log", "x.etl", "-out", res, "-diags", res}, res,
       "output file " + res + " is also the -diags file: refusing to mix diagnostics into it\n"},
      {{"-log", "x.etl", "-out", fresh, "-diags", dir.path(".") + "/new.csv"}, fresh,
       "output file " + fresh + " is also the -diags file: refusing to mix diagnostics into it\n"},
      {{"-enumdir", dir.path("."), "-num_subdirs", "1", "-out", log}, log, "output file " + log + as_log},
      {{"-pipe", "-diags", log, "-out", fresh}, log, "output file " + log + as_log},
      {{"-pipe", "-pullguid", guid, "-out", log}, log, "output file " + log + as_log},
  };
  for (const refusal& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args[c.args.size() - 2]);
    const std::string before = read_text(c.kept);
    std::vector<std::string> args = c.args;
    args.push_back("-quiet");
    const vesk_result r = run_vesk(args, "");
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(read_text(c.kept), before);
    EXPECT_EQ(std::filesystem::exists(c.kept), c.kept != fresh);
  }
}

// Results that do not reach standard output fail the run as a results file
// would; a -diags file that cannot be written costs only the diagnostics.
TEST(ProgramEntry, OutputsThatCannotBeWrittenAreReported) {
  temp_dir dir;
  const std::string log = dir.write(
      "a.etl", logbuild::join({byte_array(72, 0), logbuild::buffer_builder({.buffer_size = 0x200, .time = logbuild::ft_2021}, true)
                                                      .add(logbuild::build_record(logbuild::record_event{}))
                                                      .finish()}));
  const std::string diags = dir.path("d.txt"), unwritten = "prob writing results file: standard output\n";
  struct write_case {
    const char* redirect;
    std::vector<std::string> extra;
    int status;
    std::string err;
  };
  const write_case cases[] = {
      {">/dev/full", {}, 255, unwritten},
      {">/dev/full", {"-stats"}, 255, unwritten},
      {">&-", {}, 255, unwritten},
      // a closed standard output never hands its number to the -diags file
      {">&-", {"-diags", diags}, 255, unwritten},
      {">/dev/null", {"-diags", "/dev/full"}, 1, "prob writing diagnostics file: /dev/full\n"},
      {">/dev/null", {"-diags", dir.path("no/d.txt")}, 1, "prob writing diagnostics file: " + dir.path("no/d.txt") + "\n"},
      {">/dev/null", {"-diags", diags}, 0, ""},
  };
  for (const write_case& c : cases) {
    SCOPED_TRACE(std::string(c.redirect) + " " + (c.extra.empty() ? "" : c.extra.back()));
    std::vector<std::string> args = {"-c", std::string("exec \"$0\" \"$@\" ") + c.redirect, VESK_BINARY,
                                     "-log", log, "-quiet"};
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    const vesk_result r = run_program("/bin/sh", args);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.err, c.err);
    if (!c.extra.empty() && c.extra.back() == diags) {
      EXPECT_EQ(read_text(diags).rfind("->" VESK_BINARY " -log " + log + " -quiet -diags " + diags + "\n->", 0), 0u);
      EXPECT_EQ(read_text(diags).find("file: "), std::string::npos);
    }
  }
}

}  // namespace
