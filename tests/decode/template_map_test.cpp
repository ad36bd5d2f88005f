#include "decode/template_map.hpp"

#include <gtest/gtest.h>

#include <set>

#include "common/zarn_md5.hpp"
#include "decode/kernel_providers.hpp"
#include "decode/template_db.hpp"
#include "support/log_builder.hpp"

using logbuild::guid_of;

namespace {

TEST(KernelProviders, WholeTable) {
  std::set<u16> groups;
  std::set<std::string> names;
  std::set<std::string> guids;
  u16 expected_group = 0;
  for (const kernel_provider_row& row : kernel_providers) {
    SCOPED_TRACE(row.name);
    // the groups run 0x0000 to 0x1E00 in steps of 0x100, each once
    EXPECT_EQ(row.hook_group, expected_group);
    expected_group = static_cast<u16>(expected_group + 0x100);
    guid g;
    ASSERT_TRUE(kernel_provider_guid(row, g));
    // the text round-trips through the stored layout
    EXPECT_EQ(guid_to_string(g), row.guid_text);
    groups.insert(row.hook_group);
    names.insert(row.name);
    guids.insert(row.guid_text);
  }
  EXPECT_EQ(groups.size(), 31u);
  EXPECT_EQ(names.size(), 31u);
  EXPECT_EQ(guids.size(), 31u);
}

TEST(KernelProviders, LoadFillsHookGroupsAndNames) {
  template_map map;
  map.add_kernel_provider_names();
  EXPECT_EQ(map.hook_groups.size(), 31u);
  EXPECT_EQ(map.providers.size(), 31u);
  // rows 2, 3, 4 and 6 differ only in the last digit of Data1
  const struct {
    const char* text;
    const char* name;
  } rows[] = {{"3d6fa8d4-fe05-11d0-9dda-00c04fd7ba7c", "Kernel-DiskIo-Trace"},
              {"3d6fa8d3-fe05-11d0-9dda-00c04fd7ba7c", "Kernel-PageFault-Trace"},
              {"3d6fa8d0-fe05-11d0-9dda-00c04fd7ba7c", "Kernel-Process-Trace"},
              {"3d6fa8d1-fe05-11d0-9dda-00c04fd7ba7c", "Kernel-Thread-Trace"}};
  for (const auto& r : rows) EXPECT_EQ(map.provider_name(guid_of(r.text).bytes), r.name);
}

TEST(KernelProviders, HookIdFindsItsGroup) {
  template_map map;
  map.add_kernel_provider_names();
  struct row {
    u16 hook;
    bool found;
    const char* name;
  };
  const row rows[] = {{0x0A12, true, "Kernel-DbgPrint-Trace"},
                      {0x0000, true, "Kernel-Event-Trace"},
                      {0x0050, true, "Kernel-Event-Trace"},
                      {0x1EFF, true, "Kernel-HypervisorX-Trace"},
                      // an image load is logged in the process group
                      {0x030A, true, "Kernel-ImageLoad-Trace"},
                      {0x0309, true, "Kernel-Process-Trace"},
                      {0x030B, true, "Kernel-Process-Trace"},
                      {0x140A, true, "Kernel-ImageLoad-Trace"},
                      {0x1F00, false, ""},
                      {0xFFFF, false, ""}};
  for (const row& r : rows) {
    SCOPED_TRACE(r.hook);
    guid g = guid_of("01234567-89ab-cdef-0123-456789abcdef");
    const guid before = g;
    EXPECT_EQ(etw_guid_for_id(map, g, r.hook), r.found);
    if (r.found) {
      EXPECT_EQ(map.provider_name(g.bytes), r.name);
    } else {
      EXPECT_EQ(g, before);  // untouched
    }
  }
}

TEST(TemplateMap, FirstNameWins) {
  template_map map;
  const guid event_trace = guid_of("68fdd900-4a3e-11d1-84f4-0000f80464e3");
  const guid other = guid_of("01234567-89ab-cdef-0123-456789abcdef");
  EXPECT_TRUE(map.add_provider(event_trace, "From The File"));
  EXPECT_TRUE(map.add_provider(other, ""));  // an entry without a name
  map.add_kernel_provider_names();
  EXPECT_EQ(map.provider_name(event_trace.bytes), "From The File");
  EXPECT_TRUE(map.add_provider(other, "Named Later"));
  EXPECT_TRUE(map.add_provider(other, "Too Late"));
  EXPECT_EQ(map.provider_name(other.bytes), "Named Later");
  // the zero GUID and unknown GUIDs have no name
  EXPECT_EQ(map.provider_name(nullptr), "");
  EXPECT_EQ(map.provider_name(guid_of("ffffffff-ffff-ffff-ffff-ffffffffffff").bytes), "");
  // a hook group already held stays
  map.hook_groups[0x0100] = other;
  map.add_kernel_provider_names();
  EXPECT_EQ(map.hook_groups[0x0100], other);
}

TEST(TemplateMap, ClearEmptiesEverything) {
  template_map map;
  map.add_kernel_provider_names();
  map.selector = 19045;
  map.clear();
  EXPECT_TRUE(map.providers.empty());
  EXPECT_TRUE(map.hook_groups.empty());
  EXPECT_EQ(map.selector, 0u);
}

// ---- compilation and lookup ----

const guid dotnet = guid_of("e13c0d23-ccbc-4e12-931b-d9cc2eee27e4");

template_rec record(std::vector<u16> types, std::set<u16> ids, std::set<u64> selectors = {},
                    const guid& provider = dotnet) {
  template_rec r;
  r.provider = provider;
  r.types = std::move(types);
  r.names.assign(r.types.size(), "");
  r.ids = std::move(ids);
  r.selectors = std::move(selectors);
  return r;
}

// The type words of the template found, or {} for none.
std::vector<u16> found(const template_map& map, u16 id, u32 selector = 0,
                       const guid& provider = dotnet) {
  template_map& m = const_cast<template_map&>(map);
  m.selector = selector;
  const event_template* t = map.find(&provider, id);
  return t == nullptr ? std::vector<u16>{} : t->types;
}

TEST(TemplateMap, SelectorsChooseAmongTemplates) {
  template_db db;
  db.records.push_back(record({8}, {1}, {900, 1000}));  // id 1: builds 900 and 1000 only
  db.records.push_back(record({10}, {1}, {2000}));
  db.records.push_back(record({6}, {2}));               // id 2: every build...
  db.records.push_back(record({4}, {2}, {1000}));       // ...and build 1000
  template_map map;
  ASSERT_TRUE(compile_templates(db, map, 0));
  struct row {
    u16 id;
    u32 selector;
    std::vector<u16> types;
  };
  const row rows[] = {
      {1, 0, {8}},      // no build: the smallest selector value's
      {1, 2000, {10}},  // the build's own
      {1, 1500, {8}},   // an unknown build: the smallest's
      {2, 1000, {4}},   {2, 0, {6}}, {2, 19045, {6}},
      {3, 0, {}},       // no such id
  };
  for (const row& r : rows) {
    SCOPED_TRACE(testing::Message() << r.id << " " << r.selector);
    EXPECT_EQ(found(map, r.id, r.selector), r.types);
  }
  EXPECT_EQ(map.find(nullptr, 1), nullptr);
  const guid other = guid_of("01234567-89ab-cdef-0123-456789abcdef");
  EXPECT_EQ(found(map, 1, 0, other), std::vector<u16>{});
}

TEST(TemplateMap, IdsFromRangesAndLists) {
  template_db db;
  template_rec top = record({8}, {7});
  top.first_id = 65533;  // a range that ends at the last id must end
  top.last_id = 65535;
  db.records.push_back(top);
  template_rec no_range = record({6}, {});
  no_range.first_id = 5;  // last_id 0: no range
  db.records.push_back(no_range);
  template_rec backwards = record({4}, {});
  backwards.first_id = 9;
  backwards.last_id = 8;
  db.records.push_back(backwards);
  db.records.push_back(record({}, {11}));  // ids without fields get no template
  template_map map;
  ASSERT_TRUE(compile_templates(db, map, 0));
  for (const u16 id : {7, 65533, 65534, 65535}) EXPECT_EQ(found(map, id), std::vector<u16>{8}) << id;
  for (const u16 id : {5, 8, 9, 11, 0, 6, 65532}) EXPECT_EQ(found(map, id), std::vector<u16>{}) << id;
  // equal field lists share one template: 8, 6 and 4, whatever provider
  db.records.push_back(record({8}, {20}, {}, guid_of("01234567-89ab-cdef-0123-456789abcdef")));
  ASSERT_TRUE(compile_templates(db, map, 0));
  EXPECT_EQ(map.templates.size(), 3u);
  EXPECT_FALSE(compile_templates(template_db{}, map, 0));
  EXPECT_TRUE(map.templates.empty());
}

// Ids are held as ranges: every lookup at a range's ends, where ranges
// overlap or repeat, and under each selector, as each id would have it.
TEST(TemplateMap, RangeEndsOverlapsAndSelectors) {
  const auto ranged = [](u16 type, u16 first, u16 last, std::set<u64> selectors, std::set<u16> ids = {}) {
    template_rec r = record({type}, std::move(ids), std::move(selectors));
    r.first_id = first;
    r.last_id = last;
    return r;
  };
  template_db file;
  file.records.push_back(ranged(1, 0, 10, {}));
  file.records.push_back(ranged(2, 5, 60000, {900}));
  file.records.push_back(ranged(3, 65535, 65535, {1000}, {10}));
  file.records.push_back(ranged(4, 0, 4, {900}));       // overlaps the first
  file.records.push_back(ranged(5, 20, 30, {0}));
  file.records.push_back(ranged(8, 5, 60000, {900}));   // repeats the second: claims nothing
  template_db block;
  block.records.push_back(ranged(6, 0, 0, {}, {45}));   // an id the file holds
  block.records.push_back(ranged(7, 60001, 65535, {1000}));
  block.records.push_back(ranged(9, 0, 65535, {}, {}));
  block.records.back().provider = guid_of("01234567-89ab-cdef-0123-456789abcdef");
  template_map map;
  ASSERT_TRUE(compile_templates(file, map, 0));
  ASSERT_TRUE(compile_templates(block, map, 1));
  struct row {
    u16 id;
    u32 selector;
    u16 type;  // 0: none
  };
  const row rows[] = {
      {0, 0, 1},         {0, 900, 4},       {0, 1000, 1},      {4, 900, 4},      {5, 0, 1},
      {5, 900, 2},       {10, 1000, 3},     {10, 0, 1},        {11, 0, 2},       {11, 1000, 2},
      {19, 0, 2},        {20, 0, 5},        {30, 900, 2},      {30, 7, 5},       {31, 0, 2},
      {45, 0, 2},        {60000, 900, 2},   {60001, 0, 7},     {60001, 900, 7},  {65534, 1000, 7},
      {65535, 0, 3},     {65535, 1000, 3},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(testing::Message() << r.id << " under " << r.selector);
    EXPECT_EQ(found(map, r.id, r.selector), r.type == 0 ? std::vector<u16>{} : std::vector<u16>{r.type});
  }
  const guid other = guid_of("01234567-89ab-cdef-0123-456789abcdef");
  for (const u16 id : {0, 32768, 65535}) EXPECT_EQ(found(map, id, 19045, other), std::vector<u16>{9}) << id;
}

// What the map holds first wins: the -templates file is compiled before the
// block, so an event id the file describes keeps the file's template for
// every build, while the block adds the ids and names the file lacks.
TEST(TemplateMap, AddingKeepsWhatIsThere) {
  template_db file;
  file.records.push_back(record({8}, {1}));
  template_db block;
  block.records.push_back(record({10}, {1}));
  block.records.push_back(record({10}, {1, 2}, {2000}));
  block.records.back().provider_index = 1;
  block.provider_names.push_back("From The Block");
  block.provider_index.emplace(dotnet, 1);
  template_map map;
  ASSERT_TRUE(compile_templates(file, map, 0));
  ASSERT_TRUE(compile_templates(block, map, 1));
  EXPECT_EQ(found(map, 1), std::vector<u16>{8});
  EXPECT_EQ(found(map, 1, 2000), std::vector<u16>{8});
  EXPECT_EQ(found(map, 2, 2000), std::vector<u16>{10});
  EXPECT_EQ(map.provider_name(dotnet.bytes), "From The Block");
  // a damaged block's name index past its table names nothing
  block.provider_index[dotnet] = 7;
  template_map fresh;
  ASSERT_TRUE(compile_templates(block, fresh, 0));
  EXPECT_EQ(fresh.provider_name(dotnet.bytes), "");
}

// A kernel record's class version picks the template that claims it (its
// selector 0xFF00 + version) before the build does; a version no claim of
// the id names, or none, leaves the choice to the build, unless the
// template the build gives states only versions newer than the record's:
// then the record's bytes are guessed, not misnamed. The -templates file
// keeps its ids whatever the selectors.
TEST(TemplateMap, ClassVersionBeforeBuild) {
  const auto v = [](u16 version) { return class_version_base + version; };
  template_db file;
  file.records.push_back(record({1}, {5}));
  template_db block;
  block.records.push_back(record({10}, {1}, {0, v(4)}));           // newest: every build
  block.records.push_back(record({8}, {1}, {6000, 7601, v(3)}));
  block.records.push_back(record({6}, {1}, {2195, v(0)}));
  block.records.push_back(record({4}, {1}, {v(2)}));              // by its version only
  block.records.push_back(record({7}, {2}, {v(7)}));              // version 7 of another id
  block.records.push_back(record({9}, {5}, {v(3)}));
  template_map map;
  ASSERT_TRUE(compile_templates(file, map, 0));
  ASSERT_TRUE(compile_templates(block, map, 1));
  EXPECT_EQ(map.providers.at(dotnet).versions, (std::vector<u8>{0, 2, 3, 4, 7}));
  struct row {
    u16 id;
    u32 build;
    u16 version;
    u16 type;
  };
  // in this order the provider's records alternate versions and builds
  const row rows[] = {
      {1, 19045, 4, 10},  {1, 19045, 3, 8},   {1, 7601, 0, 6},   {1, 7601, 4, 10},
      {1, 7601, 2, 4},    {1, 7601, 5, 8},    {1, 7601, 7, 8},   {1, 7601, no_class_version, 8},
      {1, 7601, 1, 0},  // older than the build's layout (version 3), and described for no id
      {1, 0, 3, 8},       {1, 0, 9, 10},      {1, 2195, 0x100, 6},
      {1, 0xFF02, no_class_version, 10},  // a build in the versions' range is no build
      {2, 0, 7, 7},       {2, 0, 3, 0},       {5, 7601, 3, 1},   {3, 0, 3, 0},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(testing::Message() << r.id << " build " << r.build << " version " << r.version);
    map.selector = r.build;
    const event_template* t = map.find(&dotnet, r.id, r.version);
    EXPECT_EQ(t == nullptr ? 0 : t->types.at(0), r.type);
  }
}

TEST(EventTemplate, SignatureAndKey) {
  event_template t;
  std::string status = " Status ";
  std::string none;
  t.add_field(8, status);
  t.add_field(10, none);
  std::string wide = "Size";
  t.add_field(300, wide);
  t.names.pop_back();  // fewer names than type words: finalize pads them
  t.finalize();
  EXPECT_EQ(status, "Status");
  EXPECT_EQ(t.wide_types_flag, 1);
  EXPECT_EQ(t.names, (std::vector<std::string>{"Status", "", ""}));
  EXPECT_EQ(t.signature, "Status810300");
  guid expected;
  ASSERT_TRUE(md5(reinterpret_cast<const u8*>("Status810300"), 12, expected.bytes));
  EXPECT_EQ(t.key, expected);
}

// Another signature already holding a template's key moves the key on by
// its last byte, so the template is not replaced by the wrong one.
TEST(TemplateMap, KeyTakenByAnotherSignature) {
  event_template squatter;
  squatter.types = {8};
  squatter.finalize();
  squatter.signature = "not the same";
  template_map map;
  map.templates.push_back(squatter);
  map.key_index.emplace(squatter.key, 0);
  template_db db;
  db.records.push_back(record({8}, {1}));
  ASSERT_TRUE(compile_templates(db, map, 1));
  ASSERT_EQ(map.templates.size(), 2u);
  EXPECT_EQ(map.templates[1].key.bytes[15], static_cast<u8>(squatter.key.bytes[15] + 1));
  EXPECT_EQ(map.find(&dotnet, 1), &map.templates[1]);
}

}  // namespace
