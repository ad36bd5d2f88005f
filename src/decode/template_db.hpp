#pragma once
// The template database as it is stored: the block the build places in the
// program's own executable file (a read-only section of its own, which
// strip keeps where it is), located through a record in the program's
// read-only data, and the template records it parses into before they are
// compiled into the lookup that decoding uses.
#include <cstddef>
#include <map>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "common/guid.hpp"
#include "common/zarn_types.hpp"

// Where the block lies in the program's own file. The build step finds this
// record by its marker and writes behind it the block's file offset, its
// length and the MD5 digest of its bytes. It is volatile so that the
// compiler neither folds the zeros it is linked with into the code nor drops
// the record.
struct template_block_locator {
  char marker[16];  // "VESK_TEMPLATE_DB", no terminator
  u32 offset;       // little-endian
  u32 length;
  u8 digest[16];    // MD5 of the block's bytes
};
static_assert(sizeof(template_block_locator) == 40);
extern const volatile template_block_locator template_db_locator;

// The executable image stands in front of the block: an offset below this
// is no block.
inline constexpr u32 min_block_offset = 4096;

// Reads `length` bytes at `offset` of the file at `path` (the program's own
// file when none is given). False, with `out` empty, when the offset is below
// 4096, the file cannot be opened, or it does not hold the whole block (a
// block cut short is damage: none of it is used). Nothing is reported.
[[nodiscard]] bool read_template_block(byte_array& out, u32 offset, u32 length);
[[nodiscard]] bool read_template_block(byte_array& out, u32 offset, u32 length,
                                       const std::string& path);

// Reads the block that `at` locates in the file at `path` and checks that it
// is the block the build placed there. False, with `out` empty, when
// read_template_block fails (an empty locator among others) or the bytes'
// MD5 digest is not the locator's: a section emptied or overwritten after
// the build, or a file whose layout was changed, reads back as other bytes,
// and templates taken from those would name fields wrongly. Nothing is
// reported.
[[nodiscard]] bool read_located_template_block(byte_array& out,
                                               const volatile template_block_locator& at,
                                               const std::string& path);

// The chunk layout of a template record in the block, from the chunk's first
// byte: u16 L (the bytes that follow it), u8 S and S u16 selectors, the
// 16-byte provider GUID, u16 provider-name index, u8 range flag and, when it
// is set, u16 first and u16 last id, u8 I and I u16 event ids, u8 F and F u16
// type words, then F u16 field-name indexes.
namespace template_chunk {
// The smallest chunk that can be read: L, S, GUID, name index, range flag.
inline constexpr u64 min_bytes = 20;
}  // namespace template_chunk

// One chunk as it lies in the block: its fixed fields, and each list as the
// run of little-endian u16 values it holds. `size` is the bytes the chunk
// takes (L + 2 when its content adds up to L, which `adds_up` tells).
struct chunk_view {
  guid provider;
  u16 name_index = 0;
  u16 first_id = 0;  // both 0 when the range flag is 0
  u16 last_id = 0;
  std::span<const u8> selectors;
  std::span<const u8> ids;
  std::span<const u8> types;
  std::span<const u8> name_indexes;
  u32 size = 0;
  bool adds_up = false;
};

// Reads the chunk at the start of `data`, the bytes left in the block. The
// lists stop where the chunk's L says it ends; the fixed fields are read
// whatever L says. False when fewer than 20 bytes are left, L claims more
// than follows, or any field would lie past the end of `data`.
[[nodiscard]] bool read_chunk(std::span<const u8> data, chunk_view& out);

// The block's two name tables, and where its chunks begin. False for a block
// under 36 bytes or a table that consumes nothing.
[[nodiscard]] bool read_block_tables(std::span<const u8> block,
                                     std::vector<std::string>& field_names,
                                     std::vector<std::string>& provider_names, u64& chunks_at);
// A chunk may start at `pos`: more than 16 bytes of the block are left.
bool block_has_chunk(std::span<const u8> block, u64 pos);

// The most memory the templates of one source (the user's template file, the
// appended block) may take once parsed and compiled. The ids are kept as
// ranges, so a sound source needs a few megabytes; a source that would take
// more is damaged or hostile.
inline constexpr u64 max_store_bytes = u64{256} << 20;

// The user's template file is read in blocks of this size, one line at a
// time, so that the program's memory stays bounded whatever the file's size.
inline constexpr std::size_t template_file_block_bytes = std::size_t{64} << 10;
// The longest line of the user's template file that is held, blanks around it
// not counted. A sound line is a few kilobytes; a longer comment line is
// passed over, and a longer template or provider line refuses the file.
inline constexpr std::size_t max_template_line_bytes = std::size_t{1} << 20;
// The longest provider or field name of the user's template file. A name is
// written into every row of its events, so a longer one refuses the file
// rather than being shortened.
inline constexpr std::size_t max_template_name_bytes = 1024;

// One template record, from a block chunk or from a line of the user's
// template file.
struct template_rec {
  // The OS build numbers and kernel class versions (class_version_base +
  // version) it holds for; empty: every build.
  std::set<u64> selectors;
  std::string signature;    // text-file records only
  guid key;                 // MD5 of the signature; text-file records only
  guid provider;
  u64 provider_index = 0;   // into the database's provider names; 0: none
  u16 first_id = 0;         // an inclusive range of event ids...
  u16 last_id = 0;          // ...when last_id is not 0
  std::set<u16> ids;        // event ids besides the range
  // Ranges merged in from later lines of the same template (text file only):
  // first id -> last id, disjoint and apart, so a repeated or overlapping
  // line merges into what is there.
  std::map<u16, u16> more_ranges;
  std::vector<u16> types;   // one type word per payload field
  std::vector<std::string> names;       // aligned with types; may be empty
  std::vector<u16> name_indexes;        // aligned with types, into the field names
  std::string line;         // the source line (text-file records only)
  u8 percent_flag = 0;      // the line marked its ids with "%" instead of "$"

  template_rec() { clear(); }
  void clear();
  // Reads one chunk from `data`, the bytes left in the block. The lists stop
  // where the chunk's L says it ends; the fixed fields are read whatever L
  // says. Returns the bytes read (the chunk's size when L is right), or 0,
  // with the record cleared, when fewer than 20 bytes are left, L claims more
  // than follows, or any field would lie past the end of `data`. A chunk
  // whose content does not add up to L is reported once on standard error
  // and kept as read.
  u32 unpack(std::span<const u8> data);
  // Clears the record and fills it from a chunk read by read_chunk; the
  // field names stay empty.
  void take_chunk(const chunk_view& chunk);
  // One name per field-name index: the block's field name at that index, the
  // empty text for an index past the table.
  void name_fields(const std::vector<std::string>& field_names);
  // The memory the record holds, an estimate that errs high.
  u64 held_bytes() const;

  // Reads one template line of the user's template file:
  //   <provider GUID> ! <text> $<ids>, <item>, <item>, ...
  // ("%" may stand for "$"; "$" wins when both are there). The ids are "7",
  // "4;9", "3-5" or "3-5;9;12"; the items are "#<OS build>" selectors,
  // "L<name>" names for the next type word, "C..." (ignored) and type words.
  // Clears the record, trims `line` in place and keeps it in `line`. False
  // when the line is no template line: fewer than two "!" fields, a GUID
  // field under 36 characters, starting "//" or not a GUID, no id marker, no
  // "," after the ids, nothing after that ",", or a bad id range (see
  // template_db.cpp); `why` then names the fault. The record holds what was
  // read up to the fault; only a true result makes it a record.
  bool parse_line(std::string& line);
  bool parse_line(std::string& line, const char*& why);
};

// One loaded database, before compilation.
struct template_db {
  std::vector<template_rec> records;           // in the order read
  // key -> record (text file only). A record whose key is held by a record
  // with other selectors (or another field list under the same digest) is
  // entered under its key with the last byte moved on, as the compiled map
  // does; a later line finds its record by the same walk.
  std::map<guid, u32> key_index;
  std::vector<std::string> provider_names;     // entry 0 is "unk": no name
  std::map<guid, u64> provider_index;          // GUID -> provider name
  std::vector<std::string> field_names;        // entry 0 is the empty text
  std::map<std::string, u32> field_name_index; // name -> field name (text file only)
  // The memory the records and names take, an estimate that errs high (a
  // text-file record counts twice: as read and as it will be compiled), and
  // the line of the text file that would have taken it past its limit (0:
  // none did).
  u64 store_bytes = 0;
  std::size_t refused_line = 0;

  template_db() { clear(); }
  // Empties everything; provider names hold "unk", field names the empty text.
  void clear();
  // Parses a whole block. False (database cleared) for a block under 36
  // bytes or a name table that consumes nothing. Otherwise true, also when
  // the chunks end at one that cannot be read, or at one whose records would
  // pass max_store_bytes: the records before it stay.
  bool parse_block(std::span<const u8> block);
  // Reads the user's template file at `path`: provider lines
  // ("#<GUID> ! <name>") and template lines (template_rec::parse_line); lines
  // under 16 characters and lines starting "/" are comments. A template line
  // with the same GUID text, field list and selectors as an earlier one adds
  // its ids to that record. A malformed line is skipped with a warning on
  // standard error naming the file and line ("<path>:<n>: template line
  // skipped: <why>", or "provider line"); after 50 warnings the rest are
  // counted in one last line. A leading UTF-8 byte-order mark is passed
  // over. False (database cleared) when the file cannot be read or is empty.
  // False as well when a line would take the templates past `limit` bytes, is
  // longer than max_template_line_bytes (a comment line excepted) or keeps a
  // provider or field name longer than max_template_name_bytes: that line is
  // named on standard error ("<path>:<n>: ...; the file is refused") and kept
  // in refused_line. True otherwise, also when lines were skipped.
  bool parse_file(const std::string& path, u64 limit = max_store_bytes);
};
