#include "decode/template_map.hpp"

#include <gtest/gtest.h>

#include <set>

#include "decode/kernel_providers.hpp"
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

}  // namespace
