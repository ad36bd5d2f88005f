#include <gtest/gtest.h>

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
