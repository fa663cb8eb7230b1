#include "core/settings/add_items_history.h"

#include <algorithm>
#include <cstdio>

#include "core/settings/settings.h"
#include "core/text/number_text.h"

namespace torvane {
namespace {

char fold(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equal_ignoring_case(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [](char x, char y) { return fold(x) == fold(y); });
}

std::string list_key(std::string_view prefix, std::size_t i) {
  return std::string(prefix) + "_" + std::to_string(i);
}

std::optional<std::string> read_stored(const IniAccess& ini, std::string_view key) {
  std::string value;
  ini.read_text(kSettingSection, key, value, kHistoryTextMax + 1);
  if (value.empty() && !ini.has_path()) return std::nullopt;
  if (value == kAbsentText) return std::nullopt;
  return value;
}

std::vector<std::string> read_list(const IniAccess& ini, std::string_view prefix) {
  std::vector<std::string> list;
  for (std::size_t i = 0; i < kHistoryKept; ++i) {
    if (auto value = read_stored(ini, list_key(prefix, i)))
      add_history_entry(list, *value, HistoryEnd::kEnd);
  }
  return list;
}

int write_list(const IniAccess& ini, std::string_view prefix,
               const std::vector<std::string>& list) {
  int result = 0;
  for (std::size_t i = 0; i < kHistoryKept; ++i) {
    const std::string key = list_key(prefix, i);
    if (i < list.size() && list[i].size() < kHistoryEntryUnstored) {
      if (ini.write_text(kSettingSection, key, list[i]) != 1) result = -1;
    } else {
      ini.delete_key(kSettingSection, key);  // 0 also when it was not there
    }
  }
  return result;
}

}  // namespace

void add_history_entry(std::vector<std::string>& list, std::string_view text, HistoryEnd where) {
  std::erase_if(list, [&](const std::string& entry) { return equal_ignoring_case(entry, text); });
  if (where == HistoryEnd::kTop) {
    list.insert(list.begin(), std::string(text));
  } else {
    list.emplace_back(text);
  }
}

AddItemsHistory read_add_items_history(const IniAccess& ini) {
  AddItemsHistory history;
  history.save_text = read_stored(ini, "SAVE_T");
  history.save_list = read_list(ini, "SAVE");
  history.url_text = read_stored(ini, "URL_T");
  history.url_list = read_list(ini, "URL");
  if (auto division = read_stored(ini, "Div")) history.division = *division;
  return history;
}

int write_add_items_history(const IniAccess& ini, const AddItemsHistory& history) {
  int result = 0;
  const auto write = [&](std::string_view key, std::string_view text) {
    if (ini.write_text(kSettingSection, key, text) != 1) result = -1;
  };
  write("SAVE_T", history.save_text.value_or(""));
  if (write_list(ini, "SAVE", history.save_list) != 0) result = -1;
  write("URL_T", history.url_text.value_or(""));
  if (write_list(ini, "URL", history.url_list) != 0) result = -1;
  write("Div", history.division);
  return result;
}

std::string default_division_text(const IniAccess& ini) {
  std::string stored;
  ini.read_text(kSettingSection, "Div", stored, 4);
  // Digits alone (three at most), not 0.
  return parse_number(stored, 1, 999) ? stored : "1";
}

}  // namespace torvane
