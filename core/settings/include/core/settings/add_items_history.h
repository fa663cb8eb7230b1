// The add-items panel's remembered texts in section "SETTING" of the program
// INI: the save folder box ("SAVE_T" and its list "SAVE_0".."SAVE_9"), the
// URL box ("URL_T", "URL_0".."URL_9") and the division box ("Div"). Read
// when the panel opens, written when it closes. Any thread may call these;
// the panel's own thread is the one that does.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/settings/ini_access.h"

namespace torvane {

// Entries of a list that are kept in the file; the lists grow without limit
// while the program runs.
inline constexpr std::size_t kHistoryKept = 10;
// A stored text is read cut to this many bytes; a list entry this long or
// longer is not stored.
inline constexpr std::size_t kHistoryTextMax = 2046;
inline constexpr std::size_t kHistoryEntryUnstored = 2048;

struct AddItemsHistory {
  std::optional<std::string> save_text;  // absent: the box keeps its text
  std::vector<std::string> save_list;    // newest first
  std::optional<std::string> url_text;   // absent: the box keeps "http://"
  std::vector<std::string> url_list;
  std::string division = "1";  // the division box; "1" when absent
};

// Where add_history_entry puts a text: a user's entry goes to the top, one
// loaded from the file to the end.
enum class HistoryEnd { kTop, kEnd };

// Removes every entry equal to `text`, ignoring the case of ASCII letters,
// then puts `text` at `where`.
void add_history_entry(std::vector<std::string>& list, std::string_view text, HistoryEnd where);

// Absent list keys are passed over; a list read from the file holds each
// text once.
AddItemsHistory read_add_items_history(const IniAccess& ini);

// Writes the two box texts, the first ten entries of each list and "Div".
// A list key without an entry to store (a shorter list, an entry of 2048
// bytes or more) is deleted, so an old entry does not come back. 0 when
// every write succeeded, else -1 (the other writes still happen).
int write_add_items_history(const IniAccess& ini, const AddItemsHistory& history);

// The division text a new item gets when none is given: the stored "Div"
// when it is a positive number of at most three digits, else "1".
std::string default_division_text(const IniAccess& ini);

}  // namespace torvane
