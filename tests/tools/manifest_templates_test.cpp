// The converter from provider descriptions to template sources, run on small
// descriptions written here; its output read by the program's own reader of
// template files, and events decoded through it.
#include <gtest/gtest.h>

#include <filesystem>

#include "decode/field_dump.hpp"
#include "decode/decode_payload.hpp"
#include "decode/decode_scratch.hpp"
#include "decode/template_db.hpp"
#include "decode/template_map.hpp"
#include "decode/type_words.hpp"
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

// The image class in four versions over two files: version 3 from build
// 9200 on, version 2 from its page's Windows (Vista), version 1 whose page
// and the class reference disagree, version 0 the class reference's
// Windows 2000; an event type in an unversioned class and in two versioned
// ones, the newer seen in a build but with no first Windows stated; a
// FILETIME; GUIDs in 16 and (wrongly) in 8 bytes; a class without fields.
const char* const kernel_mof = R"(<?xml version="1.0"?>
<kernelMof>
  <provider name="Image" guid="{2cb15d1d-5fc1-11d2-abe1-00a0c911f518}" version="2" page="d/image.md">
    <class name="Image_Load" version="2" page="d/image-load.md">
      <eventtype value="10" name="Load"/>
      <data id="1" name="ImageBase" type="uint32" qualifiers="Pointer"/>
      <data id="2" name="ProcessId" type="uint32" qualifiers=""/>
      <data id="3" name="FileName" type="string" qualifiers='StringTermination("NullTerminated"), Format("w")'/>
    </class>
  </provider>
  <provider name="Image_V1" guid="{2cb15d1d-5fc1-11d2-abe1-00a0c911f518}" version="1" page="d/image-v1.md">
    <class name="Image_V1_Load" version="1"><eventtype value="10" name="Load"/>
      <data id="1" name="V1" type="uint16" qualifiers=""/></class>
  </provider>
  <provider name="Image_V0" guid="{2cb15d1d-5fc1-11d2-abe1-00a0c911f518}" version="0" page="d/image-v0.md">
    <class name="Image_V0_Load" version="0"><eventtype value="10" name="Load"/>
      <data id="1" name="Old" type="uint32" qualifiers=""/></class>
  </provider>
  <provider name="Lost" guid="{6a399ae0-4bc6-4de9-870b-3657f8947e7e}">
    <class name="Lost_Event"><eventtype value="32" name="Lost"/></class>
  </provider>
</kernelMof>
)";

const char* const kernel_mof_extra = R"xml(<?xml version="1.0"?>
<kernelMof>
  <provider name="Image_V3" guid="{2cb15d1d-5fc1-11d2-abe1-00a0c911f518}" version="3">
    <class name="Image_Load_V3" version="3" windows="8 and later (build 9200 on)">
      <eventtype value="10" name="Load"/>
      <data id="1" name="ImageBase" type="uint32" qualifiers="Pointer"/>
      <data id="2" name="SignatureLevel" type="uint8" qualifiers=""/>
    </class>
  </provider>
  <provider name="Config" guid="{9b79ee91-b5fd-41c0-a243-4248e266e9d0}">
    <class name="Config_Build"><eventtype value="32" name="BuildInfo"/>
      <data id="1" name="InstallDate" type="uint64" qualifiers="" sourceType="FILETIME"/></class>
    <class name="Config_Old"><eventtype value="33" name="Paths"/>
      <data id="1" name="Unversioned" type="uint32" qualifiers=""/></class>
    <class name="Config_Paths" version="4"><eventtype value="33" name="Paths"/>
      <data id="1" name="Path" type="string" qualifiers='Format("w")'/></class>
    <class name="Config_Paths_V5" version="5" windows="seen in build 26100; first Windows not stated">
      <eventtype value="33" name="Paths"/>
      <data id="1" name="ClassGuid" type="uint8" qualifiers="Max(16)" content="GUID"/>
      <data id="2" name="Path" type="string" qualifiers='Format("w")'/></class>
    <class name="Config_Short" version="1"><eventtype value="34" name="Short"/>
      <data id="1" name="Short" type="uint8" qualifiers="Max(8)" content="GUID"/></class>
  </provider>
</kernelMof>
)xml";

// The minimum client of each page, as the classes' sources list them.
const char* const kernel_sources =
    "| page | last commit | date | min client |\n"
    "|---|---|---|---|\n"
    "| image.md | 4d5f26c6be39ae31f663357fe190f3868a37f9be | 2021-01-07 | Windows Vista |\n"
    "| image-v1.md | 39839c995535665df29798a9a6e6791ec59c8dfd | 2021-04-27 | Windows Vista |\n"
    "| image-v0.md | 39839c995535665df29798a9a6e6791ec59c8dfd | 2021-04-27 | — |\n";

const std::string kernel_table = VESK_SOURCE_DIR "/src/decode/kernel_providers.hpp";

// The descriptions above in <dir>/in, and an empty <dir>/out.
void write_inputs(const temp_dir& dir) {
  namespace fs = std::filesystem;
  for (const char* d : {"in/reduced", "in/kernel-mof", "in/nasbench", "out"}) {
    fs::create_directories(dir.path(d));
  }
  (void)dir.write("in/reduced/new.xml", std::string(manifest_new));
  (void)dir.write("in/reduced/old.xml", std::string(manifest_old));
  (void)dir.write("in/kernel-mof/kernel-mof.xml", std::string(kernel_mof));
  (void)dir.write("in/kernel-mof/kernel-mof-extra.xml", std::string(kernel_mof_extra));
  (void)dir.write("in/kernel-mof/SOURCES.md", std::string(kernel_sources));
  (void)dir.write("in/nasbench/provider-names.tsv",
                  std::string("guid\tname\n11111111-2222-3333-4444-555555555555\tLater Name\n"
                              "aaaaaaaa-2222-3333-4444-555555555555\tOnly, Named\n"));
}

vesk_result run_converter(const std::string& in, const std::string& table, const std::string& out) {
  return run_program(VESK_PYTHON, {VESK_SOURCE_DIR "/tools/manifest_templates.py", in, table, out});
}

struct converted {
  temp_dir dir;
  std::string out;
  std::string summary;
};

void convert(converted& c) {
  write_inputs(c.dir);
  c.out = c.dir.path("out");
  const vesk_result r = run_converter(c.dir.path("in"), kernel_table, c.out);
  ASSERT_EQ(r.status, 0) << r.err;
  c.summary = r.out;
}

// The converted sources, read as the -templates file reader reads them,
// compiled, and the fields a payload of a record of the class version given
// decodes to under one OS build.
std::string decoded(const std::string& folder, u64 build, u16 version, const guid& g, u16 id,
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
  decode_scratch scratch;
  (void)decode_payload(fields, base, &g, id, payload, &map, true, false, guessed, scratch, version);
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
  // kernel classes: image Load v3 for every build, v2 and v0 also under
  // their builds, v1 by its version only; BuildInfo; Paths v5 for every
  // build, v4 by its version only
  EXPECT_EQ(c.summary,
            "providers 1, events 8, templates written 11; kernel class event types 3, "
            "older versions 4 (2 also under their builds)\n"
            "cut short or left out: 8\n"
            "  Test-Provider 6: left out: the event values 65542 and 1073741830 share the id and "
            "differ in layout\n"
            "  Test-Provider 3 v0: cut at \"Entries\": structure \"Entries\" repeated by a field\n"
            "  Test-Provider 4: left out: no template\n"
            "  kernel class Image_V1_Load 10 v1: by its version only: the descriptions disagree on "
            "its Windows: stated from build 6000, the class reference names Windows XP and Windows "
            "Server 2003\n"
            "  kernel class Lost_Event 32: left out: no fields (nothing to name)\n"
            "  kernel class Config_Old 33: left out: its version is not stated\n"
            "  kernel class Config_Paths 33 v4: by its version only: no description states its "
            "Windows\n"
            "  kernel class Config_Short 34: left out: \"Short\": a GUID held in uint8[8]\n");
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
  const guid image = guid_of("2cb15d1d-5fc1-11d2-abe1-00a0c911f518");
  const byte_array v3 = writer().put_u64(0x10000).put_u8(12).take();
  const char* const v3_fields = R"("01-ImageBase":"0x0000000000010000";"02-SignatureLevel":"0x0c")";
  const byte_array v2 = join({writer().put_u64(0x10000).put_u32(4).take(), writer().put_utf16(u"a.dll").take()});
  const char* const v2_fields =
      R"("01-ImageBase":"0x0000000000010000";"02-ProcessId":"0x00000004";"03-FileName":"a.dll")";
  constexpr u16 none = no_class_version;
  const guid config = guid_of("9b79ee91-b5fd-41c0-a243-4248e266e9d0");
  struct row {
    const char* name;
    u64 build;
    u16 version;  // the record's class version
    guid provider;
    u16 id;
    byte_array payload;
    std::string fields;
  };
  const row rows[] = {
      // the newest version; its build as selector and again without one
      {"NewestVersion", 22621, none, provider, 1, writer().put_u64(9).put_u32(1).take(),
       R"("01-New":"0x0000000000000009";"02-Flag":"0x00000001")"},
      {"UnlistedBuild", 26100, none, provider, 1, writer().put_u64(9).put_u32(1).take(),
       R"("01-New":"0x0000000000000009";"02-Flag":"0x00000001")"},
      {"OlderBuild", 19041, none, provider, 1, writer().put_u16(3).take(), R"("01-Legacy":"0x0003")"},
      {"EveryInType", 22621, none, provider, 2, every.take(),
       R"("01-U":"u";"02-A":"a";"03-I8":"0xf1";"04-U8":"0x02";"05-I16":"0xfff3";"06-U16":"0x0004";)"
       R"("07-I32":"0x00000005";"08-U32":"0x00000006";"09-I64":"0x0000000000000007";)"
       R"("10-U64":"0x0000000000000008";"11-F":"0x3f800000";"12-D":"0x4000000000000000";)"
       R"("13-B":"0x00000001";"14-G":"{11111111-2222-3333-4444-555555555555}";"15-P":"0x1122334455667788";)"
       R"("16-FT":"0x01d6dfd10c358000 [2021-01-01 00:00:00.000]";)"
       R"("17-ST":"0x000000000000000000010005000107e5 [2021-01-01 00:00:00.000]";)"
       R"("18-S":"S-1-5-18";"19-H32":"0x00000abc";"20-H64":"0x0000000000000def")"},
      // the id above 65535 keeps its low 16 bits; the structure counted by
      // a field ends the template, and its bytes are guessed
      {"SizedFields", 22621, none, provider, 3, join({sized.take(), byte_array{7, 8, 9, 10}}),
       R"("01-NameLength":"0x0002";"02-Name":"hi";"03-Mac":"010203040506";"04-Count":"0x00000002";)"
       R"("05-Values[0]":"0x0000000a";"06-Values[1]":"0x0000000b";"07-Tag":"abc";)"
       R"("08-guess_uint32":"0x0a090807")"},
      // records carry the low 16 bits of an event value: the value that fits
      // them is the event; two wider ones of different layouts are guessed
      {"SixteenBitValueWins", 22621, none, provider, 5, writer().put_u32(3).take(), R"("01-Old":"0x00000003")"},
      {"AmbiguousIdGuessed", 22621, none, provider, 6, writer().put_u32(3).take(),
       R"("01-guess_uint32":"0x00000003")"},
      {"SameLayoutKept", 22621, none, provider, 7, writer().put_u32(3).take(), R"("01-Old":"0x00000003")"},
      // kernel classes: the newest version for every build no older
      // version is placed under, by event type and by hook id (also the
      // process group's hook the image load is logged under)
      {"KernelNewest", 0, none, image, 10, v3, v3_fields},
      {"KernelUnlistedBuild", 2600, none, image, 10, v3, v3_fields},
      {"KernelByHookId", 19045, none, image, 0x140a, v3, v3_fields},
      {"KernelByProcessHook", 19045, none, image, 0x030a, v3, v3_fields},
      // an older version under the builds of its Windows: its page's first
      // Windows (Vista) up to the newer version's (build 9200); the class
      // reference's alone (version 0: Windows 2000)
      {"KernelVista", 6000, none, image, 0x030a, v2, v2_fields},
      {"KernelSeven", 7601, none, image, 10, v2, v2_fields},
      {"KernelEight", 9200, none, image, 10, v3, v3_fields},
      {"KernelVersionZero", 2195, none, image, 0x140a, writer().put_u32(7).take(), R"("01-Old":"0x00000007")"},
      {"KernelFiletime", 0, none, config, 32,
       writer().put_u64(ft_2021).take(), R"("01-InstallDate":"0x01d6dfd10c358000 [2021-01-01 00:00:00.000]")"},
      // a record's class version before the build: its own version's
      // layout, also one placed by its version only; a version no class
      // holds is left to the build
      {"VersionBeforeBuild", 19045, 2, image, 10, v2, v2_fields},
      {"NewestByVersion", 7601, 3, image, 0x030a, v3, v3_fields},
      {"VersionZero", 0, 0, image, 0x140a, writer().put_u32(7).take(), R"("01-Old":"0x00000007")"},
      {"VersionOnly", 19045, 1, image, 10, writer().put_u16(5).take(), R"("01-V1":"0x0005")"},
      {"UnknownVersion", 7601, 9, image, 10, v2, v2_fields},
      // a version with no first Windows stated serves every other build; the
      // older one is found by its version; a GUID field prints as a GUID
      {"SeenInABuild", 7601, none, config, 33,
       join({writer().put_guid(provider).take(), writer().put_utf16(u"p").take()}),
       R"("01-ClassGuid":"{11111111-2222-3333-4444-555555555555}";"02-Path":"p")"},
      {"OlderByItsVersion", 7601, 4, config, 33, writer().put_utf16(u"p").take(), R"("01-Path":"p")"},
      // a field-less class writes no line: its bytes are guessed
      {"KernelNoFields", 0, none, guid_of("6a399ae0-4bc6-4de9-870b-3657f8947e7e"), 32,
       writer().put_u32(5).take(), R"("01-guess_uint32":"0x00000005")"},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(decoded(c.out, r.build, r.version, r.provider, r.id, r.payload), r.fields);
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

// An input that cannot be read is named, the others are read on, and the
// run fails leaving the sources it would replace as they were.
TEST(ManifestTemplates, FailureLeavesTheSourcesAsTheyWere) {
  namespace fs = std::filesystem;
  // the program's table without its last row
  std::string table = read_text(kernel_table);
  const std::size_t last_row = table.find("    {0x1E00,");
  ASSERT_NE(last_row, std::string::npos);
  const std::string short_table = table.erase(last_row, table.find('\n', last_row) + 1 - last_row);
  struct row {
    const char* name;
    const char* file;         // written into the inputs (empty: none)
    const char* content;
    const char* folder;       // the descriptions folder given, under the test's folder
    bool short_kernel_table;
    const char* message;      // the error line
  };
  const row rows[] = {
      {"BrokenManifest", "in/reduced/broken.xml", "<instrumentationManifest", "in", false,
       "/in/reduced/broken.xml: unclosed token: line 1, column 0"},
      {"BrokenKernelClasses", "in/kernel-mof/kernel-mof.xml", "<kernelMof><provider>", "in", false,
       "/in/kernel-mof/kernel-mof.xml: no element found: line 1, column 21"},
      {"NoKernelClasses", "in/kernel-mof/kernel-mof.xml", nullptr, "in", false,
       "/in/kernel-mof: no kernel class description (*.xml)"},
      {"NoPageList", "in/kernel-mof/SOURCES.md", nullptr, "in", false,
       "/in/kernel-mof/SOURCES.md: [Errno 2] No such file or directory"},
      {"MissingFolder", "", "", "absent", false, "/absent: not a folder of provider descriptions"},
      {"ShortKernelTable", "", "", "in", true, ": 30 kernel provider rows read, 31 expected"},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    temp_dir dir;
    write_inputs(dir);
    (void)fs::remove(dir.path("in/kernel-mof/kernel-mof-extra.xml"));
    if (*r.file != 0 && r.content != nullptr) (void)dir.write(r.file, std::string(r.content));
    if (*r.file != 0 && r.content == nullptr) (void)fs::remove(dir.path(r.file));
    const std::string table_path =
        r.short_kernel_table ? dir.write("kernel_providers.hpp", short_table) : kernel_table;
    (void)dir.write("out/manifest-test-provider.txt", std::string("earlier\n"));
    (void)dir.write("out/kernel-classes.txt", std::string("earlier kernel\n"));
    (void)dir.write("out/00-seed.txt", std::string("seed\n"));
    const vesk_result res = run_converter(dir.path(r.folder), table_path, dir.path("out"));
    EXPECT_EQ(res.status, 1);
    EXPECT_NE(res.err.find(r.message), std::string::npos) << res.err;
    EXPECT_TRUE(res.err.ends_with("manifest_templates.py: no template source written\n")) << res.err;
    EXPECT_EQ(read_text(dir.path("out/manifest-test-provider.txt")), "earlier\n");
    EXPECT_EQ(read_text(dir.path("out/kernel-classes.txt")), "earlier kernel\n");
    // nothing else written, in the folder or beside it
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path("out")), fs::directory_iterator()), 3);
    for (const auto& entry : fs::directory_iterator(dir.path(""))) {
      EXPECT_FALSE(entry.path().filename().string().starts_with(".manifest-templates-")) << entry.path();
    }
  }
}

// The converter writes the program's type words: each word it names is the
// word the program's vocabulary gives that meaning; and the program's
// selector of class version 0.
TEST(ManifestTemplates, WordsAreTheProgramsWords) {
  const char* const script =
      "import sys\n"
      "sys.path.insert(0, sys.argv[1])\n"
      "import manifest_templates as m\n"
      "t = m.IN_TYPES\n"
      "for n in ('UnicodeString', 'AnsiString', 'Int8', 'UInt8', 'Int16', 'UInt16', 'Int32',\n"
      "          'UInt32', 'Int64', 'UInt64', 'Float', 'Double', 'Boolean', 'Binary', 'GUID',\n"
      "          'Pointer', 'FILETIME', 'SYSTEMTIME', 'SID', 'HexInt32', 'HexInt64'):\n"
      "    print(t['win:' + n])\n"
      "for w in (m.UNICODE, m.ANSI, m.BINARY, m.UINT8, m.INT8, m.UINT16, m.POINTER, m.SID, m.UINT32,\n"
      "          m.GUID,\n"
      "          m.BYTES_BY_NEXT_WORD, m.TEXT_BY_FIELD[m.UNICODE], m.TEXT_BY_FIELD[m.ANSI],\n"
      "          m.TEXT_BY_FIELD[m.BINARY], m.ARRAY_BY_FIELD[m.UNICODE], m.ARRAY_BY_FIELD[m.ANSI],\n"
      "          m.ARRAY_BY_FIELD[m.UINT8], m.ARRAY_BY_FIELD[m.INT8], m.ARRAY_BY_FIELD[m.UINT32],\n"
      "          m.ARRAY_BY_FIELD[7], m.ARRAY_BY_FIELD[20], m.ARRAY_BY_FIELD[m.POINTER],\n"
      "          m.NARROW_TEXT_N, m.UTF16_SLOTS[6], m.UTF16_SLOTS[8], m.UTF16_SLOTS[32],\n"
      "          m.UTF16_SLOTS[512], m.RAW16, m.POINTER_PAIR, m.CLASS_VERSION_BASE):\n"
      "    print(w)\n";
  namespace it = in_type;
  namespace wc = word_class;
  const std::vector<u16> words = {
      it::utf16_text, it::ansi_text, it::int8, it::uint8, it::int16, it::uint16, it::int32,
      it::uint32, it::int64, it::uint64, it::float32, it::float64, it::boolean, it::binary,
      it::guid, it::pointer, it::filetime, it::systemtime, it::sid, it::hex_int32, it::hex_int64,
      it::utf16_text, it::ansi_text, it::binary, it::uint8, it::int8, it::uint16, it::pointer,
      it::sid, it::uint32, it::guid, bytes_by_next_word, wc::back_utf16, wc::back_ansi, wc::back_bytes,
      wc::back_utf16_list, wc::back_ansi_list, wc::back_bytes, wc::back_bytes, wc::back_u32s,
      wc::back_u32s, wc::back_u32s, wc::back_pointers, wc::ansi_n, it::utf16_slot6,
      it::utf16_slot8, wc::utf16_slot32, it::utf16_slot512, it::raw16, with_n(wc::pointers_n, 2)};
  std::string expected;
  for (const u16 w : words) expected += std::to_string(w) + "\n";
  expected += std::to_string(class_version_base) + "\n";
  const vesk_result r = run_program(VESK_PYTHON, {"-c", script, VESK_SOURCE_DIR "/tools"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, expected);
}

}  // namespace
