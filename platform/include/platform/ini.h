// INI profile files: the reader and writer behind every settings file of the
// program (the program INI, the server index, the server profiles).
//
// Semantics the callers rely on:
//  - section and key names match without regard to ASCII case; the first
//    section and the first key of a name win;
//  - a value is trimmed of blanks (space, tab) and of one pair of surrounding
//    double or single quotes when read;
//  - a missing file or section reads as absent;
//  - writing a key of an existing section replaces that line in place, a new
//    key goes after the section's last entry, a new section at the file's end;
//  - lines that are not entries (comments starting with ';' or '#', blank
//    lines, text without '=') survive every write untouched;
//  - a write goes to a temporary file in the same folder that is renamed over
//    the old file, so a crash leaves the old or the new file, never half of
//    one; the folder is created when missing; the file keeps its mode;
//  - a section, key or value holding CR, LF or NUL is refused (result 0) and
//    the file stays as it was: such text would inject lines into the file.
//    A key may not hold '=' or start with '[', ';' or '#' for the same reason.
//
// Results of the file writes follow the profile functions the program was
// designed around: 1 written, 0 refused or failed. Reads never fail; absent
// values come back as the caller's default.
//
// Lines may end in "\n" or "\r\n"; a file that already uses "\r\n" keeps it.
// None of these functions keeps state; concurrent writers of one file are not
// coordinated (the last rename wins).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace torvane::platform {

// One "name=value" entry as stored in a section (name and value trimmed of
// blanks, quotes kept).
struct IniEntry {
  std::string name;
  std::string value;
};

// An INI text held in memory as its lines, so that writes keep every line
// they do not touch byte for byte.
class IniDocument {
 public:
  IniDocument() = default;
  explicit IniDocument(std::string_view text);

  // Trimmed, unquoted value of `key`, or false when section or key is absent.
  bool get(std::string_view section, std::string_view key, std::string& value) const;

  // Names of all sections / all keys of `section`, in file order. Unlisted
  // when absent: an empty vector.
  std::vector<std::string> section_names() const;
  std::vector<std::string> key_names(std::string_view section) const;
  bool has_section(std::string_view section) const;

  // Every entry of `section` in file order (comments not included).
  std::vector<IniEntry> entries(std::string_view section) const;

  // Edits; each returns false (changing nothing) for text that is refused.
  bool set(std::string_view section, std::string_view key, std::string_view value);
  // Removes the first entry named `key`: without regard to case, or with
  // `exact_name` only the one whose stored name equals it byte for byte.
  // False when there is none.
  bool remove_key(std::string_view section, std::string_view key, bool exact_name = false);
  // Removes the section header and its body; false when absent.
  bool remove_section(std::string_view section);
  // Replaces the body of `section` (created when missing) with `lines`, each
  // written as given ("name=value"). An empty list leaves only the header.
  bool replace_section(std::string_view section, const std::vector<std::string>& lines);

  std::string text() const;

 private:
  struct Line {
    std::string text;  // without its line end
  };
  // Index range [begin, end) of the body lines of a section; header at begin-1.
  struct SectionSpan {
    std::size_t header;
    std::size_t begin;
    std::size_t end;
  };
  bool find_section(std::string_view section, SectionSpan& span) const;
  std::size_t find_key_line(const SectionSpan& span, std::string_view key, bool exact) const;
  std::size_t insertion_point(const SectionSpan& span) const;
  void append_section(std::string_view section);

  std::vector<Line> lines_;
  bool crlf_ = false;
};

// How many bytes of `text` a cut to at most `max` bytes keeps: a UTF-8
// character that would be split is left out whole, so a cut value stays
// valid text (a file name template, a URL).
std::size_t ini_cut_length(std::string_view text, std::size_t max);

// True when `text` may be written as a section, key or value.
bool ini_text_allowed(std::string_view text);
bool ini_key_allowed(std::string_view key);

// --- File operations, shaped like the profile functions -----------------

// Value of `key`, cut to `size`-1 bytes (see ini_cut_length) and NUL-terminated; `def` when
// absent (trailing blanks of `def` removed). Returns the count of characters
// copied. With an empty `key` this is the key listing below; size 0 copies
// nothing and returns 0.
std::size_t ini_read_string(const char* path, std::string_view section, std::string_view key,
                            std::string_view def, char* buffer, std::size_t size);

// Names of the keys of `section`, each NUL-terminated, then one more NUL. When
// the section is missing or has no keys, `def` is copied instead (with the
// closing double NUL). When the list does not fit, it is cut and closed with a
// double NUL, and size-2 is returned. Otherwise: the characters written, the
// final NUL excluded.
std::size_t ini_list_keys(const char* path, std::string_view section, std::string_view def,
                          char* buffer, std::size_t size);

// Same layout for the section names of the file.
std::size_t ini_list_sections(const char* path, char* buffer, std::size_t size);

// The entries of `section` as "name=value" texts, each NUL-terminated, then one
// more NUL; cut as the listings are. Returns the characters written, as above.
std::size_t ini_read_section(const char* path, std::string_view section, char* buffer,
                             std::size_t size);

// Unlimited forms of the reads, for callers that do not want the cut.
bool ini_get(const char* path, std::string_view section, std::string_view key, std::string& value);
std::vector<std::string> ini_key_names(const char* path, std::string_view section);
std::vector<IniEntry> ini_entries(const char* path, std::string_view section);

// Writes `value` under `key`. 1 written, 0 refused or failed.
int ini_write_string(const char* path, std::string_view section, std::string_view key,
                     std::string_view value);
// Deletes a key (1 also when it was not there) or a whole section.
int ini_delete_key(const char* path, std::string_view section, std::string_view key);
int ini_delete_section(const char* path, std::string_view section);
// Deletes the first entry whose stored name is exactly `key` (case included).
// 1 removed and written, 0 no such entry or failed.
int ini_remove_key_exact(const char* path, std::string_view section, std::string_view key);

// Replaces the body of `section` with the NUL-separated "name=value" list in
// `entries` (ended by an empty entry, as ini_read_section produces). An empty
// list leaves the section header alone. 1 or 0.
int ini_write_section(const char* path, std::string_view section, const char* entries);
// The same from a vector of "name=value" lines.
int ini_write_section_lines(const char* path, std::string_view section,
                            const std::vector<std::string>& lines);

}  // namespace torvane::platform
