// INI profile files: parsing into lines, in-place edits, and the atomic
// replacement of the file on every write.
#include "platform/ini.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/ascii.h"
#include "platform/file.h"

namespace torvane::platform {
namespace {

bool is_blank(char c) {
  return c == ' ' || c == '\t';
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && is_blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && is_blank(s.back())) s.remove_suffix(1);
  return s;
}

std::string_view unquote(std::string_view s) {
  s = trim(s);
  if (s.size() >= 2 && (s.front() == '"' || s.front() == '\'') && s.back() == s.front()) {
    s = s.substr(1, s.size() - 2);
  }
  return s;
}

bool is_comment(std::string_view trimmed) {
  return !trimmed.empty() && (trimmed.front() == ';' || trimmed.front() == '#');
}

// Section name of a header line, or false when the line is not a header.
bool header_name(std::string_view line, std::string_view& name) {
  std::string_view t = trim(line);
  if (t.empty() || t.front() != '[') return false;
  t.remove_prefix(1);
  const std::size_t close = t.find(']');
  name = trim(close == std::string_view::npos ? t : t.substr(0, close));
  return true;
}

// Name and raw value of an entry line; false for comments, blanks, headers
// and text without '='.
bool entry_parts(std::string_view line, std::string_view& name, std::string_view& value) {
  const std::string_view t = trim(line);
  if (t.empty() || t.front() == '[' || is_comment(t)) return false;
  const std::size_t eq = t.find('=');
  if (eq == std::string_view::npos) return false;
  name = trim(t.substr(0, eq));
  value = trim(t.substr(eq + 1));
  return !name.empty();
}

// Writes `items` as a NUL-separated list closed by a second NUL, cut to the
// buffer the way the profile functions cut it.
std::size_t write_list(const std::vector<std::string>& items, char* buffer, std::size_t size) {
  if (buffer == nullptr || size == 0) return 0;
  if (size == 1) {
    buffer[0] = '\0';
    return 0;
  }
  std::string joined;
  for (const std::string& item : items) {
    joined.append(item);
    joined.push_back('\0');
  }
  if (joined.size() + 1 <= size) {
    std::memcpy(buffer, joined.data(), joined.size());
    buffer[joined.size()] = '\0';
    if (joined.empty() && size >= 2) buffer[1] = '\0';
    return joined.size();  // the closing second NUL is not counted
  }
  std::memcpy(buffer, joined.data(), size - 2);
  buffer[size - 2] = '\0';
  buffer[size - 1] = '\0';
  return size - 2;
}

enum class Load { kRead, kMissing, kFailed };

// Reads the file into `doc`. A file that exists but cannot be read is a
// failure, not an empty file: writing on would replace its contents.
Load load_file(const char* path, IniDocument& doc) {
  if (path == nullptr || *path == '\0') return Load::kFailed;
  std::string text;
  if (!read_whole_file(path, text)) return errno == ENOENT ? Load::kMissing : Load::kFailed;
  doc = IniDocument(text);
  return Load::kRead;
}

bool load(const char* path, IniDocument& doc) {
  return load_file(path, doc) == Load::kRead;
}

// Creates every missing folder above `path`.
bool make_parent_folders(const std::string& path) {
  for (std::size_t pos = path.find('/', 1); pos != std::string::npos;
       pos = path.find('/', pos + 1)) {
    const std::string dir = path.substr(0, pos);
    if (::mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) return false;
  }
  return true;
}

// Replaces the file whole (readers and a crash only ever see a whole file).
bool save(const char* path, const IniDocument& doc) {
  if (!make_parent_folders(path)) return false;
  const std::string& text = doc.text();
  return write_file_atomic(path, text.data(), text.size()) == 0;
}

// Loads (a missing file is an empty document), edits and saves; 1 or 0.
template <typename Edit>
int edit_file(const char* path, Edit edit) {
  if (path == nullptr || *path == '\0') return 0;
  IniDocument doc;
  if (load_file(path, doc) == Load::kFailed) return 0;
  if (!edit(doc)) return 0;
  return save(path, doc) ? 1 : 0;
}

}  // namespace

std::size_t ini_cut_length(std::string_view text, std::size_t max) {
  if (text.size() <= max) return text.size();
  // The first byte left out continues a character: the cut goes before that
  // character's first byte (a UTF-8 character has at most three more).
  std::size_t n = max;
  for (int back = 0; back < 3 && n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80;
       ++back) {
    --n;
  }
  return (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80 ? max : n;
}

bool ini_text_allowed(std::string_view text) {
  return text.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

// A ']' in a section name would end its header early and make the section
// unreachable by its own name.
static bool section_allowed(std::string_view section) {
  return ini_key_allowed(section) && section.find(']') == std::string_view::npos;
}

bool ini_key_allowed(std::string_view key) {
  const std::string_view t = trim(key);
  return ini_text_allowed(key) && !t.empty() && t.find('=') == std::string_view::npos &&
         t.front() != '[' && !is_comment(t);
}

IniDocument::IniDocument(std::string_view text) {
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    const bool has_end = end != std::string_view::npos;
    if (!has_end) end = text.size();
    std::string_view line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') {
      line.remove_suffix(1);
      crlf_ = true;
    }
    lines_.push_back(Line{std::string(line)});
    start = has_end ? end + 1 : end;
  }
}

bool IniDocument::find_section(std::string_view section, SectionSpan& span) const {
  std::string_view name;
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    if (!header_name(lines_[i].text, name) || !equal_ci(name, trim(section))) continue;
    std::size_t end = i + 1;
    while (end < lines_.size() && !header_name(lines_[end].text, name)) ++end;
    span = SectionSpan{i, i + 1, end};
    return true;
  }
  return false;
}

std::size_t IniDocument::find_key_line(const SectionSpan& span, std::string_view key,
                                       bool exact) const {
  std::string_view name, value;
  for (std::size_t i = span.begin; i < span.end; ++i) {
    if (!entry_parts(lines_[i].text, name, value)) continue;
    if (exact ? name == key : equal_ci(name, trim(key))) return i;
  }
  return std::string::npos;
}

std::size_t IniDocument::insertion_point(const SectionSpan& span) const {
  // After the last non-blank line, so blank lines that part this section from
  // the next stay where they are.
  std::size_t at = span.begin;
  for (std::size_t i = span.begin; i < span.end; ++i) {
    if (!trim(lines_[i].text).empty()) at = i + 1;
  }
  return at;
}

void IniDocument::append_section(std::string_view section) {
  if (!lines_.empty() && !trim(lines_.back().text).empty()) lines_.push_back(Line{});
  lines_.push_back(Line{"[" + std::string(trim(section)) + "]"});
}

bool IniDocument::has_section(std::string_view section) const {
  SectionSpan span{};
  return find_section(section, span);
}

bool IniDocument::get(std::string_view section, std::string_view key, std::string& value) const {
  SectionSpan span{};
  if (!find_section(section, span)) return false;
  const std::size_t at = find_key_line(span, key, false);
  if (at == std::string::npos) return false;
  std::string_view name, raw;
  entry_parts(lines_[at].text, name, raw);
  value.assign(unquote(raw));
  return true;
}

std::vector<std::string> IniDocument::section_names() const {
  std::vector<std::string> names;
  std::string_view name;
  for (const Line& line : lines_) {
    if (header_name(line.text, name)) names.emplace_back(name);
  }
  return names;
}

std::vector<std::string> IniDocument::key_names(std::string_view section) const {
  std::vector<std::string> names;
  for (IniEntry& e : entries(section)) names.push_back(std::move(e.name));
  return names;
}

std::vector<IniEntry> IniDocument::entries(std::string_view section) const {
  std::vector<IniEntry> out;
  SectionSpan span{};
  if (!find_section(section, span)) return out;
  std::string_view name, value;
  for (std::size_t i = span.begin; i < span.end; ++i) {
    if (entry_parts(lines_[i].text, name, value)) {
      out.push_back(IniEntry{std::string(name), std::string(value)});
    }
  }
  return out;
}

bool IniDocument::set(std::string_view section, std::string_view key, std::string_view value) {
  if (!section_allowed(section) || !ini_key_allowed(key) || !ini_text_allowed(value)) {
    return false;
  }
  SectionSpan span{};
  if (!find_section(section, span)) {
    append_section(section);
    span = SectionSpan{lines_.size() - 1, lines_.size(), lines_.size()};
  }
  const std::size_t at = find_key_line(span, key, false);
  if (at != std::string::npos) {
    std::string_view name, old;
    entry_parts(lines_[at].text, name, old);
    // The stored spelling of the name stays, as a replace in place should.
    lines_[at].text = std::string(name) + "=" + std::string(value);
    return true;
  }
  const std::size_t insert_at = insertion_point(span);
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(insert_at),
                Line{std::string(trim(key)) + "=" + std::string(value)});
  return true;
}

bool IniDocument::remove_key(std::string_view section, std::string_view key, bool exact_name) {
  SectionSpan span{};
  if (!find_section(section, span)) return false;
  const std::size_t at = find_key_line(span, key, exact_name);
  if (at == std::string::npos) return false;
  lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(at));
  return true;
}

bool IniDocument::remove_section(std::string_view section) {
  SectionSpan span{};
  if (!find_section(section, span)) return false;
  lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(span.header),
               lines_.begin() + static_cast<std::ptrdiff_t>(span.end));
  return true;
}

bool IniDocument::replace_section(std::string_view section, const std::vector<std::string>& lines) {
  if (!section_allowed(section)) return false;
  for (const std::string& line : lines) {
    // A body line that looked like a header would start a new section.
    const std::string_view t = trim(line);
    if (!ini_text_allowed(line) || (!t.empty() && t.front() == '[')) return false;
  }
  SectionSpan span{};
  if (!find_section(section, span)) {
    append_section(section);
    span = SectionSpan{lines_.size() - 1, lines_.size(), lines_.size()};
  }
  const std::size_t body_end = insertion_point(span);
  lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(span.begin),
               lines_.begin() + static_cast<std::ptrdiff_t>(body_end));
  std::vector<Line> body;
  for (const std::string& line : lines) body.push_back(Line{line});
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(span.begin), body.begin(), body.end());
  return true;
}

std::string IniDocument::text() const {
  std::string out;
  const char* eol = crlf_ ? "\r\n" : "\n";
  for (const Line& line : lines_) {
    out += line.text;
    out += eol;
  }
  return out;
}

// --- File operations ----------------------------------------------------

std::size_t ini_read_string(const char* path, std::string_view section, std::string_view key,
                            std::string_view def, char* buffer, std::size_t size) {
  if (key.empty()) return ini_list_keys(path, section, def, buffer, size);
  if (buffer == nullptr || size == 0) return 0;
  std::string value;
  if (!ini_get(path, section, key, value)) {
    while (!def.empty() && is_blank(def.back())) def.remove_suffix(1);
    value.assign(def);
  }
  const std::size_t n = ini_cut_length(value, size - 1);
  std::memcpy(buffer, value.data(), n);
  buffer[n] = '\0';
  return n;
}

std::size_t ini_list_keys(const char* path, std::string_view section, std::string_view def,
                          char* buffer, std::size_t size) {
  std::vector<std::string> keys = ini_key_names(path, section);
  if (keys.empty() && !def.empty()) keys.emplace_back(def);
  return write_list(keys, buffer, size);
}

std::size_t ini_list_sections(const char* path, char* buffer, std::size_t size) {
  IniDocument doc;
  load(path, doc);
  return write_list(doc.section_names(), buffer, size);
}

std::size_t ini_read_section(const char* path, std::string_view section, char* buffer,
                             std::size_t size) {
  std::vector<std::string> lines;
  for (const IniEntry& e : ini_entries(path, section)) lines.push_back(e.name + "=" + e.value);
  return write_list(lines, buffer, size);
}

bool ini_get(const char* path, std::string_view section, std::string_view key, std::string& value) {
  IniDocument doc;
  return load(path, doc) && doc.get(section, key, value);
}

std::vector<std::string> ini_key_names(const char* path, std::string_view section) {
  IniDocument doc;
  load(path, doc);
  return doc.key_names(section);
}

std::vector<IniEntry> ini_entries(const char* path, std::string_view section) {
  IniDocument doc;
  load(path, doc);
  return doc.entries(section);
}

int ini_write_string(const char* path, std::string_view section, std::string_view key,
                     std::string_view value) {
  return edit_file(path, [&](IniDocument& doc) { return doc.set(section, key, value); });
}

int ini_delete_key(const char* path, std::string_view section, std::string_view key) {
  IniDocument doc;
  if (!load(path, doc) || !doc.remove_key(section, key)) return 1;  // nothing to delete
  return save(path, doc) ? 1 : 0;
}

int ini_delete_section(const char* path, std::string_view section) {
  IniDocument doc;
  if (!load(path, doc) || !doc.remove_section(section)) return 1;
  return save(path, doc) ? 1 : 0;
}

int ini_remove_key_exact(const char* path, std::string_view section, std::string_view key) {
  IniDocument doc;
  if (!load(path, doc) || !doc.remove_key(section, key, /*exact_name=*/true)) return 0;
  return save(path, doc) ? 1 : 0;
}

int ini_write_section(const char* path, std::string_view section, const char* entries) {
  std::vector<std::string> lines;
  if (entries != nullptr) {
    for (const char* p = entries; *p != '\0'; p += std::strlen(p) + 1) lines.emplace_back(p);
  }
  return ini_write_section_lines(path, section, lines);
}

int ini_write_section_lines(const char* path, std::string_view section,
                            const std::vector<std::string>& lines) {
  return edit_file(path, [&](IniDocument& doc) { return doc.replace_section(section, lines); });
}

}  // namespace torvane::platform
