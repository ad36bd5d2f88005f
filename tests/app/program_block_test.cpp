// The template block the build places in the program, read back from the
// program file the build made, from stripped copies and from damaged ones.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "common/byte_reader.hpp"
#include "decode/template_db.hpp"
#include "decode/template_map.hpp"
#include "support/log_builder.hpp"
#include "support/run_vesk.hpp"
#include "support/samples.hpp"
#include "support/temp_dir.hpp"

using namespace logbuild;

namespace {

const char* const dotnet_text = "e13c0d23-ccbc-4e12-931b-d9cc2eee27e4";

// A zeroed-kind log with one DotNETRuntime event (GCStart, its 26 bytes of
// fields) and kernel records that name their provider only by hook id:
// 0xC002, 0xC011 and a generic header.
std::string write_log(const temp_dir& dir) {
  const buffer_header_fields h{.buffer_size = 0x200, .time = ft_2021};
  buffer_builder b(h, true);
  b.add(build_record(
      record_event{.provider = guid_of(dotnet_text), .event_id = 1, .payload = byte_array(26, 1)}));
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

// A copy of the built program, named as it is (the output names it), in `dir`.
std::string copy_program(const temp_dir& dir, const byte_array& bytes) {
  const std::string copy = dir.write("vesk", bytes);
  std::filesystem::permissions(copy, std::filesystem::perms::owner_exec, std::filesystem::perm_options::add);
  return copy;
}

// A run of a copy, with the copy's path in its output read as the built program's.
vesk_result run_copy(const std::string& copy, const std::vector<std::string>& args) {
  vesk_result r = run_program(copy, args);
  for (std::string* text : {&r.out, &r.err}) {
    for (std::size_t at = text->find(copy); at != std::string::npos;
         at = text->find(copy, at + sizeof VESK_BINARY - 1)) {
      text->replace(at, copy.size(), VESK_BINARY);
    }
  }
  return r;
}

// Each way a packager strips the program keeps the template section where
// the locator finds it: every stripped copy decodes a built log and the
// samples as the built program does, byte for byte.
TEST(ProgramBlock, StrippedCopiesDecodeAsBuilt) {
  temp_dir logs;
  std::string list = write_log(logs);
  if (!samples_present()) std::cout << "sample folder " VESK_SAMPLES_DIR " is absent: a built log only\n";
  std::error_code absent;
  for (const auto& e : std::filesystem::directory_iterator(VESK_SAMPLES_DIR, absent)) {
    if (e.path().extension() == ".etl") list += "|" + e.path().string();
  }
  const vesk_result built = run_vesk({"-log", list, "-quiet"});
  for (const std::string strip : {"strip", "strip --strip-all", "objcopy --strip-debug"}) {
    SCOPED_TRACE(strip);
    if (run_program(strip.substr(0, strip.find(' ')), {"--version"}).status != 0) {
      std::cout << strip << " is not on this machine: skipped\n";
      continue;
    }
    temp_dir dir;
    const std::string copy = copy_program(dir, read_all(VESK_BINARY));
    ASSERT_EQ(run_program("sh", {"-c", strip + " \"$0\"", copy}).status, 0);
    EXPECT_LT(std::filesystem::file_size(copy), std::filesystem::file_size(VESK_BINARY));
    const vesk_result stripped = run_copy(copy, {"-log", list, "-quiet"});
    EXPECT_EQ(stripped.status, built.status);
    EXPECT_EQ(stripped.err, built.err);
    EXPECT_TRUE(stripped.out == built.out) << "the stripped copy decodes otherwise";
  }
}

// A program whose block is gone, cut short or not the build's says so once
// on the log-reading road, whatever the flags, and decodes without it. The
// build step puts back a locator that was lost and refuses a section that no
// longer holds the block.
TEST(ProgramBlock, AProgramWithoutItsBlockSaysSo) {
  const byte_array program = read_all(VESK_BINARY);
  const std::string marker = "VESK_TEMPLATE_DB";
  const std::size_t at = static_cast<std::size_t>(
      std::search(program.begin(), program.end(), marker.begin(), marker.end()) - program.begin() + 16);
  u32 offset = 0;
  u32 length = 0;
  ASSERT_TRUE(zarn::read_u32_at(program, at, offset) && zarn::read_u32_at(program, at + 4, length));
  struct damage_case {
    const char* what;
    std::size_t where;
    byte_array bytes;  // written there
    bool locate_restores;
  };
  const damage_case cases[] = {
      {"locator zeroed", at, byte_array(8, 0), true},
      {"cut short by the end of the file", at + 4,
       writer().put_u32(static_cast<u32>(program.size() - offset + 1)).bytes(), true},
      {"one byte changed", offset + 100u, {static_cast<u8>(~program[offset + 100u])}, false},
      {"section emptied", offset, byte_array(length, 0), false},
  };
  temp_dir logs;
  const std::string log = write_log(logs);
  const vesk_result built = run_vesk({"-log", log + "|" + log, "-quiet"});
  ASSERT_NE(built.out.find("ClientSequenceNumber"), std::string::npos);
  std::string unnamed;  // the output of every damaged copy
  for (const damage_case& c : cases) {
    SCOPED_TRACE(c.what);
    temp_dir dir;
    byte_array damaged = program;
    std::copy(c.bytes.begin(), c.bytes.end(), damaged.begin() + static_cast<std::ptrdiff_t>(c.where));
    const std::string copy = copy_program(dir, damaged);
    const vesk_result r = run_copy(copy, {"-log", log + "|" + log, "-quiet"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "no template block in " VESK_BINARY ": payloads are guessed only\n");
    EXPECT_EQ(r.out.find("ClientSequenceNumber"), std::string::npos);
    if (unnamed.empty()) unnamed = r.out;
    EXPECT_TRUE(r.out == unnamed) << "damaged copies decode differently";
    EXPECT_EQ(run_program(copy, {"-providers", log}).err.find("no template block"), std::string::npos);

    const vesk_result located = run_program(
        VESK_PYTHON, {VESK_SOURCE_DIR "/tools/template_block.py", "locate", copy, VESK_TEMPLATE_BLOCK});
    EXPECT_EQ(located.status, c.locate_restores ? 0 : 1) << located.err;
    if (c.locate_restores) {
      EXPECT_TRUE(run_copy(copy, {"-log", log + "|" + log, "-quiet"}).out == built.out);
    }
  }
}

}  // namespace
