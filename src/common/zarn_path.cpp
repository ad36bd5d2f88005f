// Path splitting, %NAME% environment references and the time locale.
#include <cstdlib>
#include <string>

#include "common/zarn_string.hpp"

namespace {

constexpr std::size_t k_max_expand_len = 512;

// Splits at the later of the last '/' and the last '\\', so a mixed path
// such as "C:\logs/x.etl" still yields the file name alone.
template <typename Str>
bool split_path_any(const Str& path, Str& folder, Str& name) {
  using Ch = typename Str::value_type;
  const Str dotdot(2, Ch('.'));
  const std::size_t bs = path.rfind(Ch('\\'));
  const std::size_t sl = path.rfind(Ch('/'));
  std::size_t sep = Str::npos;
  if (bs != Str::npos && sl != Str::npos) {
    sep = bs > sl ? bs : sl;
  } else {
    sep = bs != Str::npos ? bs : sl;
  }
  if (sep == Str::npos) {
    if (path == dotdot) {
      folder = dotdot;
      name = Str(1, Ch('.'));
    } else {
      folder = Str(1, Ch('.'));
      name = path;
    }
    return true;
  }
  if (sep == 0) {
    // A path right below the root: the folder is the root itself.
    folder = path.substr(0, 1);
    name = path.substr(1);
    if (name == dotdot) {
      folder = path;
      name = Str(1, Ch('.'));
    }
    return true;
  }
  folder = path.substr(0, sep);
  name = path.substr(sep + 1);
  if (name == dotdot) {
    name = Str(1, Ch('.'));
    if (path[sep] == Ch('\\')) {
      folder.push_back(Ch('\\'));
    } else {
      folder.push_back(Ch('/'));
      folder.push_back(Ch('/'));
    }
    folder += dotdot;
  }
  return true;
}

}  // namespace

bool split_path(const std::string& path, std::string& folder, std::string& name) {
  folder.clear();
  name.clear();
  if (path.empty()) return false;
  return split_path_any(path, folder, name);
}

bool split_path(const char* path, std::string& folder, std::string& name) {
  if (path == nullptr) {
    folder.clear();
    name.clear();
    return false;
  }
  return split_path(std::string(path), folder, name);
}

bool split_path_w(const std::wstring& path, std::wstring& folder, std::wstring& name) {
  if (path.empty()) return false;
  folder.clear();
  name.clear();
  return split_path_any(path, folder, name);
}

bool split_path_ext(const char* path, std::string& folder, std::string& base, std::string& ext) {
  folder.clear();
  base.clear();
  ext.clear();
  if (path == nullptr) return false;
  std::string name;
  if (!split_path(path, folder, name)) return false;
  const std::size_t dot = name.rfind('.');
  if (dot == std::string::npos) {
    base = name;
  } else {
    base = name.substr(0, dot);
    ext = name.substr(dot + 1);
  }
  return true;
}

std::string vss_prefix(bool lower_case, bool with_globalroot) {
  std::string p = "\\\\?\\";
  if (with_globalroot) p += "GLOBALROOT";
  p += "\\Device\\HarddiskVolumeShadowCopy";
  if (lower_case) to_lower(p);
  return p;
}

std::size_t shadow_copy_prefix_len() { return vss_prefix(false, true).size(); }

std::string expand_env_vars(std::string text, bool allow_vss) {
  std::size_t pos = 0;
  for (;;) {
    if (text.size() > k_max_expand_len) return text;
    const std::size_t open = text.find('%', pos);
    if (open == std::string::npos) return text;
    const std::size_t close = text.find('%', open + 1);
    if (close == std::string::npos) return text;
    std::string name = text.substr(open + 1, close - open - 1);
    // A name with a NUL inside would be looked up cut short at the NUL.
    const char* value = name.find('\0') == std::string::npos ? std::getenv(name.c_str()) : nullptr;
    if (value != nullptr) {
      const std::string v(value);
      text.replace(open, close - open + 1, v);
      pos = open + v.size();
      continue;
    }
    if (allow_vss && to_lower(name) == "vss") {
      const std::string v = vss_prefix(false, true);
      text.replace(open, close - open + 1, v);
      pos = open + v.size();
      continue;
    }
    // The closing '%' of a reference that stays may open the next one.
    pos = close;
  }
}

bool select_time_locale(std::string& name) {
  name.clear();
  if (locale_name_valid("")) return true;
  for (const char* ref : {"%LC_TIME%", "%LANG%"}) {
    name = expand_env_vars(ref, false);
    if (locale_name_valid(name.c_str())) return true;
  }
  name.clear();
  return false;
}
