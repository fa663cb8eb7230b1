// What torvane-get prints about its downloads, made from copies of the list
// rows so the manager's lock is held only for the copy: one progress line per
// running item, the escape sequences that redraw those lines in place on a
// terminal, and the closing summary of finished and failed files.
//
// Everything but snapshot_rows is pure text; any thread.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "core/queue/list_item.h"

namespace torvane::cli {

// One list row as the front end needs it.
struct RowSnapshot {
  int state = kWaiting;
  std::string file_name;
  std::string progress;
  std::string speed;
  std::string save_folder;
  std::string url;
  // The item's serial: the same item from snapshot to snapshot, whatever its
  // URL becomes (0: the URL and save folder tell the items apart).
  std::uint64_t serial = 0;
  std::string reason{};  // ListItem::reason
};

// Copies every row of the list; the caller holds the manager's lock
// (DownloadManager::with_items).
std::vector<RowSnapshot> snapshot_rows(const ItemList& items);
// One row, e.g. of an item that has just finished (ManagerConfig::finished).
RowSnapshot snapshot_row(const ListItem& item);

// True for the states in which an item holds engine connections (1 to 4).
bool is_running(int state);

// "<state word padded> <file name> <progress> <speed>", the file name cut to
// `name_width` display columns.
std::string progress_line(const RowSnapshot& row, std::size_t name_width = 40);

// The progress lines of the running rows, in list order.
std::vector<std::string> running_lines(const std::vector<RowSnapshot>& rows);

// The text that takes the cursor back over the `previous` lines drawn last
// time and clears them, so that what is printed next replaces them.
std::string erase_block(std::size_t previous);

// The state of each item, keyed by its serial (or URL and save folder), to
// tell when a plain (non-terminal) report is due.
std::map<std::string, int> states_by_item(const std::vector<RowSnapshot>& rows);

// Follows the items of one run from snapshot to snapshot, remembering where
// each one's file goes, so that the items the manager has removed on
// finishing can still be named at the end. A finished item's own last row
// is observed after the snapshots taken before it finished.
class RunRecord {
 public:
  void observe(const std::vector<RowSnapshot>& rows);
  // The item of `row` is not this run's (a failure of an earlier run that is
  // not tried again): it is left out of the outcomes.
  void leave_out(const RowSnapshot& row);

  struct Outcome {
    std::string path;  // save folder + the name of the file the item writes
    std::string url;
    int state = kWaiting;  // kFinished for an item no longer in the list
    std::string reason{};  // why it failed or rests, when the manager said
  };
  // Every item observed, in the order first seen, with the state it has in
  // `final_rows` (kFinished when it left the list).
  std::vector<Outcome> outcomes(const std::vector<RowSnapshot>& final_rows) const;

 private:
  std::vector<std::string> order_;
  std::map<std::string, Outcome> items_;
  std::set<std::string> left_out_;
};

// "N finished, M failed" followed by one line per item: its status word and
// path (and URL when it failed). Items in other states (an interrupted run)
// add "K not done".
std::string summary_text(const std::vector<RunRecord::Outcome>& outcomes);

// The queue as --list prints it: a line per item with its state, progress,
// file and URL, and its reason when it has one; "nothing is queued here"
// for none.
std::string queue_text(const std::vector<RowSnapshot>& rows);

// What --forget says: how many items it took out of the queue, and the
// partly downloaded files (`partial`) it left on the disk.
std::string forget_text(std::size_t forgotten, const std::vector<std::string>& partial);

// The number of failed items among `outcomes`.
std::size_t failed_count(const std::vector<RunRecord::Outcome>& outcomes);

}  // namespace torvane::cli
