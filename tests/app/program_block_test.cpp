// The template block the build places in the program, read back from the
// program file the build made, from stripped copies and from damaged ones.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>

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

bool tool_present(const std::string& tool) { return run_program(tool, {"--version"}).status == 0; }

// A copy of the built program named as it is (the output names the
// program), in `dir`.
std::string copy_program(const temp_dir& dir) {
  const std::string copy = dir.path("vesk");
  std::filesystem::copy_file(VESK_BINARY, copy);
  return copy;
}

// A run of `program` with the program's path in its output read as the
// built program's.
vesk_result run_as_built(const std::string& program, const std::vector<std::string>& args) {
  vesk_result r = run_program(program, args);
  for (std::string* text : {&r.out, &r.err}) {
    for (std::size_t at = text->find(program); at != std::string::npos;
         at = text->find(program, at + 1)) {
      text->replace(at, program.size(), VESK_BINARY);
    }
  }
  return r;
}

// Each way a packager strips the program keeps the template section where
// the locator finds it: every stripped copy decodes the logs of `log_list`
// as the built program does, byte for byte.
void expect_stripped_copies_decode_as_built(const std::string& log_list) {
  const std::vector<std::vector<std::string>> strips = {
      {"strip"}, {"strip", "--strip-all"}, {"objcopy", "--strip-debug"}};
  const vesk_result built = run_vesk({"-log", log_list, "-quiet"});
  ASSERT_EQ(built.status, 0) << built.err;
  for (const std::vector<std::string>& strip : strips) {
    SCOPED_TRACE(strip.back());
    if (!tool_present(strip[0])) {
      std::cout << "[ SKIPPED  ] " << strip[0] << " is not on this machine\n";
      continue;
    }
    temp_dir dir;
    const std::string copy = copy_program(dir);
    std::vector<std::string> args(strip.begin() + 1, strip.end());
    args.push_back(copy);
    ASSERT_EQ(run_program(strip[0], args).status, 0);
    EXPECT_LT(std::filesystem::file_size(copy), std::filesystem::file_size(VESK_BINARY));
    EXPECT_EQ(program_template_block(copy), read_all(VESK_TEMPLATE_BLOCK));
    const vesk_result stripped = run_as_built(copy, {"-log", log_list, "-quiet"});
    EXPECT_EQ(stripped.status, built.status);
    EXPECT_EQ(stripped.err, built.err);
    EXPECT_TRUE(stripped.out == built.out) << "the stripped copy decodes otherwise";
  }
}

TEST(ProgramBlock, StrippedCopiesDecodeABuiltLogAsBuilt) {
  temp_dir dir;
  expect_stripped_copies_decode_as_built(write_log(dir));
}

TEST(ProgramBlock, StrippedCopiesDecodeTheSamplesAsBuilt) {
  if (!samples_present()) GTEST_SKIP() << "sample folder " << VESK_SAMPLES_DIR << " is absent";
  std::vector<std::string> samples;
  for (const auto& entry : std::filesystem::directory_iterator(VESK_SAMPLES_DIR)) {
    if (entry.path().extension() == ".etl") samples.push_back(entry.path().string());
  }
  ASSERT_FALSE(samples.empty());
  std::sort(samples.begin(), samples.end());
  std::string list;
  for (const std::string& s : samples) list += (list.empty() ? "" : "|") + s;
  expect_stripped_copies_decode_as_built(list);
}

// The locator's place in a program file: the bytes behind its marker.
std::size_t locator_at(const byte_array& file) {
  const std::string marker = "VESK_TEMPLATE_DB";
  const auto at = std::search(file.begin(), file.end(), marker.begin(), marker.end());
  return at == file.end() ? 0 : static_cast<std::size_t>(at - file.begin()) + marker.size();
}

// Rewrites the copy's bytes in place through `change`, given the file and
// the locator's place in it.
void patch(const std::string& copy, const std::function<void(byte_array&, std::size_t)>& change) {
  byte_array file = read_all(copy);
  const std::size_t locator = locator_at(file);
  ASSERT_NE(locator, 0u);
  change(file, locator);
  std::ofstream(copy, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
}

void put_u32(byte_array& file, std::size_t at, u32 v) {
  for (int i = 0; i < 4; ++i) file[at + i] = static_cast<u8>(v >> (8 * i));
}

u32 u32_in(const byte_array& file, std::size_t at) {
  u32 v = 0;
  EXPECT_TRUE(zarn::read_u32_at(file, at, v));
  return v;
}

// A program whose block is gone, cut short or not the build's says so once
// on the log-reading road, whatever the flags, and decodes without it. The
// build step puts back a locator that was lost, and refuses a section that
// no longer holds the block.
TEST(ProgramBlock, AProgramWithoutItsBlockSaysSo) {
  struct damage_case {
    const char* what;
    const char* tool;  // needed for the damage; null: none
    std::function<void(const std::string& copy, const temp_dir& dir)> damage;
    bool locate_restores;
  };
  const damage_case cases[] = {
      {"locator zeroed", nullptr,
       [](const std::string& copy, const temp_dir&) {
         patch(copy, [](byte_array& f, std::size_t at) { put_u32(f, at, 0), put_u32(f, at + 4, 0); });
       },
       true},
      {"block cut short by the end of the file", nullptr,
       [](const std::string& copy, const temp_dir&) {
         patch(copy, [](byte_array& f, std::size_t at) {
           put_u32(f, at + 4, static_cast<u32>(f.size() - u32_in(f, at) + 1));
         });
       },
       true},
      {"one byte of the block changed", nullptr,
       [](const std::string& copy, const temp_dir&) {
         patch(copy, [](byte_array& f, std::size_t at) { f[u32_in(f, at) + 100] ^= 0x01; });
       },
       false},
      {"section emptied", "objcopy",
       [](const std::string& copy, const temp_dir& dir) {
         const std::string emptied = dir.path("emptied");
         ASSERT_EQ(run_program("objcopy", {"--update-section", ".vesk_templates=" + dir.write("empty", ""),
                                           copy, emptied})
                       .status,
                   0);
         std::filesystem::rename(emptied, copy);
       },
       false},
  };
  temp_dir logs;
  const std::string log = write_log(logs);
  const std::string twice = log + "|" + log;
  const vesk_result built = run_vesk({"-log", twice, "-quiet"});
  ASSERT_NE(built.out.find("ClientSequenceNumber"), std::string::npos);
  std::string unnamed;  // the output of the first damaged copy
  for (const damage_case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.tool != nullptr && !tool_present(c.tool)) {
      std::cout << "[ SKIPPED  ] " << c.what << ": " << c.tool << " is not on this machine\n";
      continue;
    }
    temp_dir dir;
    const std::string copy = copy_program(dir);
    c.damage(copy, dir);
    const vesk_result r = run_as_built(copy, {"-log", twice, "-quiet"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "no template block in " VESK_BINARY ": payloads are guessed only\n");
    // the DotNETRuntime event's fields are no longer named by its template
    EXPECT_EQ(r.out.find("ClientSequenceNumber"), std::string::npos);
    if (unnamed.empty()) unnamed = r.out;
    EXPECT_TRUE(r.out == unnamed) << "a damaged copy decodes otherwise than another";
    // the sibling-tool roads read no templates
    EXPECT_EQ(run_program(copy, {"-providers", log}).err.find("no template block"), std::string::npos);

    const vesk_result located = run_program(
        VESK_PYTHON, {VESK_SOURCE_DIR "/tools/template_block.py", "locate", copy, VESK_TEMPLATE_BLOCK});
    EXPECT_EQ(located.status, c.locate_restores ? 0 : 1) << located.err;
    if (c.locate_restores) {
      const vesk_result again = run_as_built(copy, {"-log", twice, "-quiet"});
      EXPECT_EQ(again.err, "");
      EXPECT_TRUE(again.out == built.out) << "the located copy decodes otherwise";
    }
  }
}

}  // namespace
