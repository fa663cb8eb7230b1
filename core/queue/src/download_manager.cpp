// The manager's life and its list commands: start-up and ending, registering,
// scheduling, starting, stopping and removing items, the limit change and
// the list file. The notices are in manager_notices.cpp, the tick and the
// progress texts in manager_tick.cpp.
#include "core/queue/download_manager.h"

#include <cstring>
#include <memory>

#include "core/queue/target_file.h"
#include "core/settings/shutdown.h"
#include "core/settings/shutdown_choices.h"
#include "core/text/engine_status_text.h"
#include "core/text/header_log.h"
#include "core/text/text_util.h"
#include "platform/file.h"
#include "platform/thread_time.h"
#include "torvane/shared_access.hpp"

namespace torvane {

namespace {

constexpr std::string_view kBindFailedText = "Torvane.DLLの初期化失敗";
constexpr std::string_view kBindFailedCaption = "error";
constexpr std::string_view kSettingsCaption = "Settings";
// platform::path_kind
constexpr int kPathFile = 1;
constexpr int kPathFolder = 2;

bool is_active_state(int state) {
  return state != kWaiting && state != kFinished && state != kFailed;
}

bool slot_is_busy(int state) {
  return state != TVN_STATE_EMPTY && state != TVN_STATE_FREE && state != TVN_STATE_FAILED;
}

constexpr std::string_view kListDamagedCaption = "Torvane";

}  // namespace

DownloadManager::DownloadManager(ManagerConfig config, View& view, const Clock& clock)
    : config_(std::move(config)),
      view_(view),
      clock_(clock),
      ini_(config_.folder.path("Torvane.ini")),
      history_(config_.history_file),
      tick_(items_, slots_, view_, settings_, list_, clock_,
            TickHooks{[this](int slot, int div) { binding_.reconnect(slot, div, 1); },
                      [this] { run_shutdown(MessageOwner::kMainWindow); }}) {
  binding_.set_client(this);
}

DownloadManager::~DownloadManager() {
  // A front end that did not end the run still gets its list written; the
  // wait is bounded so that a destructor never hangs.
  constexpr std::uint32_t kSettleMs = 30000;
  if (binding_.bound() && !ended_) end(kSettleMs);
}

int DownloadManager::start_up() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  settings_ = ProgramSettings{};
  std::string limit_note;
  int limit = read_max_dl_files(ini_, &limit_note);
  if (config_.limit_override > 0) {
    limit = config_.limit_override;
    limit_note.clear();
  }
  const std::vector<std::string> candidates = config_.library_candidates.empty()
                                                  ? engine_library_candidates(config_.folder.dir())
                                                  : config_.library_candidates;
  if (binding_.bind(candidates, &DownloadManager::notice_entry, limit, config_.wait_ms) != 0) {
    view_.show_message(kBindFailedText, kBindFailedCaption, MessageOwner::kNone,
                       MessageIcon::kNone);
    return -1;
  }
  slots_.grow(limit);
  if (!limit_note.empty()) {
    view_.show_message(limit_note, kSettingsCaption, MessageOwner::kNone,
                       MessageIcon::kInformation);
  }
  read_settings(ini_, settings_);
  settings_.max_dl_files = limit;
  tick_.measure_from(clock_.tick_ms());  // the first speed is measured from the start
  return 0;
}

void DownloadManager::tick(std::uint32_t now_ms) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  // A closing window has stopped its timer; a tick that was already on its
  // way changes nothing any more.
  if (closing_) return;
  tick_.show_clock();
  // Before the start-up and after the ending there are no slots to read.
  if (!binding_.bound() || load_acquire(binding_.context().items) == nullptr) return;
  tick_.run(now_ms);
}

bool DownloadManager::started() const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return binding_.bound();
}

ItemSettingsEnv DownloadManager::settings_env() {
  return ItemSettingsEnv{.folder = config_.folder,
                         .ini = ini_,
                         .api = binding_.api(),
                         .clock = clock_,
                         .settings = &settings_,
                         .run = &config_.run_profile};
}

int DownloadManager::slot_item(int slot) const {
  return slots_.item_of(slot, items_.size());
}

int DownloadManager::load_list() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (!binding_.bound()) return -1;
  const std::size_t before = items_.size();
  std::vector<std::string> messages;
  const int result = list_.load(items_, slots_, binding_.api(), &messages);
  for (std::size_t i = 0; i < items_.size(); ++i) {
    ListItem* item = items_.at(static_cast<std::int64_t>(i));
    if (item->serial == 0) item->serial = next_serial_++;
  }
  if (items_.size() > before)
    view_.rows_inserted(static_cast<int>(before), static_cast<int>(items_.size()) - 1);
  view_.set_item_count(items_.size());
  for (const std::string& message : messages) {
    view_.show_message(message, kListDamagedCaption, MessageOwner::kNone, MessageIcon::kWarning);
  }
  return result;
}

int DownloadManager::save_list() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  list_.clear_dirty();
  return list_.write(items_, slots_, true);
}

int DownloadManager::end(std::uint32_t settle_timeout_ms) {
  {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (!binding_.bound() || ended_) return -1;
    closing_ = true;
    settings_.list_busy = 1;
    const int count = load_acquire(binding_.context().slot_count);
    for (int slot = 0; slot < count; ++slot) {
      if (slot_is_busy(slots_.state(slot))) binding_.stop(slot, -1);
    }
  }
  const int result = wait_settled(settle_timeout_ms);
  std::vector<std::unique_ptr<ListItem>> items;
  {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    list_.write(items_, slots_, /*running_as_waiting=*/result != 0);
    list_.clear_dirty();
    // Their saved records are engine-heap memory, freed while the library
    // is still loaded.
    items = items_.take_all();
    ended_ = true;
  }
  binding_.end_engine();  // joins the engine threads: never under the lock
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  items.clear();  // their saved records go back to the engine's heap
  slots_.forget_strings();
  binding_.unload();
  return result;
}

int DownloadManager::wait_settled(std::uint32_t timeout_ms) {
  // Without the lock between the looks: the stop notices need it to rest
  // the items.
  const std::uint32_t began = platform::tick_ms();
  for (;;) {
    if (settled()) return 0;
    if (timeout_ms != 0 && platform::tick_ms() - began >= timeout_ms) return -1;
    platform::sleep_ms(1);
  }
}

bool DownloadManager::settled() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  const int count = load_acquire(binding_.context().slot_count);
  for (int slot = 0; slot < count; ++slot) {
    if (slot_is_busy(slots_.state(slot))) return false;
  }
  for (std::size_t i = 0; i < items_.size(); ++i) {
    const int state = items_.at(static_cast<std::int64_t>(i))->state;
    if (state != kWaiting && state != kFinished && state != kFailed && state != kResting) {
      return false;
    }
  }
  return true;
}

int DownloadManager::register_item(std::string_view division_text, std::string_view save_folder,
                                   std::string_view url) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (closing_) return -1;
  std::string folder(save_folder);
  if (settings_.save_to_dir == 1 && (folder.empty() || folder.back() != '/')) folder += '/';
  // Cut to its field, a URL would ask for another file and a folder would
  // save somewhere else: such an entry is refused, and said so.
  if (url.size() >= sizeof(ListItem::url) || folder.size() >= sizeof(ListItem::save_folder)) {
    view_.show_message(format_text("URLまたは保存先が長すぎるため登録できません (%zu バイトまで)。",
                                   sizeof(ListItem::url) - 1),
                       "エラー", MessageOwner::kNone, MessageIcon::kWarning);
    return -1;
  }
  const std::size_t k = items_.append(ItemList::Growth::kByTen);
  ListItem& item = *items_.at(static_cast<std::int64_t>(k));
  item.state = kWaiting;
  item.serial = next_serial_++;
  set_field(item.file_name, file_name_of_url(url));
  set_field(item.division_text, division_text);
  set_field(item.progress, kUnknownProgress);
  set_field(item.speed, kUnknownSpeed);
  set_field(item.save_folder, folder);
  set_field(item.url, url);
  view_.rows_inserted(static_cast<int>(k), static_cast<int>(k));
  view_.set_item_count(items_.size());
  mark_dirty();
  start_item(static_cast<int>(k));
  return static_cast<int>(k);
}

void DownloadManager::scheduler_pass(int index, bool requeue) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  int active = 0;
  const std::size_t first = index < 0 ? 0 : static_cast<std::size_t>(index);
  const std::size_t last = index < 0 ? items_.size() : first + 1;
  for (std::size_t i = first; i < last && i < items_.size(); ++i) {
    ListItem* item = items_.at(static_cast<std::int64_t>(i));
    if (requeue) requeue_item(*item);
    if (item->state == kWaiting && item->slot_link < 0 && active < settings_.max_dl_files &&
        !closing_) {
      start_item(static_cast<int>(i));
    }
    if (is_active_state(item->state)) ++active;
  }
}

void DownloadManager::requeue(int k) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (ListItem* item = items_.at(k)) requeue_item(*item);
}

void DownloadManager::requeue_item(ListItem& item) {
  if (item.state == kFailed) {
    item.state = kWaiting;
    item.slot_link = kNoSlot;
    mark_dirty();
  } else if (item.state == kResting) {
    item.state = kWaiting;
    item.slot_link = item.saved ? kResumePending : kNoSlot;
    mark_dirty();
  } else if (item.state == kWaiting && item.slot_link < 0) {
    // Queued again: a resume stays a resume. A waiting item still linked
    // to a slot waits for that slot's final notice to let it go.
    item.slot_link = item.saved ? kResumePending : kNoSlot;
  }
}

int DownloadManager::start_item(int k) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  ListItem* item = items_.at(k);
  if (item == nullptr || !binding_.bound()) return -2;
  const int slot = reserve_start_slot(*item);
  if (slot < 0) return -2;
  const bool resuming = item->slot_link == kResumePending;
  item->reason.clear();
  std::vector<std::string> notes;  // values the start brought into range
  if (hand_to_engine(k, slot, notes) != 0) return -1;
  link_started(k, slot, resuming, notes);
  return slot;
}

int DownloadManager::reserve_start_slot(ListItem& item) {
  // Linked until its slot's final notice (a link jump whose page is done
  // waits there for it): a second slot now would leave that notice acting on
  // an item that runs elsewhere.
  if (item.slot_link >= 0) return -1;
  // An item that has a saved record goes on from it, however it came to be
  // started again; a fresh start would write from byte 0 and then, finding
  // the record still there, take the finished download for a stopped one.
  if (item.saved) item.slot_link = kResumePending;
  const int slot = slots_.reserve();
  if (slot < 0) return -1;
  if (slots_.record(slot) == nullptr || !slots_.has(slot)) {
    slots_.give_back(slot, false);
    return -1;
  }
  return slot;
}

int DownloadManager::hand_to_engine(int k, int slot, std::vector<std::string>& notes) {
  ListItem& item = *items_.at(k);
  const bool had_saved = static_cast<bool>(item.saved);
  ItemSettingsEnv env = settings_env();
  env.notes = &notes;
  const int mode = slots_.fill(slot, item, env);
  // Linked only once the engine took the item: a failure notice raised
  // inside the start finds no item, and the refusal is handled here alone.
  // The open notice, raised inside the start on this thread, notes the name
  // of the file opened: once the start has returned, the download thread
  // may already be closing that file and freeing its name.
  starting_slot_ = slot;
  starting_name_.clear();
  const int result = mode == 1 ? binding_.resume(slot, -1) : binding_.start(slot);
  starting_slot_ = -1;
  if (had_saved) mark_dirty();  // the saved record has moved into the slot
  if (result != -1) return 0;
  item.elapsed_ms += static_cast<std::int32_t>(clock_.tick_ms() - item.start_tick);
  fail(k);
  slots_.give_back(slot, mode == 1);
  view_.redraw_rows(k, k);
  return -1;
}

void DownloadManager::link_started(int k, int slot, bool resumed,
                                   const std::vector<std::string>& notes) {
  ListItem& item = *items_.at(k);
  item.state = resumed ? kDownloading : kInitialising;
  set_file_name(item, starting_name_.c_str());
  item.slot_link = slot;
  slots_.link(slot, k);
  if (settings_.list_busy == 0 && settings_.log_view == 0) {
    for (const std::string& note : notes) {
      for (const std::string& piece : header_log_note(k, slot, 0, note))
        view_.append_header_log(piece);
    }
  }
  view_.redraw_rows(k, k);
}

void DownloadManager::stop_item(int k) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  ListItem* item = items_.at(k);
  if (item == nullptr) return;
  if (item->state == kWaiting || item->state == kResting) {
    rest(k);
    mark_dirty();
  } else if (item->slot_link >= 0) {
    binding_.stop(item->slot_link, -1);
  }
  view_.redraw_rows(k, k);
}

void DownloadManager::stop_all() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  for (std::size_t i = 0; i < items_.size(); ++i) stop_item(static_cast<int>(i));
  view_.redraw_rows(0, -1);
}

void DownloadManager::reconnect_item(int k) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  ListItem* item = items_.at(k);
  if (item == nullptr || item->slot_link < 0) return;
  binding_.reconnect(item->slot_link, -1, 0);
  view_.redraw_rows(k, k);
}

void DownloadManager::fail(int k) {
  ListItem* item = items_.at(k);
  if (item == nullptr) return;
  item->state = kFailed;
  if (item->slot_link >= 0) slots_.unlink(item->slot_link);
  item->slot_link = kNoSlot;
  reset_texts(k);
  mark_dirty();
}

void DownloadManager::rest(int k) {
  ListItem* item = items_.at(k);
  if (item == nullptr) return;
  item->state = kResting;
  item->slot_link = kNoSlot;
}

void DownloadManager::reset_texts(int k) {
  ListItem* item = items_.at(k);
  if (item == nullptr || item->slot_link != kNoSlot) return;
  set_field(item->speed, kUnknownSpeed);
  item->bytes_per_second = 0;
  if (!(item->state == kResting && item->saved)) {
    set_field(item->progress, kUnknownProgress);
    item->done_bytes = item->size_bytes = 0;
  }
}

void DownloadManager::remove_item(int k, RemoveMode mode) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (k < 0 || items_.at(k) == nullptr) return;
  settings_.list_busy = 1;
  // A slot that still runs reads only its own strings; its later notices
  // find no item.
  items_.take(static_cast<std::size_t>(k));
  slots_.item_removed(k);
  view_.rows_removed(k, k);
  if (mode != RemoveMode::kGone) view_.set_item_count(items_.size());
  if (mode == RemoveMode::kRedraw) view_.redraw_rows(k, static_cast<int>(items_.size()) - 1);
  settings_.list_busy = closing_ ? 1 : 0;
  mark_dirty();
  if (items_.empty() && settings_.shut_down == 1) run_shutdown(MessageOwner::kNone);
}

void DownloadManager::run_shutdown(MessageOwner owner) {
  if (config_.power == nullptr) return;
  if (perform_shutdown(settings_.how_to_sd, *config_.power) == -1) {
    view_.show_message(kShutdownFailureText, kShutdownFailureCaption, owner, MessageIcon::kWarning);
  }
}

int DownloadManager::change_limit(int limit) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  // Past the stored range the slot arrays would grow without bound.
  if (!binding_.bound() || limit <= 0 || limit > kMaxMaxDlFiles) return -1;
  if (slots_.grow(limit) != 0) return -1;
  slots_.request_limit(limit);
  return 0;
}

bool DownloadManager::busy() const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  for (std::size_t i = 0; i < items_.size(); ++i) {
    const ListItem* item = items_.at(static_cast<std::int64_t>(i));
    if (item->slot_link >= 0 || (item->state >= kInitialising && item->state <= kDownloading)) {
      return true;
    }
  }
  return false;
}

std::string DownloadManager::engine_status(bool threads) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (!binding_.bound()) return {};
  return threads ? thread_status_text(binding_.context())
                 : item_status_text(binding_.context(), binding_.api().dl_wide);
}

ListItem* DownloadManager::opening_item(int slot, const ItemData* record) {
  // The item of this open: the one linked to the slot, or, inside the start
  // that has not linked it yet, the one the slot was just filled from.
  ListItem* self = nullptr;
  const int linked = slot_item(slot);
  if (linked >= 0) self = items_.at(linked);
  for (std::size_t i = 0; i < items_.size(); ++i) {
    ListItem* item = items_.at(static_cast<std::int64_t>(i));
    if (item->opening != record) continue;
    if (self == nullptr && item->slot_link < 0) self = item;
    item->opening = nullptr;
  }
  return self;
}

int DownloadManager::open_resumed_target(ItemData* record, ListItem* self) {
  // It goes on in the item's own file, whatever the policy says: that file
  // holds its bytes so far and is not "an existing file" to it.
  const EngineApi& api = binding_.api();
  std::string path = self != nullptr ? self->target_path : std::string();
  if (path.empty() && record->disk.file_name != nullptr) path = record->disk.file_name;
  if (path.empty()) path = record_file_name(record, api);
  if (path.empty()) return -1;
  if (open_resumed_file(record, api, path) != 0) {
    if (self != nullptr) self->reason = open_failure_reason(record, path);
    return -1;
  }
  if (self != nullptr) self->target_path = path;
  return 0;
}

int DownloadManager::open_target_file(int slot) {
  ItemData* record = slots_.record(slot);
  if (record == nullptr) return -1;
  ListItem* self = opening_item(slot, record);
  const EngineApi& api = binding_.api();
  // A resume: the record has its divisions from the stop and no file open.
  if (load_acquire(record->div_status) != nullptr && record->disk.file == 0 &&
      !(load_acquire(record->options) & TVN_OPT_MEMORY_FETCH)) {
    return open_resumed_target(record, self);
  }
  // One download per file: a path that another item of the queue writes
  // (linked to a running slot, or holding a saved record to resume into it)
  // counts as taken, so the later item gets another name (or fails under the
  // "error" policy, saying why). Deterministic, and nobody waits.
  const PathInUse in_use = [&](const std::string& path) {
    for (std::size_t i = 0; i < items_.size(); ++i) {
      const ListItem& item = *items_.at(static_cast<std::int64_t>(i));
      if (&item != self && (item.slot_link >= 0 || item.saved != nullptr) &&
          item.target_path == path) {
        return true;
      }
    }
    return false;
  };
  std::string chosen;
  const int result = torvane::open_target_file(record, api, settings_, clock_, in_use, &chosen);
  if (result == kTargetBusy) {
    view_.show_message("別のダウンロードが書き込み中のファイルです: " + chosen, "エラー",
                       MessageOwner::kNone, MessageIcon::kWarning);
    return -1;
  }
  if (result == 0 && record->disk.file == 0 && !chosen.empty() &&
      platform::path_kind(chosen.c_str()) == kPathFolder) {
    // The engine opens the file itself under this policy; a folder in the
    // way would only fail there without a word.
    if (self != nullptr) self->reason = "a folder is in the way of the file: " + chosen;
    return -1;
  }
  if (result != 0) {
    if (self != nullptr) self->reason = open_failure_reason(record, chosen);
    return -1;
  }
  if (self != nullptr) self->target_path = chosen;
  return 0;
}

std::string DownloadManager::open_failure_reason(const ItemData* record, std::string path) const {
  // Read before anything else can change errno.
  const std::string error = platform::last_error_text();
  if (path.empty()) path = record_file_name(record, binding_.api());
  if (path.empty()) return "no file name can be made from the URL and the save folder";
  switch (platform::path_kind(path.c_str())) {
    case kPathFolder:
      return "a folder is in the way of the file: " + path;
    case kPathFile:
      if (settings_.exist_file == kExistFail) return "the file exists already: " + path;
      break;
    default:
      break;
  }
  return "cannot open " + path + ": " + error;
}

}  // namespace torvane
