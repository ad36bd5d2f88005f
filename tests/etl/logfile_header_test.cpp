#include "etl/logfile_header.hpp"

#include <gtest/gtest.h>

#include <limits>

#include "common/byte_reader.hpp"
#include "etl/etl_headers.hpp"
#include "support/log_builder.hpp"
#include "support/samples.hpp"

using namespace logbuild;

namespace {

// ---- every field, both pointer sizes ----

TEST(LogfileHeader, ParsesEveryFieldInBothLayouts) {
  for (u32 pointer_size : {8u, 4u}) {
    SCOPED_TRACE(testing::Message() << "pointer size " << pointer_size);
    logfile_header_fields f;
    f.pointer_size = pointer_size;
    f.logger_name_ptr = 0x11223344;
    f.log_file_name_ptr = 0x55667788;
    f.timezone_bias = 300;
    f.standard_name = u"Eastern Standard Time";
    f.standard_bias = 0;
    const u16 standard_date[8] = {2011, 11, 0, 6, 2, 3, 4, 5};
    std::copy(std::begin(standard_date), std::end(standard_date), f.standard_date);
    f.daylight_name = u"Eastern Daylight Time";
    f.daylight_bias = -60;
    f.padding_after_time_zone = 0xA5A5A5A5;
    f.boot_time = 0x01CC05AFDF9B437Full;
    f.perf_freq = 2335901;
    f.start_time = 0x01CC08C866CC331Bull;
    f.clock_type = 2;
    f.buffers_lost = 3;
    f.logger_name = u"Make Test Data Session";
    f.log_file_name = u"c:\\src\\test.etl";
    // the first buffer: 72-byte buffer header, the logfile-header record at
    // 72 with its names, zeros to 0x1000
    const byte_array buf = build_logfile_first_buffer(f);

    logfile_header_info info;
    ASSERT_TRUE(parse_logfile_header(info, bytes_of(buf)));
    EXPECT_EQ(info.is_64bit(), pointer_size == 8);
    EXPECT_EQ(info.pointer_size(), pointer_size);
    EXPECT_EQ(info.first_buffer_size(), 0x1000u);
    EXPECT_EQ(info.thread_id(), f.thread_id);
    EXPECT_EQ(info.process_id(), f.process_id);
    EXPECT_EQ(info.record_time(), f.record_time);
    EXPECT_EQ(info.processor_time(), f.processor_time);
    EXPECT_EQ(info.buffer_size(), 0x1000u);
    EXPECT_EQ(info.version(), f.version);
    EXPECT_EQ(info.provider_version(), 19045u);
    EXPECT_EQ(info.num_processors(), 8u);
    EXPECT_EQ(info.end_time(), ft_2021);
    EXPECT_EQ(info.timer_resolution(), 156250u);
    EXPECT_EQ(info.max_file_size(), 100u);
    EXPECT_EQ(info.log_file_mode(), 1u);
    EXPECT_EQ(info.buffers_written(), 6u);
    EXPECT_EQ(info.start_buffers(), 1u);
    EXPECT_EQ(info.events_lost(), 0u);
    EXPECT_EQ(info.cpu_speed(), 1992u);
    EXPECT_EQ(info.logger_name_ptr, 0x11223344u);
    EXPECT_EQ(info.log_file_name_ptr, 0x55667788u);
    EXPECT_EQ(info.bias, 300);
    EXPECT_EQ(info.standard_name, "Eastern Standard Time");
    EXPECT_EQ(info.standard_date.year, 2011);
    EXPECT_EQ(info.standard_date.month, 11);
    EXPECT_EQ(info.standard_date.day_of_week, 0);
    EXPECT_EQ(info.standard_date.day, 6);
    EXPECT_EQ(info.standard_date.hour, 2);
    EXPECT_EQ(info.standard_date.minute, 3);
    EXPECT_EQ(info.standard_date.second, 4);
    EXPECT_EQ(info.standard_date.milliseconds, 5);
    EXPECT_EQ(info.standard_bias, 0);
    EXPECT_EQ(info.daylight_name, "Eastern Daylight Time");
    EXPECT_EQ(info.daylight_date.month, 3);
    EXPECT_EQ(info.daylight_date.day, 5);
    EXPECT_EQ(info.daylight_date.hour, 2);
    EXPECT_EQ(info.daylight_bias, -60);
    EXPECT_EQ(info.tz_padding, 0xA5A5A5A5u);
    EXPECT_EQ(info.boot_time, f.boot_time);
    EXPECT_EQ(info.perf_freq, 2335901u);
    EXPECT_EQ(info.start_time, f.start_time);
    EXPECT_EQ(info.clock_type, 2u);
    EXPECT_EQ(info.buffers_lost, 3u);
    EXPECT_EQ(info.logger_name, "Make Test Data Session");
    EXPECT_EQ(info.log_file_name, "c:\\src\\test.etl");
    EXPECT_TRUE(std::equal(info.head.begin(), info.head.end(), buf.begin()));
  }
}

// ---- clock ----

TEST(LogfileHeader, ClockTypes) {
  struct row {
    const char* name;
    u32 clock_type;
    u64 perf_freq;
    u32 cpu_mhz;
    u8 not_filetime, qpc, cycles;
    double tick_factor;
  };
  const row rows[] = {
      {"QpcTenMillion", 1, 10000000, 1992, 1, 1, 0, 1.0},
      {"QpcTwoPointThreeMHz", 1, 2335901, 1992, 1, 1, 0, 1e7 / 2335901.0},
      {"QpcFrequencyZero", 1, 0, 1992, 1, 1, 0, 0.0},
      {"QpcFrequencyTopBit", 1, 0x8000000000000000ull, 1992, 1, 1, 0, 1e7 / 9223372036854775808.0},
      {"CyclesTwoThousandMHz", 3, 10000000, 2000, 1, 0, 1, 0.005},
      {"CyclesSpeedZero", 3, 10000000, 0, 1, 0, 1, 0.0},
      {"SystemTime", 2, 10000000, 2000, 0, 0, 0, 0.0},
      {"Unknown", 7, 10000000, 2000, 0, 0, 0, 0.0},
      {"Zero", 0, 10000000, 2000, 0, 0, 0, 0.0},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    const byte_array buf = build_logfile_first_buffer(
        {.cpu_speed_mhz = r.cpu_mhz, .perf_freq = r.perf_freq, .clock_type = r.clock_type});
    logfile_header_info info;
    ASSERT_TRUE(parse_logfile_header(info, bytes_of(buf)));
    EXPECT_EQ(info.clock_not_filetime, r.not_filetime);
    EXPECT_EQ(info.clock_qpc, r.qpc);
    EXPECT_EQ(info.clock_cpu_cycles, r.cycles);
    EXPECT_DOUBLE_EQ(info.tick_factor, r.tick_factor);
  }
}

TEST(LogfileHeader, TimeBase) {
  constexpr u64 max = std::numeric_limits<u64>::max();
  struct row {
    const char* name;
    u64 start_time;   // at 368
    u64 record_time;  // at 88
    u64 perf_freq;    // QPC clock
    u64 base;
  };
  const row rows[] = {
      {"StartFiletimeRecordTicks", ft_2020, 1000000, 10000000, ft_2020 - 1000000},
      {"StartFiletimeRecordTicksHalfRate", ft_2020, 1000000, 20000000, ft_2020 - 500000},
      {"RecordFiletimeStartTicks", 4000000, ft_2021, 10000000, ft_2021 - 4000000},
      {"BothFiletimes", ft_2020, ft_2021, 10000000, 0},
      {"NeitherFiletime", 5, 7, 10000000, 0},
      {"FrequencyZeroGivesNoScaling", ft_2020, 1000000, 0, ft_2020},
      // ticks times factor beyond 2^64: no base rather than an undefined conversion
      {"ScaledTicksBeyond64Bits", ft_2020, max, 1, 0},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    const byte_array buf = build_logfile_first_buffer(
        {.record_time = r.record_time, .perf_freq = r.perf_freq, .start_time = r.start_time, .clock_type = 1});
    logfile_header_info info;
    ASSERT_TRUE(parse_logfile_header(info, bytes_of(buf)));
    EXPECT_EQ(info.time_base, r.base);
  }
  // scaled ticks beyond the start: the base wraps modulo 2^64, and conversion
  // (ticks times factor plus base) wraps back the same way
  const byte_array buf = build_logfile_first_buffer(
      {.record_time = 20000000000ull, .perf_freq = 1, .start_time = ft_2020, .clock_type = 1});
  logfile_header_info info;
  ASSERT_TRUE(parse_logfile_header(info, bytes_of(buf)));
  EXPECT_EQ(info.time_base, ft_2020 - 200000000000000000ull);  // modulo 2^64
}

// ---- names ----

TEST(LogfileHeader, NamesAreBoundedByTheRecordAndTheBytesHeld) {
  // logger name "Test Session" (12 units) at 384, its 0 unit at 408; log-file
  // name "c:\logs\test.etl" (16 units) at 410..441, its 0 unit at 442; the
  // record from 72 ends at 444 (size 372)
  struct row {
    const char* name;
    u16 record_size;  // u16 at 76
    u64 held;         // bytes of the first buffer held
    const char* logger;
    const char* log_file;
  };
  const row rows[] = {
      {"WholeRecord", 372, 0x1000, "Test Session", "c:\\logs\\test.etl"},
      {"RecordEndsBeforeLastLogFileUnit", 368, 0x1000, "Test Session", "c:\\logs\\test.et"},
      {"RecordEndsOddByteInsideLogFileName", 367, 0x1000, "Test Session", "c:\\logs\\test.e"},
      {"RecordEndsAtLoggerTerminator", 336, 0x1000, "Test Session", ""},
      {"RecordEndsInsideLoggerName", 330, 0x1000, "Test Sess", ""},
      {"RecordEndsBeforeLoggerName", 300, 0x1000, "", ""},
      {"RecordSizeZero", 0, 0x1000, "", ""},
      {"RecordSizeMaxBytesHeldCut", 0xFFFF, 430, "Test Session", "c:\\logs\\te"},
      {"RecordSizeMaxHeld386", 0xFFFF, 386, "T", ""},
      {"RecordSizeMaxHeld388", 0xFFFF, 388, "Te", ""},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    byte_array buf = build_logfile_first_buffer({.record_size = 372});
    set_u16(buf, 76, r.record_size);
    const byte_array held = cut_short(buf, r.held);
    logfile_header_info info;
    ASSERT_TRUE(parse_logfile_header(info, bytes_of(held)));
    EXPECT_EQ(info.logger_name, r.logger);
    EXPECT_EQ(info.log_file_name, r.log_file);
  }
}

TEST(LogfileHeader, LoggerNameRunsIntoLogFileName) {
  // logger "AB" at 384, its 0 unit at 388, "CD" at 390, its 0 unit at 394;
  // the record ends at 396
  logfile_header_fields f;
  f.logger_name = u"AB";
  f.log_file_name = u"CD";
  byte_array buf = build_logfile_first_buffer(f);
  set_u16(buf, 384 + 4, 0x0058);  // "X" over the logger name's 0 unit: the names run together
  logfile_header_info info;
  ASSERT_TRUE(parse_logfile_header(info, bytes_of(buf)));
  EXPECT_EQ(info.logger_name, "ABXCD");
  EXPECT_EQ(info.log_file_name, "");  // it would start past the record's end
}

TEST(LogfileHeader, NameTextConversion) {
  struct row {
    const char* name;
    std::u16string units;
    std::string utf8;
  };
  const row rows[] = {
      {"Ascii", u"trace", "trace"},
      {"Latin", u"caf\u00e9", "caf\xC3\xA9"},
      {"SurrogatePair", u"a\U0001F600", "a\xF0\x9F\x98\x80"},
      {"LoneLowSurrogate", std::u16string{u'a', char16_t(0xDC00)}, "a\xED\xB0\x80"},
      // a high surrogate without its partner: every unit is taken as it is,
      // the valid pair after it included
      {"LoneHighSurrogate",
       std::u16string{char16_t(0xD83D), u'A', char16_t(0xD83D), char16_t(0xDE00)},
       "\xED\xA0\xBD" "A" "\xED\xA0\xBD\xED\xB8\x80"},
      {"HighSurrogateLast", std::u16string{u'A', char16_t(0xD83D)}, "A\xED\xA0\xBD"},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    const byte_array buf = build_logfile_first_buffer({.standard_name = r.units, .logger_name = r.units});
    logfile_header_info info;
    ASSERT_TRUE(parse_logfile_header(info, bytes_of(buf)));
    EXPECT_EQ(info.logger_name, r.utf8);
    EXPECT_EQ(info.standard_name, r.utf8);
    EXPECT_EQ(info.log_file_name, "c:\\logs\\test.etl");  // found after the logger name's units
  }
}

TEST(LogfileHeader, TimeZoneNamesStopAt32Units) {
  // 32 units fill each name field with no 0 unit; the SYSTEMTIME after each
  // starts with the unit 0x0041 ("A"), which must not join the name
  logfile_header_fields f;
  f.standard_name = std::u16string(32, u'x');
  f.daylight_name = std::u16string(32, u'y');
  f.standard_date[0] = 0x41;
  f.daylight_date[0] = 0x41;
  const byte_array buf = build_logfile_first_buffer(f);
  logfile_header_info info;
  ASSERT_TRUE(parse_logfile_header(info, bytes_of(buf)));
  EXPECT_EQ(info.standard_name, std::string(32, 'x'));
  EXPECT_EQ(info.daylight_name, std::string(32, 'y'));
  EXPECT_EQ(info.standard_date.year, 0x41);
  EXPECT_EQ(info.daylight_date.year, 0x41);
}

// ---- damage, by name ----

TEST(LogfileHeader, NamedCorruptions) {
  // the default first buffer: "Test Session" at 384, "c:\\logs\\test.etl"
  // at 410, record size 372 at 76, hook id 0 at 78
  struct row {
    const char* name;
    u64 offset;  // where the damage is written
    u32 value;
    unsigned width;  // 2 or 4 bytes, 0 for none
    const char* logger;
    const char* log_file;
  };
  const row rows[] = {
      {"None", 0, 0, 0, "Test Session", "c:\\logs\\test.etl"},
      // read as the 4-byte layout: 376 holds the u32 clock type 1
      {"PointerSizeGarbage", 148, 0xDEAD, 4, "\x01", ""},
      {"RecordSizeBeyondBuffer", 76, 0xFFFF, 2, "Test Session", "c:\\logs\\test.etl"},
      {"RecordSizeCutsLogFileName", 76, 368, 2, "Test Session", "c:\\logs\\test.et"},
      // the hook id beside the u16 size is not part of the size
      {"RecordSizeCutsLogFileNameHookIdSet", 76, 0xFFFF0000u | 368u, 4, "Test Session",
       "c:\\logs\\test.et"},
      {"FirstBufferSizeZero", 0, 0, 4, "Test Session", "c:\\logs\\test.etl"},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    byte_array buf = build_logfile_first_buffer({});
    if (r.width == 4) set_u32(buf, r.offset, r.value);
    if (r.width == 2) set_u16(buf, r.offset, static_cast<u16>(r.value));
    logfile_header_info info;
    EXPECT_TRUE(parse_logfile_header(info, bytes_of(buf)));
    EXPECT_EQ(info.logger_name, r.logger);
    EXPECT_EQ(info.log_file_name, r.log_file);
  }
}

// Every cut of a first buffer, in a vector of exactly that size: 385 bytes or
// fewer are not parsed; more give names that are prefixes of the whole ones.
TEST(LogfileHeader, CutAtEveryLength) {
  for (u32 pointer_size : {8u, 4u}) {
    SCOPED_TRACE(testing::Message() << "pointer size " << pointer_size);
    const byte_array buf = cut_short(build_logfile_first_buffer({.pointer_size = pointer_size}), 480);
    logfile_header_info whole;
    ASSERT_TRUE(parse_logfile_header(whole, bytes_of(buf)));
    for (u64 n = 0; n <= buf.size(); ++n) {
      const byte_array cut = cut_short(buf, n);
      logfile_header_info info;
      info.logger_name = "stale";
      const bool ok = parse_logfile_header(info, bytes_of(cut));
      ASSERT_EQ(ok, n >= 386) << n;
      if (!ok) {
        EXPECT_EQ(info.logger_name, "") << n;
        EXPECT_FALSE(info.is_64bit()) << n;
        continue;
      }
      EXPECT_EQ(info.clock_type, whole.clock_type) << n;
      EXPECT_EQ(info.start_time, whole.start_time) << n;
      EXPECT_EQ(whole.logger_name.rfind(info.logger_name, 0), 0u) << n;
      EXPECT_EQ(whole.log_file_name.rfind(info.log_file_name, 0), 0u) << n;
    }
  }
}

// Clearing leaves nothing of an earlier file, the copied first bytes included.
TEST(LogfileHeader, ClearForgetsTheEarlierFile) {
  const byte_array buf = build_logfile_first_buffer({});
  logfile_header_info info;
  ASSERT_TRUE(parse_logfile_header(info, bytes_of(buf)));
  ASSERT_TRUE(info.is_64bit());
  ASSERT_NE(info.tick_factor, 0.0);
  EXPECT_FALSE(parse_logfile_header(info, bytes_of(byte_array(385, 0))));
  EXPECT_FALSE(info.is_64bit());
  EXPECT_EQ(info.first_buffer_size(), 0u);
  EXPECT_EQ(info.logger_name, "");
  EXPECT_EQ(info.tick_factor, 0.0);
  EXPECT_EQ(info.time_base, 0u);
  EXPECT_EQ(info.clock_qpc, 0);
}

TEST(LogfileHeader, LoggerNameOffsets) {
  EXPECT_EQ(logger_name_offset(true), 384u);
  EXPECT_EQ(logger_name_offset(false), 376u);
}

// ---- real logs ----

TEST(RealLogs, LogfileHeaders) {
  struct row {
    const char* file;
    bool is_64bit;
    const char* logger;
    const char* log_file;
    u32 clock_type;
    double tick_factor;
    i32 bias;
  };
  const row rows[] = {
      {"airbus_AMSITrace.etl", true, "AMSITraceSession", "c:\\work\\AMSITrace.etl", 1, 1.0, -60},
      {"airbus_lxcore_kernel.etl", true, "lxcore_kernel", "C:\\Prog\\lxcore_kernel.etl", 1, 1.0, -480},
      {"hw3d_trace.etl", true, "trace", "C:\\Users\\RBees\\OneDrive\\Source\\Cpp\\hw3d\\trace.etl", 1, 1.0,
       480},
      {"krabsetw_powershell.etl", true, "usermode_trace", "C:\\Users\\aaaaa\\output1.etl", 1, 1.0, 300},
      {"perfview_gcevents.etl", true, "PerfViewSession", "C:\\Dev\\runtime\\CoreLab\\PerfViewData.etl", 1,
       1.0, 480},
      {"perfview_primitive-types.etl", true, "solar_system", "C:\\primitive-types_000004.etl", 1, 1.0, -120},
      // a system-time clock: record times are FILETIMEs already
      {"s4_CldFlt0-2025-12-21-121418.etl", true, "CldFltLog",
       "C:\\Windows\\System32\\LogFiles\\CloudFiles\\CldFlt0.etl", 2, 0.0, 480},
      {"s4_WindowsUpdate.20251008.140245.443.8.etl", true, "WindowsUpdate_trace_log",
       "C:\\Windows\\Logs\\WindowsUpdate\\WindowsUpdate.20251008.140245.443.8.etl", 1, 1.0, 480},
      // 4-byte pointers: every field from the bias on 8 bytes earlier
      {"sawbuck_image_data_64_v2.etl", false, "Make Test Data Session",
       "c:\\src\\sawbuck\\trunk\\src\\sawbuck\\log_lib\\test_data\\image_data_64_v2.etl", 1,
       1e7 / 2337949.0, 300},
      {"sonde_test.etl", true, "Relogger", "[multiple files]", 1, 1.0, 480},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.file);
    byte_array file;
    if (!read_sample(r.file, file)) GTEST_SKIP() << "samples folder not found: " << VESK_SAMPLES_DIR;
    ASSERT_EQ(etl_file_kind(bytes_of(file), file.size()), etl_file_kind_t::logfile_header);
    const byte_array first = cut_short(file, zarn::u32_at(bytes_of(file), 0));
    logfile_header_info info;
    ASSERT_TRUE(parse_logfile_header(info, bytes_of(first)));
    EXPECT_EQ(info.is_64bit(), r.is_64bit);
    EXPECT_EQ(info.logger_name, r.logger);
    EXPECT_EQ(info.log_file_name, r.log_file);
    EXPECT_EQ(info.clock_type, r.clock_type);
    EXPECT_EQ(info.clock_not_filetime, r.clock_type == 1 ? 1 : 0);
    EXPECT_DOUBLE_EQ(info.tick_factor, r.tick_factor);
    EXPECT_EQ(info.bias, r.bias);
    EXPECT_TRUE(zarn::is_valid_filetime(info.start_time));
    // the record's own time is a tick count under a QPC clock, so the base
    // ties it to the start time
    if (r.clock_type == 1) {
      EXPECT_FALSE(zarn::is_valid_filetime(info.record_time()));
      EXPECT_EQ(info.time_base,
                info.start_time - static_cast<u64>(static_cast<double>(info.record_time()) * r.tick_factor));
    }
  }
}

}  // namespace
