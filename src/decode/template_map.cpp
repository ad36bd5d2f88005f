#include "decode/template_map.hpp"

#include <set>
#include <utility>

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
  ids.clear();
  name.clear();
}

void template_map::clear() {
  templates.clear();
  key_index.clear();
  providers.clear();
  hook_groups.clear();
  selector = 0;
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

const event_template* template_map::find(const guid* provider, u16 event_id) const {
  if (provider == nullptr) return nullptr;
  const auto entry = providers.find(*provider);
  if (entry == providers.end()) return nullptr;
  const auto id = entry->second.ids.find(event_id);
  if (id == entry->second.ids.end() || id->second.empty()) return nullptr;
  const selector_map& by_build = id->second;
  auto chosen = selector != 0 ? by_build.find(selector) : by_build.end();
  if (chosen == by_build.end()) chosen = by_build.begin();
  const auto index = key_index.find(chosen->second);
  if (index == key_index.end() || index->second >= templates.size()) return nullptr;
  return &templates[index->second];
}

namespace {

// The key under which the map holds `t`: its own key, or, when another
// signature holds that key already, the key with its last byte moved on
// until a free key or the same signature is found. False when all 256 keys
// of the run are taken by other signatures.
bool enter_template(template_map& map, event_template& t) {
  for (int attempt = 0; attempt < 256; ++attempt) {
    const auto it = map.key_index.find(t.key);
    if (it == map.key_index.end()) {
      map.key_index.emplace(t.key, static_cast<u32>(map.templates.size()));
      map.templates.push_back(t);
      return true;
    }
    if (map.templates[it->second].signature == t.signature) return true;
    t.key.bytes[15] = static_cast<u8>(t.key.bytes[15] + 1);
  }
  return false;
}

// The record's event ids: its range (when last_id is not 0) and its ids.
std::set<u16> event_ids_of(const template_rec& rec) {
  std::set<u16> ids = rec.ids;
  // a wider counter, so that a range ending at 65535 ends
  if (rec.last_id != 0) {
    for (u32 id = rec.first_id; id <= rec.last_id; ++id) ids.insert(static_cast<u16>(id));
  }
  return ids;
}

}  // namespace

bool compile_templates(const template_db& db, template_map& map, u8 mode) {
  if (mode != 1) map.clear();
  if (db.records.empty()) return false;
  // What an earlier source (the user's template file) describes stays its
  // own: an event id it holds gets nothing from this database, whatever
  // builds the two name, or the user's template would lose on some logs.
  std::set<std::pair<guid, u16>> held_before;
  if (mode == 1) {
    for (const auto& [provider, entry] : map.providers) {
      for (const auto& [id, by_build] : entry.ids) held_before.emplace(provider, id);
    }
  }
  for (const template_rec& rec : db.records) {
    provider_entry& entry = map.providers[rec.provider];
    const auto named = db.provider_index.find(rec.provider);
    // an index past the name list (a damaged block) names nothing
    if (entry.name.empty() && named != db.provider_index.end() &&
        named->second < db.provider_names.size()) {
      entry.name = db.provider_names[named->second];
    }
    if (rec.types.empty()) continue;

    event_template t;
    t.types = rec.types;
    t.names = rec.names;
    t.percent_flag = rec.percent_flag;
    t.finalize();
    if (!enter_template(map, t)) continue;

    selector_map by_build;
    if (rec.selectors.empty()) {
      by_build.emplace(0, t.key);
    } else {
      for (const u64 value : rec.selectors) by_build.emplace(value, t.key);
    }
    for (const u16 id : event_ids_of(rec)) {
      if (held_before.contains({rec.provider, id})) continue;
      selector_map& held = entry.ids[id];
      for (const auto& [value, key] : by_build) held.emplace(value, key);
    }
  }
  return true;
}
