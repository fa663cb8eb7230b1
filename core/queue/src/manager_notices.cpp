// The engine's notices. They run on the engine's threads (301, and a 108 for
// a refused start, on the thread that called dl_start or dl_resume) and take
// the manager's lock, so they never see the list half changed.
#include <cstring>

#include "core/queue/download_manager.h"
#include "core/text/header_log.h"
#include "core/text/url_parse.h"
#include "torvane/shared_access.hpp"

namespace torvane {

namespace {
constexpr std::string_view kEngineMessageCaption = "Error";
}  // namespace

int DownloadManager::notice_entry(EngineContext* context, int code, int slot, int div, void* data) {
  auto* manager = static_cast<DownloadManager*>(EngineBinding::client_of(context));
  if (manager == nullptr) return -1;
  std::lock_guard<std::recursive_mutex> lock(manager->mutex_);
  if (load_acquire(context->items) == nullptr) return -1;
  return manager->handle_notice(code, slot, div, data);
}

int DownloadManager::handle_notice(int code, int slot, int div, void* data) {
  const int k = slot_item(slot);
  switch (code) {
    case TVN_NOTICE_CLOSING:
      return 0;
    case TVN_NOTICE_HEAD_SENT:
    case TVN_NOTICE_HEAD_HEADER:
    case TVN_NOTICE_GET_SENT:
    case TVN_NOTICE_GET_HEADER:
      on_request_logged(code, k, slot, div, static_cast<const char*>(data));
      return 0;
    case TVN_NOTICE_DATA:
      if (k >= 0 && settings_.strict_dl_info == 1 && settings_.list_busy == 0) {
        tick_.refresh_item_status(k, slot);
      }
      return 0;
    case TVN_NOTICE_MEMORY_DONE:
      if (k < 0) return -1;
      return on_memory_page(k, binding_.slot(slot));
    case TVN_NOTICE_FINISHED:
    case TVN_NOTICE_FAILED:
    case TVN_NOTICE_STOPPED:
      return on_final_notice(code, slot);
    case TVN_NOTICE_HEADER_PARSED:
      // The answer's validator, for a resume after a stop or a restart.
      slots_.take_validator(slot, div);
      return on_header_parsed(k, slot);
    case TVN_NOTICE_SLOT_FREE:
      // Nothing of the slot is released here: by now the slot may already
      // serve the next item, started by a pass on another thread.
      scheduler_pass(-1, false);
      return 0;
    case TVN_NOTICE_RESIZED:
      on_resized();
      return 0;
    case TVN_NOTICE_OPEN_FILE:
      return on_open_file(k, slot);
    case TVN_NOTICE_MESSAGE:
      if (data != nullptr) on_engine_message(k, slot, div, static_cast<const char*>(data));
      return 0;
    default:
      return 0;
  }
}

void DownloadManager::on_request_logged(int code, int k, int slot, int div, const char* text) {
  if (k < 0) return;
  if (code == TVN_NOTICE_GET_HEADER) take_header_names(items_.at(k), slot);
  if (settings_.list_busy == 0 && settings_.log_view == 0 && text != nullptr) {
    for (const std::string& piece : header_log_entry(code, k, slot, div, text)) {
      view_.append_header_log(piece);
    }
  }
  if (settings_.strict_dl_info == 1) tick_.refresh_item_status(k, slot);
}

int DownloadManager::on_final_notice(int code, int slot) {
  const int item = final_notice_item(slot);
  if (item >= 0 && code == TVN_NOTICE_FINISHED) on_finished(item, slot);
  if (item >= 0 && code == TVN_NOTICE_FAILED) on_failed(item, slot);
  if (item >= 0 && code == TVN_NOTICE_STOPPED) on_stopped(item, slot);
  slots_.end(slot);
  return item >= 0 || code != TVN_NOTICE_FINISHED ? 0 : -1;
}

void DownloadManager::on_resized() {
  const auto [ok, limit] = slots_.limit_result();
  if (ok) settings_.max_dl_files = limit;
  view_.limit_changed(ok ? 1 : 0, limit);
}

void DownloadManager::on_engine_message(int k, int slot, int div, const char* text) {
  // The message is also the item's reason and a line of its header log,
  // so that what the engine decided stays next to the requests it made.
  if (k >= 0) {
    // A stall reconnect of this start stays named: it may be what ends the item.
    ListItem& item = *items_.at(k);
    item.reason = item.stall_note.empty() ? "" : item.stall_note + "; then: ";
    item.reason += text;
    if (settings_.list_busy == 0 && settings_.log_view == 0) {
      for (const std::string& piece : header_log_note(k, slot, div, text)) {
        view_.append_header_log(piece);
      }
    }
  }
  view_.show_message(text, kEngineMessageCaption, MessageOwner::kNone, MessageIcon::kInformation);
}

int DownloadManager::final_notice_item(int slot) {
  const int k = slot_item(slot);
  if (k < 0) return -1;
  // The item is linked to its slot until this notice, so one linked to
  // another slot by now is not this slot's to finish, rest or fail.
  if (items_.at(k)->slot_link != slot) {
    slots_.unlink(slot);
    return -1;
  }
  return k;
}

void DownloadManager::take_header_names(ListItem* item, int slot) {
  ItemData* record = slots_.record(slot);
  if (item == nullptr || record == nullptr || !slots_.has(slot)) return;
  // On the download thread, which alone writes a redirect into the slot's
  // URL and opens the file again for it: both are read here at rest.
  const char* url = slots_.strings(slot)->item_url();
  if (url != nullptr && load_acquire(record->url) == url && std::strcmp(item->url, url) != 0) {
    set_field(item->url, url);
    mark_dirty();
  }
  // The file that is written, which after a redirect is named for the new URL.
  set_file_name(*item, record->disk.file_name);
}

void DownloadManager::set_file_name(ListItem& item, const char* path) {
  if (path == nullptr || path[0] == '\0') return;
  const char* slash = std::strrchr(path, '/');
  set_field(item.file_name, slash != nullptr ? slash + 1 : path);
}

int DownloadManager::on_open_file(int k, int slot) {
  const int result = open_target_file(slot);
  ItemData* record = binding_.slot(slot);
  // Inside a start (on the starting thread, before the engine threads take
  // the slot) or after a redirect (on the download thread, which alone
  // opens and closes the file then): the name is read at rest either way.
  // When the engine opens the file itself after this notice, the header
  // notices bring its name.
  const char* name = record != nullptr && result != -1 ? record->disk.file_name : nullptr;
  if (name == nullptr) return result;
  if (slot == starting_slot_) {
    starting_name_ = name;
  } else if (ListItem* item = items_.at(k)) {
    set_file_name(*item, name);
  }
  return result;
}

int DownloadManager::on_header_parsed(int k, int slot) {
  if (slots_.record(slot) == nullptr || !slots_.has(slot)) return 0;
  ListItem* item = items_.at(k);
  // First, so that the profiles are looked up for the URL that answered.
  take_header_names(item, slot);
  return slots_.header_received(slot, item, settings_env());
}

int DownloadManager::on_memory_page(int k, ItemData* record) {
  ListItem* item = items_.at(k);
  if (item == nullptr || record == nullptr) return -1;
  // A jump fetches one division, whose share is the (grown) buffer itself.
  // With more divisions the shares are not one text; the whole block is
  // searched then, bounded by its size.
  const DiskIO& disk = record->disk;
  if (disk.buf_block == nullptr || disk.buf_fill == nullptr || disk.buf_ptr == nullptr) return -1;
  std::string_view page;
  if (record->div_count <= 1) {
    page = std::string_view(disk.buf_ptr[0], disk.buf_fill[0] > 0 ? disk.buf_fill[0] : 0);
  } else {
    page = std::string_view(disk.buf_block, record->buffer_size > 0 ? record->buffer_size : 0);
  }
  std::string link;
  if (extract_page_link(page, item->skip_count, item->file_name, link) != 0) {
    return -1;
  }
  set_field(item->url, link);
  set_field(item->file_name, file_name_of_url(link));
  item->last_bytes = 0;
  item->saved.reset();
  item->saved_wide = {};
  // The item stays linked and running: it is started on the link only once
  // the final notice of this slot has let it go.
  item->url_jump = kJumpTaken;
  mark_dirty();
  return 0;
}

void DownloadManager::on_finished(int k, int slot) {
  ListItem* item = items_.at(k);
  slots_.unlink(slot);
  if (item->url_jump == kJumpTaken) {
    // The page has given its link: the item waits for the pass of the
    // slot-freed notice to start it there.
    item->state = kWaiting;
    item->slot_link = kNoSlot;
    reset_texts(k);
    view_.redraw_rows(k, k);
    return;
  }
  item->elapsed_ms += static_cast<std::int32_t>(clock_.tick_ms() - item->start_tick);
  if (item->saved) {
    rest(k);
    mark_dirty();
    return;
  }
  // A jump still armed means the cookie step turned the page fetch into a
  // file download, which has now finished like any other.
  if (settings_.write_log == 1) {
    // The progress text is brought up to the last byte first: the size of
    // the record is read from it.
    if (settings_.list_busy == 0) tick_.refresh_item_status(k, slot);
    history_.write_entry(*item, clock_, settings_.bps == 1);
  }
  if (view_.focused_row() == k) view_.clear_detail_rows();
  item->slot_link = kNoSlot;
  if (config_.finished) config_.finished(*item);
  remove_item(k, RemoveMode::kRedraw);
}

void DownloadManager::on_failed(int k, int slot) {
  ListItem* item = items_.at(k);
  item->elapsed_ms += static_cast<std::int32_t>(clock_.tick_ms() - item->start_tick);
  if (settings_.list_busy == 0) tick_.refresh_item_status(k, slot);
  fail(k);
  slots_.unlink(slot);
  view_.redraw_rows(k, k);
}

void DownloadManager::on_stopped(int k, int slot) {
  ListItem* item = items_.at(k);
  // A page whose link was taken is not resumed: the item goes on to the link.
  if (item->url_jump != kJumpTaken) {
    WideCopy wide;
    if (SavedRecord saved = slots_.copy_back(slot, wide)) {
      item->saved = std::move(saved);
      item->saved_wide = std::move(wide);
    }
  }
  item->elapsed_ms += static_cast<std::int32_t>(clock_.tick_ms() - item->start_tick);
  if (settings_.list_busy == 0) tick_.refresh_item_status(k, slot);
  rest(k);
  slots_.unlink(slot);
  mark_dirty();
  view_.redraw_rows(k, k);
}

}  // namespace torvane
