// The download manager: the item list, the slot map and the program settings
// around one bound engine. It registers, schedules, starts, stops, resumes
// and removes items, answers the engine's notices, runs the one-second tick
// and saves the list. Front ends (the window, torvane-get, tests) drive it
// and see it through a View.
//
// Threads: every public function takes the manager's recursive mutex, so it
// may be called from any thread; notices arrive on the engine's threads and
// take the same mutex. The engine is always called with the mutex held
// (lock order "manager, then engine"), except torvane_end, which the ending
// calls after letting go of it. View calls happen under the mutex.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "core/queue/history_writer.h"
#include "core/queue/item_settings.h"
#include "core/queue/list_item.h"
#include "core/queue/list_store.h"
#include "core/queue/manager_tick.h"
#include "core/queue/slot_table.h"
#include "core/queue/view.h"
#include "core/settings/ini_access.h"
#include "core/settings/settings.h"
#include "core/settings/window_geometry.h"
#include "core/system/clock.h"
#include "core/system/engine_binding.h"
#include "core/system/power.h"
#include "core/text/progress_text.h"

namespace torvane {

struct ManagerConfig {
  ProgramFolder folder;                     // the INI, the profiles and the engine library
  std::string list_file = "test.tvn";       // relative: the current folder
  std::string history_file = "tvnlog.txt";  // relative: the current folder
  // Where the engine library is looked for; empty: engine_library_candidates(folder).
  std::vector<std::string> library_candidates;
  int wait_ms = 20;
  // A simultaneous-download limit for this run instead of the stored
  // MaxDLFiles (0: the stored one). It is not written back.
  int limit_override = 0;
  // Profile values for this run's items (see RunProfile).
  RunProfile run_profile;
  // The machine's power services the automatic shutdown uses (when the
  // list empties with ShutDown 1, or at the set time with ShutDown 2).
  // None: the shutdown does nothing.
  PowerBackend* power = nullptr;
  // Told of each item that finished, just before it leaves the list (a
  // front end that polls the list may never see its last name). Called with
  // the manager's lock held, on whichever thread the item finished; it must
  // not call the manager.
  std::function<void(const ListItem&)> finished;
};

enum class RemoveMode { kGone, kQuiet, kRedraw };

class DownloadManager {
 public:
  DownloadManager(ManagerConfig config, View& view, const Clock& clock);
  ~DownloadManager();  // runs the ending (at most 30 s of settling) when end() was not called
  DownloadManager(const DownloadManager&) = delete;
  DownloadManager& operator=(const DownloadManager&) = delete;

  // Settings zeroed, MaxDLFiles (15 when absent or not positive), the engine
  // bound, the slot map sized, the settings read. -1 when the engine could
  // not be bound: "Torvane.DLLの初期化失敗" / "error" has been shown and the
  // list file is left alone.
  int start_up();
  bool started() const;

  // Reads the list file into the (empty) list. 0, or -1 when it could not be
  // read. A damaged file is moved aside (see set_damaged_list_aside), what
  // could be read is written at once, and a message says what was lost.
  int load_list();
  // Writes the list file now (atomic replace): running items as waiting,
  // with their progress so far. 0 or -1.
  int save_list();

  // The ending: closing, every busy slot stopped, settled (items rest with
  // their saved record), the list written, the items freed, the engine ended.
  // `settle_timeout_ms` bounds the wait (0: wait as long as it takes).
  // Returns 0, or -1 when the wait ran out (the list is written anyway).
  int end(std::uint32_t settle_timeout_ms = 0);

  // Appends a waiting item and starts it at once. Its index, or -1.
  int register_item(std::string_view division_text, std::string_view save_folder,
                    std::string_view url);
  // The scheduler pass over one item or all (-1), requeueing failed and
  // resting items first when `requeue`. A waiting item keeps its saved
  // record through a requeue, and an item still linked to a slot (a link
  // jump whose page fetch has not ended yet) is left alone.
  void scheduler_pass(int index, bool requeue);
  // The requeue of a scheduler pass for item k alone, without starting it:
  // a failed or resting item waits again (a resting one to resume).
  void requeue(int k);
  // The slot, -1 when the engine refused (the item failed), -2 when no slot
  // could be reserved or the item is still linked to one. A waiting item
  // with a saved record resumes from it.
  int start_item(int k);
  void stop_item(int k);
  void stop_all();
  void reconnect_item(int k);
  void remove_item(int k, RemoveMode mode);

  // The one-second tick; `now_ms` is the timer's time argument.
  void tick(std::uint32_t now_ms);

  // Asks the engine for a new limit; 0, or -1 when the slot map could not grow.
  int change_limit(int limit);
  // The limit panel's answer once the engine has answered (View::limit_changed):
  // MaxDLFiles becomes the engine's limit when `done`, else the figure the
  // panel still shows (`shown`), either brought into 1..999; when fewer items
  // than that are starting, running or just finished, a scheduler pass runs
  // over all items. The limit the panel is to show.
  int take_limit_answer(bool done, int limit, int shown);

  // The window's calls.
  // The item list was clicked: the detail rows are written anew for the
  // focused row (View::focused_row), from its slot when it has one.
  void show_focused_details();
  // Deletes the items of `rows` (rows of the list as it stands now); each
  // that is neither waiting nor resting also has its slot stopped, after it
  // has left the list, so the stop's notices find no item.
  void delete_rows(std::vector<int> rows);
  // Deletes every item; those neither waiting, failed nor resting also have
  // their slots stopped. The last removal redraws, and may shut down.
  void delete_all();
  // The window is closing: its geometry and MaxDLFiles (unless the limit is
  // this run's only) are written, and from now on the list is busy, no freed
  // slot starts a waiting item and the tick does nothing. 0, or -1 when a
  // write failed. The ending (end) follows.
  int close_window(const WindowGeometry& geometry);
  // The engine threads' pause per cycle (the settings track bar): a value
  // above 0 becomes ThreadWait and the engine's wait_ms at once, at most
  // 1001. The value used, or -1 for a value of 0 or less.
  int set_thread_wait(int ms);
  // Writes the program settings (after the window's loop, before the
  // ending). 0, or -1 when a write failed.
  int save_settings();

  // A notice from the engine, as the engine calls it.
  static int notice_entry(EngineContext* context, int code, int slot, int div, void* data);

  // Read access for front ends: `f(const ItemList&)` under the mutex.
  template <class F>
  auto with_items(F&& f) const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return f(static_cast<const ItemList&>(items_));
  }
  // The settings, read or changed under the mutex.
  template <class F>
  auto with_settings(F&& f) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return f(settings_);
  }
  // The program folder (the INI, the profiles) and the history file this
  // manager was made with, for the windows that edit or show them.
  const ProgramFolder& folder() const { return config_.folder; }
  const std::string& history_file() const { return config_.history_file; }
  // The program INI the settings are read from and written to.
  const IniAccess& ini() const { return ini_; }
  // The power services the shutdown uses (the power dialog's test runs
  // them); null when the manager was given none.
  PowerBackend* power() const { return config_.power; }
  // True while an item is linked to a slot or in a running state.
  bool busy() const;
  // The engine context, for the engine status texts (read its fields with
  // acquire loads).
  EngineContext& context() { return binding_.context(); }
  // The engine status window's texts: the threads' bits, or every slot.
  std::string engine_status(bool threads);

 private:
  // The ending's wait for every slot and item to come to rest: 0, or -1
  // when `timeout_ms` (0: none) ran out.
  int wait_settled(std::uint32_t timeout_ms);
  bool settled();
  int handle_notice(int code, int slot, int div, void* data);
  void on_request_logged(int code, int k, int slot, int div, const char* text);
  int on_final_notice(int code, int slot);
  void on_resized();
  void on_engine_message(int k, int slot, int div, const char* text);
  int final_notice_item(int slot);
  void take_header_names(ListItem* item, int slot);
  int on_open_file(int k, int slot);
  static void set_file_name(ListItem& item, const char* path);
  int on_header_parsed(int k, int slot);
  int on_memory_page(int item, ItemData* record);
  void on_finished(int item, int slot);
  void on_failed(int item, int slot);
  void on_stopped(int item, int slot);
  // Removes item k and then, when `stop_running`, stops the slot it was linked to.
  void remove_and_stop(int k, RemoveMode mode, bool stop_running);
  // start_item's steps. The slot reserved for the item (marked as a
  // resume when it has a saved record), or -1.
  int reserve_start_slot(ListItem& item);
  // The slot filled from item k and started or resumed: 0, or -1 when the
  // engine refused (the item failed, the slot given back).
  int hand_to_engine(int k, int slot, std::vector<std::string>& notes);
  // The started item linked to its slot, the values brought into range logged.
  void link_started(int k, int slot, bool resumed, const std::vector<std::string>& notes);
  void requeue_item(ListItem& item);
  void fail(int k);
  void rest(int k);
  void reset_texts(int k);
  // The item an open notice of `slot` is for (none: nobody to tell).
  ListItem* opening_item(int slot, const ItemData* record);
  int open_resumed_target(ItemData* record, ListItem* self);
  int open_target_file(int slot);
  // Why the open of `path` (or of the record's own name when empty) failed,
  // as the item's reason.
  std::string open_failure_reason(const ItemData* record, std::string path) const;
  // The timed trigger's failure message belongs to the main window; the one
  // after the last removal has no owner.
  void run_shutdown(MessageOwner owner);
  void mark_dirty() { list_.mark_dirty(); }

  ItemSettingsEnv settings_env();
  int slot_item(int slot) const;

  ManagerConfig config_;
  View& view_;
  const Clock& clock_;
  IniAccess ini_;
  mutable std::recursive_mutex mutex_;
  EngineBinding binding_;
  ProgramSettings settings_{};
  ItemList items_;
  SlotTable slots_{binding_};
  HistoryWriter history_;
  std::uint64_t next_serial_ = 1;
  // The slot start_item is starting, and the file its open notice opened.
  int starting_slot_ = -1;
  std::string starting_name_;
  bool closing_ = false;
  bool ended_ = false;
  ListStore list_{config_.list_file, clock_};
  // The one-second tick, and the one writer of the progress texts.
  ManagerTick tick_;
};

}  // namespace torvane
