#include "engine/response_handler.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "engine/disk_io.h"
#include "engine/http_message.h"
#include "engine/item_lifecycle.h"
#include "engine/ranges.h"
#include "engine/url_split.h"
#include "platform/socket.h"
#include "torvane/shared_access.hpp"

namespace torvane::engine {
namespace {

enum ParseResult { kStatus200 = 0, kAccepted = 1, kHandled = 2, kRedirected = 3 };

void set_status(ItemData& item, int b, int status) { store_release(item.div_status[b], status); }

// Re-splits the URL and resolves its host again. The connection thread reads
// the same strings while it builds requests, so it is kept out meanwhile.
bool restart_connection(EngineState& engine, int slot, ItemData& item, int b) {
  platform::socket_close(item.conn.sockets[b]);
  store_relaxed(item.disk.buf_fill[b], 0);
  bool ok;
  {
    const ConnExclusion keep_out(engine, slot);
    ok = resolve_item(item) == 0;
    if (ok) fill_address(item);
  }
  set_status(item, b, ok ? TVN_DIV_IDLE : TVN_DIV_FAILED);
  return ok;
}

int follow_redirect(EngineState& engine, int slot, ItemData& item, int b, std::string_view location) {
  // The url buffer holds TVN_URL_CAPACITY bytes; a longer location is
  // neither cut (a different URL) nor written past the buffer's end.
  if (location.size() >= TVN_URL_CAPACITY || item.url == nullptr) {
    platform::socket_close(item.conn.sockets[b]);
    store_relaxed(item.disk.buf_fill[b], 0);
    set_status(item, b, TVN_DIV_FAILED);
    return kHandled;
  }
  {
    const ConnExclusion keep_out(engine, slot);
    std::memcpy(item.url, location.data(), location.size());
    item.url[location.size()] = '\0';
  }
  return restart_connection(engine, slot, item, b) ? kRedirected : kHandled;
}

// An engine-private run_flags bit: the reason has been reported for this item.
constexpr std::uint32_t kRunLengthReported = 0x100;

void report_once(EngineState& engine, int slot, ItemData& item, const char* text) {
  if (load_acquire(item.run_flags) & kRunLengthReported) return;
  set_bits(item.run_flags, kRunLengthReported);
  notify_message(engine.ctx, slot, text);
}

// The server sent the whole file to a later division: division 0 takes over
// the whole file alone and the other divisions end.
void become_single_connection(EngineState& engine, ItemData& item, int slot) {
  const ConnExclusion keep_out(engine, slot);
  const int n = item.div_count;
  for (int i = 1; i < n; ++i) {
    platform::socket_close(item.conn.sockets[i]);
    set_status(item, i, TVN_DIV_FAILED);
  }
  store_release(item.div_count, 1);
  const std::uint32_t old_end = item.disk.range_len[0];
  store_relaxed(item.disk.range_len[0], item.disk.file_size);
  set_bits(item.run_flags, TVN_RUN_SINGLE_CONNECTION);
  // Division 0 goes on over its own connection only while the bytes it has
  // taken from it are exactly the ones it kept: below its old range's end.
  // The read that brings the header is not bounded by the range, and what
  // it brought past the end was dropped as the next division's, so a
  // division at that end has lost bytes the widened range now needs. It
  // has ended, or will, at that end; and a server that ignores ranges can
  // only send from the start. Either way it starts over from byte 0.
  const int first = load_acquire(item.div_status[0]);
  const std::uint32_t kept = item.disk.range_done[0] + static_cast<std::uint32_t>(item.disk.buf_fill[0]);
  const bool in_step = (first == TVN_DIV_SENT && item.disk.range_done[0] == 0) ||
                       (first > 99 && kept < old_end);
  const bool whole = item.disk.range_done[0] >= item.disk.file_size;  // the size probe's open range
  if (!in_step && !whole) {
    platform::socket_close(item.conn.sockets[0]);
    store_relaxed(item.disk.buf_fill[0], 0);
    store_relaxed(item.disk.range_done[0], 0u);
    set_status(item, 0, TVN_DIV_IDLE);
  }
}

void fail_all_divisions(EngineState& engine, ItemData& item, int slot) {
  const ConnExclusion keep_out(engine, slot);
  for (int i = 0; i < item.div_count; ++i) {
    platform::socket_close(item.conn.sockets[i]);
    set_status(item, i, TVN_DIV_FAILED);
  }
}

int apply_content_length(EngineState& engine, int slot, ItemData& item, int b, std::string_view header,
                         int result, bool probe_answer) {
  std::uint32_t length = 0;
  const LengthResult read = read_content_length(header, length);
  const int state = load_acquire(item.state);
  if (read == LengthResult::kInvalid) {
    platform::socket_close(item.conn.sockets[b]);
    report_once(engine, slot, item,
                "Content-Length is not a size below 4 GiB; the download cannot be saved correctly");
    set_status(item, b, TVN_DIV_FAILED);
    return kHandled;
  }
  if (state == TVN_STATE_PROBING || probe_answer) {
    store_relaxed(item.disk.file_size, read == LengthResult::kOk ? length : 0u);
    if (item.disk.file_size == 0 && result != kRedirected) store_release(item.div_count, 1);
    return result;
  }
  if (result == kRedirected) return result;  // that body is not ours
  const std::uint32_t file_size = item.disk.file_size;
  if (b != 0) {
    if (read == LengthResult::kMissing) {
      platform::socket_close(item.conn.sockets[b]);
      set_status(item, b, TVN_DIV_FAILED);
      return kHandled;
    }
    if (length >= file_size) become_single_connection(engine, item, slot);
  } else if (item.disk.range_done[0] != 0 && read == LengthResult::kOk && length >= file_size) {
    fail_all_divisions(engine, item, slot);  // the server ignored the range of a continued transfer
    return kHandled;
  }
  return result;
}

// Parses the header of division b (header_len bytes). Sets the division's
// status and returns a ParseResult.
int parse_response(EngineState& engine, int slot, ItemData& item, int b, std::string_view header) {
  const int code = read_status_code(header);
  if (code < 0) {
    // An answer whose status cannot be read is a failed attempt: asking again
    // for free would loop forever against a broken server.
    fail_attempt(item, b);
    return kHandled;
  }
  set_status(item, b, code);
  const std::uint32_t options = item.options;
  const bool probe_answer = (load_acquire(item.run_flags) & TVN_RUN_PROBE_SENT) != 0 && b == 0;
  int result = kAccepted;
  std::string_view location;
  if (code == 200) {
    result = kStatus200;
  } else if (code >= 300 && code <= 399 && !(options & TVN_OPT_IGNORE_REDIRECTION) &&
             find_header_value(header, "Location", location)) {
    result = follow_redirect(engine, slot, item, b, location);
    if (result == kHandled) return result;
  } else if ((code >= 400 && code <= 499 && !(options & TVN_OPT_IGNORE_CLIENT_ERROR)) ||
             (code >= 500 && code <= 599 && !(options & TVN_OPT_IGNORE_SERVER_ERROR))) {
    fail_attempt(item, b);
    return kHandled;
  } else if (code == 206 && load_acquire(item.state) == TVN_STATE_DOWNLOADING) {
    // A partial answer must start where we asked, or its bytes would land in
    // the wrong place of the file.
    std::uint64_t start = 0;
    const std::uint64_t wanted = division_start(item.disk.range_len, b) + item.disk.range_done[b];
    if (!read_content_range_start(header, start) || start != wanted) {
      fail_attempt(item, b);
      return kHandled;
    }
  }
  return apply_content_length(engine, slot, item, b, header, result, probe_answer);
}

bool after_head_answer(EngineState& engine, int slot, ItemData& item, int b, int result) {
  if (result == kRedirected && open_item_file(engine.ctx, slot, item, false) != 0) {
    finish_running_item(engine, slot, item);
    return false;
  }
  const int status = load_acquire(item.div_status[b]);
  if (status > 99) {
    store_relaxed(item.disk.buf_fill[b], 0);
    platform::socket_close(item.conn.sockets[b]);
    compute_item_ranges(item);
    if (item.options & TVN_OPT_MEMORY_FETCH) {
      // The answer's header arrives in the same share as the page, so the
      // share has room for it besides the reported size; a buffer cut to
      // the size alone failed every attempt on a page smaller than its header.
      constexpr std::uint64_t kHeaderRoom = 16384;
      constexpr std::uint64_t kLargestFirstCut = 64u << 20;
      const std::uint64_t wanted = std::uint64_t{item.disk.file_size} + kHeaderRoom;
      const auto size = static_cast<std::uint32_t>(
          std::clamp<std::uint64_t>(wanted, 32768u, kLargestFirstCut));
      store_relaxed(item.buffer_size, static_cast<std::int32_t>(size));
      if (cut_buffer(item, size) != 0) {
        store_release(item.state, TVN_STATE_FAILED);
        finish_running_item(engine, slot, item);
        return false;
      }
    }
    store_release(item.state, TVN_STATE_DOWNLOADING);
    set_status(item, b, TVN_DIV_IDLE);
    engine.conn_wake.signal();
  } else if (status == TVN_DIV_FAILED) {
    return !completion_check(engine, slot, item);
  }
  return true;
}

bool after_get_answer(EngineState& engine, int slot, ItemData& item, int b, std::size_t header_len) {
  const int status = load_acquire(item.div_status[b]);
  if (status > 99) {
    char* share = item.disk.buf_ptr[b];
    const std::int32_t body = item.disk.buf_fill[b] - static_cast<std::int32_t>(header_len);
    std::memmove(share, share + header_len, static_cast<std::size_t>(body));
    store_relaxed(item.disk.buf_fill[b], body);
    if (!(item.options & TVN_OPT_MEMORY_FETCH)) write_division(engine.ctx, slot, item, b);
    if (load_acquire(item.run_flags) & TVN_RUN_PROBE_SENT) {
      compute_item_ranges(item);
      clear_bits(item.run_flags, TVN_RUN_PROBE_SENT);
      set_bits(item.run_flags, TVN_RUN_PROBE_DONE);
      engine.conn_wake.signal();
    }
  } else if (status == TVN_DIV_FAILED) {
    return !completion_check(engine, slot, item);
  }
  return true;
}

}  // namespace

void fail_attempt(ItemData& item, int b) {
  platform::socket_close(item.conn.sockets[b]);
  store_relaxed(item.disk.buf_fill[b], 0);
  const int left = load_relaxed(item.div_retries[b]);
  if (left < 2) {
    set_status(item, b, TVN_DIV_FAILED);
  } else {
    store_relaxed(item.div_retries[b], left - 1);
    set_status(item, b, TVN_DIV_IDLE);
  }
}

void compute_item_ranges(ItemData& item) {
  const std::uint32_t size = item.disk.file_size;
  if (size != 0 && static_cast<std::uint32_t>(item.div_count) > size)
    store_release(item.div_count, static_cast<std::int32_t>(size));
  if (item.div_count < 1) store_release(item.div_count, 1);
  compute_ranges(size, item.div_count, item.disk.range_len);
}

bool handle_header(EngineState& engine, int slot, ItemData& item, int b) {
  const char* data = item.disk.buf_ptr[b];
  const std::size_t header_len = find_header_end(data, static_cast<std::size_t>(item.disk.buf_fill[b]));
  if (header_len == 0) return true;
  const std::string_view header(data, header_len);
  const int result = parse_response(engine, slot, item, b, header);
  if (load_acquire(item.div_status[b]) > 99) {
    // The client may change url, extra_header, options, file_size and
    // div_count during this notice; the connection thread reads them.
    int answer;
    {
      const ConnExclusion keep_out(engine, slot);
      answer = notify(engine.ctx, TVN_NOTICE_HEADER_PARSED, slot, b, &item);
    }
    if (answer == -1) {
      platform::socket_close(item.conn.sockets[b]);
      set_status(item, b, TVN_DIV_FAILED);
    } else if (answer == 1) {
      restart_connection(engine, slot, item, b);
    }
  }
  const int state = load_acquire(item.state);
  if (state == TVN_STATE_PROBING) {
    notify_text(engine.ctx, TVN_NOTICE_HEAD_HEADER, slot, b, data, header_len);
    return after_head_answer(engine, slot, item, b, result);
  }
  if (state == TVN_STATE_DOWNLOADING) {
    notify_text(engine.ctx, TVN_NOTICE_GET_HEADER, slot, b, data, header_len);
    return after_get_answer(engine, slot, item, b, header_len);
  }
  return true;
}

}  // namespace torvane::engine
