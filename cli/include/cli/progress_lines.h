// What torvane-get prints about its downloads, made from copies of the list
// rows so the manager's lock is held only for the copy: one progress line per
// running item, the escape sequences that redraw those lines in place on a
// terminal, and the closing summary of finished and failed files.
//
// Everything but snapshot_rows is pure text; any thread.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
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
  std::string reason{};          // ListItem::reason
  std::uint64_t done_bytes = 0;  // the figures of ListItem
  std::uint64_t size_bytes = 0;  // 0: not known
  double bytes_per_second = 0;
  std::uint32_t start_tick = 0;  // of the current start
};

// Copies every row of the list; the caller holds the manager's lock
// (DownloadManager::with_items).
std::vector<RowSnapshot> snapshot_rows(const ItemList& items);
// One row, e.g. of an item that has just finished (ManagerConfig::finished).
RowSnapshot snapshot_row(const ListItem& item);

// True for the states in which an item holds engine connections (1 to 4).
bool is_running(int state);

// "0 B", "1023 B", "1.0 KiB" .. "1023.9 KiB", "1.0 MiB", "1.00 GiB": binary
// units with three significant figures or more.
std::string size_text(std::uint64_t bytes);
// "0:07", "12:34", "1:02:03", "--:--" for none.
std::string duration_text(std::optional<std::uint64_t> seconds);
// Seconds until `size` bytes at `bytes_per_second` from `done`, rounded up;
// none while the size or a rate is not known.
std::optional<std::uint64_t> eta_seconds(std::uint64_t done, std::uint64_t size,
                                         double bytes_per_second);

// One running item: "<state> <name> <done> / <size> <pct>%  <speed>/s  ETA
// <left>  <elapsed>" (the size, percent and ETA only once the size is
// known), its name cut so that the line fits `width` display columns.
// `now_ms` is the clock's tick, for the time since the item's start.
std::string progress_line(const RowSnapshot& row, std::uint32_t now_ms, std::size_t width = 100);

// How the items of a run stand.
struct RunCounts {
  std::size_t done = 0, running = 0, waiting = 0, failed = 0;
};
// The run as a whole: the counts, then the bytes of the items in the list
// against their sizes, the speed of all, the ETA and the run's time, cut to
// `width` columns.
std::string totals_line(const std::vector<RowSnapshot>& rows, const RunCounts& counts,
                        std::uint32_t run_ms, std::size_t width = 100);

// The progress lines of the running rows, in list order, each cut to `width`.
std::vector<std::string> running_lines(const std::vector<RowSnapshot>& rows, std::uint32_t now_ms,
                                       std::size_t width = 100);

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
  // The counts of this run's items by `rows` (an item no longer in the list
  // is done).
  RunCounts counts(const std::vector<RowSnapshot>& rows) const;

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
