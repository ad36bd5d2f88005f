#include "decode/template_db.hpp"

#include <gtest/gtest.h>

#include "decode/template_map.hpp"
#include "support/log_builder.hpp"
#include "support/run_vesk.hpp"
#include "support/temp_dir.hpp"

using namespace logbuild;

namespace {

const guid dotnet = guid_of("e13c0d23-ccbc-4e12-931b-d9cc2eee27e4");
const guid other = guid_of("01234567-89ab-cdef-0123-456789abcdef");

// Two tables and the chunks behind them.
byte_array block_of(const std::vector<std::string>& fields, const std::vector<std::string>& providers,
                    std::initializer_list<byte_array> chunks) {
  byte_array b = join({build_name_table(fields), build_name_table(providers)});
  for (const byte_array& c : chunks) b.insert(b.end(), c.begin(), c.end());
  return b;
}

// The build step's writer, from template source lines, through the reader:
// 130 field names (two-byte counts), selectors, a range, ids, a provider
// named twice and two templates for one GUID.
TEST(TemplateBlock, WriterRoundTrip) {
  temp_dir dir;
  std::string source = "// round trip\n#{E13C0D23-CCBC-4E12-931B-D9CC2EEE27E4}!DotNET, with more text\n";
  source += "#e13c0d23-ccbc-4e12-931b-d9cc2eee27e4!Too Late\n";
  source += "e13c0d23-ccbc-4e12-931b-d9cc2eee27e4!many names$3-5;9;12,#900,#1000";
  for (int i = 0; i < 130; ++i) source += ",LName" + std::to_string(i) + ",8";
  source += "\ne13c0d23-ccbc-4e12-931b-d9cc2eee27e4!second$65535,LName0,10,C1,1\n";
  (void)dir.write("a.txt", source);
  const std::string out = dir.path("block");
  const vesk_result w = run_program(VESK_PYTHON, {VESK_SOURCE_DIR "/tools/template_block.py", "write",
                                                  dir.path(""), out});
  ASSERT_EQ(w.status, 0) << w.err;
  const byte_array block = read_all(out);
  template_db db;
  ASSERT_TRUE(db.parse_block(block));
  ASSERT_EQ(db.records.size(), 2u);
  ASSERT_EQ(db.field_names.size(), 131u);  // the empty name, then Name0..Name129
  EXPECT_EQ(db.provider_names, (std::vector<std::string>{"unk", "DotNET"}));
  EXPECT_EQ(db.provider_index.at(dotnet), 1u);
  const template_rec& many = db.records[0];
  EXPECT_EQ(many.provider, dotnet);
  EXPECT_EQ(many.selectors, (std::set<u64>{900, 1000}));
  EXPECT_EQ(many.first_id, 3);
  EXPECT_EQ(many.last_id, 5);
  EXPECT_EQ(many.ids, (std::set<u16>{9, 12}));
  ASSERT_EQ(many.types.size(), 130u);
  EXPECT_EQ(many.names[129], "Name129");
  const template_rec& second = db.records[1];
  EXPECT_EQ(second.ids, std::set<u16>{65535});
  EXPECT_EQ(second.types, (std::vector<u16>{10, 1}));
  EXPECT_EQ(second.names, (std::vector<std::string>{"Name0", ""}));
  // a malformed line stops the build step, naming it
  (void)dir.write("b.txt", std::string("e13c0d23-ccbc-4e12-931b-d9cc2eee27e4!no marker,8\n"));
  const vesk_result bad = run_program(VESK_PYTHON, {VESK_SOURCE_DIR "/tools/template_block.py",
                                                    "write", dir.path(""), out});
  EXPECT_NE(bad.status, 0);
  EXPECT_NE(bad.err.find("b.txt"), std::string::npos) << bad.err;
}

// The map taking the block lazily answers as the block parsed and compiled
// whole would: every id a chunk names, its range's ends and their
// neighbours, under each selector the chunk names and none; provider names
// too. A chunk that does not add up is reported once, when the block is taken.
void expect_lazy_as_parsed(const byte_array& block) {
  template_db db;
  testing::internal::CaptureStderr();
  const bool parsed = db.parse_block(block);
  const std::string parse_err = testing::internal::GetCapturedStderr();
  template_map whole;
  if (parsed) (void)compile_templates(db, whole, 1);
  template_map lazy;
  testing::internal::CaptureStderr();
  ASSERT_EQ(lazy.add_block(block), parsed);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), parse_err);
  testing::internal::CaptureStderr();
  for (const template_rec& rec : db.records) {
    EXPECT_EQ(lazy.provider_name(rec.provider.bytes), whole.provider_name(rec.provider.bytes));
    std::set<u16> ids = rec.ids;
    for (const u16 end : {rec.first_id, rec.last_id}) ids.insert({end, u16(end - 1), u16(end + 1)});
    std::set<u64> selectors = rec.selectors;
    selectors.insert(0);
    for (const u64 selector : selectors) {
      lazy.selector = whole.selector = static_cast<u32>(selector);
      for (const u16 id : ids) {
        const event_template* a = lazy.find(&rec.provider, id);
        const event_template* b = whole.find(&rec.provider, id);
        ASSERT_EQ(a == nullptr, b == nullptr) << id << " under " << selector;
        if (a != nullptr) {
          EXPECT_EQ(a->signature, b->signature) << id << " under " << selector;
        }
      }
    }
  }
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST(TemplateBlock, LazyAsParsedOnTheProgramBlock) { expect_lazy_as_parsed(program_template_block()); }

// Blocks damaged in named ways, and what the reader keeps of them.
TEST(TemplateBlock, NamedDamage) {
  const byte_array good = build_template_chunk(
      {.selectors = {900}, .name_index = 1, .range = true, .first_id = 1, .last_id = 2, .ids = {7},
       .types = {8, 10}, .name_indexes = {1, 9}});
  const byte_array named_other = build_template_chunk({.provider = other, .name_index = 2});
  struct damage_case {
    const char* name;
    byte_array block;
    bool ok;
    std::size_t records;
  };
  byte_array short_table = block_of({"", "Count"}, {"unk", "DotNET"}, {});
  short_table.resize(35, 0);
  const damage_case cases[] = {
      {"Sound", block_of({"", "Count"}, {"unk", "DotNET", "Other"}, {good, named_other}), true, 2},
      {"BlockOf35Bytes", short_table, false, 0},
      // L of 1: no list is read, the fixed fields are, and the next chunk
      // starts where reading stopped
      {"ChunkLengthOne",
       block_of({"", "Count"}, {"unk"}, {build_template_chunk({.length = 1}),
                                         named_other}),
       true, 2},
      {"ChunkLengthPastTheBlock",
       block_of({"", "Count"}, {"unk"}, {good, build_template_chunk({.types = {8}, .length = 900})}), true,
       1},
      // the first index that names the provider lies past the table: no name
      {"OverlapsAndANameIndexPastTheTable",
       block_of({"", "Count"}, {"unk", "DotNET"},
                {build_template_chunk({.name_index = 5, .range = true, .last_id = 65535, .types = {8}}),
                 build_template_chunk({.selectors = {900}, .name_index = 1, .range = true, .first_id = 10,
                                       .last_id = 20, .ids = {65535}, .types = {10}, .name_indexes = {1}})}),
       true, 2},
      // a two-byte count: 0x80 0x02 is 2
      {"TwoByteCount", join({byte_array{0x80, 0x02, 0, 1, 'C'}, build_name_table({"unk"}), good}), true, 1},
  };
  for (const damage_case& c : cases) {
    SCOPED_TRACE(c.name);
    template_db db;
    testing::internal::CaptureStderr();
    EXPECT_EQ(db.parse_block(c.block), c.ok);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, std::string(c.name) == "ChunkLengthOne" ? "Problem unpacking chunk data\n" : "");
    ASSERT_EQ(db.records.size(), c.records);
    expect_lazy_as_parsed(c.block);
    if (!c.ok) {
      EXPECT_EQ(db.provider_names, std::vector<std::string>{"unk"});
      EXPECT_EQ(db.field_names, std::vector<std::string>{""});
    }
  }
  template_db db;
  ASSERT_TRUE(db.parse_block(cases[0].block));
  const template_rec& r = db.records[0];
  EXPECT_EQ(r.selectors, std::set<u64>{900});
  EXPECT_EQ(r.ids, std::set<u16>{7});
  EXPECT_EQ(r.types, (std::vector<u16>{8, 10}));
  // a field-name index past the table gives the empty name
  EXPECT_EQ(r.names, (std::vector<std::string>{"Count", ""}));
  EXPECT_EQ(db.provider_index.at(dotnet), 1u);
  EXPECT_EQ(db.provider_index.at(other), 2u);
  ASSERT_TRUE(db.parse_block(cases[2].block));
  EXPECT_EQ(db.records[1].provider, other);
}

// Cut at every length in a buffer of exactly that size: whatever is read is
// what the whole block holds, in order.
TEST(TemplateBlock, CutAtEveryLength) {
  const byte_array block =
      block_of({"", "Count", "Name"}, {"unk", "DotNET"},
               {build_template_chunk({.name_index = 1, .ids = {1}, .types = {8}, .name_indexes = {1}}),
                build_template_chunk({.selectors = {900}, .range = true, .first_id = 2, .last_id = 9,
                                      .types = {1, 8}, .name_indexes = {2, 1}}),
                build_template_chunk({.provider = other})});
  template_db whole;
  ASSERT_TRUE(whole.parse_block(block));
  ASSERT_EQ(whole.records.size(), 3u);
  for (u64 n = 0; n <= block.size(); ++n) {
    SCOPED_TRACE(n);
    template_db db;
    if (!db.parse_block(cut_short(block, n))) continue;
    ASSERT_LE(db.records.size(), whole.records.size());
    for (std::size_t i = 0; i < db.records.size(); ++i) {
      EXPECT_EQ(db.records[i].types, whole.records[i].types);
      EXPECT_EQ(db.records[i].provider, whole.records[i].provider);
    }
  }
}

TEST(TemplateBlock, ReadFromTheProgramFile) {
  temp_dir dir;
  byte_array file(5000, 0x11);
  for (u64 i = 4096; i < 5000; ++i) file[i] = static_cast<u8>(i);
  const std::string path = dir.write("program", file);
  struct read_case {
    u32 offset;
    u32 length;
    bool ok;
  };
  const read_case cases[] = {
      {4095, 10, false},  // inside the image
      {4096, 10, true},   {4900, 100, true},
      {4901, 100, false},  // cut short by the end of the file
      {5000, 1, false},   {6000, 1, false}, {4096, 0, false},
  };
  for (const read_case& c : cases) {
    SCOPED_TRACE(c.offset);
    byte_array out = {1};
    EXPECT_EQ(read_template_block(out, c.offset, c.length, path), c.ok);
    EXPECT_EQ(out.size(), c.ok ? c.length : 0u);
    if (c.ok) {
      EXPECT_EQ(out[0], static_cast<u8>(c.offset));
    }
  }
  byte_array out;
  EXPECT_FALSE(read_template_block(out, 4096, 10, dir.path("missing")));
}

}  // namespace
