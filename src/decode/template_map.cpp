#include "decode/template_map.hpp"

#include "decode/kernel_providers.hpp"

void provider_entry::clear() {
  ids.clear();
  name.clear();
}

void template_map::clear() {
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
