// The template block that the build appends to the program, read back from
// the program file the build made.
#include <gtest/gtest.h>

#include <filesystem>

#include "decode/template_db.hpp"
#include "decode/template_map.hpp"
#include "support/log_builder.hpp"
#include "support/run_vesk.hpp"
#include "support/temp_dir.hpp"

using namespace logbuild;

namespace {

const char* const dotnet_text = "e13c0d23-ccbc-4e12-931b-d9cc2eee27e4";

// A zeroed-kind log with one DotNETRuntime event and kernel records that
// name their provider only by hook id: 0xC002, 0xC011 and a generic header.
std::string write_log(const temp_dir& dir) {
  const buffer_header_fields h{.buffer_size = 0x200, .time = ft_2021};
  buffer_builder b(h, true);
  b.add(build_record(record_event{.provider = guid_of(dotnet_text), .event_id = 1}));
  b.add(build_record(record_generic{.type_code = 0xC002, .hook_id = 0x0310}));
  b.add(build_record(record_generic{.type_code = 0xC011, .hook_id = 0x0A12}));
  b.add(build_record(record_generic{.type_code = 0x2002, .hook_id = 0x0502}));
  return dir.write("log.etl", join({byte_array(72, 0), b.finish()}));
}

// in the order of the GUIDs' stored bytes
const std::string listed =
    "13976d09-a327-438c-950b-7f03192815c7 : Kernel-DbgPrint-Trace\n"
    "e13c0d23-ccbc-4e12-931b-d9cc2eee27e4 : Microsoft-Windows-DotNETRuntime\n"
    "3d6fa8d0-fe05-11d0-9dda-00c04fd7ba7c : Kernel-Process-Trace\n"
    "3d6fa8d1-fe05-11d0-9dda-00c04fd7ba7c : Kernel-Thread-Trace\n";

TEST(ProgramBlock, TheBuiltProgramCarriesItsTemplates) {
  const byte_array block = program_template_block();
  ASSERT_FALSE(block.empty());
  EXPECT_EQ(block, read_all(VESK_TEMPLATE_BLOCK));
  template_db db;
  ASSERT_TRUE(db.parse_block(block));
  template_map map;
  ASSERT_TRUE(compile_templates(db, map, 0));
  const guid dotnet = guid_of(dotnet_text);
  EXPECT_EQ(map.provider_name(dotnet.bytes), "Microsoft-Windows-DotNETRuntime");
  const event_template* start = map.find(&dotnet, 1);
  ASSERT_NE(start, nullptr);
  EXPECT_EQ(start->names, (std::vector<std::string>{"Count", "Depth", "Reason", "Type",
                                                    "ClrInstanceID", "ClientSequenceNumber"}));
  // the program names providers from its block and kernel records by hook group
  temp_dir dir;
  const vesk_result r = run_vesk({"-log", write_log(dir), "-guids", "-quiet"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.substr(r.out.find("\n\n", r.out.find("file: ")) + 2), listed);
}

// strip drops appended data; the build step appends the block again, as a
// packager does after stripping, and appending twice keeps one block.
TEST(ProgramBlock, StrippedCopyGetsItsBlockBack) {
  if (run_program("strip", {"--version"}).status != 0) GTEST_SKIP() << "no strip on this machine";
  temp_dir dir;
  const std::string copy = dir.path("vesk");
  std::filesystem::copy_file(VESK_BINARY, copy);
  ASSERT_EQ(run_program("strip", {copy}).status, 0);
  EXPECT_TRUE(program_template_block(copy).empty());
  for (int round = 0; round < 2; ++round) {
    const vesk_result a = run_program(
        VESK_PYTHON, {VESK_SOURCE_DIR "/tools/template_block.py", "append", copy, VESK_TEMPLATE_BLOCK});
    ASSERT_EQ(a.status, 0) << a.err;
  }
  EXPECT_EQ(program_template_block(copy), read_all(VESK_TEMPLATE_BLOCK));
  const vesk_result r = run_program(copy, {"-log", write_log(dir), "-guids", "-quiet"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find(listed), std::string::npos) << r.out;
}

}  // namespace
