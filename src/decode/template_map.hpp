#pragma once
// The compiled template lookup: for a provider GUID, an event id and the
// operating-system build of the trace being decoded, the field list that
// describes an event's payload; with the provider names and the kernel hook
// groups.
#include <map>
#include <string>
#include <vector>

#include "common/guid.hpp"
#include "common/zarn_types.hpp"

struct template_db;

// One compiled field list. Equal signatures share one template.
struct event_template {
  std::string signature;          // each field's name (when it has one) and type word in decimal
  guid key;                       // MD5 of the signature
  std::vector<u16> types;         // one type word per payload field
  std::vector<std::string> names; // aligned with types; may be empty
  u8 percent_flag = 0;
  u8 wide_types_flag = 0;         // a type word above 255 was added

  event_template() { clear(); }
  void clear();
  // Appends a field; the name is trimmed in place.
  void add_field(u16 type, std::string& name);
  // Pads the names to the type words, then builds the signature and its key.
  void finalize();
};

// Selector value (an OS build number, 0 for every build) -> template key.
using selector_map = std::map<u64, guid>;

struct provider_entry {
  std::map<u16, selector_map> ids;  // event id -> its templates by selector
  std::string name;                 // empty while no name is known

  void clear();
};

class template_map {
 public:
  template_map() { clear(); }

  // Empties the templates, providers and hook groups; the selector becomes 0.
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
  // The template for the provider and event id under the current selector:
  // the selector's own when the id has one, else the one with the smallest
  // selector value. Null when there is none. Valid until the map is next
  // cleared or compiled into.
  const event_template* find(const guid* provider, u16 event_id) const;

  std::vector<event_template> templates;
  std::map<guid, u32> key_index;    // key -> index into templates
  std::map<guid, provider_entry> providers;
  std::map<u16, guid> hook_groups;  // hook id & 0xFF00 -> kernel provider
  u32 selector = 0;                 // OS build of the trace being decoded; 0: none
};

// Compiles a parsed database into the map: with mode 1 it adds (an event id
// the map holds already keeps what it has, for every build), with any other
// mode the map is cleared first. False when the database holds no records.
bool compile_templates(const template_db& db, template_map& map, u8 mode);
