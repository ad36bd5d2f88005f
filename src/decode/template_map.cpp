#include "decode/template_map.hpp"

#include <algorithm>
#include <cstdio>
#include <numeric>
#include <span>
#include <tuple>

#include "common/zarn_md5.hpp"
#include "common/zarn_string.hpp"
#include "decode/kernel_providers.hpp"
#include "decode/template_db.hpp"

void event_template::clear() {
  signature.clear();
  key.clear();
  types.clear();
  names.clear();
  percent_flag = 0;
  wide_types_flag = 0;
}

void event_template::add_field(u16 type, std::string& name) {
  trim_whitespace(name);
  if (type > 0xFF) wide_types_flag = 1;
  types.push_back(type);
  names.push_back(name);
}

void event_template::finalize() {
  if (names.size() < types.size()) names.resize(types.size());
  signature.clear();
  for (std::size_t i = 0; i < types.size(); ++i) {
    signature += names[i];
    signature += std::to_string(types[i]);
  }
  key.clear();
  // an empty signature (no fields) has no digest and keeps the zero key
  (void)md5(reinterpret_cast<const u8*>(signature.data()), static_cast<u32>(signature.size()),
            key.bytes);
}

void provider_entry::clear() {
  claims.clear();
  spans.clear();
  selectors.clear();
  versions.clear();
  name.clear();
  pending_first = 0;
  pending_count = 0;
  resolved.clear();
  resolved_for = 0;
}

void template_map::clear() {
  templates.clear();
  key_index.clear();
  providers.clear();
  hook_groups.clear();
  selector = 0;
  compiles = 0;
  store_bytes = 0;
  block.clear();
  block_field_names.clear();
  block_chunks.clear();
  block_generation = 0;
}

bool template_map::add_provider(const guid& provider, const std::string& name) {
  provider_entry& entry = providers[provider];
  if (entry.name.empty()) entry.name = name;
  return true;
}

void template_map::add_kernel_provider_names() {
  for (const kernel_provider_row& row : kernel_providers) {
    guid g;
    if (!kernel_provider_guid(row, g)) continue;
    hook_groups.emplace(row.hook_group, g);
    add_provider(g, row.name);
  }
}

std::string template_map::provider_name(const u8* provider) const {
  const auto it = providers.find(guid(provider));
  return it == providers.end() ? std::string() : it->second.name;
}

const event_template* template_map::find(const guid* provider, u16 event_id,
                                         u16 class_version) const {
  if (provider == nullptr) return nullptr;
  const auto it = providers.find(*provider);
  if (it == providers.end()) return nullptr;
  provider_entry& entry = it->second;
  if (entry.pending_count != 0) compile_pending(entry);
  if (entry.resolved_for != selector) entry.resolved.clear();
  // A provider's records may alternate class versions: each version a claim
  // names keeps its own lookup, and every other version shares the first.
  std::size_t table = 0;
  if (class_version <= max_class_version) {
    const auto v = std::lower_bound(entry.versions.begin(), entry.versions.end(), class_version);
    if (v != entry.versions.end() && *v == class_version) {
      table = 1 + static_cast<std::size_t>(v - entry.versions.begin());
    }
  }
  entry.resolved.resize(1 + entry.versions.size());
  if (!entry.resolved[table].valid) resolve(entry, table);
  const std::vector<id_span>& spans = entry.resolved[table].spans;
  // the last span that starts at or before the id
  const auto after = std::upper_bound(spans.begin(), spans.end(), event_id,
                                      [](u16 id, const id_span& s) { return id < s.first; });
  if (after == spans.begin()) return nullptr;
  const id_span& span = *std::prev(after);
  if (event_id > span.last) return nullptr;
  // A layout described only for newer versions misreads an older record:
  // its bytes are guessed rather than named wrongly.
  return class_version < span.oldest_version ? nullptr : &templates[span.target];
}

namespace {

// A node of a hashed or ordered container: the value, its links and the
// allocator's own header.
constexpr u64 node_bytes = 64;

u64 template_bytes(const event_template& t) {
  u64 bytes = sizeof(event_template) + node_bytes + t.signature.size() + 2 * t.types.size();
  for (const std::string& name : t.names) bytes += sizeof(std::string) + name.size();
  return bytes;
}

// The record's event ids as ranges, ascending, apart: its range (when
// last_id is not 0), its single ids and the ranges merged into it.
std::vector<id_span> spans_of(const template_rec& rec) {
  std::vector<id_span> pieces;
  if (rec.last_id != 0 && rec.first_id <= rec.last_id) {
    pieces.push_back({rec.first_id, rec.last_id, 0});
  }
  for (const u16 id : rec.ids) pieces.push_back({id, id, 0});
  for (const auto& [first, last] : rec.more_ranges) pieces.push_back({first, last, 0});
  std::sort(pieces.begin(), pieces.end(),
            [](const id_span& a, const id_span& b) { return a.first < b.first; });
  std::vector<id_span> joined;
  for (const id_span& p : pieces) {
    // wider, so that a span that ends at 65535 touches nothing past it
    if (!joined.empty() && u32{joined.back().last} + 1 >= p.first) {
      joined.back().last = std::max(joined.back().last, p.last);
    } else {
      joined.push_back(p);
    }
  }
  return joined;
}

}  // namespace

bool template_map::enter_template(event_template& t, u32& index) const {
  // Another signature holding the key moves the key on by its last byte
  // until a free key or the same signature is found; all 256 keys of the
  // run held by other signatures leave the template out.
  for (int attempt = 0; attempt < 256; ++attempt) {
    const auto it = key_index.find(t.key);
    if (it == key_index.end()) {
      const u64 bytes = template_bytes(t);
      if (bytes > max_store_bytes - std::min(store_bytes, max_store_bytes)) return false;
      store_bytes += bytes;
      index = static_cast<u32>(templates.size());
      key_index.emplace(t.key, index);
      templates.push_back(std::move(t));
      return true;
    }
    if (templates[it->second].signature == t.signature) {
      index = it->second;
      return true;
    }
    t.key.bytes[15] = static_cast<u8>(t.key.bytes[15] + 1);
  }
  return false;
}

void template_map::compile_record(provider_entry& entry, const template_rec& rec,
                                  u32 generation) const {
  if (rec.types.empty()) return;
  event_template t;
  t.types = rec.types;
  t.names = rec.names;
  t.percent_flag = rec.percent_flag;
  t.finalize();
  u32 index = 0;
  if (!enter_template(t, index)) return;

  const std::vector<id_span> spans = spans_of(rec);
  const u64 selector_count = rec.selectors.empty() ? 1 : rec.selectors.size();
  const u64 bytes = sizeof(id_claim) + 8 * selector_count + sizeof(id_span) * spans.size();
  if (bytes > max_store_bytes - std::min(store_bytes, max_store_bytes)) return;
  store_bytes += bytes;
  const u32 claim = static_cast<u32>(entry.claims.size());
  entry.claims.push_back({index, generation, static_cast<u32>(entry.selectors.size()),
                          static_cast<u32>(selector_count)});
  if (rec.selectors.empty()) {
    entry.selectors.push_back(0);
  } else {
    entry.selectors.insert(entry.selectors.end(), rec.selectors.begin(), rec.selectors.end());
  }
  bool states_version = false;
  for (const u64 s : rec.selectors) {  // ascending: the first version is the oldest
    if (s < class_version_base || s > class_version_base + max_class_version) continue;
    const u8 version = static_cast<u8>(s - class_version_base);
    if (!states_version) entry.claims.back().oldest_version = version;
    states_version = true;
    const auto at = std::lower_bound(entry.versions.begin(), entry.versions.end(), version);
    if (at == entry.versions.end() || *at != version) entry.versions.insert(at, version);
  }
  for (const id_span& s : spans) entry.spans.push_back({s.first, s.last, claim});
  entry.resolved.clear();
}

void template_map::compile_pending(provider_entry& entry) const {
  const std::span<const u8> bytes(block);
  template_rec rec;
  for (u32 i = 0; i < entry.pending_count; ++i) {
    chunk_view chunk;
    // every chunk listed was read whole when the block was taken
    if (!read_chunk(bytes.subspan(block_chunks[entry.pending_first + i]), chunk)) continue;
    rec.take_chunk(chunk);
    rec.name_fields(block_field_names);
    compile_record(entry, rec, block_generation);
  }
  entry.pending_count = 0;
}

void template_map::resolve(provider_entry& entry, std::size_t table) const {
  // Which claim an id takes, best first: the earliest compile that holds the
  // id at all; in it the first claim that holds the record's class version,
  // else the first that holds the trace's build, else the claim with the
  // smallest selector value, the first of those. A build in the range of
  // the class versions (a damaged header) is no build.
  const bool versioned = table != 0;
  const u64 version = versioned ? class_version_base + entry.versions[table - 1] : 0;
  const bool built = selector != 0 && selector < class_version_base;
  std::vector<std::tuple<u32, u32, u32, u64>> rank;
  rank.reserve(entry.claims.size());
  for (const id_claim& c : entry.claims) {
    const auto first = entry.selectors.begin() + c.first_selector;
    const auto last = first + c.selector_count;
    const bool own_version = versioned && std::binary_search(first, last, version);
    const bool own_build = built && std::binary_search(first, last, u64{selector});
    rank.emplace_back(c.generation, own_version ? 0 : 1, own_build ? 0 : 1, own_build ? 0 : *first);
  }
  std::vector<u32> order(entry.claims.size());
  std::iota(order.begin(), order.end(), 0u);
  std::stable_sort(order.begin(), order.end(), [&](u32 a, u32 b) { return rank[a] < rank[b]; });
  std::vector<u32> place(order.size());
  for (u32 i = 0; i < order.size(); ++i) place[order[i]] = i;
  std::vector<id_span> best_first = entry.spans;
  std::stable_sort(best_first.begin(), best_first.end(), [&](const id_span& a, const id_span& b) {
    return place[a.target] < place[b.target];
  });

  // The ids fall into segments between the spans' ends; each span, best
  // first, takes the segments it covers that no better span took. `next`
  // leads from a segment to the first one at or after it still free, so each
  // segment is taken once.
  std::vector<u32> cuts;
  cuts.reserve(2 * entry.spans.size());
  for (const id_span& s : entry.spans) {
    cuts.push_back(s.first);
    cuts.push_back(u32{s.last} + 1);
  }
  std::sort(cuts.begin(), cuts.end());
  cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
  const u32 segments = cuts.empty() ? 0 : static_cast<u32>(cuts.size() - 1);
  constexpr u32 no_claim = ~u32{0};
  std::vector<u32> owner(segments, no_claim);
  std::vector<u32> next(segments + 1);
  std::iota(next.begin(), next.end(), 0u);
  const auto free_from = [&](u32 k) {
    while (next[k] != k) {
      next[k] = next[next[k]];
      k = next[k];
    }
    return k;
  };
  const auto segment_at = [&](u32 id) {
    return static_cast<u32>(std::lower_bound(cuts.begin(), cuts.end(), id) - cuts.begin());
  };
  for (const id_span& s : best_first) {
    const u32 end = segment_at(u32{s.last} + 1);
    for (u32 k = free_from(segment_at(s.first)); k < end; k = free_from(k)) {
      owner[k] = s.target;
      next[k] = k + 1;
    }
  }

  std::vector<id_span>& resolved = entry.resolved[table].spans;
  resolved.clear();
  for (u32 k = 0; k < segments; ++k) {
    if (owner[k] == no_claim) continue;
    const id_claim& c = entry.claims[owner[k]];
    const u16 first = static_cast<u16>(cuts[k]);
    const u16 last = static_cast<u16>(cuts[k + 1] - 1);
    if (!resolved.empty() && resolved.back().target == c.template_index &&
        resolved.back().oldest_version == c.oldest_version && u32{resolved.back().last} + 1 == first) {
      resolved.back().last = last;
    } else {
      resolved.push_back({first, last, c.template_index, c.oldest_version});
    }
  }
  entry.resolved[table].valid = true;
  entry.resolved_for = selector;
}

bool template_map::add_block(byte_array bytes) {
  std::vector<std::string> field_names;
  std::vector<std::string> provider_names;
  u64 pos = 0;
  if (!read_block_tables(bytes, field_names, provider_names, pos)) return false;
  // a block taken before is compiled whole before its bytes go
  for (auto& [provider, entry] : providers) {
    if (entry.pending_count != 0) compile_pending(entry);
  }
  block = std::move(bytes);
  block_field_names = std::move(field_names);
  block_generation = ++compiles;

  // One walk over the chunks finds each one's provider. The first chunk of a
  // provider that carries a name index decides the block's name for it; an
  // index past the table names nothing.
  struct chunk_ref {
    provider_entry* entry;
    u64 offset;
  };
  std::vector<chunk_ref> refs;
  std::vector<provider_entry*> seen;  // in the order first met
  std::vector<u8> name_decided;       // by the same order
  chunk_view chunk;
  for (; block_has_chunk(block, pos) && read_chunk(std::span<const u8>(block).subspan(pos), chunk);
       pos += chunk.size) {
    if (!chunk.adds_up) std::fputs("Problem unpacking chunk data\n", stderr);
    provider_entry& entry = providers[chunk.provider];
    if (entry.pending_count == 0) {
      entry.pending_first = static_cast<u32>(seen.size());
      seen.push_back(&entry);
      name_decided.push_back(0);
    }
    ++entry.pending_count;
    if (chunk.name_index != 0 && name_decided[entry.pending_first] == 0) {
      name_decided[entry.pending_first] = 1;
      if (entry.name.empty() && chunk.name_index < provider_names.size()) {
        entry.name = provider_names[chunk.name_index];
      }
    }
    refs.push_back({&entry, pos});
  }
  // each provider's chunks together, in block order
  u32 start = 0;
  for (provider_entry* entry : seen) {
    entry->pending_first = start;
    start += entry->pending_count;
    entry->pending_count = 0;
  }
  block_chunks.assign(refs.size(), 0);
  for (const chunk_ref& ref : refs) {
    block_chunks[ref.entry->pending_first + ref.entry->pending_count++] = ref.offset;
  }
  return true;
}

bool compile_templates(const template_db& db, template_map& map, u8 mode) {
  if (mode != 1) map.clear();
  if (db.records.empty()) return false;
  const u32 generation = ++map.compiles;
  for (const template_rec& rec : db.records) {
    provider_entry& entry = map.providers[rec.provider];
    const auto named = db.provider_index.find(rec.provider);
    // an index past the name list (a damaged block) names nothing
    if (entry.name.empty() && named != db.provider_index.end() &&
        named->second < db.provider_names.size()) {
      entry.name = db.provider_names[named->second];
    }
    map.compile_record(entry, rec, generation);
  }
  return true;
}

bool etw_guid_for_id(const template_map& map, guid& out, u16 hook_id) {
  const u16 group = hook_id == image_load_in_process_group.hook_id
                        ? image_load_in_process_group.hook_group
                        : static_cast<u16>(hook_id & 0xFF00);
  const auto it = map.hook_groups.find(group);
  if (it == map.hook_groups.end()) return false;
  out = it->second;
  return true;
}
