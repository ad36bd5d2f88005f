#include "decode/template_db.hpp"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <string_view>
#include <utility>

#include "common/byte_reader.hpp"
#include "common/zarn_bytes.hpp"
#include "common/zarn_md5.hpp"
#include "common/zarn_number.hpp"
#include "common/zarn_string.hpp"
#include "platform/console.hpp"
#include "platform/fileio.hpp"

// Linked with zeros; the build step writes the block's place and digest
// behind the marker in the executable file.
__attribute__((used)) const volatile template_block_locator template_db_locator = {
    {'V', 'E', 'S', 'K', '_', 'T', 'E', 'M', 'P', 'L', 'A', 'T', 'E', '_', 'D', 'B'}, 0, 0, {}};

namespace {

// A block shorter than this holds no table and chunk worth reading.
constexpr u64 min_block_bytes = 36;
// The chunks end when this many bytes or fewer are left.
constexpr u64 block_tail_bytes = 16;
// A node of a set or map of small values: the value, three links, a colour
// and the allocator's own header.
constexpr u64 node_bytes = 48;

// The next list of a chunk: `count` u16 values, of which only those that
// start while `used` is below L (the chunk's own end) belong to it. False
// when they would lie past the end of the bytes.
bool read_u16_list(zarn::byte_reader& r, u8 count, u64 length, u64& used,
                   std::span<const u8>& out) {
  const u64 values = used < length ? std::min<u64>(count, (length - used + 1) / 2) : 0;
  if (!r.read_bytes(2 * values, out)) return false;
  used += 2 * values;
  return true;
}

template <typename Insert>
void each_u16(std::span<const u8> values, Insert insert) {
  for (std::size_t i = 0; i + 1 < values.size(); i += 2) insert(zarn::load_u16(values.data() + i));
}

}  // namespace

bool read_chunk(std::span<const u8> data, chunk_view& out) {
  if (data.size() < template_chunk::min_bytes) return false;
  zarn::byte_reader r(data);
  u16 length = 0;
  if (!r.read_u16(length) || length > r.remaining()) return false;

  chunk_view c;
  // `used` counts the bytes read after L; the lists stop where L ends
  u64 used = 1;
  u8 count = 0;
  std::span<const u8> guid_bytes;
  u8 range_flag = 0;
  if (!r.read_u8(count) || !read_u16_list(r, count, length, used, c.selectors) ||
      !r.read_bytes(16, guid_bytes) || !r.read_u16(c.name_index) || !r.read_u8(range_flag)) {
    return false;
  }
  used += 19;
  if (range_flag != 0) {
    if (!r.read_u16(c.first_id) || !r.read_u16(c.last_id)) return false;
    used += 4;
  }
  c.provider = guid(guid_bytes.data());
  used += 1;
  if (!r.read_u8(count) || !read_u16_list(r, count, length, used, c.ids)) return false;
  used += 1;
  if (!r.read_u8(count) || !read_u16_list(r, count, length, used, c.types) ||
      !read_u16_list(r, count, length, used, c.name_indexes)) {
    return false;
  }
  c.size = static_cast<u32>(used + 2);
  c.adds_up = used == length;
  out = c;
  return true;
}

bool read_block_tables(std::span<const u8> block, std::vector<std::string>& field_names,
                       std::vector<std::string>& provider_names, u64& chunks_at) {
  if (block.size() < min_block_bytes) return false;
  const u32 field_table = read_counted_string_list(field_names, block);
  if (field_table == 0) return false;
  const u32 provider_table = read_counted_string_list(provider_names, block.subspan(field_table));
  if (provider_table == 0) return false;
  chunks_at = u64{field_table} + provider_table;
  return true;
}

bool block_has_chunk(std::span<const u8> block, u64 pos) {
  return pos < block.size() && block.size() - pos > block_tail_bytes;
}

bool read_template_block(byte_array& out, u32 offset, u32 length) {
  return read_template_block(out, offset, length, get_exe_path());
}

bool read_template_block(byte_array& out, u32 offset, u32 length, const std::string& path) {
  out.clear();
  if (offset < min_block_offset || length == 0) return false;
  uni::fileio file;
  if (!file.open(path, 0, 0, 0)) return false;
  // a block cut short by the end of the file is damage, not a block
  if (file.size() < offset || !file.read(out, length, offset) || out.size() != length) {
    out.clear();
    return false;
  }
  return true;
}

bool read_located_template_block(byte_array& out, const volatile template_block_locator& at,
                                 const std::string& path) {
  if (!read_template_block(out, at.offset, at.length, path)) return false;
  u8 digest[16] = {};
  bool same = md5(out.data(), static_cast<u32>(out.size()), digest);
  for (std::size_t i = 0; i < sizeof digest; ++i) same = same && digest[i] == at.digest[i];
  if (!same) out.clear();
  return same;
}

void template_rec::clear() {
  selectors.clear();
  signature.clear();
  key.clear();
  provider.clear();
  provider_index = 0;
  first_id = 0;
  last_id = 0;
  ids.clear();
  more_ranges.clear();
  types.clear();
  names.clear();
  name_indexes.clear();
  line.clear();
  percent_flag = 0;
}

u32 template_rec::unpack(std::span<const u8> data) {
  chunk_view chunk;
  if (!read_chunk(data, chunk)) {
    clear();
    return 0;
  }
  take_chunk(chunk);
  if (!chunk.adds_up) std::fputs("Problem unpacking chunk data\n", stderr);
  return chunk.size;
}

void template_rec::take_chunk(const chunk_view& chunk) {
  clear();
  provider = chunk.provider;
  provider_index = chunk.name_index;
  first_id = chunk.first_id;
  last_id = chunk.last_id;
  each_u16(chunk.selectors, [this](u16 v) { selectors.insert(v); });
  each_u16(chunk.ids, [this](u16 v) { ids.insert(v); });
  types.reserve(chunk.types.size() / 2);
  each_u16(chunk.types, [this](u16 v) { types.push_back(v); });
  name_indexes.reserve(chunk.name_indexes.size() / 2);
  each_u16(chunk.name_indexes, [this](u16 v) { name_indexes.push_back(v); });
}

void template_rec::name_fields(const std::vector<std::string>& field_names) {
  names.assign(name_indexes.size(), "");
  for (std::size_t i = 0; i < name_indexes.size(); ++i) {
    if (name_indexes[i] < field_names.size()) names[i] = field_names[name_indexes[i]];
  }
}

u64 template_rec::held_bytes() const {
  u64 bytes = sizeof(template_rec) + signature.size() + line.size() + 2 * types.size() +
              2 * name_indexes.size();
  for (const std::string& name : names) bytes += sizeof(std::string) + name.size();
  return bytes + node_bytes * (selectors.size() + ids.size() + more_ranges.size());
}

void template_db::clear() {
  // No capacity is reserved ahead: a block's tables and records grow to what
  // it holds.
  records.clear();
  key_index.clear();
  provider_names.assign(1, "unk");
  provider_index.clear();
  field_names.assign(1, "");
  field_name_index.clear();
  store_bytes = 0;
  refused_line = 0;
}

bool template_db::parse_block(std::span<const u8> block) {
  clear();
  u64 chunks_at = 0;
  if (!read_block_tables(block, field_names, provider_names, chunks_at)) {
    clear();
    return false;
  }
  // the records are counted first, so that each is read in its place
  u64 count = 0;
  chunk_view chunk;
  for (u64 pos = chunks_at; block_has_chunk(block, pos) && read_chunk(block.subspan(pos), chunk);
       pos += chunk.size) {
    ++count;
  }
  records.reserve(count);
  u64 pos = chunks_at;
  for (u64 i = 0; i < count; ++i) {
    template_rec& rec = records.emplace_back();
    pos += rec.unpack(block.subspan(pos));
    rec.name_fields(field_names);
    // a chunk may name one long field name 255 times: a damaged block must
    // not take more memory than a sound one could need
    store_bytes += rec.held_bytes();
    if (store_bytes > max_store_bytes) {
      records.pop_back();
      break;
    }
    // the first chunk that names a provider decides its name
    if (rec.provider_index != 0) provider_index.emplace(rec.provider, rec.provider_index);
  }
  return true;
}

// ---- the user's template file ----

namespace {

// A line shorter than this is a comment or a blank line.
constexpr std::size_t min_line_chars = 16;
// A GUID in dashed form without braces.
constexpr std::size_t guid_text_chars = 36;
// Skipped lines warned about one by one; the rest are counted in one last
// line, so that a file that holds no templates at all cannot flood the
// console.
constexpr u32 max_warnings = 50;
// Keys tried in a run (see template_db::key_index), as the compiled map does.
constexpr int key_run = 256;

// The key of a signature. A signature always starts with a GUID field of 36
// characters or more, so the digest is never refused for an empty text.
guid key_of(const std::string& signature) {
  guid key;
  (void)md5(reinterpret_cast<const u8*>(signature.data()), static_cast<u32>(signature.size()),
            key.bytes);
  return key;
}

bool guid_from_text(const std::string& text, guid& out) {
  byte_array bytes;
  if (!parse_guid_text(text, bytes) || bytes.size() != sizeof out.bytes) return false;
  out = guid(bytes.data());
  return true;
}

// A number read from the text's first character up to the first character
// that is not part of it; a text that is no number (a blank first) reads as 0.
u32 number_of(const std::string& text) {
  u32 value = 0;
  (void)to_uint(text, value);
  return value;
}

u16 u16_of(const std::string& text) { return static_cast<u16>(number_of(text)); }

// The event ids between the id marker and the first ",": "7", "4;9", "3-5"
// or "3-5;9;12" (the pieces after the first ";" are single ids). Null when
// read, else why the ids are refused. A range is bad when its last id reads
// as 0 (nothing, a blank or ";" right after the "-"): last id 0 means "no
// range", so the range would vanish without a word. It is also bad when its
// first id lies above its last: it holds no id at all.
const char* read_ids(const std::string& id_text, template_rec& rec) {
  std::vector<std::string> pieces;
  const std::size_t dash = id_text.find('-');
  if (dash != std::string::npos) {
    rec.first_id = u16_of(id_text.substr(0, dash));
    rec.last_id = u16_of(id_text.substr(dash + 1));
    if (rec.last_id == 0) return "no last event id right after \"-\"";
    if (rec.first_id > rec.last_id) return "the event id range runs backwards";
    if (id_text.find(';') != std::string::npos) {
      split_string(id_text, ';', pieces, true, false, false);
      for (std::size_t i = 1; i < pieces.size(); ++i) rec.ids.insert(u16_of(pieces[i]));
    }
  } else if (id_text.find(';') != std::string::npos) {
    split_string(id_text, ';', pieces, true, false, false);
    for (const std::string& piece : pieces) rec.ids.insert(u16_of(piece));
  } else {
    rec.ids.insert(u16_of(id_text));
  }
  return nullptr;
}

// The items after the ids, in order: "#<build>" selectors, "L<name>" the
// name of the next type word, "C..." nothing, anything else a type word. A
// name that no type word follows is dropped.
void read_items(const std::string& text, template_rec& rec) {
  std::vector<std::string> items;
  split_string(text, ',', items, true, false, false);
  std::string pending;
  for (const std::string& item : items) {
    if (item[0] == '#') {
      if (item.size() > 1) rec.selectors.insert(number_of(item.substr(1)));
    } else if (item[0] == 'L') {
      // a name is printed with every decoded value: a line break or NUL byte
      // in the file's text must not reach an output line
      if (item.size() > 1) mark_breaks_and_nuls(pending = item.substr(1));
    } else if (item[0] != 'C') {
      const u16 type = u16_of(item);
      rec.types.push_back(type);
      rec.names.push_back(pending);
      rec.signature += pending;
      rec.signature += std::to_string(type);
      pending.clear();
    }
  }
}

// Null when `text` (trimmed) is a template line, else why it is not one.
const char* read_template_line(template_rec& rec, const std::string& text) {
  std::vector<std::string> fields;
  split_string(text, '!', fields, true, false, false);
  if (fields.size() < 2) return "no \"!\" between the provider GUID and the text";
  std::string& guid_field = fields[0];
  if (guid_field.size() < guid_text_chars) return "the provider GUID is shorter than 36 characters";
  if (guid_field.starts_with("//")) return "the provider GUID starts with \"//\"";
  remove_char(guid_field, '{');
  remove_char(guid_field, '}');
  // the GUID text keeps its case: "ABC..." and "abc..." make two records
  rec.signature = guid_field;
  if (!guid_from_text(guid_field, rec.provider)) return "the provider GUID does not parse";

  const std::string& body = fields[1];
  std::size_t marker = body.find('$');
  if (marker == std::string::npos) {
    marker = body.find('%');
    if (marker == std::string::npos) return "no event id marker (\"$\" or \"%\")";
    rec.percent_flag = 1;
  }
  const std::size_t comma = body.find(',', marker);
  if (comma == std::string::npos) return "no \",\" after the event ids";
  std::string id_text = body.substr(marker + 1, comma - marker - 1);
  std::string items = body.substr(comma + 1);
  trim_whitespace(id_text);
  if (!trim_whitespace(items)) return "nothing after the event ids";
  if (const char* why = read_ids(id_text, rec)) return why;
  read_items(items, rec);
  rec.key = key_of(rec.signature);
  return nullptr;
}

// Walks the run of keys that starts at the record's own key. True, with the
// record's index in `held`, when a record of the run holds the same GUID
// text, field list and selectors. Otherwise false, with `slot` the run's
// first key that no record holds; `has_slot` is false when all are held.
// Equal keys alone are not trusted: a provider record's text or a crafted
// line can give a template line's key.
bool find_same(const template_db& db, const template_rec& rec, u32& held, guid& slot,
               bool& has_slot) {
  has_slot = false;
  guid key = rec.key;
  for (int attempt = 0; attempt < key_run; ++attempt) {
    const auto it = db.key_index.find(key);
    if (it == db.key_index.end()) {
      slot = key;
      has_slot = true;
      return false;
    }
    const template_rec& other = db.records[it->second];
    if (other.signature == rec.signature && other.types == rec.types && other.names == rec.names &&
        other.selectors == rec.selectors) {
      held = it->second;
      return true;
    }
    key.bytes[15] = static_cast<u8>(key.bytes[15] + 1);
  }
  return false;
}

// Adds first..last to disjoint ranges, joining those it overlaps or
// touches. A range held already costs one search.
void add_range(std::map<u16, u16>& ranges, u16 first, u16 last) {
  // wider, so that a range that ends at 65535 touches nothing past it
  u32 low = first;
  u32 high = last;
  auto next = ranges.upper_bound(first);
  if (next != ranges.begin()) {
    const auto before = std::prev(next);
    if (u32{before->second} + 1 >= low) {
      if (before->second >= last) return;
      low = before->first;
      next = ranges.erase(before);
    }
  }
  while (next != ranges.end() && next->first <= high + 1) {
    high = std::max<u32>(high, next->second);
    next = ranges.erase(next);
  }
  ranges.emplace_hint(next, static_cast<u16>(low), static_cast<u16>(high));
}

// A later line of the same template adds its ids to the earlier record: its
// single ids one by one, its range as a range. Returns the memory added.
u64 merge_ids(template_rec& held, const template_rec& rec) {
  const u64 nodes = held.ids.size() + held.more_ranges.size();
  held.ids.insert(rec.ids.begin(), rec.ids.end());
  if (rec.last_id != 0 && held.last_id == 0) {
    held.first_id = rec.first_id;
    held.last_id = rec.last_id;
  } else if (rec.last_id != 0 && (rec.first_id < held.first_id || rec.last_id > held.last_id)) {
    add_range(held.more_ranges, rec.first_id, rec.last_id);
  }
  // merging can join ranges: fewer nodes than before costs nothing
  const u64 now = held.ids.size() + held.more_ranges.size();
  return now > nodes ? node_bytes * 2 * (now - nodes) : 0;
}

// Enters a template line's record, or merges it into an earlier record of
// the same template. Returns the memory it adds: a record twice (as read and
// compiled), each new field name twice (the list and its index).
u64 add_template(template_db& db, template_rec& rec) {
  u32 held = 0;
  guid slot;
  bool has_slot = false;
  if (find_same(db, rec, held, slot, has_slot)) return merge_ids(db.records[held], rec);
  u64 added = 0;
  for (const std::string& name : rec.names) {
    u32 index = 0;
    if (!name.empty()) {
      const auto [it, is_new] =
          db.field_name_index.emplace(name, static_cast<u32>(db.field_names.size()));
      if (is_new) {
        db.field_names.push_back(name);
        added += 2 * (sizeof(std::string) + name.size()) + node_bytes;
      }
      index = it->second;
    }
    // the names travel with the record as text; an index past 16 bits (a
    // file of more than 65535 names) would point at another name, so it is 0
    rec.name_indexes.push_back(index <= 0xFFFF ? static_cast<u16>(index) : 0);
  }
  const auto named = db.provider_index.find(rec.provider);
  if (named != db.provider_index.end()) rec.provider_index = named->second;
  const u32 index = static_cast<u32>(db.records.size());
  added += 2 * rec.held_bytes();
  db.records.push_back(std::move(rec));
  // a run whose keys are all held leaves the record out of the index: it
  // still compiles, later lines of it just do not merge into it
  if (has_slot) db.key_index.emplace(slot, index);
  return added;
}

// "#<GUID> ! <name>, ...": the GUID (braces allowed) and the name up to the
// first ",", "|" or ";". False with `why` null for a line without a name
// field (a "#" comment), false with `why` set for a broken GUID or an empty
// name.
bool read_provider_line(const std::string& text, std::string& guid_field, guid& provider,
                        std::string& name, const char*& why) {
  why = nullptr;
  std::vector<std::string> fields;
  split_string(text, '!', fields, true, false, false);
  if (fields.size() < 2) return false;
  guid_field = fields[0];
  remove_char(guid_field, '#');
  trim_whitespace(guid_field);
  if (guid_field.size() < guid_text_chars) {
    why = "the provider GUID is shorter than 36 characters";
    return false;
  }
  remove_char(guid_field, '{');
  remove_char(guid_field, '}');
  if (!guid_from_text(guid_field, provider)) {
    why = "the provider GUID does not parse";
    return false;
  }
  name = fields[1].substr(0, fields[1].find_first_of(",|;"));
  // an empty name would claim the GUID and keep a later line from naming it
  if (!trim_whitespace(name)) {
    why = "no provider name after the GUID";
    return false;
  }
  return true;
}

// Enters a provider line; returns the memory it adds, counted as a template
// line's.
u64 add_provider(template_db& db, template_rec& rec, const std::string& guid_field,
                 const guid& provider, const std::string& name) {
  // the first line that names a provider decides its name
  if (db.provider_index.contains(provider)) return 0;
  db.provider_names.push_back(name);
  rec.provider = provider;
  rec.provider_index = db.provider_names.size() - 1;
  db.provider_index.emplace(provider, rec.provider_index);
  rec.signature = guid_field + name;
  rec.key = key_of(rec.signature);
  db.key_index.emplace(rec.key, static_cast<u32>(db.records.size()));
  const u64 added = 2 * (rec.held_bytes() + sizeof(std::string) + name.size());
  db.records.push_back(std::move(rec));
  return added;
}

// What trimming drops around a line (its line feed ends it).
constexpr std::string_view line_blanks = " \t\r\n";
constexpr std::string_view utf8_bom = "\xEF\xBB\xBF";

// The line being read: its bytes from the first one that is not a blank,
// at most max_template_line_bytes of them. Blanks past that are passed over
// (trimming drops them when the line ends there); any other byte past it
// makes the line too long, and nothing more of it is kept.
struct held_line {
  std::string text;
  bool too_long = false;

  void add(std::string_view bytes) {
    if (too_long) return;
    if (text.empty()) {
      const std::size_t first = bytes.find_first_not_of(line_blanks);
      if (first == std::string_view::npos) return;
      bytes.remove_prefix(first);
    }
    const std::size_t room = max_template_line_bytes - text.size();
    text.append(bytes.substr(0, room));
    too_long = bytes.size() > room &&
               bytes.find_first_not_of(line_blanks, room) != std::string_view::npos;
  }
  // The line ended: its trailing blanks go, as trimming would take them.
  void end() { text.erase(text.find_last_not_of(line_blanks) + 1); }
  bool is_comment() const { return !text.empty() && text[0] == '/'; }
  void clear() {
    text.clear();
    too_long = false;
  }
};

std::string longer_than(std::size_t bytes) {
  return " is longer than " + std::to_string(bytes) + " bytes";
}

// Hands each line of the file to `take`: its number (from 1) and its text
// trimmed, as splitting the whole file at its line feeds would give it,
// while memory holds one block of the file and one line. A leading UTF-8
// byte-order mark is passed over. A line too long to hold is passed over
// whole when it is a comment ("/" first; its cut text is handed on as any
// comment's); any other is handed on, cut and with `cut` set, as soon as it
// passes the bound. False when a read fails or `take` returns false.
template <typename Take>
bool read_lines(uni::fileio& file, Take take) {
  byte_array block(std::min<u64>(template_file_block_bytes, file.size()));
  held_line line;
  std::size_t number = 1;
  u64 got = 0;
  for (u64 offset = 0; offset < file.size(); offset += got) {
    if (!file.read_into(block, offset, got)) return false;
    std::string_view bytes(reinterpret_cast<const char*>(block.data()), got);
    // a file saved with a UTF-8 byte-order mark: its first line starts after it
    if (offset == 0 && bytes.starts_with(utf8_bom)) bytes.remove_prefix(utf8_bom.size());
    for (std::size_t lf = bytes.find('\n');; lf = bytes.find('\n')) {
      line.add(bytes.substr(0, lf));
      if (line.too_long && !line.is_comment()) return take(number, line.text, true);
      if (lf == std::string_view::npos) break;
      line.end();
      if (!take(number, line.text, false)) return false;
      line.clear();
      ++number;
      bytes.remove_prefix(lf + 1);
    }
  }
  // the bytes after the last line feed are a line: it needs none
  line.end();
  return take(number, line.text, false);
}

}  // namespace

bool template_rec::parse_line(std::string& text) {
  const char* why = nullptr;
  return parse_line(text, why);
}

bool template_rec::parse_line(std::string& text, const char*& why) {
  clear();
  trim_whitespace(text);
  line = text;
  why = read_template_line(*this, text);
  return why == nullptr;
}

bool template_db::parse_file(const std::string& path, u64 limit) {
  clear();
  uni::fileio file;
  if (!file.open(path, 0, 1, 0) || file.size() == 0) return false;

  u32 warnings = 0;
  const auto warn = [&](std::size_t number, const char* kind, const char* why) {
    if (++warnings <= max_warnings) {
      print_message("%s:%zu: %s line skipped: %s\n", path.c_str(), number, kind, why);
    }
  };
  std::size_t refused_at = 0;
  const auto refuse = [&](std::size_t number, const std::string& why) {
    print_message("%s:%zu: %s; the file is refused\n", path.c_str(), number, why.c_str());
    refused_at = number;
    return false;
  };
  // A name is written into every row of its events: a tool that wrote one
  // this long went wrong, and a shortened name would misname the fields.
  const auto name_too_long = [](const std::string& name) {
    return name.size() > max_template_name_bytes;
  };
  template_rec rec;
  const auto take = [&](std::size_t number, std::string& text, bool cut) {
    if (cut) return refuse(number, "the line" + longer_than(max_template_line_bytes));
    rec.clear();
    if (text.size() < min_line_chars || text[0] == '/') return true;
    if (text[0] != '#') {
      const char* why = nullptr;
      if (!rec.parse_line(text, why)) {
        warn(number, "template", why);
      } else if (std::ranges::any_of(rec.names, name_too_long)) {
        return refuse(number, "a field name" + longer_than(max_template_name_bytes));
      } else {
        store_bytes += add_template(*this, rec);
      }
    } else {
      rec.line = text;
      std::string guid_field;
      guid provider;
      std::string name;
      const char* why = nullptr;
      if (read_provider_line(text, guid_field, provider, name, why)) {
        if (name_too_long(name)) {
          return refuse(number, "the provider name" + longer_than(max_template_name_bytes));
        }
        store_bytes += add_provider(*this, rec, guid_field, provider, name);
      } else if (why != nullptr) {
        warn(number, "provider", why);
      }
    }
    // Each line costs memory in proportion to its own text, so only a file
    // of many megabytes can get here; a tool that wrote it went wrong.
    if (store_bytes > limit) {
      const u64 mib = (limit + (1u << 20) - 1) >> 20;
      return refuse(number,
                    "the templates would take more than " + std::to_string(mib) + " MiB of memory");
    }
    return true;
  };
  if (!read_lines(file, take)) {
    clear();
    refused_line = refused_at;
    return false;
  }
  if (warnings > max_warnings) {
    print_message("%s: %u more lines skipped\n", path.c_str(), warnings - max_warnings);
  }
  return true;
}
