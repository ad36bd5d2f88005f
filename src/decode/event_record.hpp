#pragma once
// One trace record waiting to be written: its header fields, its provider,
// its times and its decoded fields, held under the record's file offset
// until the end of its buffer.
#include <array>
#include <string>

#include "common/guid.hpp"
#include "common/zarn_types.hpp"
#include "decode/field_map.hpp"
#include "decode/kept_store.hpp"

// The kind an event record stores, as the outputs number it.
enum class event_kind : u32 {
  none = 0,           // not decoded yet
  trace_9000_24 = 1,  // 0x9000 trace message, GUID at 8
  trace_9000_28 = 2,  // 0x9000 trace message, GUID at 12
  system_c002 = 3,    // 0xC002 / 0xC001 system header
  perfinfo_c011 = 4,  // 0xC011 / 0xC010 perfinfo header
  classic_c00a = 5,   // 0xC00A / 0xC014 classic trace header
  event_c012 = 6,     // 0xC012 event header
  event_c013 = 7,     // 0xC013 event header
  generic = 8,        // another generic header (version 2 to 5)
  corrupted = 9,      // bytes no record test accepted, or a compressed buffer
};

struct event_descriptor {
  u16 id = 0;
  u8 version = 0;
  u8 channel = 0;
  u8 level = 0;
  u8 opcode = 0;
  u16 task = 0;
  u64 keywords = 0;

  bool operator==(const event_descriptor&) const = default;
};

struct event_record {
  // The event header part.
  u16 size = 0;            // record size as its header states it
  u16 header_type = 0;     // type code
  u16 flags = 0;
  u16 event_property = 0;
  u32 thread_id = 0;
  u32 process_id = 0;
  u64 raw_time = 0;        // the record's own time field (FILETIME or ticks)
  guid provider;
  event_descriptor descriptor;
  u64 processor_time = 0;
  guid activity;

  // The rest.
  u16 hook_event_id = 0;   // event id of the hook-id kinds (system, perfinfo, generic)
  u8 processor_number = 0; // from the buffer
  u16 logger_id = 0;       // from the buffer
  u64 filetime = 0;        // the time as a FILETIME; 0 when it could not be converted
  std::string provider_name;
  field_map fields;
  event_kind kind = event_kind::none;
  u8 guessed = 0;          // guessing decoded part of the payload
  u8 record_ok = 0;        // the record's header was recognised
  u64 file_offset = 0;     // where the record starts in the file
  u64 payload_offset = 0;  // file offset of the payload's first byte (for a
                           // corrupted record: of the first skipped byte)
  u32 payload_size = 0;    // payload bytes (for a corrupted record: bytes skipped)
  u8 compressed = 0;       // a corrupted record that covers a compressed buffer,
                           // whose records are not read

  // Zeroes everything from hook_event_id on, empties the name and the
  // fields; the header part stays.
  void clear();
  // Every member back to its default, the name's and the fields' storage
  // kept for the next record. Built with assertions, it checks that the
  // record then equals a new one, so that a member left out cannot carry the
  // previous event's value into the next.
  void reset();
  // The event id every output shows and -stats counts: the hook id for the
  // hook-id kinds, the descriptor's id for the others.
  u16 event_key() const;
  bool has_provider() const { return provider_known != 0; }

  u8 provider_known = 0;   // a provider GUID was found for the record

  // Member by member; the fields compare by the fields held.
  bool operator==(const event_record&) const = default;
};

// The records of the buffer being walked, by file offset, in offset order.
// A record the flush empties keeps its storage (its fields', its name's) for
// the next buffer's records.
class pending_records : public kept_store<u64, event_record> {
 public:
  // A record in its default state at `offset`; null when one is pending
  // there already.
  event_record* add(u64 offset);
  // The record at `offset`; std::out_of_range when none is pending there.
  const event_record& at(u64 offset) const;
};
