// The real sample logs: events per provider as vesk -stats counts them,
// against the counts two other readers give (shared/samples/README.md).
//
// One difference holds for every file: both readers count the logfile-header
// record (the first record of the first buffer, hook 0x0000 of
// 68fdd900-4a3e-11d1-84f4-0000f80464e3, whose payload is the
// TRACE_LOGFILE_HEADER) as an event. vesk reads that record as the file's
// header (session, clock, time zone) and counts the events after it, so its
// count for that provider is one lower. Other differences are explained per
// file.
#include <gtest/gtest.h>

#include <fstream>
#include <algorithm>
#include <cmath>
#include <map>
#include <set>
#include <regex>
#include <sstream>
#include <tuple>
#include <vector>

#include "common/byte_reader.hpp"
#include "common/guid.hpp"
#include "decode/field_dump.hpp"
#include "decode/template_map.hpp"
#include "etl/etl_run.hpp"
#include "etl/logfile_header.hpp"
#include "platform/fileio.hpp"
#include "support/file_run.hpp"
#include "support/log_builder.hpp"
#include "support/run_vesk.hpp"
#include "support/samples.hpp"
#include "support/temp_dir.hpp"

namespace {

using counts = std::map<std::string, std::map<unsigned long, unsigned long>>;

const char* const kernel = "68fdd900-4a3e-11d1-84f4-0000f80464e3";


// Provider -> event id -> count, read back from the -stats text.
counts parse_stats(const std::string& text) {
  counts c;
  std::istringstream in(text);
  std::string line;
  std::string provider;
  while (std::getline(in, line)) {
    if (line.size() >= 39 && line[8] == '-' && line.compare(36, 3, " : ") == 0) {
      provider = line.substr(0, 36);
      c[provider];
      continue;
    }
    unsigned long id = 0;
    unsigned long n = 0;
    char bar = 0;
    std::istringstream row(line);
    if (!provider.empty() && row >> id >> bar >> n && bar == '|') c[provider][id] += n;
  }
  return c;
}

std::map<std::string, unsigned long> totals(const counts& c) {
  std::map<std::string, unsigned long> t;
  for (const auto& [provider, ids] : c) {
    unsigned long sum = 0;
    for (const auto& [id, n] : ids) sum += n;
    t[provider] = sum;
  }
  return t;
}

struct sample_case {
  const char* file;
  std::map<std::string, unsigned long> events;  // per provider, as vesk counts
};

const sample_case samples[] = {
    // readers A and B: 8e805eb3 19, 68fdd900 2
    {"airbus_AMSITrace.etl", {{"8e805eb3-6a8f-4a1e-90fa-a831d94e54a1", 19}, {kernel, 1}}},
    // readers A and B: 0cd1c309 2, 68fdd900 2
    {"airbus_lxcore_kernel.etl", {{"0cd1c309-0878-4515-83db-749843b3f5c9", 2}, {kernel, 1}}},
    // readers A and B: a0c1853b 112, 68fdd900 2
    {"krabsetw_powershell.etl", {{"a0c1853b-5c40-4b15-8766-3cf1c58f985a", 112}, {kernel, 1}}},
    // readers A and B: e13c0d23 69, 68fdd900 2
    {"perfview_gcevents.etl", {{"e13c0d23-ccbc-4e12-931b-d9cc2eee27e4", 69}, {kernel, 1}}},
    // readers A and B: d3dd3dd4 5, 68fdd900 2
    {"perfview_primitive-types.etl", {{"d3dd3dd4-aac2-4e2a-8dd4-a8fb61b77615", 5}, {kernel, 1}}},
    // readers A and B: 0b7a6f19 80, 68fdd900 2
    {"s4_WindowsUpdate.20251008.140245.443.8.etl",
     {{"0b7a6f19-47c4-454e-8c5c-e868d637e4d8", 80}, {kernel, 1}}},
    // reader A: 2cb15d1d 26, 68fdd900 1 (the logfile-header record, the only
    // other record). Reader B finds no record at all: the file's records are
    // classic 0xC00A headers, which the bytes show whole and sound (size,
    // type code, a QPC time inside the buffer's range, the GUID at 24), so A
    // is right.
    {"sawbuck_image_data_64_v2.etl", {{"2cb15d1d-5fc1-11d2-abe1-00a0c911f518", 26}}},
    // reader A: 2818ef08 13, 68fdd900 4; reader B: 2818ef08 13, 68fdd900 2.
    // Buffer 0 states a saved offset of 0x250 and a filled length of 0x2b8;
    // between them lie two whole perfinfo records (0xC011, hooks 0x0042 and
    // 0x0040, kernel group 0x0000). B stops at the saved offset, A reads to
    // the filled length: A is right, and vesk counts 4 - 1 (header) = 3.
    {"s4_CldFlt0-2025-12-21-121418.etl", {{"2818ef08-6a54-396f-2244-5a6ea4a98cf0", 13}, {kernel, 3}}},
    // reader A: 68fdd900 6; reader B: 68fdd900 4; both: 559e1292 9,
    // 9b79ee91 90, ce1dbfb4 4, ed54dff8 3. Buffer 0's saved offset is 0x1b8,
    // its filled length 0x2a0: a 0xC002 record (hook 0x0050) at 0x1b8 and a
    // 0xC011 record (hook 0x0052) at 0x208 lie between, whole. A is right;
    // vesk counts 6 - 1 (header) = 5.
    {"sonde_test.etl",
     {{"559e1292-fdb4-551e-6ee3-4e8c6d9da223", 9},
      {"9b79ee91-b5fd-41c0-a243-4248e266e9d0", 90},
      {"ce1dbfb4-137e-4da6-87b0-3f59aa102cbc", 4},
      {"ed54dff8-c409-4cf6-bf83-05e1e61a09c4", 3},
      {kernel, 5}}},
    // readers A and B: 2c759654 1, 68fdd900 2
    {"hw3d_trace.etl", {{"2c759654-e0cc-5e69-a99d-480ab2fa0c64", 1}, {kernel, 1}}},
    // Real-time backup files: neither reader knows the "RlFs" kind; the
    // counts are those of a walk of the bytes by hand (RealTimeBackupFiles).
    {"rlfs_EtwRTEventLog-System.etl",
     {{"11cd958a-c507-4ef3-b3f2-5fd9dfbd2c78", 1},
      {"331c3b3a-2005-44c2-ac5e-77220c37d6b4", 2},
      {"a68ca8b7-004f-d7b6-a698-07e2de0f1f5d", 1}}},
    {"rlfs_EtwRTEventLog-Application.etl", {{"67d07935-283a-4791-8f8d-fa9117f3e6f2", 1}}},
    {"rlfs_EtwRTDiagLog.etl",
     {{"331c3b3a-2005-44c2-ac5e-77220c37d6b4", 1}, {"4cb314df-c11f-47d7-9c04-65fb0051561b", 1}}},
};

TEST(Samples, EventsPerProvider) {
  if (!samples_present()) GTEST_SKIP() << "sample folder " << VESK_SAMPLES_DIR << " is absent";
  for (const sample_case& c : samples) {
    SCOPED_TRACE(c.file);
    const vesk_result r = run_vesk({"-log", sample_path(c.file), "-stats", "-quiet"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(totals(parse_stats(r.out)), c.events);
  }
}

// Reader A decompresses the second buffer (flags 0x61) and finds one record
// of a669021c-c450-4609-a035-5af59af4df18 in it; reader B stops with an
// error there. vesk does not decompress: it lists no provider from those
// bytes and names the buffer instead. The first buffer holds only the
// logfile-header record (A's 68fdd900 1), which vesk reads as the header.
TEST(Samples, CompressedBufferOfARelogger) {
  if (!samples_present()) GTEST_SKIP() << "sample folder " << VESK_SAMPLES_DIR << " is absent";
  const std::string file = sample_path("perfview_smallEtlFile.etl");
  const vesk_result r = run_vesk({"-log", file, "-stats", "-quiet"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "compressed buffer at file offset 512 not read: " + file +
                       "\n1 of 2 buffers compressed, not read: " + file + "\n");
  EXPECT_TRUE(parse_stats(r.out).empty()) << r.out;
}

// Classic records count under their class type (the u8 at 4); the u16 at 40
// of their header is processor time (a constant 4 in this file).
TEST(Samples, ClassicRecordsCountByClassType) {
  if (!samples_present()) GTEST_SKIP() << "sample folder " << VESK_SAMPLES_DIR << " is absent";
  const vesk_result r = run_vesk({"-log", sample_path("sawbuck_image_data_64_v2.etl"), "-stats", "-quiet"});
  const counts c = parse_stats(r.out);
  const std::map<unsigned long, unsigned long> expected = {{2, 1}, {3, 24}, {10, 1}};
  EXPECT_EQ(c.at("2cb15d1d-5fc1-11d2-abe1-00a0c911f518"), expected);
  const vesk_result s = run_vesk({"-log", sample_path("sonde_test.etl"), "-stats", "-quiet"});
  const std::map<unsigned long, unsigned long> sonde = {{32, 1}, {33, 1}, {34, 2},
                                                        {35, 14}, {36, 71}, {37, 1}};
  EXPECT_EQ(parse_stats(s.out).at("9b79ee91-b5fd-41c0-a243-4248e266e9d0"), sonde);
  // kernel records with only a hook id count under the hook id
  const std::map<unsigned long, unsigned long> hooks = {{0x50, 3}, {0x52, 2}};
  EXPECT_EQ(parse_stats(s.out).at(kernel), hooks);
}

TEST(Samples, GuidsListsTheProvidersOfStats) {
  if (!samples_present()) GTEST_SKIP() << "sample folder " << VESK_SAMPLES_DIR << " is absent";
  for (const sample_case& c : samples) {
    SCOPED_TRACE(c.file);
    const vesk_result r = run_vesk({"-log", sample_path(c.file), "-guids", "-quiet"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    std::string expected;
    for (const auto& [provider, n] : c.events) expected += provider;
    std::string listed;
    std::istringstream in(r.out.substr(r.out.find("\n\n", r.out.find("file: ")) + 2));
    std::string line;
    std::vector<std::string> names;
    while (std::getline(in, line)) names.push_back(line.substr(0, 36));
    std::sort(names.begin(), names.end());
    for (const std::string& n : names) listed += n;
    EXPECT_EQ(listed, expected);
  }
}

TEST(Samples, PullguidReadsBackWithExactlyThatProvider) {
  if (!samples_present()) GTEST_SKIP() << "sample folder " << VESK_SAMPLES_DIR << " is absent";
  temp_dir dir;
  const std::string reduced = dir.path("reduced.etl");
  for (const char* provider : {"ed54dff8-c409-4cf6-bf83-05e1e61a09c4", kernel}) {
    SCOPED_TRACE(provider);
    const vesk_result r = run_vesk(
        {"-log", sample_path("sonde_test.etl"), "-pullguid", provider, "-out", reduced, "-quiet"});
    ASSERT_EQ(r.status, 0);
    const vesk_result full = run_vesk({"-log", sample_path("sonde_test.etl"), "-stats", "-quiet"});
    const vesk_result back = run_vesk({"-log", reduced, "-stats", "-quiet"});
    const counts c = parse_stats(back.out);
    ASSERT_EQ(c.size(), 1u);
    EXPECT_EQ(c.at(provider), parse_stats(full.out).at(provider));
    // The logfile header counts the buffers the reduced log holds, not the
    // input's 9: a reader that trusts the count finds every one of them.
    byte_array bytes;
    ASSERT_TRUE(uni::read_file_head(bytes, reduced, 0xFFFFFFFFu));
    logfile_header_info info;
    ASSERT_TRUE(parse_logfile_header(info, bytes));
    u32 buffers = 0;
    for (u64 at = 0; at + 4 <= bytes.size() && zarn::u32_at(bytes, at) != 0; at += zarn::u32_at(bytes, at)) {
      ++buffers;
    }
    EXPECT_EQ(info.buffers_written(), buffers);
    EXPECT_LT(buffers, 9u);
  }
}

// Every record of a log file, decoded, under its file offset.
std::map<u64, event_record> decoded_at(file_run& f, const std::string& path) {
  std::map<u64, event_record> records;
  f.run.write_row = [&records](std::ostream&, const event_record& r, cmd_params&) {
    records.emplace(r.file_offset, r);
  };
  std::ostringstream out;
  EXPECT_TRUE(process_etl_file(out, path, f.run)) << path;
  return records;
}

// Every record of a sample, decoded, under its file offset.
std::map<u64, event_record> decoded_records(file_run& f, const std::string& file) {
  return decoded_at(f, sample_path(file));
}

// The three real-time backup files hold their records where a walk of the
// bytes by hand finds them (shared/samples/README.md). Two of them are
// shorter than the 386 bytes a logfile-header file needs, and are read all
// the same: an "RlFs" file needs only its own 72-byte header.
TEST(Samples, RealTimeBackupFiles) {
  if (!samples_present()) GTEST_SKIP() << "sample folder " << VESK_SAMPLES_DIR << " is absent";
  using event = std::tuple<u64, std::string, u16>;  // file offset, provider, event id
  const std::string power = "331c3b3a-2005-44c2-ac5e-77220c37d6b4";
  const std::map<std::string, std::vector<event>> files = {
      {"rlfs_EtwRTEventLog-System.etl",
       {{0x90, "11cd958a-c507-4ef3-b3f2-5fd9dfbd2c78", 101}, {0x100, power, 109},
        {0x160, power, 109}, {0x208, "a68ca8b7-004f-d7b6-a698-07e2de0f1f5d", 13}}},
      {"rlfs_EtwRTEventLog-Application.etl", {{0x90, "67d07935-283a-4791-8f8d-fa9117f3e6f2", 10004}}},
      {"rlfs_EtwRTDiagLog.etl",
       {{0x90, "4cb314df-c11f-47d7-9c04-65fb0051561b", 108}, {0x128, power, 48}}},
  };
  for (const auto& [file, expected] : files) {
    SCOPED_TRACE(file);
    file_run f;
    std::vector<event> found;
    for (const auto& [offset, r] : decoded_records(f, file)) {
      EXPECT_EQ(r.record_ok, 1);
      found.emplace_back(offset, guid_to_string(r.provider), r.descriptor.id);
    }
    EXPECT_EQ(found, expected);
  }
}

// The templates of data/templates (the seed files first, then those
// converted from the provider descriptions), as the build placed them in
// the program, decode the samples' events. The values were checked against
// the payload bytes.
TEST(Samples, TemplatesDecodeTheirEvents) {
  if (!samples_present()) GTEST_SKIP() << "sample folder " << VESK_SAMPLES_DIR << " is absent";
  struct field_case {
    const char* file;
    u64 key;  // file offset of the field's first byte
    const char* name;
    u64 number;
    std::string value;
    u32 size;
  };
  const field_case cases[] = {
      // GC/Start (id 1), payload at 263584
      {"perfview_gcevents.etl", 263584 + 0, "Count", 1, "", 4},
      {"perfview_gcevents.etl", 263584 + 18, "ClientSequenceNumber", 0, "", 8},
      // GC/CreateSegment (id 5), payload at 262584
      {"perfview_gcevents.etl", 262584 + 0, "Address", 0x1b0f1000028ull, "", 8},
      {"perfview_gcevents.etl", 262584 + 16, "Type", 3, "", 4},
      // GC/AllocationTick (id 10), payload at 131224
      {"perfview_gcevents.etl", 131224 + 26, "TypeName", 0, "System.String", 28},
      {"perfview_gcevents.etl", 131224 + 58, "Address", 0x1b0f3818b30ull, "", 8},
      {"perfview_gcevents.etl", 131224 + 66, "ObjectSize", 32, "", 8},
      // Runtime/Start (id 187), payload at 262296: unaligned fields from 25 on
      {"perfview_gcevents.etl", 262296 + 18, "VMQfeNumber", 42424, "", 2},
      {"perfview_gcevents.etl", 262296 + 24, "StartupMode", 0, "", 1},
      {"perfview_gcevents.etl", 262296 + 25, "CommandLine", 0, "-", 0},
      {"perfview_gcevents.etl", 262296 + 43, "RuntimeDllPath", 0,
       "C:\\Dev\\runtime\\artifacts\\bin\\CoreLab\\Release\\net7.0\\win-x64\\publish\\coreclr.dll", 160},
      // PowerShell 7937, payload at 8344: texts end in a line break
      {"krabsetw_powershell.etl", 8344 + 1210, "UserData", 0, "-", 0},
      {"krabsetw_powershell.etl", 8344 + 1212, "Payload", 0, "Script execution is Started.[CRLF]", 62},
      // PowerShell 53504, payload at 25136
      {"krabsetw_powershell.etl", 25136 + 0, "param1", 0, "16040", 12},
      {"krabsetw_powershell.etl", 25136 + 12, "param2", 0, "DefaultAppDomain", 34},
  };
  const byte_array block = program_template_block();
  for (const char* file : {"perfview_gcevents.etl", "krabsetw_powershell.etl"}) {
    SCOPED_TRACE(file);
    file_run f;
    f.processor.load_templates(block);
    const std::map<u64, event_record> records = decoded_records(f, file);
    // every event with a template decodes every one of its fields (what a
    // template cut short before an array leaves is guessed)
    u64 decoded = 0;
    for (const auto& [offset, r] : records) {
      const event_template* t = f.processor.templates.find(&r.provider, r.event_key());
      if (t == nullptr) continue;
      const auto by_template = std::count_if(r.fields.begin(), r.fields.end(),
                                             [](const auto& f) { return f.second.element_flag == 0; });
      EXPECT_EQ(static_cast<std::size_t>(by_template), t->types.size()) << offset;
      ++decoded;
    }
    // all but PowerShell's two events without data
    EXPECT_EQ(decoded, std::string(file) == "perfview_gcevents.etl" ? 69u : 112u - 2u);
    for (const field_case& c : cases) {
      if (std::string(c.file) != file) continue;
      SCOPED_TRACE(c.name);
      const auto rec = records.lower_bound(c.key);
      ASSERT_NE(rec, records.begin());
      const field_map& fields = std::prev(rec)->second.fields;
      ASSERT_EQ(fields.count(c.key), 1u);
      const field_rec& got = fields.at(c.key);
      EXPECT_EQ(got.name, c.name);
      EXPECT_EQ(got.number, c.number);
      EXPECT_EQ(got.value, c.value);
      EXPECT_EQ(got.size, c.size);
    }
  }
}

// A reader-B value as vesk's field holds it: line breaks marked.
std::string marked(std::string v) {
  for (const auto& [from, to] : {std::pair<std::string, std::string>{"\\r\\n", "[CRLF]"},
                                 {"\\n", "[LF]"}}) {
    for (std::size_t at = v.find(from); at != std::string::npos; at = v.find(from, at)) {
      v.replace(at, from.size(), to);
    }
  }
  return v;
}

// A field's value as reader B prints it: text, GUID, or a signed decimal.
std::string reader_text(const field_rec& f) {
  if (!f.value.empty()) return f.value;
  if (f.bytes.size() == 16) return guid_to_string(guid(f.bytes.data()));
  const unsigned bits = 8 * f.size;
  i64 v = static_cast<i64>(f.number);
  if (bits < 64 && (f.number >> (bits - 1)) != 0) v = static_cast<i64>(f.number - (u64{1} << bits));
  return std::to_string(v);
}

// Every self-describing event of the samples decodes through its own schema
// to the fields reader B lists (reference/readerB-selfdescribing.txt), with
// the event name as the name of the row's "{guess}" marker and the provider
// name of the traits item as the field "utf8".
//
// Where they differ, the bytes decide:
// - reader B shortens long texts ("..."): the start is compared;
// - "Raw Script" of the AMSI events is an array of u16 whose count precedes
//   it in the payload (in-type byte 0xc6: bit 6 a counted array, type 6);
//   no template word reads counted 16-bit elements, so vesk leaves the count
//   and the elements to guessing and makes no field of that name;
// - an empty text is "-" in vesk; reader B prints it as nothing, or as "\0"
//   for ExecutablePath of the lxcore events, a counted 8-bit text (0x17)
//   whose count is 0;
// - every counted text and blob carries its count as a field of its own,
//   named with "_length" added, which reader B does not list.
TEST(Samples, SelfDescribingEventsDecodeTheirSchema) {
  if (!samples_present()) GTEST_SKIP() << "sample folder " << VESK_SAMPLES_DIR << " is absent";
  std::ifstream in(sample_path("reference/readerB-selfdescribing.txt"));
  ASSERT_TRUE(in);
  const std::regex event_line(R"(^0x([0-9a-f]+) [0-9a-f-]{36} id=\d+ (\S+) \| (.*)$)");
  // pairs are split at "; " before a name and '='; names may hold spaces
  const std::regex pair_start(R"((?:^|; )([A-Za-z_][A-Za-z0-9_ ]*)=)");
  std::string file;
  std::map<u64, event_record> records;
  u64 events = 0;
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("## ", 0) == 0) {
      file = line.substr(3);
      file_run f;
      records = decoded_records(f, file);
      continue;
    }
    std::smatch m;
    if (!std::regex_match(line, m, event_line)) continue;
    SCOPED_TRACE(file + " " + m[1].str());
    ++events;
    const auto rec = records.find(std::stoull(m[1].str(), nullptr, 16));
    ASSERT_NE(rec, records.end());
    std::map<std::string, const field_rec*> by_name;
    for (const auto& [key, f] : rec->second.fields) by_name.emplace(f.name, &f);
    ASSERT_EQ(by_name.count(m[2].str()), 1u);
    EXPECT_EQ(by_name.at(m[2].str())->value, "{guess}");
    EXPECT_EQ(by_name.count("utf8"), 1u);
    const std::string pairs = m[3].str();
    std::vector<std::smatch> starts(std::sregex_iterator(pairs.begin(), pairs.end(), pair_start),
                                    std::sregex_iterator());
    for (std::size_t i = 0; i < starts.size(); ++i) {
      const std::string name = starts[i][1].str();
      const std::size_t from = starts[i].position(0) + starts[i].length(0);
      const std::size_t to = i + 1 < starts.size() ? starts[i + 1].position(0) : pairs.size();
      const std::string expected = pairs.substr(from, to - from);
      SCOPED_TRACE(name);
      if (name == "Raw Script") {
        EXPECT_EQ(by_name.count(name), 0u);
        continue;
      }
      ASSERT_EQ(by_name.count(name), 1u);
      if (by_name.at(name)->placeholder_flag != 0) {
        EXPECT_TRUE(expected.empty() || expected == "\\0") << expected;
        continue;
      }
      const std::string got = reader_text(*by_name.at(name));
      if (expected.size() > 3 && expected.ends_with("...")) {
        const std::string start = marked(expected.substr(0, expected.size() - 3));
        EXPECT_EQ(got.substr(0, start.size()), start);
      } else {
        EXPECT_EQ(got, marked(expected));
      }
    }
  }
  EXPECT_EQ(events, 19u + 2u + 1u + 80u);
}

// Self-describing events rendered whole. The primitive-types event against
// the other reader's values (reference/perfview_primitive-types
// .baseline.txt): one difference, int64_type, which the schema types as 0x0a,
// an unsigned 64-bit number (its writer declared it so); its bytes ff..34
// are the -204 the other reader shows. The sonde event's schema writes its
// types with out-type bytes (0x92 0x26: a SYSTEMTIME; 0x97 0x23: a counted
// 8-bit text), which are read and set aside.
TEST(Samples, SchemaEventsRenderWhole) {
  if (!samples_present()) GTEST_SKIP() << "sample folder " << VESK_SAMPLES_DIR << " is absent";
  struct row {
    const char* file;
    u64 offset;
    const char* fields;
  };
  const row rows[] = {
      {"perfview_primitive-types.etl", 0x2048,
       R"("01-utf8":"solar_system";"02-PrimitiveTypesTest":"{guess}";)"
       R"("03-string_type":"Mercury";"04-boolean_type":"0x00";"05-char_type":"0x4d";)"
       R"("06-int16_type":"0xffcd";"07-int32_type":"0xffffff9a";"08-uint16_type":"0x0033";)"
       R"("09-uint32_type":"0x00000066";"10-int64_type":"0xffffffffffffff34";)"
       R"("11-uint64_type":"0x00000000000000cc";)"
       R"("12-guid_type":"{0ad614c4-0ef4-4225-8013-f44f37cb0397}";)"
       R"("13-file_time_type":"0x01d7a58b4dfa1070 [2021-09-09 14:59:35.799]";)"
       R"("14-system_time_type":"0x031f0023003b000e00090004000907e5 [2021-09-09 14:59:35.799]")"},
      {"sonde_test.etl", 0x80048,
       R"("01-utf8":"sonde-gateway";"02-event crates/sonde-gateway/src/engine.rs:581":"{guess}";)"
       R"("03-time":"0x01ac001600390003001b0000000307ea [2026-03-27 03:57:22.428]";)"
       R"("04-message_length":"0x000f";"05-message":"session created";)"
       R"("06-node_id_length":"0x0009";"07-node_id":"sensor--1";"08-seq":"0x08bd3f140f994a7d")"},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.file);
    file_run f;
    const std::map<u64, event_record> records = decoded_records(f, r.file);
    ASSERT_EQ(records.count(r.offset), 1u);
    field_map fields = records.at(r.offset).fields;
    std::string text;
    dump_field_map(text, fields);
    EXPECT_EQ(text, r.fields);
    EXPECT_EQ(records.at(r.offset).guessed, 0);
  }
}

// A baseline value as vesk holds it: a number with its thousands commas
// gone, a hexadecimal number, a GUID, or a text shortened with "...". An
// empty text is vesk's "-".
bool baseline_agrees(const field_rec& f, const std::string& value) {
  std::string text = f.placeholder_flag != 0 ? "" : f.value;
  if (f.bytes.size() == 16 && text.empty()) text = guid_to_string(guid(f.bytes.data()));
  const bool numeric = text.empty() && f.bytes.empty();
  if (value.ends_with("...")) {
    // a shortened text, or a number the other reader names from the
    // manifest's value maps
    return numeric || text.starts_with(value.substr(0, value.size() - 3));
  }
  if (!numeric) return text == value;
  std::string digits = value;
  std::erase(digits, ',');
  if (digits.starts_with("0x")) return f.number == std::stoull(digits.substr(2), nullptr, 16);
  if (!digits.empty() && std::all_of(digits.begin(), digits.end(), ::isdigit)) {
    return f.number == std::stoull(digits);
  }
  return true;  // a value the other reader names from the manifest's value maps
}

// The .NET runtime events against the other reader's decoded listing
// (reference/perfview_gcevents.baseline.txt), which shows the first events of
// each name: the k-th of a name is vesk's k-th record of that event id in time
// order, and each field it shows is compared by name and value. Where they
// differ, the bytes and the runtime's manifest (2019) decide:
// - GC/LOHCompact (208) and GC/FitBucketInfo (209) are newer than the
//   manifest: their leading fields carry the other reader's names, and the
//   structures counted by Count are guessed;
// - GC/PerHeapHistory's ConcurrentCompactMechanisms and MemoryPressure,
//   which the other reader shows empty, are not in its payload: the
//   manifest's fields and the array of structures counted by Count fill it;
// - GC/HeapStats' TotalHeapSize, TotalPromoted and Depth are not in the
//   payload: the other reader sums the generation sizes; GC/FinalizeObject's
//   TypeName is not in its 18 bytes either: the other reader looks TypeID up
//   in other events;
// - GC/MarkWithType's fourth field is "Bytes" in the manifest, "Promoted" in
//   the other reader's newer one: compared under the manifest's name.
TEST(Samples, RuntimeEventsMatchTheBaseline) {
  if (!samples_present()) GTEST_SKIP() << "sample folder " << VESK_SAMPLES_DIR << " is absent";
  // event ids of the runtime's manifest
  const std::map<std::string, u16> ids = {
      {"GC/Start", 1}, {"GC/Stop", 2}, {"GC/RestartEEStop", 3}, {"GC/HeapStats", 4},
      {"GC/CreateSegment", 5}, {"GC/RestartEEStart", 7}, {"GC/SuspendEEStop", 8},
      {"GC/SuspendEEStart", 9}, {"GC/AllocationTick", 10}, {"GC/FinalizersStop", 13},
      {"GC/FinalizersStart", 14}, {"GC/FinalizeObject", 29}, {"GC/PinObjectAtGCTime", 33},
      {"GC/Triggered", 35}, {"Runtime/Start", 187}, {"GC/MarkWithType", 202},
      {"GC/PerHeapHistory", 204}, {"GC/GlobalHeapHistory", 205}, {"GC/LOHCompact", 208},
      {"GC/FitBucketInfo", 209}};
  file_run f;
  f.processor.load_templates(program_template_block());
  std::map<u16, std::vector<const event_record*>> by_id;
  const std::map<u64, event_record> records = decoded_records(f, "perfview_gcevents.etl");
  for (const auto& [offset, r] : records) by_id[r.descriptor.id].push_back(&r);
  for (auto& [id, list] : by_id) {
    std::stable_sort(list.begin(), list.end(),
                     [](const event_record* a, const event_record* b) { return a->filetime < b->filetime; });
  }
  std::ifstream in(sample_path("reference/perfview_gcevents.baseline.txt"));
  ASSERT_TRUE(in);
  const std::regex line_re(
      R"(^EVENT [0-9,.]+: Microsoft-Windows-DotNETRuntime/(\S+) PID=\d+; TID=(\d+); [^;]*; [^;]*; DataLen=\d+; (.*)$)");
  const std::regex pair_re(R"(([A-Za-z0-9_]+)=([^;]*); )");
  std::map<std::string, std::size_t> seen;
  std::set<std::string> differences;
  u64 compared = 0;
  std::string line;
  while (std::getline(in, line)) {
    std::smatch m;
    if (!std::regex_match(line, m, line_re)) continue;
    const std::string event = m[1].str();
    ASSERT_EQ(ids.count(event), 1u) << event;
    const std::vector<const event_record*>& list = by_id[ids.at(event)];
    const std::size_t k = seen[event]++;
    ASSERT_LT(k, list.size()) << event;
    EXPECT_EQ(list[k]->thread_id, std::stoul(m[2].str())) << event;
    std::map<std::string, const field_rec*> by_name;
    for (const auto& [key, fr] : list[k]->fields) by_name.emplace(fr.name, &fr);
    const std::string pairs = m[3].str();
    for (std::sregex_iterator p(pairs.begin(), pairs.end(), pair_re), end; p != end; ++p) {
      // the manifest's name of MarkWithType's fourth field
      const std::string name =
          event == "GC/MarkWithType" && (*p)[1].str() == "Promoted" ? "Bytes" : (*p)[1].str();
      const auto held = by_name.find(name);
      if (held == by_name.end()) {
        differences.insert(event + ": no field " + name);
      } else if (!baseline_agrees(*held->second, (*p)[2].str())) {
        differences.insert(event + ": " + name + " differs");
      } else {
        ++compared;
      }
    }
  }
  EXPECT_GT(compared, 150u);
  const std::set<std::string> expected = {
      "GC/FinalizeObject: no field TypeName",
      "GC/HeapStats: no field Depth",
      "GC/HeapStats: no field TotalHeapSize",
      "GC/HeapStats: no field TotalPromoted",
      "GC/PerHeapHistory: no field ConcurrentCompactMechanisms",
      "GC/PerHeapHistory: no field MemoryPressure",
  };
  EXPECT_EQ(differences, expected);
}

// The classic kernel classes name their fields: the image-load records of
// the sawbuck sample (class types 2, 3 and 10 of the Image class, version 2)
// decode with the class's field names. The file's logfile header states
// 4-byte pointers (the u32 at 44 of its header record), and vesk reads the
// pointer fields so; these test records were written with 8-byte pointers,
// so the values after ImageBase are shifted and the file name is found by
// guessing, as the bytes show.
TEST(Samples, KernelClassesNameTheirFields) {
  if (!samples_present()) GTEST_SKIP() << "sample folder " << VESK_SAMPLES_DIR << " is absent";
  file_run f;
  f.processor.load_templates(program_template_block());
  const std::map<u64, event_record> records = decoded_records(f, "sawbuck_image_data_64_v2.etl");
  const std::vector<std::string> names = {"ImageBase", "ImageSize", "ProcessId", "ImageChecksum",
                                          "TimeDateStamp", "Reserved0", "DefaultBase", "Reserved1",
                                          "Reserved2", "Reserved3", "Reserved4", "FileName"};
  u64 images = 0;
  for (const auto& [offset, r] : records) {
    if (guid_to_string(r.provider) != "2cb15d1d-5fc1-11d2-abe1-00a0c911f518") continue;
    ++images;
    std::vector<std::string> got;
    for (const auto& [key, fr] : r.fields) {
      if (fr.element_flag == 0) got.push_back(fr.name);
    }
    EXPECT_EQ(got, names) << offset;
  }
  EXPECT_EQ(images, 26u);
}

// The system-configuration, WinSAT and mark records of sonde_test name their
// fields, BuildInfo's InstallDate as a time (its FILETIME lies three minutes
// after the file's boot time). Each row: the records of one provider and
// class type, how many, and how the first in the file begins; every one of
// them begins with the row's first field name. What follows WinSAT's two
// fields is compressed XML, left to guessing.
TEST(Samples, ConfigurationAndMarkRecordsNameTheirFields) {
  if (!samples_present()) GTEST_SKIP() << "sample folder " << VESK_SAMPLES_DIR << " is absent";
  const std::string config = "9b79ee91-b5fd-41c0-a243-4248e266e9d0";
  const std::string perfinfo = "ce1dbfb4-137e-4da6-87b0-3f59aa102cbc";
  const std::string winsat = "ed54dff8-c409-4cf6-bf83-05e1e61a09c4";
  struct row {
    const std::string& provider;
    u16 id;
    u64 count;
    std::string first;  // the start of the first record's fields
  };
  const row rows[] = {
      {config, 32, 1,
       R"("01-InstallDate":"0x01dcbcf34aa9f780 [2026-03-26 07:36:43.000]";)"
       R"("02-BuildLab":"29559.1000.amd64fre.rs_iof.260324-1554";"03-ProductName":"Windows 10 Enterprise")"},
      {config, 33, 1, R"("01-SystemDirectory":"C:/WINDOWS/system32";"02-SystemWindowsDirectory":"C:/WINDOWS/")"},
      {config, 34, 2, R"("01-Value":"/Device/HarddiskVolume4/")"},
      {config, 35, 14, R"("01-NtPath":"/??//";"02-DosPath":"-")"},
      {perfinfo, 34, 4, R"("01-Value":"General")"},
      {winsat, 33, 1, R"("01-State":"0x00000001";"02-UncompressedLength":"0x00000424";"03-guess_)"},
      {winsat, 35, 1, R"("01-State":"0x00000001";"02-UncompressedLength":"0x00000ed6";"03-guess_)"},
      {winsat, 37, 1, R"("01-State":"0x00000001";"02-UncompressedLength":"0x00005068";"03-guess_)"},
  };
  file_run f;
  f.processor.load_templates(program_template_block());
  const std::map<u64, event_record> records = decoded_records(f, "sonde_test.etl");
  for (const row& r : rows) {
    SCOPED_TRACE(r.provider + " " + std::to_string(r.id));
    u64 count = 0;
    for (const auto& [offset, rec] : records) {
      if (guid_to_string(rec.provider) != r.provider || rec.event_key() != r.id) continue;
      field_map fields = rec.fields;
      std::string text;
      dump_field_map(text, fields);
      if (count++ == 0) {
        EXPECT_TRUE(text.starts_with(r.first)) << text;
      } else {
        EXPECT_TRUE(text.starts_with(r.first.substr(0, r.first.find(':')))) << text;
      }
    }
    EXPECT_EQ(count, r.count);
  }
}

// Kernel records of built logs, decoded by the program's templates: each
// record by the class version its header carries (the u16 at 0 of a system
// or perfinfo header, at 6 of a classic one) where a description holds that
// version, else by the logfile header's OS build; an image load logged in
// the process hook group (hook 0x030A) is the image-load class's.
TEST(Samples, KernelRecordsDecodeByTheirWindowsLayout) {
  using namespace logbuild;
  // Process Start: version 4 (Windows 8 on) adds Flags after
  // DirectoryTableBase and PackageFullName, ApplicationId after CommandLine;
  // version 2 has no DirectoryTableBase
  const auto process = [](u16 version) {
    writer w;
    w.put_u64(0xffffa00000001000ull).put_u32(0x1234).put_u32(4).put_u32(1).put_i32(0);
    if (version >= 3) w.put_u64(0x1aa000);                             // DirectoryTableBase
    if (version >= 4) w.put_u32(0);                                    // Flags
    w.put_u64(0xffffa00000002000ull).put_u64(0);                       // TOKEN_USER
    w.put_bytes(byte_array{1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0});      // S-1-5-18
    w.put_bytes(byte_array{'c', 'm', 'd', 0}).put_utf16(u"cmd /c dir");
    if (version >= 4) w.put_utf16(u"").put_utf16(u"");
    return w.take();
  };
  const std::string process_start =
      R"("01-UniqueProcessKey":"0xffffa00000001000";"02-ProcessId":"0x00001234";"03-ParentId":"0x00000004";)"
      R"("04-SessionId":"0x00000001";"05-ExitStatus":"0x00000000";)";
  const std::string process_v3 =
      process_start + R"("06-DirectoryTableBase":"0x00000000001aa000";"07":"0xffffa00000002000";)"
                      R"("08":"0x0000000000000000";"09-UserSID":"S-1-5-18";"10-ImageFileName":"cmd";)"
                      R"("11-CommandLine":"cmd /c dir")";
  // Image Load version 3 (Windows 8 on); version 2 reads its SignatureLevel,
  // SignatureType and Reserved0 as one Reserved0
  writer image_writer;
  image_writer.put_u64(0x7ff800000000ull).put_u64(0x1f000).put_u32(0x1234).put_u32(0x2a1b3);
  image_writer.put_u32(0x5f000000).put_u8(12).put_u8(1).put_u16(0).put_u64(0x7ff800000000ull);
  image_writer.put_zeros(16).put_utf16(u"a.dll");
  const byte_array image = image_writer.take();
  const std::string image_start =
      R"("01-ImageBase":"0x00007ff800000000";"02-ImageSize":"0x000000000001f000";"03-ProcessId":"0x00001234";)"
      R"("04-ImageChecksum":"0x0002a1b3";"05-TimeDateStamp":"0x5f000000";)";
  writer extension;
  for (u32 i = 1; i <= 9; ++i) extension.put_u32(i);
  // texts one after another, each with its NUL
  const auto texts = [](std::initializer_list<std::u16string_view> list) {
    writer w;
    for (const std::u16string_view t : list) w.put_utf16(t);
    return w.take();
  };
  const guid system_class = guid_of("4d36e97d-e325-11ce-bfc1-08002be10318");
  const guid pdb = guid_of("a669021c-c450-4609-a035-5af59af4df18");
  const byte_array pnp_texts = texts({u"ACPI\\PNP0A08\\0", u"PCI Express Root Complex", u"",
                                      u"\\Device\\00000042", u"pci"});
  const std::string pnp_fields =
      R"("04-DeviceID":"ACPI/PNP0A08/0";"05-DeviceDescription":"PCI Express Root Complex";)"
      R"("06-FriendlyName":"-";"07-PdoName":"/Device/00000042";"08-ServiceName":"pci")";
  const byte_array pdb_name = {'a', '.', 'p', 'd', 'b', 0};
  const byte_array rsds = join(
      {writer().put_u64(0x7ff800000000ull).put_u32(0x1234).put_guid(pdb).put_u32(1).take(), pdb_name});
  const std::string rsds_fields =
      R"("01-ImageBase":"0x00007ff800000000";"02-ProcessId":"0x00001234";)"
      R"("03-GuidSig":"{a669021c-c450-4609-a035-5af59af4df18}";"04-Age":"0x00000001";"05-PdbFileName":"a.pdb")";
  constexpr u16 classic = 0xC00A;  // the id is the class type
  struct row {
    const char* name;
    u32 build;
    u16 type_code;  // 0xC002 system, 0xC011 perfinfo: the id is the hook id
    u16 id;
    u16 version;    // the header's class version
    byte_array payload;
    const char* provider;
    std::string fields;
    guid classic_provider = guid_of("b3e675d7-2554-4f18-830b-2762732560de");  // KernelTraceControl
  };
  const row rows[] = {
      {"ProcessWindows10", 19045, 0xC002, 0x0301, 4, process(4), "Kernel-Process-Trace",
       process_start + R"("06-DirectoryTableBase":"0x00000000001aa000";"07-Flags":"0x00000000";)"
                       R"("08":"0xffffa00000002000";"09":"0x0000000000000000";)"
                       R"("10-UserSID":"S-1-5-18";"11-ImageFileName":"cmd";"12-CommandLine":"cmd /c dir";)"
                       R"("13-PackageFullName":"-";"14-ApplicationId":"-")"},
      {"ProcessWindows7", 7601, 0xC002, 0x0301, 3, process(3), "Kernel-Process-Trace", process_v3},
      // older versions than the build implies take their own layouts
      {"ProcessVersion3InWindows10", 19045, 0xC002, 0x0301, 3, process(3), "Kernel-Process-Trace", process_v3},
      {"ProcessVersion2InWindows7", 7601, 0xC002, 0x0301, 2, process(2), "Kernel-Process-Trace",
       process_start + R"("06":"0xffffa00000002000";"07":"0x0000000000000000";"08-UserSID":"S-1-5-18";)"
                       R"("09-ImageFileName":"cmd";"10-CommandLine":"cmd /c dir")"},
      {"ImageLoadInTheProcessGroup", 19045, 0xC002, 0x030A, 3, image, "Kernel-ImageLoad-Trace",
       image_start + R"("06-SignatureLevel":"0x0c";"07-SignatureType":"0x01";"08-Reserved0":"0x0000";)"
                     R"("09-DefaultBase":"0x00007ff800000000";"10-Reserved1":"0x00000000";)"
                     R"("11-Reserved2":"0x00000000";"12-Reserved3":"0x00000000";"13-Reserved4":"0x00000000";)"
                     R"("14-FileName":"a.dll")"},
      {"ImageVersion2InWindows10", 19045, 0xC002, 0x030A, 2, image, "Kernel-ImageLoad-Trace",
       image_start + R"("06-Reserved0":"0x0000010c";"07-DefaultBase":"0x00007ff800000000";)"
                     R"("08-Reserved1":"0x00000000";"09-Reserved2":"0x00000000";"10-Reserved3":"0x00000000";)"
                     R"("11-Reserved4":"0x00000000";"12-FileName":"a.dll")"},
      // a system header's version is 2 to 5: version 0 comes in a classic
      // header, as in the sawbuck sample
      {"ImageVersion0InWindows7", 7600, classic, 10, 0,
       join({writer().put_u64(0x7ff800000000ull).put_u32(0x1f000).take(), texts({u"a.dll"})}),
       "Kernel-ImageLoad-Trace",
       R"("01-BaseAddress":"0x00007ff800000000";"02-ModuleSize":"0x0001f000";"03-ImageFileName":"a.dll")",
       guid_of("2cb15d1d-5fc1-11d2-abe1-00a0c911f518")},
      {"HeaderExtension", 19045, 0xC002, 0x0005, 2, extension.take(), "Kernel-Event-Trace",
       R"("01-GroupMask1":"0x00000001";"02-GroupMask2":"0x00000002";"03-GroupMask3":"0x00000003";)"
       R"("04-GroupMask4":"0x00000004";"05-GroupMask5":"0x00000005";"06-GroupMask6":"0x00000006";)"
       R"("07-GroupMask7":"0x00000007";"08-GroupMask8":"0x00000008";"09-KernelEventVersion":"0x00000009")"},
      // SystemConfig IRQ version 3 puts the group word before the number;
      // version 2 keeps its own layout in the same Windows
      {"IrqVersion3", 26100, 0xC002, 0x0B15, 3,
       join({writer().put_u64(1).put_u16(0).put_u16(0).put_u32(4).put_u32(13).take(),
             texts({u"ACPI\\PNP0501"})}),
       "Kernel-EventConfig-Trace",
       R"("01-IRQAffinity":"0x0000000000000001";"02-IRQGroup":"0x0000";"03-Reserved":"0x0000";)"
       R"("04-IRQNum":"0x00000004";"05-DeviceDescriptionLen":"0x0000000d";)"
       R"("06-DeviceDescription":"ACPI/PNP0501")"},
      {"IrqVersion2", 26100, 0xC002, 0x0B15, 2,
       join({writer().put_u64(1).put_u32(4).put_u32(13).take(), texts({u"ACPI\\PNP0501"})}),
       "Kernel-EventConfig-Trace",
       R"("01-IRQAffinity":"0x0000000000000001";"02-IRQNum":"0x00000004";)"
       R"("03-DeviceDescriptionLen":"0x0000000d";"04-DeviceDescription":"ACPI/PNP0501")"},
      // PnP versions 5 and 4: the class GUID, the filter counts (0: no
      // filter texts follow), in version 5 the device's status and problem
      {"PnpVersion5", 26100, 0xC002, 0x0B16, 5,
       join({writer().put_guid(system_class).put_u32(0).put_u32(0).put_u32(0x0180200a).put_u32(0).take(),
             pnp_texts}),
       "Kernel-EventConfig-Trace",
       R"("01-ClassGuid":"{4d36e97d-e325-11ce-bfc1-08002be10318}";"02-UpperFilterCount":"0x00000000";)"
       R"("03-LowerFilterCount":"0x00000000";"04-DevStatus":"0x0180200a";"05-DevProblem":"0x00000000";)"
       R"("06-DeviceID":"ACPI/PNP0A08/0";"07-DeviceDescription":"PCI Express Root Complex";)"
       R"("08-FriendlyName":"-";"09-PdoName":"/Device/00000042";"10-ServiceName":"pci")"},
      {"PnpVersion4", 9200, 0xC002, 0x0B16, 4,
       join({writer().put_guid(system_class).put_u32(0).put_u32(0).take(), pnp_texts}),
       "Kernel-EventConfig-Trace",
       R"("01-ClassGuid":"{4d36e97d-e325-11ce-bfc1-08002be10318}";"02-UpperFilterCount":"0x00000000";)"
       R"("03-LowerFilterCount":"0x00000000";)" + pnp_fields},
      {"ServicesVersion3", 26100, 0xC002, 0x0B0F, 3,
       join({writer().put_u32(0x4d8).put_u32(4).put_u32(7).take(),
             texts({u"Dhcp", u"DHCP Client", u"svchost.exe", u"TDI", u"LocalServiceNetworkRestricted"})}),
       "Kernel-EventConfig-Trace",
       R"("01-ProcessId":"0x000004d8";"02-ServiceState":"0x00000004";"03-SubProcessTag":"0x00000007";)"
       R"("04-ServiceName":"Dhcp";"05-DisplayName":"DHCP Client";"06-ProcessName":"svchost.exe";)"
       R"("07-LoadOrderGroup":"TDI";"08-SvchostGroup":"LocalServiceNetworkRestricted")"},
      // the trace's own hooks 0x0040 and 0x0042, as Windows logs them
      {"DbgIdRsds", 26100, 0xC011, 0x0040, 2,
       join({writer().put_guid(pdb).put_u32(1).take(), pdb_name}), "Kernel-Event-Trace",
       R"("01-Guid":"{a669021c-c450-4609-a035-5af59af4df18}";"02-Age":"0x00000001";"03-PdbName":"a.pdb")"},
      {"BuildLab", 26100, 0xC011, 0x0042, 2, byte_array{'2', '6', '1', '0', '0', '.', '1', 0},
       "Kernel-Event-Trace", R"("01-BuildString":"26100.1")"},
      // KernelTraceControl's image records (classic, by class type)
      {"ImageIdInfo", 26100, classic, 0x00, 2,
       join({writer().put_u64(0x7ff800000000ull).put_u64(0x1f000).put_u32(0x1234).put_u32(0x5f000000).take(),
             texts({u"ntdll.dll"})}),
       "",
       R"("01-ImageBase":"0x00007ff800000000";"02-ImageSize":"0x000000000001f000";"03-ProcessId":"0x00001234";)"
       R"("04-TimeDateStamp":"0x5f000000";"05-OriginalFileName":"ntdll.dll")"},
      {"ImageIdDbgIdRsds", 26100, classic, 0x24, 2, rsds, "", rsds_fields},
      {"ImageIdDbgIdIlRsds", 26100, classic, 0x25, 2, rsds, "", rsds_fields},
      {"ImageIdDbgPpdb", 26100, classic, 0x26, 2,
       writer().put_u64(0x7ff800000000ull).put_u32(0x1234).put_u32(0x5f000000).put_u16(1).put_u16(0).take(), "",
       R"("01-ImageBase":"0x00007ff800000000";"02-ProcessId":"0x00001234";"03-TimeDateStamp":"0x5f000000";)"
       R"("04-MajorVersion":"0x0001";"05-MinorVersion":"0x0000")"},
      {"ImageIdDbgDeterm", 26100, classic, 0x28, 1,
       writer().put_u64(0x7ff800000000ull).put_u32(0x1234).take(), "",
       R"("01-ImageBase":"0x00007ff800000000";"02-ProcessId":"0x00001234")"},
      {"ImageIdFileVersion", 26100, classic, 0x40, 0,
       join({writer().put_u32(0x1f000).put_u32(0x5f000000).take(),
             texts({u"a.dll", u"A", u"1.0", u"1.0.0.0", u"0409", u"P", u"C", u"1.0", u"", u""})}),
       "",
       R"("01-ImageSize":"0x0001f000";"02-TimeDateStamp":"0x5f000000";"03-OrigFileName":"a.dll";)"
       R"("04-FileDescription":"A";"05-FileVersion":"1.0";"06-BinFileVersion":"1.0.0.0";"07-VerLanguage":"0409";)"
       R"("08-ProductName":"P";"09-CompanyName":"C";"10-ProductVersion":"1.0";"11-FileId":"-";)"
       R"("12-ProgramId":"-")"},
  };
  const byte_array block = program_template_block();
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    temp_dir dir;
    const byte_array first = build_logfile_first_buffer(
        {.first_buffer_size = 0x400, .provider_version = r.build, .clock_type = 2});
    const byte_array record =
        r.type_code == classic
            ? build_record(record_event{.type_code = classic, .flags = r.id, .property = r.version,
                                        .provider = r.classic_provider, .payload = r.payload})
            : build_record(record_generic{.type_code = r.type_code, .version = r.version, .hook_id = r.id,
                                          .payload = r.payload});
    const buffer_header_fields h{.buffer_size = 0x400, .time = ft_2021};
    file_run f;
    f.processor.load_templates(block);
    const std::map<u64, event_record> records =
        decoded_at(f, dir.write("kernel.etl", join({first, buffer_builder(h).add(record).finish()})));
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records.begin()->second.provider_name, r.provider);
    field_map fields = records.begin()->second.fields;
    std::string text;
    dump_field_map(text, fields);
    EXPECT_EQ(text, r.fields);
  }
}

// sawbuck_image_data_32_v0: a Windows 7 log (build 7600) whose 26 image
// records carry class version 0 in their classic headers, and whose bytes
// have the version-0 layout (base, size, file name) in every one of them.
// The descriptions hold a version-0 layout for the Load type (10) alone:
// that record decodes by it. The 24 DCStart (3) and one Unload (2) records
// have no layout of their version, and the layouts described for their
// types are of versions 2 and 3, newer than theirs: their bytes are guessed
// (base, size and name come out as guesses) rather than misnamed. Each row
// is the same as in a copy of the log whose header names Windows 2000
// (build 2195).
TEST(Samples, ImageRecordsOfVersionZeroDecodeByTheirVersion) {
  if (!samples_present()) GTEST_SKIP() << "sample folder " << VESK_SAMPLES_DIR << " is absent";
  const std::string file = sample_path("sawbuck_image_data_32_v0.etl");
  byte_array bytes = read_all(file);
  ASSERT_EQ(zarn::u32_at(bytes, logfile_header::provider_version), 7600u);
  logbuild::set_u32(bytes, logfile_header::provider_version, 2195);
  temp_dir dir;
  const std::string as_2195 = dir.write("image_data_32_v0_2195.etl", bytes);
  const byte_array block = program_template_block();
  file_run original;
  original.processor.load_templates(block);
  file_run copy;
  copy.processor.load_templates(block);
  const std::map<u64, event_record> records = decoded_at(original, file);
  const std::map<u64, event_record> copied = decoded_at(copy, as_2195);
  std::map<u16, u64> types;
  for (const auto& [offset, r] : records) {
    if (guid_to_string(r.provider) != "2cb15d1d-5fc1-11d2-abe1-00a0c911f518") continue;
    SCOPED_TRACE(offset);
    ++types[r.event_key()];
    ASSERT_EQ(copied.count(offset), 1u);
    field_map fields = r.fields;
    std::string text;
    dump_field_map(text, fields);
    field_map copied_fields = copied.at(offset).fields;
    std::string copied_text;
    dump_field_map(copied_text, copied_fields);
    EXPECT_EQ(copied_text, text);
    if (r.event_key() == 10) {
      EXPECT_EQ(text, R"("01-BaseAddress":"0x01160000";"02-ModuleSize":"0x0019e000";)"
                      R"("03-ImageFileName":"C:/code/sawbuck/src/sawbuck/Debug/test_program.exe")");
    } else {
      EXPECT_EQ(r.guessed, 1);
      for (const auto& [key, f] : r.fields) EXPECT_TRUE(f.name.starts_with("guess_")) << text;
    }
  }
  EXPECT_EQ(types, (std::map<u16, u64>{{2, 1}, {3, 24}, {10, 1}}));
}

}  // namespace
