// The cookie step of notice 111.
#include "core/queue/cookies.h"

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>

#include "core/queue/slot_record.h"
#include "core/queue/target_file.h"
#include "core/text/text_util.h"
#include "torvane/shared_access.hpp"

namespace torvane {
namespace {

constexpr std::string_view kSetCookie = "Set-Cookie: ";
constexpr std::string_view kCookie = "Cookie: ";

// The value of the first Set-Cookie line of `data`; none when there is no
// such line, no line end after it, or the value is longer than we take.
std::optional<std::string_view> set_cookie_value(std::string_view data) {
  const std::size_t at = find_text_ci(data, kSetCookie, static_cast<long>(data.size()));
  if (at == kNone) return std::nullopt;
  const std::string_view rest = data.substr(at + kSetCookie.size());
  // A value ends at "\r\n" or "<br>", and also at a lone CR or LF: a server
  // that ends its lines with bare LF would otherwise hand us the next header
  // line too, and we would send it on as a line of our own requests.
  const std::size_t end = std::min(line_end(rest), rest.find_first_of("\r\n"));
  if (end == kNone || end > kMaxCookieValue) return std::nullopt;
  return rest.substr(0, end);
}

// Takes attribute `name` out of `line`: the text after the next ';' moves up
// to where the attribute began, so the blanks around it stay. Without a ';'
// after it (the attribute ends the line) the attribute and the rest of the
// line go.
void drop_attribute(std::string& line, std::string_view name) {
  const std::size_t at = find_text_ci(line, name, static_cast<long>(line.size()));
  if (at == kNone) return;
  const std::size_t semicolon = line.find(';', at + name.size());
  line.erase(at, semicolon == std::string::npos ? std::string::npos : semicolon + 1 - at);
}

// "Cookie: " and the cleaned value, ended by "\r\n".
std::string cookie_line_of(std::string_view value) {
  std::string line;
  line.reserve(kCookie.size() + value.size() + 2);
  line.append(kCookie).append(value);
  drop_attribute(line, "path=");
  drop_attribute(line, "domain=");
  const std::size_t expires = find_text_ci(line, "expires=", static_cast<long>(line.size()));
  if (expires != kNone) line.erase(expires);
  line.append("\r\n");
  return line;
}

// Opens the output file that dl_start skipped for the in-memory request, as
// dl_start would have: the existing-file policy first, then the engine's own
// naming when the policy left the opening to it.
bool open_output_file(ItemData* record, const ItemSettingsEnv& env) {
  if (record->disk.file != 0) return true;
  if (env.settings != nullptr && open_target_file(record, env.api, *env.settings, env.clock) != 0) {
    return false;
  }
  if (record->disk.file != 0) return true;
  if (env.api.DiskIO_OpenFile == nullptr) return false;
  const std::string name = record_file_name(record, env.api);
  return !name.empty() && open_slot_file(*record, env.api, name.c_str()) == 0;
}

// The received text of the first division: at this notice, the answer's
// header and whatever of its body came with it.
std::string_view first_division_data(const ItemData* record) {
  const DiskIO& disk = record->disk;
  if (disk.buf_ptr == nullptr || disk.buf_fill == nullptr || disk.buf_ptr[0] == nullptr) return {};
  const std::int32_t fill = load_relaxed(disk.buf_fill[0]);
  return fill > 0 ? std::string_view(disk.buf_ptr[0], static_cast<std::size_t>(fill))
                  : std::string_view();
}

}  // namespace

int cookie_step(ItemData* record, ListItem& item, int cookie_value, int prepared_divisions,
                SlotStrings& strings, const ItemSettingsEnv& env) {
  if (record == nullptr) return 0;
  SlotWriter slot(*record, strings);
  // A cookie from an earlier answer is not sent again unless this answer
  // sets one (the old text stays the slot's until its end).
  const std::optional<std::string_view> value = set_cookie_value(first_division_data(record));
  if (value) item.cookie_line = cookie_line_of(*value);
  // Out of memory: no cookie line at all, so the list file does not keep
  // a line this run never sent.
  const std::string lines = (value ? item.cookie_line : std::string()) + item.header_lines;
  if (!slot.set_extra_header(lines)) item.cookie_line.clear();

  // Only the run's first request is an in-memory fetch; the restart ends
  // it, so the answer to the restarted request never restarts again.
  if (cookie_value < 1 || (load_acquire(record->options) & TVN_OPT_MEMORY_FETCH) == 0) return 0;

  // The first request went to a shortened URL (2 and more): the restart
  // asks for the item's own. Tested by pointer rather than by the value
  // read now, so that a profile edited since the start, or a shortened copy
  // that could not be made, still restarts to the right URL.
  if (load_acquire(record->url) != item.url) slot.point_url(item.url);
  slot.drop_options(TVN_OPT_MEMORY_FETCH);

  if (!open_output_file(record, env)) {
    slot.set_divisions(1);
    return -1;
  }
  // The arrays were made for the prepared count and are never enlarged.
  slot.set_divisions(std::clamp(item.division_count, 1, std::max(prepared_divisions, 1)));
  return 1;
}

}  // namespace torvane
