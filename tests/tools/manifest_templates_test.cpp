// The converter from provider descriptions to template sources, run on small
// descriptions written here; its output read by the program's own reader of
// template files, and events decoded through it.
#include <gtest/gtest.h>

#include <filesystem>

#include "decode/field_dump.hpp"
#include "decode/decode_payload.hpp"
#include "decode/template_db.hpp"
#include "decode/template_map.hpp"
#include "support/log_builder.hpp"
#include "support/run_vesk.hpp"
#include "support/temp_dir.hpp"

using namespace logbuild;

namespace {

const guid provider = guid_of("11111111-2222-3333-4444-555555555555");
constexpr u64 base = 0x4000;

// One provider in two builds; event 1 in two versions; event 2 with every
// in-type; event 3 with sizes taken from earlier fields, fixed lengths and
// a structure counted by a field, which ends it; events 5 to 7 listed with
// classic message ids whose low 16 bits repeat another event's id.
const char* const manifest_new = R"(<?xml version="1.0"?>
<instrumentationManifest><instrumentation><events>
<provider name="Test-Provider" guid="{11111111-2222-3333-4444-555555555555}" build="22621">
<events>
  <event value="1" version="0" template="one_v0"/>
  <event value="1" version="1" template="one_v1"/>
  <event value="2" version="0" template="every"/>
  <event value="65539" version="0" template="sized"/>
  <event value="4" version="0"/>
  <event value="5" version="0" template="one_v0"/>
  <event value="2147483653" version="0" template="every"/>
  <event value="65542" version="0" template="one_v0"/>
  <event value="1073741830" version="0" template="one_v1"/>
  <event value="65543" version="0" template="one_v0"/>
  <event value="3221225479" version="0" template="one_v0"/>
</events>
<templates>
  <template tid="one_v0"><data name="Old" inType="win:UInt32"/></template>
  <template tid="one_v1"><data name="New" inType="win:UInt64"/><data name="Flag" inType="win:Boolean"/></template>
  <template tid="every">
    <data name="U" inType="win:UnicodeString"/><data name="A" inType="win:AnsiString"/>
    <data name="I8" inType="win:Int8"/><data name="U8" inType="win:UInt8"/>
    <data name="I16" inType="win:Int16"/><data name="U16" inType="win:UInt16"/>
    <data name="I32" inType="win:Int32"/><data name="U32" inType="win:UInt32"/>
    <data name="I64" inType="win:Int64"/><data name="U64" inType="win:UInt64"/>
    <data name="F" inType="win:Float"/><data name="D" inType="win:Double"/>
    <data name="B" inType="win:Boolean"/><data name="G" inType="win:GUID"/>
    <data name="P" inType="win:Pointer"/><data name="FT" inType="win:FILETIME"/>
    <data name="ST" inType="win:SYSTEMTIME"/><data name="S" inType="win:SID"/>
    <data name="H32" inType="win:HexInt32"/><data name="H64" inType="win:HexInt64"/>
  </template>
  <template tid="sized">
    <data name="NameLength" inType="win:UInt16"/>
    <data name="Name" inType="win:UnicodeString" length="NameLength"/>
    <data name="Mac" inType="win:Binary" length="6"/>
    <data name="Count" inType="win:UInt32"/>
    <data name="Values" inType="win:UInt32" count="Count"/>
    <data name="Tag" inType="win:AnsiString" length="3"/>
    <struct name="Entries" count="Count"><data name="X" inType="win:UInt8"/></struct>
    <data name="After" inType="win:UInt32"/>
  </template>
</templates>
</provider></events></instrumentation></instrumentationManifest>
)";

// The same provider in an older build, where event 1 has another layout.
const char* const manifest_old = R"(<?xml version="1.0"?>
<instrumentationManifest><instrumentation><events>
<provider name="Test-Provider" guid="{11111111-2222-3333-4444-555555555555}" build="19041">
<events><event value="1" version="0" template="t"/></events>
<templates><template tid="t"><data name="Legacy" inType="win:UInt16"/></template></templates>
</provider></events></instrumentation></instrumentationManifest>
)";

const char* const kernel_mof = R"(<?xml version="1.0"?>
<kernelMof>
  <provider name="Image" guid="{2cb15d1d-5fc1-11d2-abe1-00a0c911f518}" version="2">
    <class name="Image_Load" version="2">
      <eventtype value="10" name="Load"/>
      <data id="1" name="ImageBase" type="uint32" qualifiers="Pointer"/>
      <data id="2" name="ProcessId" type="uint32" qualifiers=""/>
      <data id="3" name="FileName" type="string" qualifiers='StringTermination("NullTerminated"), Format("w")'/>
    </class>
  </provider>
  <provider name="Image_V0" guid="{2cb15d1d-5fc1-11d2-abe1-00a0c911f518}" version="0">
    <class name="Image_V0_Load" version="0">
      <eventtype value="10" name="Load"/>
      <data id="1" name="Old" type="uint32" qualifiers=""/>
    </class>
  </provider>
</kernelMof>
)";

struct converted {
  temp_dir dir;
  std::string out;
  std::string summary;
};

void convert(converted& c) {
  namespace fs = std::filesystem;
  fs::create_directories(c.dir.path("in/reduced"));
  fs::create_directories(c.dir.path("in/kernel-mof"));
  fs::create_directories(c.dir.path("in/nasbench"));
  fs::create_directories(c.dir.path("out"));
  (void)c.dir.write("in/reduced/new.xml", std::string(manifest_new));
  (void)c.dir.write("in/reduced/old.xml", std::string(manifest_old));
  (void)c.dir.write("in/kernel-mof/kernel-mof.xml", std::string(kernel_mof));
  (void)c.dir.write("in/nasbench/provider-names.tsv",
                    std::string("guid\tname\n11111111-2222-3333-4444-555555555555\tLater Name\n"
                                "aaaaaaaa-2222-3333-4444-555555555555\tOnly, Named\n"));
  c.out = c.dir.path("out");
  const vesk_result r = run_program(
      VESK_PYTHON, {VESK_SOURCE_DIR "/tools/manifest_templates.py", c.dir.path("in"),
                    VESK_SOURCE_DIR "/src/decode/kernel_providers.hpp", c.out});
  ASSERT_EQ(r.status, 0) << r.err;
  c.summary = r.out;
}

// The converted sources, read as the -templates file reader reads them,
// compiled, and the fields a payload decodes to under one OS build.
std::string decoded(const std::string& folder, u64 build, const guid& g, u16 id,
                    const byte_array& payload) {
  template_map map;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    template_db db;
    EXPECT_TRUE(db.parse_file(entry.path().string())) << entry.path();
    EXPECT_TRUE(compile_templates(db, map, 1));
  }
  map.selector = build;
  field_map fields;
  u8 guessed = 0;
  (void)decode_payload(fields, base, &g, id, payload, &map, true, false, guessed);
  std::string text;
  dump_field_map(text, fields);
  return text;
}

TEST(ManifestTemplates, ConvertsWhatTheWordsExpress) {
  converted c;
  convert(c);
  // events: ids 1 to 7 of the newest build and id 1 of the older; templates:
  // ids 1, 2, 3, 5 and 7 with the newest build's selector and without, id 1
  // of 19041
  EXPECT_EQ(c.summary,
            "providers 1, events 8, templates written 11; kernel class event types 1\n"
            "cut short or left out: 3\n"
            "  Test-Provider 6: left out: the event values 65542 and 1073741830 share the id and "
            "differ in layout\n"
            "  Test-Provider 3 v0: cut at \"Entries\": structure \"Entries\" repeated by a field\n"
            "  Test-Provider 4: left out: no template\n");
  writer every;
  every.put_utf16(u"u").put_bytes(byte_array{'a', 0}).put_u8(0xF1).put_u8(2);  // U A I8 U8
  every.put_u16(0xFFF3).put_u16(4).put_u32(5).put_u32(6).put_u64(7).put_u64(8);  // I16..U64
  every.put_u32(0x3F800000).put_u64(0x4000000000000000).put_u32(1);  // F D B
  every.put_guid(provider).put_u64(0x1122334455667788).put_u64(ft_2021);  // G P FT
  every.put_bytes(byte_array{0xe5, 0x07, 1, 0, 5, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0});  // ST
  every.put_bytes(byte_array{1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0});  // S: S-1-5-18
  every.put_u32(0xABC).put_u64(0xDEF);  // H32 H64
  writer sized;
  sized.put_u16(2).put_utf16(u"hi", false);               // NameLength, Name (2 characters)
  sized.put_bytes(byte_array{1, 2, 3, 4, 5, 6});           // Mac
  sized.put_u32(2).put_u32(10).put_u32(11);                // Count, Values
  sized.put_bytes(byte_array{'a', 'b', 'c'});              // Tag
  struct row {
    const char* name;
    u64 build;
    guid provider;
    u16 id;
    byte_array payload;
    std::string fields;
  };
  const row rows[] = {
      // the newest version; its build as selector and again without one
      {"NewestVersion", 22621, provider, 1, writer().put_u64(9).put_u32(1).take(),
       R"("01-New":"0x0000000000000009";"02-Flag":"0x00000001")"},
      {"UnlistedBuild", 26100, provider, 1, writer().put_u64(9).put_u32(1).take(),
       R"("01-New":"0x0000000000000009";"02-Flag":"0x00000001")"},
      {"OlderBuild", 19041, provider, 1, writer().put_u16(3).take(), R"("01-Legacy":"0x0003")"},
      {"EveryInType", 22621, provider, 2, every.take(),
       R"("01-U":"u";"02-A":"a";"03-I8":"0xf1";"04-U8":"0x02";"05-I16":"0xfff3";"06-U16":"0x0004";)"
       R"("07-I32":"0x00000005";"08-U32":"0x00000006";"09-I64":"0x0000000000000007";)"
       R"("10-U64":"0x0000000000000008";"11-F":"0x3f800000";"12-D":"0x4000000000000000";)"
       R"("13-B":"0x00000001";"14-G":"{11111111-2222-3333-4444-555555555555}";"15-P":"0x1122334455667788";)"
       R"("16-FT":"0x01d6dfd10c358000 [2021-01-01 00:00:00.000]";)"
       R"("17-ST":"0x000000000000000000010005000107e5 [2021-01-01 00:00:00.000]";)"
       R"("18-S":"S-1-5-18";"19-H32":"0x00000abc";"20-H64":"0x0000000000000def")"},
      // the id above 65535 keeps its low 16 bits; the structure counted by
      // a field ends the template, and its bytes are guessed
      {"SizedFields", 22621, provider, 3, join({sized.take(), byte_array{7, 8, 9, 10}}),
       R"("01-NameLength":"0x0002";"02-Name":"hi";"03-Mac":"010203040506";"04-Count":"0x00000002";)"
       R"("05-Values[0]":"0x0000000a";"06-Values[1]":"0x0000000b";"07-Tag":"abc";)"
       R"("08-guess_uint32":"0x0a090807")"},
      // records carry the low 16 bits of an event value: the value that fits
      // them is the event; two wider ones of different layouts are guessed
      {"SixteenBitValueWins", 22621, provider, 5, writer().put_u32(3).take(), R"("01-Old":"0x00000003")"},
      {"AmbiguousIdGuessed", 22621, provider, 6, writer().put_u32(3).take(),
       R"("01-guess_uint32":"0x00000003")"},
      {"SameLayoutKept", 22621, provider, 7, writer().put_u32(3).take(), R"("01-Old":"0x00000003")"},
      // kernel classes: the newest version, by event type and by hook id
      {"KernelByType", 0, guid_of("2cb15d1d-5fc1-11d2-abe1-00a0c911f518"), 10,
       join({writer().put_u64(0x10000).put_u32(4).take(), writer().put_utf16(u"a.dll").take()}),
       R"("01-ImageBase":"0x0000000000010000";"02-ProcessId":"0x00000004";"03-FileName":"a.dll")"},
      {"KernelByHookId", 0, guid_of("2cb15d1d-5fc1-11d2-abe1-00a0c911f518"), 0x140a,
       join({writer().put_u64(0x10000).put_u32(4).take(), writer().put_utf16(u"a.dll").take()}),
       R"("01-ImageBase":"0x0000000000010000";"02-ProcessId":"0x00000004";"03-FileName":"a.dll")"},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(decoded(c.out, r.build, r.provider, r.id, r.payload), r.fields);
  }
  // provider names: the description's name first, the name list for the rest
  template_map map;
  for (const char* f : {"manifest-test-provider.txt", "kernel-classes.txt", "provider-names.txt"}) {
    template_db db;
    ASSERT_TRUE(db.parse_file(c.out + "/" + f)) << f;
    ASSERT_TRUE(compile_templates(db, map, 1));
  }
  EXPECT_EQ(map.provider_name(provider.bytes), "Test-Provider");
  EXPECT_EQ(map.provider_name(guid_of("aaaaaaaa-2222-3333-4444-555555555555").bytes), "Only_ Named");
}

}  // namespace
