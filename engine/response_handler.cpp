#include "engine/response_handler.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/disk_io.h"
#include "engine/http_message.h"
#include "engine/item_lifecycle.h"
#include "engine/item_restart.h"
#include "engine/item_state.h"
#include "engine/ranges.h"
#include "engine/tls_connection.h"
#include "engine/url_split.h"
#include "platform/socket.h"
#include "torvane/shared_access.hpp"

namespace torvane::engine {
namespace {

enum ParseResult { kStatus200 = 0, kAccepted = 1, kHandled = 2, kRedirected = 3 };

// Re-splits the URL and resolves its host again. The connection thread reads
// the same strings while it builds requests, so it is kept out meanwhile.
bool restart_connection(EngineState& engine, int slot, ItemData& item, int b) {
  close_connection(item.conn.sockets[b]);
  store_relaxed(item.disk.buf_fill[b], 0);
  bool ok;
  {
    const ConnExclusion keep_out(engine, slot);
    ok = resolve_item(item) == 0;
    if (ok) fill_address(item);
  }
  if (!ok) report_resolve_failure(engine.ctx, slot, item);
  set_division_status(item, b, ok ? TVN_DIV_IDLE : TVN_DIV_FAILED);
  return ok;
}

// Redirects one division follows in a row before it gives up: a server
// that redirects to itself would otherwise be asked for ever.
constexpr int kMaxRedirects = 10;

int follow_redirect(EngineState& engine, int slot, ItemData& item, int b,
                    std::string_view location_text) {
  if (++division_entry(engine.answers(slot).redirects, b) > kMaxRedirects) {
    notify_message(engine.ctx, slot,
                   "too many redirects (more than " + std::to_string(kMaxRedirects) +
                       " in a row); the last one pointed to " +
                       url_without_password(location_text));
    close_connection(item.conn.sockets[b]);
    store_relaxed(item.disk.buf_fill[b], 0);
    set_division_status(item, b, TVN_DIV_FAILED);
    return kHandled;
  }
  const std::string resolved =
      item.url != nullptr ? resolve_location(item.url, location_text) : std::string(location_text);
  const std::string_view location = resolved;
  // The url buffer holds TVN_URL_CAPACITY bytes; a longer location is
  // neither cut (a different URL) nor written past the buffer's end.
  if (location.size() >= TVN_URL_CAPACITY || item.url == nullptr) {
    close_connection(item.conn.sockets[b]);
    store_relaxed(item.disk.buf_fill[b], 0);
    set_division_status(item, b, TVN_DIV_FAILED);
    return kHandled;
  }
  // Followed, as browsers do for downloads, but not without a word: the
  // rest of the item travels unencrypted.
  if (url_is_https(item.url) && !url_is_https(resolved.c_str()) &&
      first_time(item, kRunDowngradeSaid)) {
    notify_message(
        engine.ctx, slot,
        "redirected from https:// to an unencrypted URL: " + url_without_password(location));
  }
  {
    const ConnExclusion keep_out(engine, slot);
    std::memcpy(item.url, location.data(), location.size());
    item.url[location.size()] = '\0';
  }
  return restart_connection(engine, slot, item, b) ? kRedirected : kHandled;
}

void report_once(EngineState& engine, int slot, ItemData& item, const char* text) {
  if (first_time(item, kRunLengthReported)) notify_message(engine.ctx, slot, text);
}

// The server sent the whole file to a later division: division 0 takes over
// the whole file alone and the other divisions end.
void become_single_connection(EngineState& engine, ItemData& item, int slot) {
  const ConnExclusion keep_out(engine, slot);
  const ItemSizes sizes = engine.sizes(slot, item);
  const int n = item.div_count;
  for (int i = 1; i < n; ++i) {
    close_connection(item.conn.sockets[i]);
    set_division_status(item, i, TVN_DIV_FAILED);
  }
  store_release(item.div_count, 1);
  const std::uint64_t old_end = sizes.len(0);
  sizes.set_len(0, sizes.file_size());
  set_bits(item.run_flags, TVN_RUN_SINGLE_CONNECTION);
  // Division 0 goes on over its own connection only while the bytes it has
  // taken from it are exactly the ones it kept: below its old range's end.
  // The read that brings the header is not bounded by the range, and what
  // it brought past the end was dropped as the next division's, so a
  // division at that end has lost bytes the widened range now needs. It
  // has ended, or will, at that end; and a server that ignores ranges can
  // only send from the start. Either way it starts over from byte 0.
  const int first = load_acquire(item.div_status[0]);
  const std::uint64_t kept = sizes.done(0) + static_cast<std::uint32_t>(item.disk.buf_fill[0]);
  const bool in_step =
      (first == TVN_DIV_SENT && sizes.done(0) == 0) || (first > 99 && kept < old_end);
  const bool whole = sizes.done(0) >= sizes.file_size();  // the size probe's open range
  if (!in_step && !whole) {
    close_connection(item.conn.sockets[0]);
    store_relaxed(item.disk.buf_fill[0], 0);
    sizes.set_done(0, 0);
    set_division_status(item, 0, TVN_DIV_IDLE);
  }
}

// Ranged divisions cannot work with this server: the item goes on over
// division 0 alone (which keeps what it has where it can), once; the same
// refusal over one connection fails it. A 416 may instead mean that the
// size the item holds is stale, so the size is asked again first, once.
int ranges_refused(EngineState& engine, int slot, ItemData& item, int b, bool size_in_doubt,
                   const std::string& what) {
  close_connection(item.conn.sockets[b]);
  store_relaxed(item.disk.buf_fill[b], 0);
  // Division 0's own connection is gone: it can only start over.
  set_division_status(item, b, b == 0 ? TVN_DIV_IDLE : TVN_DIV_FAILED);
  if (size_in_doubt && !engine.answers(slot).reprobed) {
    reprobe_item(engine, slot, item, what);
  } else if (load_acquire(item.run_flags) & TVN_RUN_SINGLE_CONNECTION) {
    fail_all_divisions(engine, item, slot);
    notify_message(engine.ctx, slot, what + ", also over one connection; the download fails");
  } else {
    become_single_connection(engine, item, slot);
    notify_message(engine.ctx, slot, what + "; the download is going on over one connection");
  }
  return kHandled;
}

// The size probe that followed a refused range has answered (its size is
// in file_size): another size was the stale one, and the ranges are
// computed anew from it; the same size means the ranges themselves are
// refused, and division 0 goes on with the whole file alone.
void take_reprobed_size(EngineState& engine, int slot, ItemData& item, std::uint64_t refused_in) {
  const std::uint64_t size = engine.sizes(slot, item).file_size();
  if (size != 0 && size != refused_in) {
    notify_message(engine.ctx, slot,
                   "The server refused a range inside the file's " + std::to_string(refused_in) +
                       " bytes (416) and now reports " + std::to_string(size) +
                       " bytes; the download started over with that size");
    return;
  }
  {
    const ConnExclusion keep_out(engine, slot);
    for (int i = 1; i < item.div_count; ++i) set_division_status(item, i, TVN_DIV_FAILED);
    store_release(item.div_count, 1);
    set_bits(item.run_flags, TVN_RUN_SINGLE_CONNECTION);
  }
  notify_message(engine.ctx, slot,
                 "The server refuses ranges inside the file's " + std::to_string(refused_in) +
                     " bytes (416); the download is going on over one connection");
}

// A server that refuses HEAD (405, or 501 from one that knows no HEAD) has
// said nothing about the file: its size is asked with the GET from byte 0
// that SpeedMode starts with, and the download goes on from that answer.
void probe_with_get(EngineState& engine, int slot, ItemData& item) {
  const ConnExclusion keep_out(engine, slot);
  close_connection(item.conn.sockets[0]);
  store_relaxed(item.disk.buf_fill[0], 0);
  set_bits(item.run_flags, TVN_RUN_PROBE_PENDING);
  set_item_state(item, TVN_STATE_DOWNLOADING);
  set_division_status(item, 0, TVN_DIV_IDLE);
  engine.conn_wake.signal();
}

// The answer to a HEAD or to SpeedMode's size probe: the size, and the
// version of the file this run downloads.
int take_probe_answer(EngineState& engine, int slot, ItemData& item, std::string_view header,
                      LengthResult read, std::uint64_t length, int result) {
  const ItemSizes sizes = engine.sizes(slot, item);
  sizes.set_file_size(read == LengthResult::kOk ? length : 0u);
  if (sizes.file_size() == 0 && result != kRedirected) store_release(item.div_count, 1);
  if (result == kRedirected) return result;
  SlotAnswers& answers = engine.answers(slot);
  if (answers.reprobe_size != 0)
    take_reprobed_size(engine, slot, item, std::exchange(answers.reprobe_size, 0));
  // A fresh start: whatever the client's If-Range named, the file is read
  // from byte 0 now, so the version this answer names is the one to keep.
  const std::string_view now = answer_validator(header);
  const std::string_view client = item_validator(answers, item);
  if (!now.empty()) {
    if (!client.empty() && validator_like(header, client) != client)
      notify_message(engine.ctx, slot,
                     "The file changed on the server since its download began; it is downloaded "
                     "from the beginning");
    hold_validator(engine, slot, now);
  }
  // A chunked probe has no length, so the item runs on one division.
  answers.chunked = is_chunked(header) && load_acquire(item.state) == TVN_STATE_DOWNLOADING;
  answers.chunks = ChunkDecoder{};
  return result;
}

// The size of the whole file that a 200 or 206 states (its length, or a
// 206's Content-Range total); false when it states none.
bool stated_size(int code, std::string_view header, LengthResult read, std::uint64_t length,
                 std::uint64_t& size) {
  if (code == 200) {
    size = length;
    return read == LengthResult::kOk;
  }
  ContentRange range;
  if (!read_content_range(header, range) || !range.total_known) return false;
  size = range.total;
  return true;
}

// The answer must be of the version the item holds, and the first answer
// that names one sets it. True when the item started over (with
// `restart_size`) because the version changed.
bool restarted_for_version(EngineState& engine, int slot, ItemData& item, std::string_view header,
                           std::uint64_t restart_size) {
  const std::string_view held = item_validator(engine.answers(slot), item);
  const std::string_view now =
      held.empty() ? answer_validator(header) : validator_like(header, held);
  if (!held.empty() && !now.empty() && now != held) {
    // A resume of a file that changed, or divisions served by servers that
    // hold different versions: their bytes must not be mixed in one file.
    restart_item(engine, slot, item, restart_size, answer_validator(header),
                 "The file changed on the server (its version is no longer the one the download "
                 "began with)");
    return true;
  }
  if (held.empty() && !now.empty()) hold_validator(engine, slot, now);
  return false;
}

// A chunked answer to a GET: taken where it can be decoded (one division
// from byte 0, as SlotAnswers::chunked says), else the item starts over on
// one division.
int take_chunked_answer(EngineState& engine, int slot, ItemData& item, std::string_view header,
                        int result) {
  if (!engine.answers(slot).chunked) {
    restart_item(engine, slot, item, 0, answer_validator(header),
                 "The server sends the file in chunks without a size, which only one connection "
                 "can take");
    return kHandled;
  }
  // No size: the division reads to the last chunk, however long the file is.
  const ConnExclusion keep_out(engine, slot);
  const ItemSizes sizes = engine.sizes(slot, item);
  sizes.set_file_size(0);
  sizes.set_len(0, 0);
  set_bits(item.run_flags, TVN_RUN_SINGLE_CONNECTION);
  return result;
}

// A 200 or 206 to a GET of a running item (not the size probe): it must be
// of the version and the size the item started with, and a chunked body is
// taken only where it can be decoded (one division from byte 0).
int take_file_answer(EngineState& engine, int slot, ItemData& item, int b, std::string_view header,
                     int code, LengthResult read, std::uint64_t length, int result) {
  SlotAnswers& answers = engine.answers(slot);
  const ItemSizes sizes = engine.sizes(slot, item);
  std::uint64_t size = 0;
  const bool size_known = stated_size(code, header, read, length, size);
  const bool chunked = is_chunked(header);
  if (restarted_for_version(engine, slot, item, header, chunked || !size_known ? 0u : size))
    return kHandled;
  const std::uint64_t file_size = sizes.file_size();
  if (code == 200 && b == 0 && sizes.done(0) != 0) {
    // The server ignored the range of a continued transfer: its bytes start
    // at 0, not where the division goes on.
    fail_all_divisions(engine, item, slot);
    return kHandled;
  }
  answers.chunks = ChunkDecoder{};
  answers.chunked = chunked && b == 0 && item.div_count == 1;
  if (chunked) return take_chunked_answer(engine, slot, item, header, result);
  if (size_known && file_size != 0 && size != file_size) {
    restart_item(engine, slot, item, size, answer_validator(header),
                 "The server reports another size for the file (" + std::to_string(size) +
                     " bytes, not " + std::to_string(file_size) + ")");
    return kHandled;
  }
  if (size_known && file_size == 0 && b == 0 && item.div_count == 1) {
    // The probe named no size but this answer does: a close before the end
    // is then an early close, not the end of the file.
    const ConnExclusion keep_out(engine, slot);
    sizes.set_file_size(size);
    sizes.set_len(0, size);
  }
  if (code == 200 && b != 0) {
    if (read == LengthResult::kMissing) {
      close_connection(item.conn.sockets[b]);
      set_division_status(item, b, TVN_DIV_FAILED);
      return kHandled;
    }
    become_single_connection(engine, item, slot);  // the whole file, of the size asked for
  }
  return result;
}

// The length rules of an answer that is not a 200 or 206 of a running item
// (an error page that the options keep, say): a later division's answer
// that is the whole file makes the item one connection.
int apply_content_length(EngineState& engine, int slot, ItemData& item, int b, LengthResult read,
                         std::uint64_t length, int result) {
  if (result == kRedirected) return result;  // that body is not ours
  const ItemSizes sizes = engine.sizes(slot, item);
  const std::uint64_t file_size = sizes.file_size();
  if (b != 0) {
    if (read == LengthResult::kMissing) {
      close_connection(item.conn.sockets[b]);
      set_division_status(item, b, TVN_DIV_FAILED);
      return kHandled;
    }
    if (length >= file_size) become_single_connection(engine, item, slot);
  } else if (sizes.done(0) != 0 && read == LengthResult::kOk && length >= file_size) {
    fail_all_divisions(engine, item, slot);  // the server ignored the range of a continued transfer
    return kHandled;
  }
  return result;
}

// A partial answer must be the part asked for: from where the division
// goes on, and as long as its Content-Range says, or its bytes land in the
// wrong place of the file.
bool partial_answer_fits(const ItemSizes& sizes, int b, std::string_view header, LengthResult read,
                         std::uint64_t length) {
  ContentRange range;
  if (!read_content_range(header, range) || range.first != sizes.next_byte(b)) return false;
  return read != LengthResult::kOk || length == range.last - range.first + 1;
}

// The status rules beyond 200 and a refused range: a redirection is
// followed (kRedirected) unless the options ignore it, an error answer uses
// an attempt (kHandled) unless the options keep it; anything else is
// kAccepted.
int status_rules(EngineState& engine, int slot, ItemData& item, int b, std::string_view header,
                 int code) {
  const std::uint32_t options = item.options;
  if (code >= 300 && code <= 399 && !(options & TVN_OPT_IGNORE_REDIRECTION)) {
    std::string_view location;
    if (!find_header_value(header, "Location", location)) {
      // Without a target the answer is neither the file nor a way to it.
      notify_message(
          engine.ctx, slot,
          "The server answered " + std::to_string(code) + " (a redirection) without a Location");
      fail_attempt(item, b);
      return kHandled;
    }
    return follow_redirect(engine, slot, item, b, location);
  }
  if ((code >= 400 && code <= 499 && !(options & TVN_OPT_IGNORE_CLIENT_ERROR)) ||
      (code >= 500 && code <= 599 && !(options & TVN_OPT_IGNORE_SERVER_ERROR))) {
    fail_attempt(item, b);
    // Said when the answer has used up the division's attempts: an error
    // that a later attempt gets past is no reason for anything.
    if (load_acquire(item.div_status[b]) == TVN_DIV_FAILED && first_time(item, kRunFailureSaid))
      notify_message(engine.ctx, slot, status_text(header, code));
    return kHandled;
  }
  return kAccepted;
}

// A Content-Length that cannot be used: not a size (or one past kMaxSize),
// or, for a page fetched into memory, a size of 4 GiB or more (the division
// fails); or lines that contradict each other (an attempt is used). kHandled.
int length_refused(EngineState& engine, int slot, ItemData& item, int b, LengthResult read) {
  if (read != LengthResult::kConflict) {
    close_connection(item.conn.sockets[b]);
    report_once(engine, slot, item,
                read == LengthResult::kInvalid
                    ? "Content-Length is not a size of at most 2^62 bytes; the download cannot be "
                      "saved correctly"
                    : "The page is 4 GiB or more, too large to be fetched into memory");
    set_division_status(item, b, TVN_DIV_FAILED);
    return kHandled;
  }
  // Which one is right cannot be known: HTTP has such an answer refused.
  notify_message(engine.ctx, slot,
                 "The server sent Content-Length lines that contradict each other");
  fail_attempt(item, b);
  return kHandled;
}

// A 206 to a running item's GET that cannot be placed in the file: its
// Content-Range is not the part asked for (an attempt is used), or it has
// none and the request did not start at byte 0. Empty when it fits.
std::optional<int> misplaced_part(EngineState& engine, int slot, ItemData& item, int b,
                                  std::string_view header, LengthResult read, std::uint64_t length,
                                  std::uint64_t from) {
  std::string_view range_line;
  if (find_header_value(header, "Content-Range", range_line)) {
    if (partial_answer_fits(engine.sizes(slot, item), b, header, read, length)) return std::nullopt;
    fail_attempt(item, b);
    return kHandled;
  }
  if (from == 0) return std::nullopt;
  // Only an answer to a request from byte 0 can be placed without one.
  return ranges_refused(engine, slot, item, b, false,
                        "The server's partial answers do not say which bytes they hold "
                        "(206 without Content-Range)");
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
  set_division_status(item, b, code);
  if (code < 300 || code > 399) division_entry(engine.answers(slot).redirects, b) = 0;
  const int state = load_acquire(item.state);
  const bool probe_answer = (load_acquire(item.run_flags) & TVN_RUN_PROBE_SENT) != 0 && b == 0;
  if (state == TVN_STATE_PROBING && (code == 405 || code == 501)) {
    probe_with_get(engine, slot, item);
    return kHandled;
  }
  const ItemSizes sizes = engine.sizes(slot, item);
  const std::uint64_t from = sizes.next_byte(b);
  const std::uint64_t file_size = sizes.file_size();
  if (code == 416 && state == TVN_STATE_DOWNLOADING && !probe_answer && from < file_size) {
    return ranges_refused(engine, slot, item, b, true,
                          "The server refuses the range from byte " + std::to_string(from) +
                              " of the file's " + std::to_string(file_size) + " bytes (416)");
  }
  const int result = code == 200 ? kStatus200 : status_rules(engine, slot, item, b, header, code);
  if (result == kHandled) return result;
  std::uint64_t length = 0;
  LengthResult read = read_content_length(header, length);
  // A page fetched into memory is held in one buffer, which stays below 4 GiB.
  if (read == LengthResult::kOk && length >= TVN_SIZE_WIDE && (item.options & TVN_OPT_MEMORY_FETCH))
    read = LengthResult::kTooLarge;
  if (read != LengthResult::kOk && read != LengthResult::kMissing)
    return length_refused(engine, slot, item, b, read);
  if (code == 206 && state == TVN_STATE_DOWNLOADING) {
    if (const std::optional<int> refused =
            misplaced_part(engine, slot, item, b, header, read, length, from))
      return *refused;
  }
  if (state == TVN_STATE_PROBING || probe_answer)
    return take_probe_answer(engine, slot, item, header, read, length, result);
  if (result != kRedirected && state == TVN_STATE_DOWNLOADING && (code == 200 || code == 206))
    return take_file_answer(engine, slot, item, b, header, code, read, length, result);
  return apply_content_length(engine, slot, item, b, read, length, result);
}

bool after_head_answer(EngineState& engine, int slot, ItemData& item, int b, int result) {
  if (result == kRedirected && open_item_file(engine.ctx, slot, item, false) != 0) {
    finish_running_item(engine, slot, item);
    return false;
  }
  const int status = load_acquire(item.div_status[b]);
  if (status > 99) {
    store_relaxed(item.disk.buf_fill[b], 0);
    close_connection(item.conn.sockets[b]);
    compute_item_ranges(engine.sizes(slot, item));
    if (item.options & TVN_OPT_MEMORY_FETCH) {
      // The answer's header arrives in the same share as the page, so the
      // share has room for it besides the reported size; a buffer cut to
      // the size alone failed every attempt on a page smaller than its header.
      constexpr std::uint64_t kHeaderRoom = 16384;
      constexpr std::uint64_t kLargestFirstCut = 64u << 20;
      const std::uint64_t wanted = engine.sizes(slot, item).file_size() + kHeaderRoom;
      const auto size =
          static_cast<std::uint32_t>(std::clamp<std::uint64_t>(wanted, 32768u, kLargestFirstCut));
      store_relaxed(item.buffer_size, static_cast<std::int32_t>(size));
      if (cut_buffer(item, size) != 0) {
        set_item_state(item, TVN_STATE_FAILED);
        finish_running_item(engine, slot, item);
        return false;
      }
    }
    set_item_state(item, TVN_STATE_DOWNLOADING);
    set_division_status(item, b, TVN_DIV_IDLE);
    engine.conn_wake.signal();
  } else if (status == TVN_DIV_FAILED) {
    return !completion_check(engine, slot, item);
  }
  return true;
}

bool after_get_answer(EngineState& engine, int slot, ItemData& item, int b,
                      std::size_t header_len) {
  const int status = load_acquire(item.div_status[b]);
  if (status > 99) {
    char* share = item.disk.buf_ptr[b];
    const std::int32_t body = item.disk.buf_fill[b] - static_cast<std::int32_t>(header_len);
    std::memmove(share, share + header_len, static_cast<std::size_t>(body));
    store_relaxed(item.disk.buf_fill[b], body);
    ChunkDecoder::Result chunks = ChunkDecoder::Result::kMore;
    if (chunked_division(engine, slot, b)) {
      chunks = take_chunks(engine, slot, item, b, 0);
      if (chunks == ChunkDecoder::Result::kBad) {
        fail_attempt(item, b);
        return load_acquire(item.div_status[b]) != TVN_DIV_FAILED ||
               !completion_check(engine, slot, item);
      }
    }
    if (!(item.options & TVN_OPT_MEMORY_FETCH)) write_division(engine, slot, item, b);
    if (load_acquire(item.run_flags) & TVN_RUN_PROBE_SENT) {
      compute_item_ranges(engine.sizes(slot, item));
      clear_bits(item.run_flags, TVN_RUN_PROBE_SENT);
      set_bits(item.run_flags, TVN_RUN_PROBE_DONE);
      engine.conn_wake.signal();
    }
    if (chunks == ChunkDecoder::Result::kEnd) return end_division(engine, slot, item, b);
  } else if (status == TVN_DIV_FAILED) {
    return !completion_check(engine, slot, item);
  }
  return true;
}

}  // namespace

bool chunked_division(EngineState& engine, int slot, int b) {
  return b == 0 && engine.answers(slot).chunked;
}

ChunkDecoder::Result take_chunks(EngineState& engine, int slot, ItemData& item, int b,
                                 std::int32_t from) {
  char* share = item.disk.buf_ptr[b];
  const std::int32_t fill = item.disk.buf_fill[b];
  std::size_t payload = 0;
  const ChunkDecoder::Result result = engine.answers(slot).chunks.decode(
      share + from, static_cast<std::size_t>(fill - from), payload);
  if (result == ChunkDecoder::Result::kBad) {
    report_once(engine, slot, item,
                "The server's chunked answer cannot be read; its framing is broken");
    return result;
  }
  store_relaxed(item.disk.buf_fill[b], from + static_cast<std::int32_t>(payload));
  return result;
}

bool chunks_cut_short(EngineState& engine, int slot, int b) {
  const SlotAnswers& answers = engine.answers(slot);
  return b == 0 && answers.chunked && !answers.chunks.finished();
}

bool end_division(EngineState& engine, int slot, ItemData& item, int b) {
  if (!(item.options & TVN_OPT_MEMORY_FETCH)) write_division(engine, slot, item, b);
  close_connection(item.conn.sockets[b]);
  set_division_status(item, b, TVN_DIV_DONE);
  return !completion_check(engine, slot, item);
}

void fail_attempt(ItemData& item, int b) {
  close_connection(item.conn.sockets[b]);
  store_relaxed(item.disk.buf_fill[b], 0);
  const int left = load_relaxed(item.div_retries[b]);
  if (left < 2) {
    set_division_status(item, b, TVN_DIV_FAILED);
  } else {
    store_relaxed(item.div_retries[b], left - 1);
    set_division_status(item, b, TVN_DIV_IDLE);
  }
}

void compute_item_ranges(const ItemSizes& sizes) {
  ItemData& item = sizes.item();
  const std::uint64_t size = sizes.file_size();
  if (size != 0 && static_cast<std::uint64_t>(item.div_count) > size)
    store_release(item.div_count, static_cast<std::int32_t>(size));
  if (item.div_count < 1) store_release(item.div_count, 1);
  const int n = item.div_count;
  for (int i = 0; i < n; ++i) sizes.set_len(i, range_length(size, n, i));
}

bool handle_header(EngineState& engine, int slot, ItemData& item, int b) {
  const char* data = item.disk.buf_ptr[b];
  const std::size_t header_len =
      find_header_end(data, static_cast<std::size_t>(item.disk.buf_fill[b]));
  if (header_len == 0) return true;
  const std::string_view header(data, header_len);
  // A refused HEAD moves the item on to its GETs; its header is still a HEAD's.
  const int state = load_acquire(item.state);
  const int result = parse_response(engine, slot, item, b, header);
  if (load_acquire(item.div_status[b]) > 99) {
    const ItemSizes sizes = engine.sizes(slot, item);
    division_entry(engine.answers(slot).answer_start, b) = sizes.done(b);
    // What the client may change during this notice (torvane.h) the
    // connection thread reads: it is kept out meanwhile.
    int answer;
    {
      const ConnExclusion keep_out(engine, slot);
      answer = notify(engine.ctx, TVN_NOTICE_HEADER_PARSED, slot, b, &item);
      // A size the client set there, in either form.
      sizes.set_file_size(tvn_whole_size(item.disk.file_size, sizes.file_size()));
    }
    if (answer == -1) {
      close_connection(item.conn.sockets[b]);
      set_division_status(item, b, TVN_DIV_FAILED);
    } else if (answer == 1) {
      restart_connection(engine, slot, item, b);
    }
  }
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
