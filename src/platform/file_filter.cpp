#include "platform/file_filter.hpp"

#include <ctime>

#include "common/byte_reader.hpp"
#include "common/zarn_string.hpp"
#include "common/zarn_time.hpp"
#include "platform/cmd_params.hpp"
#include "platform/fileio.hpp"

bool parse_filter_patterns(filter_list& out, const std::string& value) {
  out.clear();
  std::string lower = value;
  to_lower(lower);
  const std::wstring wide = uni::utf8_to_wstring(lower);

  std::vector<std::wstring> items;
  if (wide.find(L'|') != std::wstring::npos) split_string_w(wide, L'|', items, true, false);
  if (wide.find(L',') != std::wstring::npos) split_string_w(wide, L',', items, true, false);
  if (items.empty()) items.push_back(wide);

  for (const std::wstring& item : items) {
    if (item == L"*") {
      filter_pattern all;
      all.match_all = 1;
      all.item = L"*";
      all.name_part = L"*";
      out.assign(1, all);
      return true;
    }
    filter_pattern record;
    record.item = item;
    record.name_part = item.substr(0, item.find(L':'));
    if (record.name_part == L"*") {
      record.match_all = 1;
      out.push_back(record);
      continue;
    }
    for (size_t star = record.name_part.find(L'*'); star != std::wstring::npos;
         star = record.name_part.find(L'*')) {
      if (star == 0) {
        record.leading_star = 1;
      } else if (star == record.name_part.size() - 1) {
        record.trailing_star = 1;
      }
      record.name_part.erase(star, 1);
    }
    if (!record.name_part.empty() && record.name_part[0] == L'/') record.is_path = 1;
    out.push_back(record);
  }
  return !out.empty();
}

namespace {

bool ends_with(const std::wstring& s, const std::wstring& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// The modification time (and a second time the caller may have set) against
// the window. Times are FILETIMEs (kind 1) or Unix seconds (kind 8).
bool passes_window(const cmd_params& opts, const std::string& path, file_info& info) {
  if (info.modified == 0 && !uni::get_file_info(info, path)) return false;
  if (info.modified == 0) return false;
  const u64 first = static_cast<u64>(info.modified);
  const u64 second = static_cast<u64>(info.second_time);
  auto bound_of = [&](const time_window& w, u64& out) {
    if (info.time_kind == 1) {
      out = w.filetime;
      return true;
    }
    if (info.time_kind == 8) {
      out = w.unix_seconds;
      return true;
    }
    return false;
  };
  u64 bound = 0;
  if (opts.start_window.set) {
    if (!bound_of(opts.start_window, bound)) return false;
    if (first < bound && second < bound) return false;
  }
  if (opts.stop_window.set) {
    if (!bound_of(opts.stop_window, bound)) return false;
    if (first > bound || second > bound) return false;
  }
  return true;
}

bool folder_hit(const filter_pattern& record, std::wstring folder) {
  size_t at = folder.find(record.name_part);
  if (at == std::wstring::npos) {
    const wchar_t other = record.name_part[0] == L'/' ? L'\\' : L'/';
    if (folder.find(other) == std::wstring::npos) return false;
    replace_char_w(folder, other, record.name_part[0], false);
    at = folder.find(record.name_part);
    if (at == std::wstring::npos) return false;
  }
  const size_t end = at + record.name_part.size();
  return end == folder.size() || folder[end] == L'/' || folder[end] == L'\0';
}

bool signature_hit(const filter_pattern& record, const std::string& path, u8* out_unopened) {
  uni::fileio f;
  if (!f.open(path, 0, 1, 0)) {
    if (out_unopened != nullptr) *out_unopened = 1;
    return false;
  }
  const u64 n = record.signature.size();
  if (!zarn::fits(f.size(), record.signature_offset, n)) return false;
  byte_array bytes;
  if (!f.read(bytes, n, record.signature_offset)) return false;
  return bytes == record.signature;
}

// `path` names the file for the file system (its bytes as given); `wpath` is
// the same name as wide text for the pattern tests.
bool passes(const cmd_params& opts, u8* out_unopened, const std::string& path,
            const std::wstring& wpath, const filter_list& list, file_info* info) {
  if (wpath.empty()) return false;
  if (out_unopened != nullptr) *out_unopened = 0;
  if (info != nullptr && (opts.start_window.set || opts.stop_window.set) &&
      !passes_window(opts, path, *info)) {
    return false;
  }
  if (list.empty() || (list.size() == 1 && list[0].match_all)) return true;

  std::wstring folder, name;
  if (!split_path_w(wpath, folder, name)) return false;
  to_lower_w(name);
  to_lower_w(folder);

  for (const filter_pattern& record : list) {
    if (record.is_path && folder_hit(record, folder)) return true;
    if (record.match_all) return true;
    if (record.leading_star && record.trailing_star) {
      if (name.find(record.name_part) != std::wstring::npos) return true;
    } else if (record.leading_star) {
      if (ends_with(name, record.name_part)) return true;
    } else if (record.trailing_star) {
      if (name.compare(0, record.name_part.size(), record.name_part) == 0) return true;
    } else if (!record.name_part.empty() && record.name_part == name) {
      return true;
    } else if (!record.signature.empty() && signature_hit(record, path, out_unopened)) {
      return true;
    }
  }
  return false;
}

}  // namespace

bool file_passes_filter(const cmd_params& opts, u8* out_unopened, const std::wstring& wpath,
                        const filter_list& list, file_info* info) {
  return passes(opts, out_unopened, uni::wstring_to_utf8(wpath), wpath, list, info);
}

bool file_passes_filter(const cmd_params& opts, u8* out_unopened, const std::string& path,
                        const filter_list& list, file_info* info) {
  if (path.empty()) return false;
  // the date window narrows the files whether or not -filter names any
  const bool window = info != nullptr && (opts.start_window.set || opts.stop_window.set);
  if (list.empty() && !window) return true;
  std::wstring wpath = uni::utf8_to_wstring(path);
  if (wpath.empty()) {
    // A Linux file name need not be UTF-8. Such a name is matched byte by
    // byte (ASCII patterns still apply) and the file is reached by its own
    // bytes, instead of the file being dropped as if nothing matched.
    for (const char c : path) wpath.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
  }
  return passes(opts, out_unopened, path, wpath, list, info);
}

bool file_passes_filter(u8* out_unopened, const std::wstring& wpath, const filter_list& list) {
  if (wpath.empty()) return false;
  if (list.empty()) return true;
  static const cmd_params defaults(zarn::time::now().filetime(), 0);
  return file_passes_filter(defaults, out_unopened, wpath, list, nullptr);
}
