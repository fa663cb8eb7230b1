#include "core/queue/slot_table.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "core/queue/item_list_file.h"
#include "core/text/progress_text.h"
#include "platform/thread_time.h"
#include "torvane/shared_access.hpp"

namespace torvane {

int SlotTable::grow(int limit) {
  if (limit < 0 || static_cast<std::size_t>(limit) <= slots_.size()) return 0;
  try {
    slots_.reserve(static_cast<std::size_t>(limit) + 10);
    while (slots_.size() < static_cast<std::size_t>(limit) + 10)
      slots_.emplace_back(&binding_.api());
  } catch (const std::bad_alloc&) {
    return -1;
  }
  return 0;
}

int SlotTable::item_of(int slot, std::size_t used) const {
  if (!has(slot)) return kNoSlot;
  const int item = at(slot).item;
  // A link equal to the used count names no item: the list has shrunk.
  if (item < 0 || static_cast<std::size_t>(item) >= used) return kNoSlot;
  return item;
}

void SlotTable::link(int slot, int item) {
  if (has(slot)) at(slot).item = item;
}

void SlotTable::item_removed(int k) {
  for (Slot& slot : slots_) {
    if (slot.item == k) {
      slot.item = kNoSlot;
    } else if (slot.item > k) {
      --slot.item;
    }
  }
}

bool SlotTable::any_ending() {
  for (std::size_t s = 0; s < slots_.size(); ++s) {
    if (!slots_[s].ending) continue;
    ItemData* r = record(static_cast<int>(s));
    const int state = r != nullptr ? load_acquire(r->state) : TVN_STATE_EMPTY;
    if (state != TVN_STATE_EMPTY && state != TVN_STATE_FREE) return true;
  }
  return false;
}

int SlotTable::reserve() {
  int slot = binding_.set();
  // An item rests, fails or finishes at its slot's final notice, but the
  // engine counts that slot as taken until it has zeroed it, just after the
  // notice. A start refused in between would leave an item that reads as
  // free to start waiting for the slot-freed pass instead, so the release,
  // which needs only the engine's own lock, is waited for (bounded) here.
  // On an engine thread the wait could be for a release that this very
  // thread makes once the notice it is in returns; the pass that the
  // slot-freed notice runs starts the item then.
  EngineContext& ctx = binding_.context();
  const std::uint32_t self = platform::current_thread_id();
  if (slot < 0 &&
      (self == load_acquire(ctx.dl_thread_id) || self == load_acquire(ctx.conn_thread_id))) {
    return slot;
  }
  constexpr std::uint32_t kReleaseWaitMs = 1000;
  const std::uint32_t began = platform::tick_ms();
  while (slot < 0) {
    if (!any_ending()) {
      // Released by now, or nothing was ending: one more ask decides.
      slot = binding_.set();
      break;
    }
    if (platform::tick_ms() - began >= kReleaseWaitMs) return -1;
    platform::sleep_ms(1);
  }
  if (has(slot)) at(slot).ending = false;
  return slot;
}

int SlotTable::fill(int slot, ListItem& item, const ItemSettingsEnv& env) {
  ItemData* r = record(slot);
  Slot& s = at(slot);
  const int mode = apply_item_settings(r, binding_.wide(slot), item, s.strings, env);
  s.prepared_divisions = std::max(r->div_count, 1);
  if (mode == 1) {
    // A resumed record's URL is copy_itemdata's duplicate. It is the item's
    // own unless the stop came during the shortened first request of a
    // cookie profile, whose text must not become the item's.
    if ((r->options & TVN_OPT_MEMORY_FETCH) == 0) s.strings.set_item_url(r->url);
    return mode;
  }
  // The engine writes a redirect into `url` while the lock is not held, and
  // the item may be rewritten or removed while the slot still runs, so the
  // slot reads copies of its own. A copy that cannot be made leaves the
  // field null, which the engine refuses like a name it cannot build.
  SlotWriter w(*r, s.strings);
  if (!w.own_item_url(item.url)) w.point_url(nullptr);
  if (!w.own_save_folder(item.save_folder)) w.point_save_path(nullptr);
  return mode;
}

void SlotTable::give_back(int slot, bool resumed) {
  // A refused start leaves the slot reserved or failed; the engine hands it
  // out again only at state 0, and it must not carry this item's strings,
  // arrays or option bits into the next one.
  ItemData* r = record(slot);
  if (r == nullptr || !has(slot)) return;
  SlotStrings& strings = at(slot).strings;
  SlotWriter w(*r, strings);
  if (resumed) {
    // Every string and array of a restored record is an engine-heap copy.
    w.free_copies(binding_.api());
  } else {
    strings.release_all();
  }
  close_slot_file(*r, binding_.api());
  w.zero();
}

void SlotTable::end(int slot) {
  if (!has(slot)) return;
  // Every text the program handed the slot, and every copy a resume made,
  // lives in the engine heap. They go back with the item's final notice:
  // not at the closing notice, since the stop notice copies the record (a
  // resumed download keeps its referrer and proxy), and not when the slot
  // is free, since by then a pass on another thread may have given the slot
  // to the next item. After the final notice the engine reads none of them.
  SlotStrings& strings = at(slot).strings;
  // Cleared in the record too, so that a refused resume's free_itemdata
  // does not free them a second time.
  if (ItemData* r = record(slot)) SlotWriter(*r, strings).clear_owned_texts();
  strings.release_all();
  // Until the engine zeroes it, the slot still counts against the limit;
  // the mark lasts until the slot is reserved again.
  at(slot).ending = true;
}

void SlotTable::forget_strings() {
  for (Slot& slot : slots_) slot.strings.forget_all();
}

int SlotTable::header_received(int slot, ListItem* item, const ItemSettingsEnv& env) {
  ItemData* r = record(slot);
  if (r == nullptr || !has(slot)) return 0;
  SlotStrings& strings = at(slot).strings;
  const int answer =
      on_header_received(r, binding_.wide(slot), item, at(slot).prepared_divisions, strings, env);
  // The cookie step's restart points the slot at the item's URL field. The
  // connection thread is kept out for the whole notice, so it never saw that
  // pointer; it gets the slot's own copy instead.
  if (item != nullptr && !SlotWriter(*r, strings).own_item_url(item->url)) return -1;
  return answer;
}

void SlotTable::take_validator(int slot, int div) {
  if (ItemData* r = record(slot); r != nullptr && has(slot)) {
    remember_validator(r, div, at(slot).strings);
  }
}

SavedRecord SlotTable::copy_back(int slot, WideCopy& wide) {
  wide = {};
  ItemData* r = record(slot);
  if (r == nullptr) return {};
  const EngineApi& api = binding_.api();
  auto* copy = static_cast<ItemData*>(api.GetMem(sizeof(ItemData)));
  if (copy == nullptr) return {};
  SavedRecord saved(copy, SavedRecordDeleter{&api});
  // A record stopped before its divisions were prepared, or before a byte
  // reached its file, has nothing to resume; the item starts afresh
  // instead. Such a stop may have come before the first answer, whose
  // redirect names the file: a resume would ask the old URL with GETs, and
  // a redirect then leaves the download under the old URL's name.
  if (api.copy_itemdata(copy, r) == nullptr || copy->div_status == nullptr) return {};
  // The engine's whole sizes are read during the final notice, before it
  // frees them with the record.
  std::optional<WideCopy> whole = keep_wide_sizes(*copy, binding_.wide(slot));
  if (!whole) return {};
  WideSizes view = whole->view();
  if (bytes_done(*copy, &view, false, false).value_or(0) == 0) return {};
  wide = std::move(*whole);
  // The copy resumes every division that had not finished.
  if (copy->div_stop != nullptr) {
    const int n = copy->div_count > 0 ? copy->div_count : 1;
    std::memset(copy->div_stop, 0, sizeof(std::int32_t) * static_cast<std::size_t>(n + 1));
  }
  return saved;
}

namespace {

// The division arrays of a running slot, each pointer read once.
struct LiveDivisions {
  std::int32_t* retries;
  int count;
};

// None while any array is gone or the count is outside what a list file
// stores.
std::optional<LiveDivisions> live_divisions(ItemData& r, const RecordSizes& sizes) {
  const std::int32_t* status = load_acquire(r.div_status);
  const LiveDivisions live{.retries = load_acquire(r.div_retries),
                           .count = load_acquire(r.div_count)};
  if (status == nullptr || live.retries == nullptr || !sizes.has_ranges() || live.count < 1 ||
      live.count > kMaxStoredDivisions) {
    return std::nullopt;
  }
  return live;
}

// The fields a resume needs besides the divisions. The port and address are
// the connection thread's while it connects; a resume resolves the host
// again. div_stop, the sockets and the share fills stay zeros.
void copy_resume_fields(ItemData& r, std::uint32_t options, int divisions, ItemData& rec,
                        std::uint64_t file_size) {
  rec.state = TVN_STATE_DOWNLOADING;
  rec.options = options;
  rec.run_flags = load_acquire(r.run_flags);
  rec.data_type = load_acquire(r.data_type);
  rec.auto_referer = load_acquire(r.auto_referer);
  rec.retry = load_acquire(r.retry);
  rec.div_count = divisions;
  rec.buffer_size = load_acquire(r.buffer_size);
  rec.disk.file_size = tvn_narrow_size(file_size);
  rec.referer = load_acquire(r.referer);
  rec.user_agent = load_acquire(r.user_agent);
  rec.reserved_text = load_acquire(r.reserved_text);
  rec.proxy = load_acquire(r.proxy);
}

}  // namespace

std::uint64_t ProgressCopy::copy_divisions(const RecordSizes& sizes, std::int32_t* retries,
                                           int count) {
  const auto n = static_cast<std::size_t>(count);
  status_.resize(n);
  retries_.resize(n);
  len_.resize(n);
  done_.resize(n);
  wide_.file_size = sizes.file_size();
  wide_.range_len.resize(n);
  wide_.range_done.resize(n);
  std::uint64_t written = 0;
  bool saturated = tvn_narrow_size(wide_.file_size) == TVN_SIZE_WIDE;
  for (std::size_t d = 0; d < n; ++d) {
    const std::uint64_t len = sizes.range_len(static_cast<int>(d));
    std::uint64_t done = sizes.range_done(static_cast<int>(d));
    if (len != 0 && done > len) done = len;
    written += done;
    // Whatever was under way is asked again; a division counts as done
    // only by its bytes.
    status_[d] = len != 0 && done == len ? TVN_DIV_DONE : TVN_DIV_IDLE;
    retries_[d] = load_relaxed(retries[d]);
    wide_.range_len[d] = len;
    wide_.range_done[d] = done;
    len_[d] = tvn_narrow_size(len);
    done_[d] = tvn_narrow_size(done);
    saturated = saturated || len_[d] == TVN_SIZE_WIDE || done_[d] == TVN_SIZE_WIDE;
  }
  // Below 4 GiB the fields are the whole story, as a stop's copy keeps it.
  if (!saturated) wide_ = {};
  record_.div_status = status_.data();
  record_.div_retries = retries_.data();
  record_.disk.range_len = len_.data();
  record_.disk.range_done = done_.data();
  return written;
}

// Read while the engine's threads go on writing the slot: every shared word
// through an atomic load, never the record copied whole. Only bytes the file
// holds count: a division's range_done grows once its bytes are written, and
// what waits in the shares is left out. The list file stores the item's own
// URL, save folder and target path with a saved record, never the slot's (a
// redirect rewrites the slot's URL in place). The texts read here (referer,
// user agent, validator, proxy) are the slot's own strings, replaced and
// freed only under the manager's lock, which the caller holds.
bool SlotTable::copy_progress(int slot, ProgressCopy& out) {
  ItemData* r = record(slot);
  if (r == nullptr || load_acquire(r->state) != TVN_STATE_DOWNLOADING) return false;
  const std::uint32_t options = load_acquire(r->options);
  // A page fetch has nothing to resume.
  if ((options & TVN_OPT_MEMORY_FETCH) != 0) return false;
  WideSizes* const wide = binding_.wide(slot);
  const RecordSizes sizes(*r, wide);
  const std::optional<LiveDivisions> live = live_divisions(*r, sizes);
  if (!live || out.copy_divisions(sizes, live->retries, live->count) == 0) return false;
  copy_resume_fields(*r, options, live->count, out.record_, sizes.file_size());
  // Sizes of 4 GiB or more are kept only with their whole values.
  return out.wide_.empty() || wide != nullptr;
}

int SlotTable::state(int slot) {
  ItemData* r = record(slot);
  return r != nullptr ? load_acquire(r->state) : TVN_STATE_EMPTY;
}

int SlotTable::connections(int slot) {
  ItemData* r = record(slot);
  if (r == nullptr) return 0;
  const int state = load_acquire(r->state);
  if (state == TVN_STATE_PROBING) return 1;
  return state == TVN_STATE_DOWNLOADING ? load_acquire(r->div_count) : 0;
}

std::optional<std::uint64_t> SlotTable::bytes(int slot, bool finished_whole, bool waiting) {
  ItemData* r = record(slot);
  if (r == nullptr) return std::nullopt;
  return bytes_done(*r, binding_.wide(slot), finished_whole, waiting);
}

std::optional<std::pair<std::uint64_t, std::uint64_t>> SlotTable::sized_progress(int slot) {
  ItemData* r = record(slot);
  if (r == nullptr || load_acquire(r->state) != TVN_STATE_DOWNLOADING) return std::nullopt;
  // Without a size probe the size is known once the first answer came.
  const bool sized = !(load_acquire(r->options) & TVN_OPT_SPEED_MODE) ||
                     (load_acquire(r->run_flags) & TVN_RUN_PROBE_DONE);
  if (!sized) return std::nullopt;
  WideSizes* const wide = binding_.wide(slot);
  const std::optional<std::uint64_t> done = bytes_done(*r, wide, false);
  if (!done) return std::nullopt;
  return std::make_pair(*done, RecordSizes(*r, wide).file_size());
}

std::vector<DivisionRow> SlotTable::division_rows(int slot) {
  std::vector<DivisionRow> rows;
  ItemData* r = record(slot);
  if (r == nullptr) return rows;
  std::int32_t* status = load_acquire(r->div_status);
  std::int32_t* retries = load_acquire(r->div_retries);
  const RecordSizes sizes(*r, binding_.wide(slot));
  std::int32_t* buf_fill = load_acquire(r->disk.buf_fill);
  if (status == nullptr || retries == nullptr || !sizes.has_ranges() || buf_fill == nullptr) {
    return rows;
  }
  const int retry = load_acquire(r->retry);
  const int n = load_acquire(r->div_count);
  for (int d = 0; d < (n > 0 ? n : 1); ++d) {
    const int tries = retry - load_relaxed(retries[d]) + 1;
    rows.push_back(
        {.status = load_relaxed(status[d]),
         .tries = tries > retry ? retry : tries,
         .retry = retry,
         .done = static_cast<std::int64_t>(sizes.range_done(d)) + load_relaxed(buf_fill[d]),
         .length = sizes.range_len(d)});
  }
  return rows;
}

std::vector<StallVerdict> SlotTable::check_stalls(int slot, std::uint64_t run,
                                                  const StallRule& rule, std::uint32_t now_ms) {
  ItemData* r = record(slot);
  if (r == nullptr || !has(slot)) return {};
  return torvane::check_stalls(at(slot).stall, run, sample_divisions(*r, binding_.wide(slot)), rule,
                               now_ms);
}

void SlotTable::sweep_stalls() {
  for (Slot& slot : slots_) torvane::sweep_stalls(slot.stall);
}

void SlotTable::request_limit(int limit) {
  EngineContext& ctx = binding_.context();
  store_release(ctx.max_items, limit);
  set_bits(ctx.resize_ctl, TVN_RESIZE_REQUEST);
}

std::pair<bool, int> SlotTable::limit_result() {
  EngineContext& ctx = binding_.context();
  const std::uint32_t bits = load_acquire(ctx.resize_ctl);
  const bool ok = (bits & TVN_RESIZE_REQUEST) && (bits & TVN_RESIZE_DONE);
  return {ok, load_acquire(ctx.max_items)};
}

}  // namespace torvane
