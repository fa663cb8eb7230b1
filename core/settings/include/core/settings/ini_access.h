// The INI access layer every part of the program reads and writes its files
// through: the program INI ("Torvane.ini" in the program folder) by section
// and key, reads of the server profiles with a fallback file, key deletion,
// section clearing, and paths in the program folder.
//
// Conventions the callers share: an absent integer reads as -1 (kAbsentInt)
// and an absent text as "--" (kAbsentText), so a stored -1 or "--" means
// absent too. Write results are 1 written, 0 refused or failed; a text holding
// CR, LF or NUL is refused and the file stays as it was.
//
// IniAccess holds only the path; it may be shared between threads, and each
// call reads the file afresh (writes are atomic replacements).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace torvane {

inline constexpr int kAbsentInt = -1;
inline constexpr std::string_view kAbsentText = "--";

// The folder of the program file, with its trailing '/'.
class ProgramFolder {
 public:
  ProgramFolder() = default;
  // `folder` with or without its trailing '/'.
  explicit ProgramFolder(std::string_view folder);
  // The folder of `program_file`: everything up to and including its last '/'.
  static ProgramFolder of_program_file(std::string_view program_file);

  const std::string& dir() const { return dir_; }
  // The folder followed by `name`.
  std::string path(std::string_view name) const { return dir_ + std::string(name); }
  // The folder joined with a stored relative name: a stored '\' is read as '/',
  // and leading '/' are dropped, because stored names are never absolute.
  std::string stored_path(std::string_view stored) const;

 private:
  std::string dir_;
};

// A stored relative path with '\' read as '/'.
std::string normalize_stored_path(std::string_view stored);

// The integer `key` of `section` in `file`, `def` when absent. A value is
// read as far as it is a number: leading blanks (space, tab), a sign and the
// digits that follow, saturated to the int range; a value without digits
// ("", "abc", "-") reads as 0 and "12abc" as 12.
int read_ini_int(const char* file, std::string_view section, std::string_view key, int def);
// A stored value read as read_ini_int reads it: leading blanks and a sign
// allowed, the digits at the start, saturated to int; 0 without digits.
int ini_int_value(std::string_view value);

class IniAccess {
 public:
  IniAccess() = default;  // no program INI: reads give 0 / leave text alone, writes do nothing
  explicit IniAccess(std::string program_ini) : path_(std::move(program_ini)) {}

  bool has_path() const { return !path_.empty(); }
  const std::string& path() const { return path_; }

  // The value, or `def` when absent; 0 when there is no program INI.
  int read_int(std::string_view section, std::string_view key, int def) const;
  // The value cut to size-1 characters, "--" when absent; returns its length.
  // Without a program INI `out` is left untouched and 0 returned.
  std::size_t read_text(std::string_view section, std::string_view key, std::string& out,
                        std::size_t size) const;
  int write_int(std::string_view section, std::string_view key, int value) const;
  int write_text(std::string_view section, std::string_view key, std::string_view text) const;
  // Every key name of the section in file order (no length limit).
  std::vector<std::string> list_keys(std::string_view section) const;

  // Deletes the entry whose name is exactly `key` (case included) from the
  // whole section of `file` (the program INI when null), leaving every other
  // line. 1 deleted, 0 no such entry or no file.
  int delete_key(std::string_view section, std::string_view key, const char* file = nullptr) const;
  // Removes every key of the section; the header stays. 1 or 0.
  int clear_section(std::string_view section, const char* file = nullptr) const;
  // Replaces the section body with "name=value" lines, in order. 1 or 0.
  int write_section(std::string_view section, const std::vector<std::string>& lines,
                    const char* file = nullptr) const;

 private:
  const char* target(const char* file) const;
  std::string path_;
};

// From `file` when the key there is not "--", else from `fallback` under the
// same test. The value (cut to size-1) goes to `out`; returns its length, or
// -1 when `file` is null or neither file has the key.
int read_text_with_fallback(std::string_view section, std::string_view key, std::string& out,
                            std::size_t size, const char* file, const char* fallback);

// `def` when `file` is null; the value from `file` when it differs from `def`;
// else the value from `fallback` when given; else `def`.
int read_int_with_fallback(std::string_view section, std::string_view key, int def,
                           const char* file, const char* fallback);

}  // namespace torvane
