#include "etl/trace_processor.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>

#include "decode/template_db.hpp"
#include "support/log_builder.hpp"

using namespace logbuild;

namespace {

constexpr u64 buffer_at = 0x10000;  // file offset of the walked buffer
const guid msg_provider = guid_of("2818ef08-6a54-396f-2244-5a6ea4a98cf0");
const guid event_provider = guid_of("8e805eb3-6a8f-4a1e-90fa-a831d94e54a1");

// A processor for a FILETIME-clock logfile-header file: record times must be
// valid FILETIMEs and pass unconverted.
trace_processor filetime_processor(u32 pointer_size = 8) {
  trace_processor tp;
  tp.load_templates();
  const byte_array first = build_logfile_first_buffer({.pointer_size = pointer_size, .clock_type = 2});
  logfile_header_info info;
  EXPECT_TRUE(parse_logfile_header(info, bytes_of(first)));
  EXPECT_TRUE(tp.take_file_header(info, first.size()));
  tp.statistics = 1;
  tp.collect_records = 1;
  return tp;
}

// Everything a decoded record holds, as text, so records can be compared.
std::string summary(const event_record& r) {
  std::ostringstream s;
  s << "kind " << static_cast<u32>(r.kind) << " ok " << int(r.record_ok) << " at " << r.file_offset
    << " size " << r.size << " type " << std::hex << r.header_type << " flags " << r.flags
    << " prop " << r.event_property << std::dec << " tid " << r.thread_id << " pid " << r.process_id
    << " raw " << r.raw_time << " ft " << r.filetime << " provider " << guid_to_string(r.provider)
    << " known " << int(r.provider_known) << " name '" << r.provider_name << "' id "
    << r.descriptor.id << " v " << int(r.descriptor.version) << " ch " << int(r.descriptor.channel)
    << " lvl " << int(r.descriptor.level) << " op " << int(r.descriptor.opcode) << " task "
    << r.descriptor.task << " kw " << r.descriptor.keywords << " ptime " << r.processor_time
    << " act " << guid_to_string(r.activity) << " hook " << r.hook_event_id << " cpu "
    << int(r.processor_number) << " logger " << r.logger_id << " payload " << r.payload_offset
    << "+" << r.payload_size << " key " << r.event_key();
  return s.str();
}

std::map<u64, std::string> summaries(const trace_processor& tp) {
  std::map<u64, std::string> out;
  for (const auto& [off, rec] : tp.pending) out[off] = summary(rec);
  return out;
}

u32 corrupted_count(const trace_processor& tp) {
  u32 n = 0;
  for (const auto& [off, rec] : tp.pending) n += rec.kind == event_kind::corrupted ? 1 : 0;
  return n;
}

// ---- one record of each kind ----

struct kind_case {
  const char* name;
  byte_array record;
  event_kind kind;
  guid provider;
  bool provider_known;
  u16 key;
  u64 raw_time;
  u32 thread_id;
  u32 process_id;
  u64 payload_start;  // from the record's first byte
};

std::vector<kind_case> kind_cases() {
  const guid dbgprint = guid_of("13976d09-a327-438c-950b-7f03192815c7");
  const guid process = guid_of("3d6fa8d0-fe05-11d0-9dda-00c04fd7ba7c");
  const guid thread = guid_of("3d6fa8d1-fe05-11d0-9dda-00c04fd7ba7c");
  std::vector<kind_case> c;
  c.push_back({"Trace9000Variant28", build_record(record_9000{.variant = 28, .event_id = 5}),
               event_kind::trace_9000_28, msg_provider, true, 5, ft_2020 + 1, 100, 200, 44});
  c.push_back({"Trace9000Variant24", build_record(record_9000{.variant = 24, .event_id = 6}),
               event_kind::trace_9000_24, msg_provider, true, 6, ft_2020 + 1, 100, 200, 40});
  c.push_back({"EventHeaderC012", build_record(record_event{.type_code = 0xC012}),
               event_kind::event_c012, event_provider, true, 7, ft_2020 + 2, 100, 200, 80});
  c.push_back({"EventHeaderC013", build_record(record_event{.type_code = 0xC013, .event_id = 9}),
               event_kind::event_c013, event_provider, true, 9, ft_2020 + 2, 100, 200, 80});
  // the classic header's class type is the event id; its u16 at 40 is
  // processor time; an odd type (bit 0 set) announces no extended data
  c.push_back({"ClassicC00AOddType",
               build_record(record_event{.type_code = 0xC00A, .flags = 0x0403, .event_id = 4}),
               event_kind::classic_c00a, event_provider, true, 3, ft_2020 + 2, 100, 200, 48});
  c.push_back({"ClassicC014",
               build_record(record_event{.type_code = 0xC014, .flags = 0x0024, .event_id = 0}),
               event_kind::classic_c00a, event_provider, true, 0x24, ft_2020 + 2, 100, 200, 48});
  c.push_back({"PerfinfoC011", build_record(record_generic{.type_code = 0xC011, .hook_id = 0x0A12}),
               event_kind::perfinfo_c011, dbgprint, true, 0x0A12, ft_2020 + 3, 0, 0, 16});
  c.push_back({"PerfinfoC010", build_record(record_generic{.type_code = 0xC010, .hook_id = 0x0A13}),
               event_kind::perfinfo_c011, dbgprint, true, 0x0A13, ft_2020 + 3, 0, 0, 16});
  c.push_back({"SystemC002", build_record(record_generic{.type_code = 0xC002, .hook_id = 0x0310}),
               event_kind::system_c002, process, true, 0x0310, ft_2020 + 3, 100, 200, 32});
  c.push_back({"SystemC001", build_record(record_generic{.type_code = 0xC001, .hook_id = 0x0311}),
               event_kind::system_c002, process, true, 0x0311, ft_2020 + 3, 100, 200, 32});
  c.push_back({"GenericHeader", build_record(record_generic{.type_code = 0x1234, .hook_id = 0x0502}),
               event_kind::generic, thread, true, 0x0502, 0, 0, 0, 8});
  c.push_back({"GenericUnknownHookGroup",
               build_record(record_generic{.type_code = 0x1234, .hook_id = 0x2002}),
               event_kind::generic, guid{}, false, 0x2002, 0, 0, 0, 8});
  return c;
}

TEST(DecodeRecord, EachKind) {
  for (const kind_case& c : kind_cases()) {
    SCOPED_TRACE(c.name);
    trace_processor tp = filetime_processor();
    buffer_builder b({.time = ft_2021, .processor = 3, .logger_id = 0x21});
    b.add(c.record);
    const byte_array buf = b.finish();
    ASSERT_TRUE(tp.walk_buffer_records(bytes_of(buf), buffer_at));
    ASSERT_EQ(tp.pending.size(), 1u);
    const event_record& r = tp.pending.begin()->second;
    const u64 at = buffer_at + 72;
    EXPECT_EQ(tp.pending.begin()->first, at);
    EXPECT_EQ(r.kind, c.kind);
    EXPECT_EQ(r.record_ok, 1);
    EXPECT_EQ(r.file_offset, at);
    EXPECT_EQ(r.provider, c.provider);
    EXPECT_EQ(r.has_provider(), c.provider_known);
    EXPECT_EQ(r.event_key(), c.key);
    EXPECT_EQ(r.raw_time, c.raw_time);
    EXPECT_EQ(r.filetime, c.raw_time);  // a FILETIME clock passes times through
    EXPECT_EQ(r.thread_id, c.thread_id);
    EXPECT_EQ(r.process_id, c.process_id);
    EXPECT_EQ(r.processor_number, 3);
    EXPECT_EQ(r.logger_id, 0x21);
    EXPECT_EQ(r.payload_offset, at + c.payload_start);
    EXPECT_EQ(r.payload_size, c.record.size() - c.payload_start);
    // no template: the 4 payload bytes are guessed as one number
    ASSERT_EQ(r.fields.size(), 1u);
    EXPECT_EQ(r.fields.begin()->first, r.payload_offset);
    EXPECT_EQ(r.fields.begin()->second.number, 0x04030201u);
    EXPECT_EQ(r.guessed, 1);
    // -guids, -stats and -pullguid see the record under its provider
    EXPECT_EQ(tp.providers_seen.count(c.provider), c.provider_known ? 1u : 0u);
    if (c.provider_known) {
      EXPECT_EQ(tp.event_counts[c.provider][c.key], 1u);
      EXPECT_EQ(tp.provider_records.count(c.provider), 1u);
    } else {
      EXPECT_TRUE(tp.event_counts.empty());
    }
    EXPECT_EQ(tp.record_sizes[at], rounded_record_size(static_cast<u16>(c.record.size())));
  }
}

TEST(DecodeRecord, HeaderFieldsOfEventAndClassicRecords) {
  trace_processor tp = filetime_processor();
  const byte_array ev = build_record(record_event{.type_code = 0xC013,
                                                 .flags = 0x0240,
                                                 .property = 0x11,
                                                 .version = 2,
                                                 .channel = 0x10,
                                                 .level = 5,
                                                 .opcode = 0x0B,
                                                 .task = 0x1234,
                                                 .keywords = 0x8000000000000042ull,
                                                 .processor_time = 0x55,
                                                 .activity = guid_of("11111111-2222-3333-4444-555555555555")});
  // class type 0x22, level 1, version 2; bytes 40-47 are processor time
  byte_array classic = build_record(record_event{.type_code = 0xC014, .flags = 0x0122, .property = 2});
  set_u64(classic, 40, 0x0000000600000007ull);
  const byte_array buf = buffer_builder({.time = ft_2021}).add(ev).add(classic).finish();
  ASSERT_TRUE(tp.walk_buffer_records(bytes_of(buf), buffer_at));
  ASSERT_EQ(tp.pending.size(), 2u);
  const event_record& e = tp.pending.begin()->second;
  EXPECT_EQ(e.flags, 0x0240);
  EXPECT_EQ(e.event_property, 0x11);
  EXPECT_EQ(e.descriptor.version, 2);
  EXPECT_EQ(e.descriptor.channel, 0x10);
  EXPECT_EQ(e.descriptor.level, 5);
  EXPECT_EQ(e.descriptor.opcode, 0x0B);
  EXPECT_EQ(e.descriptor.task, 0x1234);
  EXPECT_EQ(e.descriptor.keywords, 0x8000000000000042ull);
  EXPECT_EQ(e.processor_time, 0x55u);
  EXPECT_EQ(guid_to_string(e.activity), "11111111-2222-3333-4444-555555555555");
  const event_record& c = std::next(tp.pending.begin())->second;
  EXPECT_EQ(c.descriptor.id, 0x22);
  EXPECT_EQ(c.descriptor.level, 1);
  EXPECT_EQ(c.descriptor.version, 2);
  EXPECT_EQ(c.processor_time, 0x0000000600000007ull);
  EXPECT_EQ(c.flags, 0);
  EXPECT_EQ(tp.event_counts[event_provider].size(), 2u);
  EXPECT_EQ(tp.event_counts[event_provider][0x22], 1u);
}

// ---- extended-data items ----

TEST(DecodeRecord, PayloadStartsAfterAllExtendedItems) {
  // The u16 at 80 holds the first item's own size (16), not the items' total
  // length: the payload starts after every linked item.
  const std::vector<ext_item_fields> items = {
      {.type = 3, .data = {0x2A, 0, 0, 0}},
      {.type = 11, .data = byte_array(30, 0x41)},
      {.type = 12, .data = byte_array(12, 0x42)}};
  const byte_array items_bytes = build_ext_items(items);
  ASSERT_EQ(items_bytes.size(), 16u + 40u + 24u);
  const byte_array rec = build_record(record_event{.type_code = 0xC013, .items = items});
  EXPECT_EQ(skip_extended_items(bytes_of(rec), 80), 80 + items_bytes.size());

  struct damage {
    const char* name;
    u64 at;  // offset in the record
    u16 value;
    u64 payload_start;
  };
  const damage rows[] = {
      // the last item still says another follows: the payload bytes are no item
      {"LastItemLinked", 80 + 56 + 4, 1, 80 + 80},
      // the second item's size runs past the record: the items end before it
      {"SecondItemSizePastRecord", 80 + 16, 0xFFF0, 80 + 16},
      // an unknown type ends the items
      {"SecondItemUnknownType", 80 + 16 + 2, 99, 80 + 16},
      // the first item's size is below its header
      {"FirstItemSizeFour", 80, 4, 80},
  };
  for (const damage& d : rows) {
    SCOPED_TRACE(d.name);
    byte_array r = rec;
    set_u16(r, d.at, d.value);
    EXPECT_EQ(skip_extended_items(bytes_of(r), 80), d.payload_start);
  }
  // every cut of the record, in an exact-size vector
  for (u64 n = 0; n <= rec.size(); ++n) {
    const byte_array cut = cut_short(rec, n);
    EXPECT_LE(skip_extended_items(bytes_of(cut), 80), std::max<u64>(n, 80));
  }
}

// A record's payload is decoded through its provider's template, with the
// pointer size its own header flags state, else the file's.
TEST(DecodeRecord, PayloadThroughItsTemplate) {
  template_db db;
  template_rec rec;
  rec.provider = event_provider;
  rec.ids = {7};
  rec.types = {16, 8};  // a pointer, then a u32
  rec.names = {"Ptr", "Count"};
  db.records.push_back(rec);
  const byte_array payload = {1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0};
  struct pointer_case {
    const char* name;
    u32 pointer_size;  // of the file's logfile header
    u16 flags;         // of the event header
    std::vector<u64> numbers;
  };
  const pointer_case cases[] = {
      {"FileOf64BitPointers", 8, 0, {0x200000001ull, 3}},
      // the 4 bytes the template leaves are guessed
      {"FileOf32BitPointers", 4, 0, {1, 2, 3}},
      {"EventSays32Bit", 8, 0x0020, {1, 2, 3}},
      {"EventSays64Bit", 4, 0x0040, {0x200000001ull, 3}},
  };
  for (const pointer_case& c : cases) {
    SCOPED_TRACE(c.name);
    trace_processor tp = filetime_processor(c.pointer_size);
    ASSERT_TRUE(compile_templates(db, tp.templates, 1));
    buffer_builder b({.time = ft_2021});
    b.add(build_record(record_event{.flags = c.flags, .payload = payload}));
    ASSERT_TRUE(tp.walk_buffer_records(bytes_of(b.finish()), buffer_at));
    const event_record& r = tp.pending.begin()->second;
    std::vector<u64> numbers;
    for (const auto& [key, f] : r.fields) numbers.push_back(f.number);
    EXPECT_EQ(numbers, c.numbers);
    EXPECT_EQ(r.fields.begin()->first, r.payload_offset);
    EXPECT_EQ(r.fields.begin()->second.name, "Ptr");
  }
  // after extended-data items a single byte left is padding, not a payload
  rec.types = {4};
  rec.names = {"Byte"};
  db.records = {rec};
  trace_processor tp = filetime_processor();
  ASSERT_TRUE(compile_templates(db, tp.templates, 1));
  buffer_builder b({.time = ft_2021});
  b.add(build_record(record_event{.items = {{}}, .payload = {9}}));
  b.add(build_record(record_event{.payload = {9}}));
  ASSERT_TRUE(tp.walk_buffer_records(bytes_of(b.finish()), buffer_at));
  ASSERT_EQ(tp.pending.size(), 2u);
  // only the item's own field
  ASSERT_EQ(tp.pending.begin()->second.fields.size(), 1u);
  EXPECT_EQ(tp.pending.begin()->second.fields.begin()->second.name, "value");
  EXPECT_EQ(tp.pending.rbegin()->second.fields.size(), 1u);
}

// The items become fields under their file offsets; the schema item's
// template decodes the payload, and the provider's template or guessing what
// it leaves (here 2 bytes: too few to guess).
TEST(DecodeRecord, ExtendedItemsAndSchemaBecomeFields) {
  const byte_array schema = build_schema({0}, "Ev", {{"n", {0x08}}, {"t", {0x17}}});
  const std::vector<ext_item_fields> items = {
      {.type = 3, .data = {0x2A, 0, 0, 0}},
      {.type = 6, .data = byte_array(16, 0xEE)},  // a stack trace: no field
      {.type = 12, .data = {8, 0, 'P', 'r', 'o', 0, 0, 0}},
      {.type = 11, .data = schema}};
  const byte_array payload = {7, 0, 0, 0, 2, 0, 'h', 'i', 0xAB, 0xCD};
  const byte_array rec = build_record(record_event{.type_code = 0xC013, .items = items,
                                                   .payload = payload});
  trace_processor tp = filetime_processor();
  buffer_builder b({.time = ft_2021});
  b.add(rec);
  const u64 at = buffer_at + 72;  // the first record follows the buffer header
  ASSERT_TRUE(tp.walk_buffer_records(bytes_of(b.finish()), buffer_at));
  const event_record& r = tp.pending.at(at);
  const u64 payload_at = at + rec.size() - payload.size();
  EXPECT_EQ(r.payload_offset, payload_at);
  std::vector<std::string> got;
  for (const auto& [key, f] : r.fields) {
    got.push_back(std::to_string(key.offset - at) + " " + f.name + "=" + f.value + "/" +
                  std::to_string(f.number) + "/" + std::to_string(f.size));
  }
  const u64 p = payload_at - at;
  const std::vector<std::string> expected = {
      "80 value=/42/4",
      "120 utf8=Pro/0/3",
      std::to_string(p) + " Ev={guess}/0/0",  // the event name sorts first
      std::to_string(p) + " n=/7/4",
      std::to_string(p + 4) + " t_length=/2/2",
      std::to_string(p + 6) + " t=hi/0/2",
  };
  EXPECT_EQ(got, expected);
  // the record cut at every length, its size field following the cut
  for (u64 n = 82; n < rec.size(); ++n) {
    byte_array cut = cut_short(rec, n);
    set_u16(cut, 0, static_cast<u16>(n));
    trace_processor c = filetime_processor();
    buffer_builder cb({.time = ft_2021});
    cb.add(cut);
    (void)c.walk_buffer_records(bytes_of(cb.finish()), buffer_at);
  }
}

// ---- the walk ----

// Five records of different kinds, time ft_2020 + n.
buffer_builder five_records(buffer_header_fields h = {.time = ft_2021}) {
  buffer_builder b(h);
  b.add(build_record(record_event{.type_code = 0xC013, .event_id = 1}));
  b.add(build_record(record_generic{.type_code = 0xC002, .hook_id = 0x0050}));
  b.add(build_record(record_event{.type_code = 0xC013, .event_id = 2, .payload = byte_array(20, 7)}));
  b.add(build_record(record_generic{.type_code = 0xC011, .hook_id = 0x0A00, .payload = {}}));
  b.add(build_record(record_event{.type_code = 0xC012, .event_id = 3}));
  return b;
}

TEST(WalkBuffer, CleanBufferGivesEveryRecordInOrder) {
  trace_processor tp = filetime_processor();
  const buffer_builder b = five_records();
  const byte_array buf = b.finish();
  ASSERT_TRUE(tp.walk_buffer_records(bytes_of(buf), buffer_at));
  ASSERT_EQ(tp.pending.size(), 5u);
  std::size_t i = 0;
  for (const auto& [off, rec] : tp.pending) {
    EXPECT_EQ(off, buffer_at + b.offset_of(i++));
    EXPECT_EQ(rec.record_ok, 1);
  }
  std::vector<u64> order;
  tp.flush_pending_records([&order](const event_record& r) { order.push_back(r.file_offset); });
  EXPECT_TRUE(tp.pending.empty());
  ASSERT_EQ(order.size(), 5u);
  EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));
  // the same offset cannot be registered twice
  EXPECT_FALSE(tp.walk_buffer_records(bytes_of(buf), buffer_at));
  EXPECT_FALSE(tp.register_buffer(bytes_of(cut_short(buf, 71)), 0x90000, false));
}

TEST(WalkBuffer, NamedDamageCostsOnlyTheDamagedRecord) {
  const buffer_builder clean_builder = five_records();
  const byte_array clean = clean_builder.finish();
  trace_processor reference = filetime_processor();
  ASSERT_TRUE(reference.walk_buffer_records(bytes_of(clean), buffer_at));
  const std::map<u64, std::string> expected = summaries(reference);

  struct damage_case {
    const char* name;
    std::function<void(byte_array&)> damage;
    std::size_t damaged;  // index of the record that is lost
  };
  const u64 second = clean_builder.offset_of(1);
  const u64 third = clean_builder.offset_of(2);
  const damage_case cases[] = {
      {"GarbageOverARecord", [&](byte_array& b) { std::fill_n(b.begin() + third, 40, 0xEE); }, 2},
      {"SizeBeyondBuffer", [&](byte_array& b) { set_record_size(b, third, 0xFFF0); }, 2},
      {"SizeBelowHeader", [&](byte_array& b) { set_record_size(b, third, 40); }, 2},
      {"GenericSizeBeyondBuffer", [&](byte_array& b) { set_record_size(b, second, 0xFFF0, true); }, 1},
      {"UnknownTypeCode", [&](byte_array& b) { set_u16(b, third + 2, 0xC0FF); }, 2},
      {"TimeNotAFiletime", [&](byte_array& b) { set_u64(b, third + 16, 5); }, 2},
  };
  for (const damage_case& c : cases) {
    SCOPED_TRACE(c.name);
    byte_array buf = clean;
    c.damage(buf);
    trace_processor tp = filetime_processor();
    ASSERT_TRUE(tp.walk_buffer_records(bytes_of(buf), buffer_at));
    EXPECT_EQ(corrupted_count(tp), 1u);
    const u64 lost = buffer_at + clean_builder.offset_of(c.damaged);
    for (const auto& [off, text] : expected) {
      SCOPED_TRACE(off);
      if (off == lost) {
        // the damaged record's place holds the one corrupted record
        ASSERT_EQ(tp.pending.count(off), 1u);
        EXPECT_EQ(tp.pending.at(off).kind, event_kind::corrupted);
        EXPECT_EQ(tp.pending.at(off).record_ok, 0);
        EXPECT_EQ(tp.pending.at(off).payload_size,
                  clean_builder.offset_of(c.damaged + 1) - clean_builder.offset_of(c.damaged));
      } else {
        ASSERT_EQ(tp.pending.count(off), 1u);
        EXPECT_EQ(summary(tp.pending.at(off)), text);
      }
    }
    EXPECT_EQ(tp.pending.size(), expected.size());
  }
}

TEST(WalkBuffer, GarbageBetweenRecordsIsOneCorruptedRecord) {
  buffer_builder b({.time = ft_2021});
  b.add(build_record(record_event{.event_id = 1}));
  b.add_garbage(24);
  b.add(build_record(record_event{.event_id = 2}));
  const byte_array buf = b.finish();
  trace_processor tp = filetime_processor();
  ASSERT_TRUE(tp.walk_buffer_records(bytes_of(buf), buffer_at));
  ASSERT_EQ(tp.pending.size(), 3u);
  const event_record& bad = tp.pending.at(buffer_at + b.offset_of(1));
  EXPECT_EQ(bad.kind, event_kind::corrupted);
  EXPECT_EQ(bad.payload_size, 24u);
  EXPECT_EQ(tp.pending.at(buffer_at + b.offset_of(2)).descriptor.id, 2);
  // the corrupted record has no provider and is not counted
  EXPECT_EQ(tp.event_counts[event_provider].size(), 2u);
}

TEST(WalkBuffer, TailOfTheFilledPart) {
  struct tail_case {
    const char* name;
    u64 bytes;
    u8 fill;
    u32 corrupted;
  };
  const tail_case cases[] = {{"ZeroSlack", 40, 0x00, 0},
                             {"FFSlack", 40, 0xFF, 0},
                             {"Garbage", 40, 0xEE, 1},
                             {"EightGarbageBytes", 8, 0x13, 1}};
  for (const tail_case& c : cases) {
    SCOPED_TRACE(c.name);
    buffer_builder b({.time = ft_2021});
    b.add(build_record(record_event{}));
    b.add_garbage(c.bytes, c.fill);
    const byte_array buf = b.finish();
    trace_processor tp = filetime_processor();
    ASSERT_TRUE(tp.walk_buffer_records(bytes_of(buf), buffer_at));
    EXPECT_EQ(tp.pending.size(), 1u + c.corrupted);
    EXPECT_EQ(corrupted_count(tp), c.corrupted);
  }
}

TEST(WalkBuffer, SmallRecordsAtTheEndAreRead) {
  // The buffer ends right after a 16-byte record: fewer than 80 bytes remain
  // after the record before it, and it is still read.
  buffer_builder b({.buffer_size = 0, .time = ft_2021});
  b.add(build_record(record_event{}));
  b.add(build_record(record_generic{.type_code = 0xC011, .hook_id = 0x0A01, .payload = {}}));
  b.add(build_record(record_generic{.type_code = 0x1234, .hook_id = 0x0A02, .payload = {}}));
  const byte_array buf = b.finish();
  ASSERT_EQ(buf.size(), b.offset_of(2) + 8);
  trace_processor tp = filetime_processor();
  ASSERT_TRUE(tp.walk_buffer_records(bytes_of(buf), buffer_at));
  ASSERT_EQ(tp.pending.size(), 3u);
  EXPECT_EQ(corrupted_count(tp), 0u);
  EXPECT_EQ(tp.pending.rbegin()->second.event_key(), 0x0A02);
}

TEST(WalkBuffer, RoundedSizePastTheFilledPart) {
  // A 45-byte record with 45 bytes left: its rounded size (48) passes the
  // filled length, and the walk ends cleanly after it.
  buffer_builder b({.buffer_size = 0, .time = ft_2021});
  b.add(build_record(record_event{}));
  b.add(build_record(record_9000{.variant = 28, .payload = {9}}));
  const byte_array full = b.finish();
  const u64 filled = b.filled_length();
  ASSERT_EQ(filled, b.offset_of(1) + 45);
  const byte_array buf = cut_short(full, filled);  // exactly the filled bytes
  trace_processor tp = filetime_processor();
  ASSERT_TRUE(tp.walk_buffer_records(bytes_of(buf), buffer_at));
  ASSERT_EQ(tp.pending.size(), 2u);
  EXPECT_EQ(tp.pending.rbegin()->second.kind, event_kind::trace_9000_28);
  EXPECT_EQ(tp.pending.rbegin()->second.payload_size, 1u);
  EXPECT_EQ(tp.record_sizes.rbegin()->second, 48u);
}

// Bytes past the filled length are what the buffer held before: whole
// records there are read, unrecognised bytes there end the walk quietly,
// while the same bytes inside the filled length are reported as damage.
TEST(WalkBuffer, RecordsPastTheFilledLengthAreRead) {
  struct filled_case {
    const char* name;
    bool garbage_between;  // unrecognised bytes between the two records
    bool filled_zero;      // a filled length of 0: unknown
    u64 filled_index;      // else the filled length ends where this piece starts
    u64 records;
    u64 corrupted;
  };
  const filled_case cases[] = {
      {"SecondRecordPastFilled", false, false, 1, 2, 0},
      {"GarbagePastFilledEndsTheWalk", true, false, 1, 1, 0},
      {"GarbageInsideFilledIsReported", true, false, 2, 2, 1},
      // the zero bytes after the records are unused space, not damage
      {"FilledLengthUnknown", false, true, 0, 2, 0},
  };
  for (const filled_case& c : cases) {
    SCOPED_TRACE(c.name);
    buffer_builder b({.time = ft_2021});
    b.add(build_record(record_event{.event_id = 1}));
    if (c.garbage_between) b.add_garbage(24);
    b.add(build_record(record_event{.event_id = 2}));
    byte_array buf = b.finish();
    set_u32(buf, 48, c.filled_zero ? 0 : static_cast<u32>(b.offset_of(c.filled_index)));
    trace_processor tp = filetime_processor();
    ASSERT_TRUE(tp.walk_buffer_records(bytes_of(buf), buffer_at));
    EXPECT_EQ(tp.pending.size() - corrupted_count(tp), c.records);
    EXPECT_EQ(corrupted_count(tp), c.corrupted);
  }
}

// A compressed buffer (buffer flags 0x61, as a relogger writes them) holds
// no readable records: it becomes one corrupted record over the whole buffer
// and no provider is taken from its bytes.
TEST(WalkBuffer, CompressedBufferIsOneCorruptedRecord) {
  buffer_builder b({.time = ft_2021});
  b.add(build_record(record_event{.event_id = 1})).add(build_record(record_event{.event_id = 2}));
  byte_array buf = b.finish();
  set_u16(buf, 52, 0x0061);
  trace_processor tp = filetime_processor();
  ASSERT_TRUE(tp.walk_buffer_records(bytes_of(buf), buffer_at));
  ASSERT_EQ(tp.pending.size(), 1u);
  const event_record& r = tp.pending.begin()->second;
  EXPECT_EQ(r.file_offset, buffer_at);
  EXPECT_EQ(r.kind, event_kind::corrupted);
  EXPECT_EQ(r.compressed, 1);
  EXPECT_EQ(r.payload_size, buf.size());
  EXPECT_TRUE(tp.providers_seen.empty());
  // the plain flags seen in real logs leave the records readable
  for (const u16 flags : {0x0001, 0x0020, 0x0021}) {
    set_u16(buf, 52, flags);
    trace_processor plain = filetime_processor();
    ASSERT_TRUE(plain.walk_buffer_records(bytes_of(buf), buffer_at));
    EXPECT_EQ(plain.pending.size(), 2u) << flags;
  }
}

// A buffer's context lasts as long as its records are pending; only the
// file's first buffer stays, so a file of many buffers keeps one or two.
TEST(WalkBuffer, ContextsLastAsLongAsTheirRecords) {
  buffer_builder b({.buffer_size = 0x100, .time = ft_2021});
  const byte_array buf = b.add(build_record(record_event{})).finish();
  trace_processor tp = filetime_processor();
  for (u64 i = 0; i < 100; ++i) {
    ASSERT_TRUE(tp.walk_buffer_records(bytes_of(buf), buffer_at + i * buf.size()));
    EXPECT_EQ(tp.buffers.size(), i == 0 ? 1u : 2u);
    if (i % 2 == 0) {
      tp.drop_pending_records();
    } else {
      tp.flush_pending_records([](const event_record&) {});
    }
    ASSERT_EQ(tp.buffers.size(), 1u);
    EXPECT_EQ(tp.buffers.begin()->first, buffer_at);
  }
}

TEST(WalkBuffer, CutAtEveryLength) {
  const buffer_builder b = five_records({.buffer_size = 0, .time = ft_2021});
  const byte_array full = b.finish();
  trace_processor reference = filetime_processor();
  ASSERT_TRUE(reference.walk_buffer_records(bytes_of(full), buffer_at));
  const std::map<u64, std::string> expected = summaries(reference);
  for (u64 n = 0; n <= full.size(); ++n) {
    SCOPED_TRACE(n);
    const byte_array cut = cut_short(full, n);
    trace_processor tp = filetime_processor();
    const bool walked = tp.walk_buffer_records(bytes_of(cut), buffer_at);
    EXPECT_EQ(walked, n >= 72);
    u32 bad = 0;
    for (const auto& [off, rec] : tp.pending) {
      if (rec.kind == event_kind::corrupted) {
        ++bad;
        continue;
      }
      // whatever is decoded is decoded exactly as from the whole buffer
      ASSERT_EQ(expected.count(off), 1u);
      EXPECT_EQ(summary(rec), expected.at(off));
    }
    EXPECT_LE(bad, 1u);
    // every record that the cut holds whole is there
    for (std::size_t i = 0; i < 5; ++i) {
      const u64 end = i + 1 < 5 ? b.offset_of(i + 1) : b.filled_length();
      if (end <= n) {
        EXPECT_EQ(tp.pending.count(buffer_at + b.offset_of(i)), 1u) << i;
      }
    }
  }
}

// The modes that write no rows count, list and copy each record exactly as
// the event rows would show it, whatever kind of record came before it.
TEST(DecodeRecord, CountingWithoutRowsSeesWhatTheRowsSee) {
  buffer_builder b({.time = ft_2021});
  for (int round = 0; round < 2; ++round) {
    for (const kind_case& c : kind_cases()) {
      // a file holds trace messages of one layout only
      if (c.kind != event_kind::trace_9000_28) b.add(c.record);
    }
  }
  const byte_array buf = b.finish();
  trace_processor with_rows = filetime_processor();
  trace_processor without_rows = filetime_processor();
  without_rows.write_rows = 0;
  ASSERT_TRUE(with_rows.walk_buffer_records(bytes_of(buf), buffer_at));
  ASSERT_TRUE(without_rows.walk_buffer_records(bytes_of(buf), buffer_at));
  EXPECT_EQ(corrupted_count(with_rows), 0u);
  EXPECT_TRUE(without_rows.pending.empty());
  EXPECT_EQ(without_rows.providers_seen, with_rows.providers_seen);
  EXPECT_EQ(without_rows.event_counts, with_rows.event_counts);
  EXPECT_EQ(without_rows.provider_records, with_rows.provider_records);
  EXPECT_EQ(without_rows.record_sizes, with_rows.record_sizes);
}

// The -pullguid collection orders providers as every GUID map does:
// bytewise, each byte unsigned, from the first byte.
TEST(TraceProcessor, ProviderOrderIsBytewise) {
  const trace_processor::provider_less less;
  for (const u64 at : {u64{0}, u64{7}, u64{8}, u64{15}}) {
    for (const auto& [low, high] : {std::pair<u8, u8>{0x00, 0x01}, {0x7F, 0x80}, {0xFE, 0xFF}}) {
      SCOPED_TRACE(testing::Message() << "byte " << at << " value " << int(low));
      guid a = event_provider;
      guid b = event_provider;
      a.bytes[at] = low;
      b.bytes[at] = high;
      a.bytes[15] = at == 15 ? low : 0xFF;  // a later byte must not outweigh an earlier one
      EXPECT_TRUE(guid_less(a, b) && less(a, b) && !less(b, a) && !less(a, a));
    }
  }
}

TEST(WalkBuffer, Variant9000IsFixedByTheFirstSuchRecord) {
  buffer_builder b({.time = ft_2021});
  b.add(build_record(record_event{}));
  b.add(build_record(record_9000{.variant = 24, .event_id = 1}));
  b.add(build_record(record_9000{.variant = 24, .event_id = 2}));
  const byte_array buf = b.finish();
  trace_processor tp = filetime_processor();
  ASSERT_TRUE(tp.walk_buffer_records(bytes_of(buf), buffer_at));
  EXPECT_EQ(tp.variant_9000, 24);
  EXPECT_EQ(tp.buffers.at(buffer_at).variant_9000, 24);
  ASSERT_EQ(tp.pending.size(), 3u);
  for (const auto& [off, rec] : tp.pending) {
    if (rec.header_type == 0x9000) {
      EXPECT_EQ(rec.kind, event_kind::trace_9000_24);
    }
  }
  // the 28-byte layout is not tried once the file is fixed to 24
  trace_processor fixed = filetime_processor();
  fixed.variant_9000 = 24;
  const byte_array rec28 = build_record(record_9000{.variant = 28});
  EXPECT_EQ(fixed.recognise_record(bytes_of(rec28), {}), nullptr);
}

// ---- clock ----

TEST(TicksToTime, Conversions) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  struct row {
    const char* name;
    u8 qpc;
    u8 cycles;
    double factor;
    u64 base;
    u64 raw;
    u64 expected;
  };
  const row rows[] = {
      {"NoFlagsPassesThrough", 0, 0, 0.0, 7, ft_2020, ft_2020},
      {"QpcFactorOne", 1, 0, 1.0, ft_2020, 1000, ft_2020 + 1000},
      {"CpuCycles", 0, 1, 0.005, 0, 2000, 10},
      {"TruncatesTowardZero", 1, 0, 0.5, 0, 3, 1},
      {"TopBitIsUnsigned", 1, 0, 0.5, 0, 0x8000000000000000ull, 0x4000000000000000ull},
      {"FactorZeroGivesNoTime", 1, 0, 0.0, ft_2020, 1000, 0},
      {"ProductTooLarge", 1, 0, 4.0, 0, 0x8000000000000000ull, 0},
      {"NanFactor", 1, 0, nan, 0, 1000, 0},
      {"InfiniteFactor", 1, 0, inf, 0, 1000, 0},
      {"NegativeFactor", 1, 0, -1.0, 0, 1000, 0},
      {"BaseWrapsUnsigned", 1, 0, 1.0, ~u64{0}, 2, 1},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    trace_processor tp;
    tp.clock_qpc = r.qpc;
    tp.clock_cpu_cycles = r.cycles;
    tp.tick_factor = r.factor;
    tp.time_base = r.base;
    EXPECT_EQ(tp.ticks_to_time(r.raw), r.expected);
  }
}

TEST(TraceProcessor, QpcLogConvertsRecordTimes) {
  // QPC at 10 MHz: one tick is one FILETIME tick; the base ties the header
  // record's ticks to the start time.
  trace_processor tp;
  tp.load_templates();
  const u64 header_ticks = 0x0000027f2e70e03dull;
  const byte_array first = build_logfile_first_buffer({.record_time = header_ticks});
  logfile_header_info info;
  ASSERT_TRUE(parse_logfile_header(info, bytes_of(first)));
  ASSERT_TRUE(tp.take_file_header(info, first.size()));
  EXPECT_EQ(tp.templates.selector, 19045u);
  EXPECT_EQ(tp.session_name, "Test Session");
  buffer_builder b({.time = header_ticks + 500});
  b.add(build_record(record_event{.time = header_ticks + 100}));
  b.add(build_record(record_event{.time = header_ticks - 1}));  // before the session: refused
  const byte_array buf = b.finish();
  ASSERT_TRUE(tp.walk_buffer_records(bytes_of(buf), buffer_at));
  ASSERT_EQ(tp.pending.size(), 2u);
  const event_record& r = tp.pending.begin()->second;
  EXPECT_EQ(r.raw_time, header_ticks + 100);
  EXPECT_EQ(r.filetime, ft_2020 + 100);
  EXPECT_EQ(tp.pending.rbegin()->second.kind, event_kind::corrupted);
  EXPECT_EQ(tp.buffers.at(buffer_at).converted_time, ft_2020 + 500);
}

TEST(TraceProcessor, BufferWithoutTimeHasNoUpperBound) {
  // The first buffer of a logfile-header file carries time 0: its records'
  // tick times must not all be refused for lying after it.
  trace_processor tp;
  tp.load_templates();
  const u64 header_ticks = 0x0000027f2e70e03dull;
  const byte_array first = build_logfile_first_buffer({.record_time = header_ticks});
  logfile_header_info info;
  ASSERT_TRUE(parse_logfile_header(info, bytes_of(first)));
  ASSERT_TRUE(tp.take_file_header(info, first.size()));
  const byte_array buf = buffer_builder({.time = 0})
                             .add(build_record(record_generic{.type_code = 0xC002,
                                                              .hook_id = 0x0050,
                                                              .time = header_ticks + 7}))
                             .finish();
  ASSERT_TRUE(tp.walk_buffer_records(bytes_of(buf), 0));
  ASSERT_EQ(tp.pending.size(), 1u);
  EXPECT_EQ(tp.pending.begin()->second.kind, event_kind::system_c002);
  EXPECT_EQ(tp.pending.begin()->second.filetime, ft_2020 + 7);
}

TEST(TraceProcessor, HeaderOfMoreBytesThanHeldIsRefused) {
  trace_processor tp;
  const byte_array first = build_logfile_first_buffer({.first_buffer_size = 0x1000});
  logfile_header_info info;
  ASSERT_TRUE(parse_logfile_header(info, bytes_of(first)));
  EXPECT_FALSE(tp.take_file_header(info, 0xFFF));
  EXPECT_TRUE(tp.session_name.empty());
}

TEST(TraceProcessor, FilesWithoutLogfileHeader) {
  // A zeroed file gets the state of a file without logfile header, whatever
  // the previous file left.
  trace_processor tp = filetime_processor();
  tp.reset(false);
  EXPECT_EQ(tp.templates.hook_groups.size(), 31u);  // kept across files
  tp.templates.selector = 19045;
  const byte_array zero(72, 0);
  ASSERT_TRUE(tp.init_from_first_buffer(bytes_of(zero)));
  EXPECT_EQ(tp.has_logfile_header, 0);
  EXPECT_EQ(tp.templates.selector, 0u);
  EXPECT_EQ(tp.clock_qpc, 1);  // the start (0) is not a FILETIME: times are ticks
  EXPECT_EQ(tp.ticks_to_time(12345), 0u);  // no factor: not converted

  trace_processor rl;
  const byte_array rlfs = build_rlfs_header({});
  ASSERT_TRUE(rl.init_from_first_buffer(bytes_of(rlfs)));
  EXPECT_EQ(rl.clock_qpc, 0);  // a FILETIME start: times are FILETIMEs
  EXPECT_FALSE(rl.init_from_first_buffer(bytes_of(build_logfile_first_buffer({}))));
  for (u64 n = 0; n < 72; ++n) {
    trace_processor t;
    EXPECT_FALSE(t.init_from_first_buffer(bytes_of(cut_short(rlfs, n))));
  }
  // its buffers use the "RlFs" layout
  buffer_builder b({.time = ft_2021}, true);
  b.add(build_record(record_event{}));
  const byte_array buf = b.finish();
  ASSERT_TRUE(rl.walk_buffer_records(bytes_of(buf), 0x200));
  EXPECT_EQ(rl.buffers.at(0x200).converted, 1);
  EXPECT_EQ(rl.buffers.at(0x200).buffer_size(), buf.size());
  EXPECT_EQ(rl.pending.size(), 1u);
}

TEST(TraceProcessor, PointerSize) {
  EXPECT_TRUE(filetime_processor(8).is_64bit_trace(nullptr));
  EXPECT_FALSE(filetime_processor(4).is_64bit_trace(nullptr));
  trace_processor rl;
  ASSERT_TRUE(rl.init_from_first_buffer(bytes_of(build_rlfs_header({}))));
  EXPECT_TRUE(rl.is_64bit_trace(nullptr));  // nothing known yet
  const byte_array b32 = buffer_builder({.pointer_word = 0x00000000}, true).finish();
  ASSERT_TRUE(rl.register_buffer(bytes_of(b32), 0x200, true));
  EXPECT_FALSE(rl.is_64bit_trace(nullptr));
  const byte_array b64 = buffer_builder({.pointer_word = 0xFFFFF800}, true).finish();
  ASSERT_TRUE(rl.register_buffer(bytes_of(b64), 0x1200, true));
  EXPECT_TRUE(rl.is_64bit_trace(&rl.buffers.at(0x1200)));
}

TEST(TraceProcessor, ResetKeepsTemplatesUnlessFull) {
  trace_processor tp = filetime_processor();
  const byte_array buf = five_records().finish();
  ASSERT_TRUE(tp.walk_buffer_records(bytes_of(buf), buffer_at));
  tp.reset(false);
  EXPECT_TRUE(tp.pending.empty());
  EXPECT_TRUE(tp.buffers.empty());
  EXPECT_TRUE(tp.providers_seen.empty());
  EXPECT_TRUE(tp.event_counts.empty());
  EXPECT_EQ(tp.statistics, 0u);
  EXPECT_EQ(tp.has_logfile_header, 1);
  EXPECT_EQ(tp.templates.providers.size(), 31u);
  tp.reset(true);
  EXPECT_TRUE(tp.templates.providers.empty());
}

TEST(TraceProcessor, RecordCollectionsOnlyForPullguidAndPerBuffer) {
  trace_processor tp = filetime_processor();
  tp.collect_records = 0;
  const byte_array buf = five_records().finish();
  ASSERT_TRUE(tp.walk_buffer_records(bytes_of(buf), buffer_at));
  EXPECT_TRUE(tp.record_sizes.empty());
  EXPECT_TRUE(tp.provider_records.empty());
  tp.collect_records = 1;
  ASSERT_TRUE(tp.walk_buffer_records(bytes_of(buf), 2 * buffer_at));
  EXPECT_EQ(tp.record_sizes.size(), 5u);
  ASSERT_TRUE(tp.walk_buffer_records(bytes_of(buffer_builder({.time = ft_2021}).finish()), 3 * buffer_at));
  EXPECT_TRUE(tp.record_sizes.empty());  // cleared for each buffer
}

}  // namespace
