// Fuzz target: the INI parser and its in-memory edits. Beyond not crashing,
// it checks that writing a document back and reading it again changes
// nothing, and that a value that was accepted reads back as written.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/ini.h"

using torvane::platform::IniDocument;

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

// Takes the next piece of the input up to a 0x01 byte.
std::string_view next_piece(std::string_view& rest) {
  const std::size_t cut = rest.find('\x01');
  const std::string_view piece = rest.substr(0, cut);
  rest = cut == std::string_view::npos ? std::string_view() : rest.substr(cut + 1);
  return piece;
}

bool plain_value(std::string_view v) {
  if (v.empty()) return true;
  const char f = v.front();
  const char b = v.back();
  return f != ' ' && f != '\t' && b != ' ' && b != '\t' && f != '"' && f != '\'';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  const std::string_view text = next_piece(rest);
  IniDocument doc(text);

  for (const std::string& section : doc.section_names()) {
    for (const auto& entry : doc.entries(section)) {
      std::string value;
      check(doc.get(section, entry.name, value));
    }
  }
  const std::string once = doc.text();
  check(IniDocument(once).text() == once);

  const std::string_view section = next_piece(rest);
  const std::string_view key = next_piece(rest);
  const std::string_view value = next_piece(rest);
  IniDocument edited(text);
  if (edited.set(section, key, value)) {
    std::string back;
    check(edited.get(section, key, back));
    if (plain_value(value)) check(back == value);
    // The edit must not have created or dropped other sections.
    IniDocument reread(edited.text());
    check(reread.get(section, key, back));
  }
  edited.remove_key(section, key);
  edited.remove_key(section, value, /*exact_name=*/true);
  edited.replace_section(section, {std::string(key) + "=" + std::string(value), std::string(rest)});
  edited.remove_section(key);
  const std::string after = edited.text();
  check(IniDocument(after).text() == after);
  return 0;
}
