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
  const u16 group = hook_id == image_load_in_process_group.hook_id
                        ? image_load_in_process_group.hook_group
                        : static_cast<u16>(hook_id & 0xFF00);
  const auto it = map.hook_groups.find(group);
  if (it == map.hook_groups.end()) return false;
  out = it->second;
  return true;
}
