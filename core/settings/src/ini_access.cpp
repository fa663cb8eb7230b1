// The INI access layer over the platform's profile-file reader and writer.
#include "core/settings/ini_access.h"

#include <climits>

#include "core/text/number_text.h"
#include "platform/ini.h"

namespace torvane {
namespace {

// A profile read of text: the value, or "--" when absent, cut to the buffer.
std::string read_raw(const char* file, std::string_view section, std::string_view key,
                     std::size_t size) {
  std::string value;
  if (!platform::ini_get(file, section, key, value)) value.assign(kAbsentText);
  if (size == 0) return {};
  value.resize(platform::ini_cut_length(value, size - 1));
  return value;
}

}  // namespace

int ini_int_value(std::string_view value) {
  constexpr NumberRules kRules{
      .blanks = LeadingBlanks::kSpacesAndTabs, .sign = true, .leading = true, .saturate = true};
  return static_cast<int>(parse_number(value, INT_MIN, INT_MAX, kRules).value_or(0));
}

int read_ini_int(const char* file, std::string_view section, std::string_view key, int def) {
  std::string value;
  if (!platform::ini_get(file, section, key, value)) return def;
  return ini_int_value(value);
}

ProgramFolder::ProgramFolder(std::string_view folder) : dir_(folder) {
  if (!dir_.empty() && dir_.back() != '/') dir_.push_back('/');
}

ProgramFolder ProgramFolder::of_program_file(std::string_view program_file) {
  const std::size_t slash = program_file.rfind('/');
  return ProgramFolder(slash == std::string_view::npos ? std::string_view()
                                                       : program_file.substr(0, slash + 1));
}

std::string normalize_stored_path(std::string_view stored) {
  std::string out(stored);
  for (char& c : out) {
    if (c == '\\') c = '/';
  }
  return out;
}

std::string ProgramFolder::stored_path(std::string_view stored) const {
  std::string rel = normalize_stored_path(stored);
  const std::size_t first = rel.find_first_not_of('/');
  rel.erase(0, first == std::string::npos ? rel.size() : first);
  return dir_ + rel;
}

const char* IniAccess::target(const char* file) const {
  if (file != nullptr) return file;
  return has_path() ? path_.c_str() : nullptr;
}

int IniAccess::read_int(std::string_view section, std::string_view key, int def) const {
  if (!has_path()) return 0;
  return read_ini_int(path_.c_str(), section, key, def);
}

std::size_t IniAccess::read_text(std::string_view section, std::string_view key, std::string& out,
                                 std::size_t size) const {
  if (!has_path()) return 0;
  out = read_raw(path_.c_str(), section, key, size);
  return out.size();
}

int IniAccess::write_int(std::string_view section, std::string_view key, int value) const {
  return write_text(section, key, std::to_string(value));
}

int IniAccess::write_text(std::string_view section, std::string_view key,
                          std::string_view text) const {
  if (!has_path()) return 0;
  return platform::ini_write_string(path_.c_str(), section, key, text);
}

std::vector<std::string> IniAccess::list_keys(std::string_view section) const {
  if (!has_path()) return {};
  return platform::ini_key_names(path_.c_str(), section);
}

int IniAccess::delete_key(std::string_view section, std::string_view key, const char* file) const {
  const char* where = target(file);
  if (where == nullptr) return 0;
  // The whole section is worked on in place, so no entry beyond a read limit
  // can be lost, and comments in the section stay.
  return platform::ini_remove_key_exact(where, section, key);
}

int IniAccess::clear_section(std::string_view section, const char* file) const {
  return write_section(section, {}, file);
}

int IniAccess::write_section(std::string_view section, const std::vector<std::string>& lines,
                             const char* file) const {
  const char* where = target(file);
  if (where == nullptr) return 0;
  return platform::ini_write_section_lines(where, section, lines);
}

int read_text_with_fallback(std::string_view section, std::string_view key, std::string& out,
                            std::size_t size, const char* file, const char* fallback) {
  if (file == nullptr) return -1;
  for (const char* source : {file, fallback}) {
    if (source == nullptr) break;
    std::string value = read_raw(source, section, key, size);
    if (value != kAbsentText) {
      out = std::move(value);
      return static_cast<int>(out.size());
    }
  }
  return -1;
}

int read_int_with_fallback(std::string_view section, std::string_view key, int def,
                           const char* file, const char* fallback) {
  if (file == nullptr) return def;
  const int value = read_ini_int(file, section, key, def);
  if (value != def || fallback == nullptr) return value;
  return read_ini_int(fallback, section, key, def);
}

}  // namespace torvane
