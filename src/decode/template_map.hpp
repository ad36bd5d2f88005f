#pragma once
// The compiled template lookup: for a provider GUID, an event id and the
// operating-system build of the trace being decoded, the field list that
// describes an event's payload; with the provider names and the kernel hook
// groups.
#include <deque>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/guid.hpp"
#include "common/zarn_types.hpp"

struct template_db;
struct template_rec;

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

// The event ids `first` to `last`, inclusive, and what holds them: a claim
// of the provider's, or, once worked out for one selector, a template and
// the oldest class version of the claim that gave it.
struct id_span {
  u16 first = 0;
  u16 last = 0;
  u32 target = 0;
  u16 oldest_version = 0;
};

// One record's hold on event ids of its provider: its template, the compile
// that made it and the OS builds it holds for.
struct id_claim {
  u32 template_index = 0;  // into the map's templates
  u32 generation = 0;      // an id held by an earlier compile takes nothing from a later one
  // Its selector values: a slice of the provider's selectors, ascending,
  // never empty (0 alone: every build).
  u32 first_selector = 0;
  u32 selector_count = 0;
  // The oldest class version its selectors state (0 when they state none):
  // a record of an older version has another layout.
  u16 oldest_version = 0;
};

// Kernel class versions are selector values of their own: 0xFF00 + v
// stands for version v (0 to 255), above every Windows build number. A
// record's header carries its class version; no_class_version stands for a
// record that carries none.
inline constexpr u64 class_version_base = 0xFF00;
inline constexpr u16 max_class_version = 0xFF;
inline constexpr u16 no_class_version = 0xFFFF;

// The lookup of one provider's event ids for one class version (or none):
// disjoint spans in id order; target: the template. Worked out on first use.
struct resolved_ids {
  std::vector<id_span> spans;
  bool valid = false;
};

struct provider_entry {
  std::vector<id_claim> claims;  // in the order compiled
  std::vector<id_span> spans;    // the claims' event ids as ranges; target: the claim
  std::vector<u64> selectors;    // every claim's selector values
  std::vector<u8> versions;      // the class versions those selectors name, ascending
  std::string name;              // empty while no name is known
  // The provider's chunks of the appended block that are not compiled yet:
  // a slice of the map's block chunks.
  u32 pending_first = 0;
  u32 pending_count = 0;
  // The lookups under the selector `resolved_for`: the first for records
  // whose class version no claim names, then one per entry of `versions`.
  // Empty until a lookup needs one.
  std::vector<resolved_ids> resolved;
  u64 resolved_for = 0;

  void clear();
};

class template_map {
 public:
  template_map() { clear(); }

  // Empties the templates, providers, hook groups and the block; the
  // selector becomes 0.
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
  // The template for the provider and event id of a record of the class
  // version given: the template that claims that version when one does,
  // else under the current selector the selector's own, else the one with
  // the smallest selector value; a `-templates` line keeps its ids whatever
  // the selectors. Null when there is none, and when the template found
  // states only class versions newer than the record's (the record's layout
  // is older than every one described for its event). Valid until the map
  // is next cleared.
  const event_template* find(const guid* provider, u16 event_id,
                             u16 class_version = no_class_version) const;
  // Takes the appended block as template_db::parse_block and
  // compile_templates in adding mode would, after what the map holds: its
  // provider names now, each provider's templates on the provider's first
  // lookup (a log uses a few of its thousand providers). The map keeps the
  // block. False, with nothing taken, when parse_block would refuse it.
  bool add_block(byte_array bytes);

  // Filled further while decoding: a provider's block templates on its first
  // lookup, its lookup again for each new selector. One thread.
  mutable std::deque<event_template> templates;  // a template never moves
  mutable std::unordered_map<guid, u32, guid_hash> key_index;  // key -> index into templates
  mutable std::unordered_map<guid, provider_entry, guid_hash> providers;
  std::map<u16, guid> hook_groups;  // hook id & 0xFF00 -> kernel provider
  u32 selector = 0;                 // OS build of the trace being decoded; 0: none
  u32 compiles = 0;                 // since the map was cleared
  // What the templates and claims take, an estimate: none is entered that
  // would take it past max_store_bytes.
  mutable u64 store_bytes = 0;
  // The appended block, its field names, and where its chunks lie, grouped
  // by provider; its compile's generation.
  byte_array block;
  std::vector<std::string> block_field_names;
  std::vector<u64> block_chunks;
  u32 block_generation = 0;

 private:
  friend bool compile_templates(const template_db& db, template_map& map, u8 mode);
  // The template's index, entering it when no template of its signature is
  // held. False when its key run is full or it would pass the bound.
  bool enter_template(event_template& t, u32& index) const;
  // The record's template and its claim on its event ids, into its
  // provider's entry; nothing for a record without type words.
  void compile_record(provider_entry& entry, const template_rec& rec, u32 generation) const;
  // Compiles the entry's pending block chunks.
  void compile_pending(provider_entry& entry) const;
  // Works out the entry's lookup under the current selector for records of
  // the class version that `table` stands for (see provider_entry::resolved).
  void resolve(provider_entry& entry, std::size_t table) const;
};

// Compiles a parsed database into the map: with mode 1 it adds (an event id
// the map holds already keeps what it has, for every build), with any other
// mode the map is cleared first. False when the database holds no records.
bool compile_templates(const template_db& db, template_map& map, u8 mode);

// The kernel provider of a hook id: (hook_id & 0xFF00) looked up in the
// map's hook groups, or for image_load_in_process_group's hook id the group
// it names. False (out untouched) when the group is not known.
[[nodiscard]] bool etw_guid_for_id(const template_map& map, guid& out, u16 hook_id);
