// Server profile lookup and the file work of the profile dialogs.
#include "core/settings/server_profiles.h"

#include "core/text/url_parse.h"
#include "platform/file.h"
#include "platform/ini.h"

namespace torvane {
namespace {

std::string index_path(const ProgramFolder& folder) {
  return folder.path(kServerIndexFile);
}

// The stored value of `key` in "ServerData", "--" counting as absent.
std::optional<std::string> index_value(const ProgramFolder& folder, std::string_view key) {
  std::string value;
  if (!platform::ini_get(index_path(folder).c_str(), kServerIndexSection, key, value) ||
      value == kAbsentText) {
    return std::nullopt;
  }
  return value;
}

bool is_default_file(std::string_view stored) {
  return normalize_stored_path(stored) == kDefaultProfileFile;
}

// Removes the entry of `name` from "ServerData": the one stored with exactly
// this spelling, else (for a lookup that matched another case) the first
// entry that matches without regard to case.
bool remove_index_entry(const ProgramFolder& folder, std::string_view name) {
  const std::string path = index_path(folder);
  if (platform::ini_remove_key_exact(path.c_str(), kServerIndexSection, name) == 1) return true;
  std::string value;
  if (!platform::ini_get(path.c_str(), kServerIndexSection, name, value)) return false;
  return platform::ini_delete_key(path.c_str(), kServerIndexSection, name) == 1;
}

enum class Kind { kInt, kText };
struct KeyInfo {
  std::string_view key;
  Kind kind;
};

// The editor's row order.
constexpr KeyInfo kRowOrder[] = {
    {"DataType", Kind::kInt},
    {"URL", Kind::kText},
    {"Proxy", Kind::kText},
    {"Div", Kind::kInt},
    {"SAVE", Kind::kText},
    {"BufferSize", Kind::kInt},
    {"Referrer", Kind::kText},
    {"AutoReferrer", Kind::kInt},
    {"IgnoreRedirection", Kind::kInt},
    {"IgnoreClientError", Kind::kInt},
    {"IgnoreServerError", Kind::kInt},
    {"AutoResume", Kind::kInt},
    {"Retry", Kind::kInt},
    {"urljump", Kind::kInt},
    {"skip", Kind::kInt},
    {"FileSize", Kind::kText},
    {"Host", Kind::kText},
    {"Cookie", Kind::kInt},
    {"SpeedMode", Kind::kInt},
};

}  // namespace

std::optional<std::string> find_server_profile(const ProgramFolder& folder, std::string_view url) {
  const std::optional<std::string> host = url_host(url);
  if (!host) return std::nullopt;
  std::optional<std::string> file = index_value(folder, *host);
  if (!file) {
    const std::optional<std::string> domain = host_domain(*host);
    if (!domain) return std::nullopt;
    file = index_value(folder, *domain);
    if (!file) return std::nullopt;
  }
  return folder.stored_path(*file);
}

std::string default_server_profile(const ProgramFolder& folder) {
  const std::optional<std::string> file = index_value(folder, kDefaultProfileName);
  return folder.stored_path(file ? *file : std::string(kDefaultProfileFile));
}

std::vector<std::string> list_server_profiles(const ProgramFolder& folder) {
  std::vector<std::string> names{std::string(kDefaultProfileName)};
  for (std::string& key :
       platform::ini_key_names(index_path(folder).c_str(), kServerIndexSection)) {
    names.push_back(std::move(key));
  }
  return names;
}

std::optional<std::string> server_profile_file(const ProgramFolder& folder, std::string_view name) {
  std::optional<std::string> file = index_value(folder, name);
  if (!file && name == kDefaultProfileName) file = std::string(kDefaultProfileFile);
  if (file) *file = normalize_stored_path(*file);
  return file;
}

int read_server_profile(const ProgramFolder& folder, std::string_view name,
                        std::vector<ProfileRow>& rows, std::string& file) {
  const std::optional<std::string> stored = server_profile_file(folder, name);
  if (!stored) return -1;
  file = *stored;
  rows.clear();
  const std::string path = folder.stored_path(file);
  bool has_referrer = false;
  for (const KeyInfo& info : kRowOrder) {
    if (info.key == "AutoReferrer" && has_referrer) continue;
    std::string value;
    if (info.kind == Kind::kInt) {
      const int n = read_ini_int(path.c_str(), kProfileSection, info.key, kAbsentInt);
      if (n == kAbsentInt || (info.key == "urljump" && n != 1)) continue;
      value = std::to_string(n);
    } else {
      // Read whole: a value cut for display would be cut in the file too at
      // the next save.
      if (!platform::ini_get(path.c_str(), kProfileSection, info.key, value) ||
          value == kAbsentText) {
        continue;
      }
      if (info.key == "Referrer") has_referrer = true;
    }
    rows.push_back(ProfileRow{std::string(info.key), std::move(value)});
  }
  return 0;
}

bool profile_row_allowed(std::string_view key, std::string_view value) {
  return platform::ini_key_allowed(key) && platform::ini_text_allowed(value);
}

bool profile_target_allowed(std::string_view name, std::string_view file) {
  // The file is joined to the program folder: it must name something below
  // it, and not a folder.
  const std::string rel = normalize_stored_path(file);
  return platform::ini_key_allowed(name) && platform::ini_text_allowed(file) &&
         rel.find_first_not_of('/') != std::string::npos && rel.back() != '/';
}

int write_server_profile(const ProgramFolder& folder, std::string_view name, std::string_view file,
                         const std::vector<ProfileRow>& rows) {
  // Checked before anything is written, so a refused row leaves both files
  // as they were.
  if (!profile_target_allowed(name, file)) return -1;
  std::vector<std::string> lines;
  for (const ProfileRow& row : rows) {
    if (!profile_row_allowed(row.key, row.value)) return -1;
    lines.push_back(row.key + "=" + row.value);
  }
  if (!is_default_file(file) && platform::ini_write_string(index_path(folder).c_str(),
                                                           kServerIndexSection, name, file) != 1) {
    return -1;
  }
  const std::string path = folder.stored_path(file);
  return platform::ini_write_section_lines(path.c_str(), kProfileSection, lines) == 1 ? 0 : -1;
}

int finish_profile_edit(std::string& current_name, std::string_view edited_name, bool is_new) {
  if (edited_name != current_name) {
    current_name.assign(edited_name);
    return is_new ? 2 : 1;
  }
  return is_new ? 2 : 0;
}

int rename_server_entry(const ProgramFolder& folder, int result, std::string_view selected,
                        std::string_view new_name) {
  if (result != 1 && result != 2) return -1;
  const std::string_view old_name = result == 1 ? selected : kNewProfileName;
  const std::optional<std::string> file = index_value(folder, old_name);
  if (!file || !platform::ini_key_allowed(new_name)) return -1;
  if (!remove_index_entry(folder, old_name)) return -1;
  return platform::ini_write_string(index_path(folder).c_str(), kServerIndexSection, new_name,
                                    *file) == 1
             ? 0
             : -1;
}

int delete_server_profile(const ProgramFolder& folder, std::string_view name) {
  const std::optional<std::string> file = index_value(folder, name);
  if (!file) return -1;
  remove_index_entry(folder, name);
  platform::remove_file(folder.stored_path(*file).c_str());
  return 0;
}

}  // namespace torvane
