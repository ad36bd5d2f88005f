#include "decode/event_record.hpp"

#include <gtest/gtest.h>

#include "support/log_builder.hpp"

using namespace logbuild;

namespace {

// The records of a buffer, and the fields of a record, are reused for the
// next ones: with every member set, what the store hands out again equals a
// new record, so nothing of one event reaches the next. Every member is named
// below, so a member added later must be too (the build refuses one left out).
TEST(EventRecord, ReusedRecordAndFieldEqualNewOnes) {
  pending_records pending;
  event_record& r = *pending.add(0x100);
  r = {.size = 1, .header_type = 2, .flags = 3, .event_property = 4, .thread_id = 5,
       .process_id = 6, .raw_time = 7, .provider = guid_of("e13c0d23-ccbc-4e12-931b-d9cc2eee27e4"),
       .descriptor = {8, 9, 10, 11, 12, 13, 14}, .processor_time = 15,
       .activity = guid_of("68fdd900-4a3e-11d1-84f4-0000f80464e3"), .hook_event_id = 16,
       .processor_number = 17, .logger_id = 18, .filetime = 19, .provider_name = "p", .fields = {},
       .kind = event_kind::generic, .guessed = 1, .record_ok = 1, .file_offset = 20,
       .payload_offset = 21, .payload_size = 22, .compressed = 1, .provider_known = 1};
  field_rec& f = r.fields.next_slot();
  f = {.in_type = 1, .high_byte = 2, .element_flag = 1, .placeholder_flag = 1, .name = "n",
       .value = "v", .number = 3, .bytes = {4}, .size = 5};
  r.fields.emplace(0x110, f);
  pending.clear();

  event_record* again = pending.add(0x200);
  ASSERT_EQ(again, &r);  // the same storage
  EXPECT_EQ(*again, event_record{});
  EXPECT_EQ(again->fields.next_slot(), field_rec{});
}

}  // namespace
