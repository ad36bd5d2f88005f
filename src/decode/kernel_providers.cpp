#include "decode/kernel_providers.hpp"

#include <string>

#include "decode/template_map.hpp"

bool kernel_provider_guid(const kernel_provider_row& row, guid& out) {
  byte_array bytes;
  if (!parse_guid_text(row.guid_text, bytes) || bytes.size() != sizeof(out.bytes)) return false;
  out = guid(bytes.data());
  return true;
}

bool etw_guid_for_id(const template_map& map, guid& out, u16 hook_id) {
  const auto it = map.hook_groups.find(static_cast<u16>(hook_id & 0xFF00));
  if (it == map.hook_groups.end()) return false;
  out = it->second;
  return true;
}
