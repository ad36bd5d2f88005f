#pragma once
// One trace record waiting to be written: its header fields, its provider,
// its times and its decoded fields, held under the record's file offset
// until the end of its buffer.
#include <array>
#include <string>

#include "common/guid.hpp"
#include "common/zarn_types.hpp"
#include "decode/field_map.hpp"
#include "etl/etl_headers.hpp"

struct event_descriptor {
  u16 id = 0;
  u8 version = 0;
  u8 channel = 0;
  u8 level = 0;
  u8 opcode = 0;
  u16 task = 0;
  u64 keywords = 0;
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
  // The event id every output shows and -stats counts: the hook id for the
  // hook-id kinds, the descriptor's id for the others.
  u16 event_key() const;
  bool has_provider() const { return provider_known != 0; }

  u8 provider_known = 0;   // a provider GUID was found for the record
};
