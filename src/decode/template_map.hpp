#pragma once
// The provider side of the compiled template lookup: one entry per provider
// GUID with its event ids and name, the kernel hook groups, and the
// selector (the operating-system build of the trace being decoded).
#include <map>
#include <string>

#include "common/guid.hpp"
#include "common/zarn_types.hpp"

// Selector value -> 16-byte template key.
using selector_map = std::map<u64, guid>;

struct provider_entry {
  std::map<u16, selector_map> ids;  // event id -> its templates by selector
  std::string name;                 // empty while no name is known

  void clear();
};

class template_map {
 public:
  template_map() { clear(); }

  // Empties the providers and the hook groups; the selector becomes 0.
  void clear();
  // Makes sure the provider has an entry and names it when it has no name
  // yet: the first source to name a provider keeps it. Always true.
  bool add_provider(const guid& provider, const std::string& name);
  // Enters the built-in kernel providers: their hook groups (an entry held
  // already stays) and their names (only where no name is known).
  void add_kernel_provider_names();
  // The name stored for the GUID whose 16 bytes start at `provider` (null
  // stands for the zero GUID); empty when none is known.
  std::string provider_name(const u8* provider) const;

  std::map<guid, provider_entry> providers;
  std::map<u16, guid> hook_groups;  // hook id & 0xFF00 -> kernel provider
  u32 selector = 0;
};
