#include "support/log_builder.hpp"

#include <cstdio>
#include <cstdlib>

namespace logbuild {

namespace {

// A layout that does not land on the offset its comment names is a bug in
// this builder; stop at once rather than hand a test the wrong bytes.
void expect_at(const writer& w, u64 offset) {
  if (w.size() != offset) {
    std::fprintf(stderr, "log_builder: field expected at %llu, writer at %llu\n",
                 static_cast<unsigned long long>(offset), static_cast<unsigned long long>(w.size()));
    std::abort();
  }
}

void put_le(byte_array& bytes, u64 off, u64 v, unsigned width) {
  for (unsigned i = 0; i < width; ++i) bytes.at(off + i) = static_cast<u8>(v >> (8 * i));
}

}  // namespace

guid guid_of(std::string_view text) {
  byte_array b;
  if (!parse_guid_text(std::string(text), b) || b.size() != 16) return guid{};
  return guid(b.data());
}

// ---- writer ----

writer& writer::put_u8(u8 v) {
  bytes_.push_back(v);
  return *this;
}
writer& writer::put_u16(u16 v) {
  for (int i = 0; i < 2; ++i) bytes_.push_back(static_cast<u8>(v >> (8 * i)));
  return *this;
}
writer& writer::put_u32(u32 v) {
  for (int i = 0; i < 4; ++i) bytes_.push_back(static_cast<u8>(v >> (8 * i)));
  return *this;
}
writer& writer::put_u64(u64 v) {
  for (int i = 0; i < 8; ++i) bytes_.push_back(static_cast<u8>(v >> (8 * i)));
  return *this;
}
writer& writer::put_i32(i32 v) { return put_u32(static_cast<u32>(v)); }
writer& writer::put_guid(const guid& g) {
  bytes_.insert(bytes_.end(), std::begin(g.bytes), std::end(g.bytes));
  return *this;
}
writer& writer::put_utf16(std::u16string_view text, bool terminator) {
  for (char16_t c : text) put_u16(static_cast<u16>(c));
  if (terminator) put_u16(0);
  return *this;
}
writer& writer::put_bytes(std::span<const u8> bytes) {
  bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
  return *this;
}
writer& writer::put_zeros(u64 n) {
  bytes_.insert(bytes_.end(), n, 0);
  return *this;
}
writer& writer::pad_to(u64 size) {
  if (bytes_.size() < size) put_zeros(size - bytes_.size());
  return *this;
}
writer& writer::align_to(u64 step) { return pad_to((bytes_.size() + step - 1) / step * step); }

void writer::set_u16_at(u64 off, u16 v) { put_le(bytes_, off, v, 2); }
void writer::set_u32_at(u64 off, u32 v) { put_le(bytes_, off, v, 4); }
void writer::set_u64_at(u64 off, u64 v) { put_le(bytes_, off, v, 8); }

void set_u16(byte_array& bytes, u64 off, u16 v) { put_le(bytes, off, v, 2); }
void set_u32(byte_array& bytes, u64 off, u32 v) { put_le(bytes, off, v, 4); }
void set_u64(byte_array& bytes, u64 off, u64 v) { put_le(bytes, off, v, 8); }

// ---- buffer headers ----

byte_array build_buffer_header(const buffer_header_fields& f) {
  writer w;
  w.put_u32(f.buffer_size);      //  0 buffer size, header included
  w.put_u32(f.saved_offset);     //  4 saved offset
  w.put_u32(f.current_offset);   //  8 current offset
  w.put_u32(0);                  // 12 reference count
  w.put_u64(f.time);             // 16 buffer time
  w.put_u64(f.sequence);         // 24 sequence number
  w.put_u64(0);                  // 32 clock
  w.put_u8(f.processor);         // 40 processor number
  w.put_u8(0);                   // 41 alignment
  w.put_u16(f.logger_id);        // 42 logger id
  w.put_u32(0);                  // 44 buffer state
  w.put_u32(f.filled_length);    // 48 bytes in use
  w.put_u32(0);                  // 52 buffer flags and type
  w.put_u32(0);                  // 56 low half of a pointer
  w.put_u32(f.pointer_word);     // 60 high half of a pointer
  w.put_u64(0);                  // 64
  expect_at(w, 72);
  return w.take();
}

byte_array build_rlfs_buffer_header(const buffer_header_fields& f) {
  writer w;
  w.put_u16(static_cast<u16>(f.current_offset));  //  0 becomes the current offset
  w.put_u16(f.record_type);      //  2 record type
  w.put_u32(f.buffer_size);      //  4 buffer size, header included
  w.put_u32(0);                  //  8
  w.put_u32(0);                  // 12
  w.put_u64(f.time);             // 16 buffer time
  w.put_u64(f.sequence);         // 24 (low half kept)
  w.put_u64(0);                  // 32
  w.put_u8(f.processor);         // 40 processor number
  w.put_u8(0);                   // 41
  w.put_u16(f.logger_id);        // 42 logger id
  w.put_u32(0);                  // 44
  w.put_u32(f.filled_length);    // 48 bytes in use
  w.put_u32(0);                  // 52
  w.put_u32(0);                  // 56
  w.put_u32(f.pointer_word);     // 60
  w.put_u64(0);                  // 64
  expect_at(w, 72);
  return w.take();
}

// ---- the logfile-header first buffer ----

byte_array build_logfile_first_buffer(const logfile_header_fields& f) {
  const bool wide = f.pointer_size == 8;
  writer w;
  buffer_header_fields bh;
  bh.buffer_size = f.first_buffer_size;
  w.put_bytes(build_buffer_header(bh));  // 0..71 buffer header; 48 patched below

  // system trace header of the logfile-header record
  w.put_u16(2);                          //  72 version
  w.put_u16(wide ? 0xC002 : 0xC001);     //  74 type code
  w.put_u16(0);                          //  76 record size, patched below
  w.put_u16(0);                          //  78 hook id
  w.put_u32(f.thread_id);                //  80 thread id
  w.put_u32(f.process_id);               //  84 process id
  w.put_u64(f.record_time);              //  88 record time
  w.put_u64(f.processor_time);           //  96 processor time
  expect_at(w, 104);
  w.put_u32(f.first_buffer_size);        // 104 buffer size
  w.put_u32(f.version);                  // 108 version
  w.put_u32(f.provider_version);         // 112 provider version
  w.put_u32(f.num_processors);           // 116 number of processors
  w.put_u64(f.end_time);                 // 120 end time
  w.put_u32(f.timer_resolution);         // 128 timer resolution
  w.put_u32(f.max_file_size);            // 132 maximum file size
  w.put_u32(f.log_file_mode);            // 136 log-file mode
  w.put_u32(f.buffers_written);          // 140 buffers written
  w.put_u32(f.start_buffers);            // 144 start buffers
  expect_at(w, 148);
  w.put_u32(f.pointer_size);             // 148 pointer size
  w.put_u32(f.events_lost);              // 152 events lost
  w.put_u32(f.cpu_speed_mhz);            // 156 CPU speed in MHz
  expect_at(w, 160);
  if (wide) {
    w.put_u64(f.logger_name_ptr);        // 160 logger-name pointer
    w.put_u64(f.log_file_name_ptr);      // 168 log-file-name pointer
  } else {
    w.put_u32(static_cast<u32>(f.logger_name_ptr));    // 160 logger-name pointer
    w.put_u32(static_cast<u32>(f.log_file_name_ptr));  // 164 log-file-name pointer
  }
  const u64 s = wide ? 0 : 8;  // the 4-byte layout is 8 bytes earlier from here
  expect_at(w, 176 - s);
  w.put_i32(f.timezone_bias);            // 176 bias in minutes
  w.put_utf16(f.standard_name, false).pad_to(244 - s);  // 180 standard name, 32 units
  for (u16 v : f.standard_date) w.put_u16(v);           // 244 standard date
  w.put_i32(f.standard_bias);            // 260 standard bias
  w.put_utf16(f.daylight_name, false).pad_to(328 - s);  // 264 daylight name, 32 units
  for (u16 v : f.daylight_date) w.put_u16(v);           // 328 daylight date
  w.put_i32(f.daylight_bias);            // 344 daylight bias
  w.put_u32(f.padding_after_time_zone);  // 348 padding
  expect_at(w, 352 - s);
  w.put_u64(f.boot_time);                // 352 boot time
  w.put_u64(f.perf_freq);                // 360 performance frequency
  w.put_u64(f.start_time);               // 368 start time
  w.put_u32(f.clock_type);               // 376 clock type
  w.put_u32(f.buffers_lost);             // 380 buffers lost
  expect_at(w, 384 - s);
  w.put_utf16(f.logger_name);            // 384 logger name and its 0 unit
  w.put_utf16(f.log_file_name);          // then the log-file name and its 0 unit
  const u64 record_end = w.size();
  w.set_u16_at(76, f.record_size != 0 ? f.record_size : static_cast<u16>(record_end - 72));
  w.align_to(8);
  w.set_u32_at(48, static_cast<u32>(w.size()));  // filled length
  w.pad_to(f.first_buffer_size);
  return w.take();
}

// ---- the "RlFs" header ----

byte_array build_rlfs_header(const rlfs_header_fields& f) {
  writer w;
  w.put_u32(0x73466C52);       //  0 "RlFs"
  w.put_u32(0);                //  4
  w.put_u64(0);                //  8
  w.put_u64(f.time);           // 16 FILETIME
  w.put_u64(f.start_time);     // 24 start time
  w.put_u64(0);                // 32
  w.put_u32(f.buffers_start);  // 40 offset of the first buffer
  w.put_u32(0);                // 44
  w.put_u64(f.header_length);  // 48 header length
  w.pad_to(72);                // 56..71
  w.pad_to(f.header_length);
  return w.take();
}

// ---- trace records ----

byte_array build_record(const record_9000& r) {
  writer w;
  w.put_u16(0);                  //  0 record size, patched below
  w.put_u16(0x9000);             //  2 type code
  w.put_u16(r.event_id);         //  4 event id
  w.put_u16(r.property);         //  6 event property
  if (r.variant == 28) w.put_u32(0);  //  8 sequence (28-byte variant only)
  w.put_guid(r.provider);        //  8 or 12 message GUID
  w.put_u64(r.time);             // 24 or 28 time
  w.put_u32(r.thread_id);        // 32 or 36 thread id
  w.put_u32(r.process_id);       // 36 or 40 process id
  expect_at(w, r.variant == 28 ? 44 : 40);
  w.put_bytes(r.payload);        // payload
  w.set_u16_at(0, static_cast<u16>(w.size()));
  return w.take();
}

byte_array build_ext_items(const std::vector<ext_item_fields>& items) {
  writer w;
  for (std::size_t i = 0; i < items.size(); ++i) {
    const u64 start = w.size();
    const u64 size = (8 + items[i].data.size() + 7) / 8 * 8;
    w.put_u16(static_cast<u16>(size));                    // 0 item size, header included
    w.put_u16(items[i].type);                             // 2 type
    w.put_u16(i + 1 < items.size() ? 1 : 0);              // 4 link: another item follows
    w.put_u16(static_cast<u16>(items[i].data.size()));    // 6 data size
    w.put_bytes(items[i].data);                           // 8 data
    w.pad_to(start + size);                               // padding to 8
  }
  return w.take();
}

byte_array build_schema(const byte_array& tags, const std::string& event,
                        const std::vector<schema_field_bytes>& fields) {
  writer w;
  w.put_u16(0);                              // 0 size of the schema, patched below
  w.put_bytes(tags);                         // 2 event tags
  w.put_bytes(byte_array(event.begin(), event.end())).put_u8(0);  // event name
  for (const schema_field_bytes& f : fields) {
    w.put_bytes(byte_array(f.name.begin(), f.name.end())).put_u8(0);  // field name
    w.put_bytes(f.type);                                              // its type bytes
  }
  w.set_u16_at(0, static_cast<u16>(w.size()));
  return w.take();
}

byte_array build_record(const record_event& r) {
  const bool full = r.type_code == 0xC012 || r.type_code == 0xC013;
  writer w;
  u16 flags = r.flags;
  if (!r.items.empty()) flags |= 0x0001;
  w.put_u16(0);                  //  0 record size, patched below
  w.put_u16(r.type_code);        //  2 type code
  w.put_u16(flags);              //  4 flags, bit 0: extended data
  w.put_u16(r.property);         //  6 event property
  w.put_u32(r.thread_id);        //  8 thread id
  w.put_u32(r.process_id);       // 12 process id
  w.put_u64(r.time);             // 16 time
  w.put_guid(r.provider);        // 24 provider GUID
  w.put_u16(r.event_id);         // 40 event id
  w.put_u8(r.version);           // 42 version
  w.put_u8(r.channel);           // 43 channel
  w.put_u8(r.level);             // 44 level
  w.put_u8(r.opcode);            // 45 opcode
  w.put_u16(r.task);             // 46 task
  expect_at(w, 48);
  if (full) {
    w.put_u64(r.keywords);         // 48 keywords
    w.put_u64(r.processor_time);   // 56 processor time
    w.put_guid(r.activity);        // 64 activity id
    expect_at(w, 80);
  }
  w.put_bytes(build_ext_items(r.items));  // 80 or 48: extended-data items
  w.put_bytes(r.payload);                 // payload
  w.set_u16_at(0, static_cast<u16>(w.size()));
  return w.take();
}

byte_array build_record(const record_generic& r) {
  writer w;
  w.put_u16(r.version);          //  0 version
  w.put_u16(r.type_code);        //  2 type code
  w.put_u16(0);                  //  4 record size, patched below
  w.put_u16(r.hook_id);          //  6 hook id
  switch (r.type_code) {
    case 0xC011:
    case 0xC010:
      w.put_u64(r.time);           //  8 time
      expect_at(w, 16);
      break;
    case 0xC002:
    case 0xC001:
      w.put_u32(r.thread_id);      //  8 thread id
      w.put_u32(r.process_id);     // 12 process id
      w.put_u64(r.time);           // 16 time
      w.put_u64(r.processor_time); // 24 processor time
      expect_at(w, 32);
      break;
    default:
      break;
  }
  w.put_bytes(r.payload);        // payload
  w.set_u16_at(4, static_cast<u16>(w.size()));
  return w.take();
}

// ---- buffers ----

buffer_builder::buffer_builder(buffer_header_fields header, bool rlfs_layout)
    : header_(header), rlfs_layout_(rlfs_layout) {
  body_.put_zeros(72);  // the header, written by finish()
}

buffer_builder& buffer_builder::add(const byte_array& record) {
  body_.align_to(8);
  offsets_.push_back(body_.size());
  body_.put_bytes(record);
  return *this;
}

buffer_builder& buffer_builder::add_garbage(u64 n, u8 fill) {
  return add(byte_array(n, fill));
}

byte_array buffer_builder::finish() const {
  buffer_header_fields h = header_;
  const u64 filled = body_.size();
  h.filled_length = static_cast<u32>(filled);
  const u64 rounded = (filled + 7) / 8 * 8;
  if (h.buffer_size < rounded) h.buffer_size = static_cast<u32>(rounded);
  writer w;
  w.put_bytes(rlfs_layout_ ? build_rlfs_buffer_header(h) : build_buffer_header(h));
  w.put_bytes(std::span<const u8>(body_.bytes()).subspan(72));
  w.pad_to(h.buffer_size);
  return w.take();
}

// ---- template blocks ----

void put_count(writer& w, u32 value) {
  if (value < 0x80) {
    w.put_u8(static_cast<u8>(value));
  } else {
    w.put_u8(static_cast<u8>(0x80 | (value >> 8)));  // high part first, top bit set
    w.put_u8(static_cast<u8>(value & 0xFF));
  }
}

byte_array build_name_table(const std::vector<std::string>& names) {
  writer w;
  put_count(w, static_cast<u32>(names.size()));
  for (const std::string& name : names) {
    put_count(w, static_cast<u32>(name.size()));
    w.put_bytes(std::span<const u8>(reinterpret_cast<const u8*>(name.data()), name.size()));
  }
  return w.take();
}

byte_array build_template_chunk(const template_chunk_fields& f) {
  writer w;
  w.put_u16(0);                                              // L, set below
  w.put_u8(static_cast<u8>(f.selectors.size()));             // S
  for (u16 s : f.selectors) w.put_u16(s);                    // selector values
  w.put_guid(f.provider);                                    // provider GUID
  w.put_u16(f.name_index);                                   // provider-name index
  w.put_u8(f.range ? 1 : 0);                                 // range flag
  if (f.range) w.put_u16(f.first_id).put_u16(f.last_id);     // first and last id
  w.put_u8(static_cast<u8>(f.ids.size()));                   // I
  for (u16 id : f.ids) w.put_u16(id);                        // event ids
  w.put_u8(static_cast<u8>(f.types.size()));                 // F
  for (u16 t : f.types) w.put_u16(t);                        // type words
  for (u16 n : f.name_indexes) w.put_u16(n);                 // field-name indexes
  w.set_u16_at(0, f.length >= 0 ? static_cast<u16>(f.length) : static_cast<u16>(w.size() - 2));
  return w.take();
}

// ---- damage ----

byte_array cut_short(const byte_array& bytes, u64 n) {
  return byte_array(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
}

void set_record_size(byte_array& buffer, u64 offset, u16 size, bool generic_header) {
  set_u16(buffer, offset + (generic_header ? 4 : 0), size);
}

void zero_buffer_size(byte_array& file, u64 offset, bool rlfs_layout) {
  set_u32(file, offset + (rlfs_layout ? 4 : 0), 0);
}

byte_array join(std::initializer_list<byte_array> pieces) {
  byte_array out;
  for (const byte_array& p : pieces) out.insert(out.end(), p.begin(), p.end());
  return out;
}

}  // namespace logbuild
