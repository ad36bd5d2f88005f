#include "decode/kernel_providers.hpp"

#include <string>

bool kernel_provider_guid(const kernel_provider_row& row, guid& out) {
  byte_array bytes;
  if (!parse_guid_text(row.guid_text, bytes) || bytes.size() != sizeof(out.bytes)) return false;
  out = guid(bytes.data());
  return true;
}
