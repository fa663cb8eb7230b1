// Item settings: a reserved slot filled from an item and its server profiles,
// and the handler of the response-header notice.
#include "core/queue/item_settings.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstddef>
#include <cstring>
#include <optional>
#include <string>

#include "core/queue/cookies.h"
#include "core/queue/slot_record.h"
#include "core/settings/server_profiles.h"
#include "core/settings/size_table.h"
#include "core/text/number_text.h"
#include "core/text/progress_text.h"
#include "core/text/proxy_env.h"
#include "core/text/text_util.h"
#include "torvane/shared_access.hpp"

namespace torvane {
namespace {

// Text keys are read cut to 1022 characters, as every profile text is.
constexpr std::size_t kProfileTextSize = 1023;

// The option bits a profile sets, in the order they are read.
struct OptionKey {
  std::string_view key;
  std::uint32_t bit;
};
constexpr OptionKey kOptionKeys[] = {
    {"IgnoreRedirection", TVN_OPT_IGNORE_REDIRECTION},
    {"IgnoreClientError", TVN_OPT_IGNORE_CLIENT_ERROR},
    {"IgnoreServerError", TVN_OPT_IGNORE_SERVER_ERROR},
    {"AutoResume", TVN_OPT_AUTO_RESUME},
    {"SpeedMode", TVN_OPT_SPEED_MODE},
};

// The two files a key is resolved through: the host's profile first and the
// default profile behind it, or the default profile alone; a run's forced
// values come before both, and the environment's proxy after them.
class Profiles {
 public:
  Profiles(const ProgramFolder& folder, std::string_view url, const RunProfile* run)
      : host_(find_server_profile(folder, url)),
        default_(default_server_profile(folder)),
        url_(url),
        run_(run) {}

  const char* first() const { return host_ ? host_->c_str() : default_.c_str(); }
  const char* second() const { return host_ ? default_.c_str() : nullptr; }

  // The value, kAbsentInt when neither file has it.
  int read_int(std::string_view key) const {
    if (const std::string* value = forced(key)) return ini_int_value(*value);
    return read_int_with_fallback(kProfileSection, key, kAbsentInt, first(), second());
  }
  // Only from `file` (a file of this pair), kAbsentInt when absent there.
  static int read_int_from(const char* file, std::string_view key) {
    return read_int_with_fallback(kProfileSection, key, kAbsentInt, file, nullptr);
  }
  // True and the value (an empty value counts) when a file has the key.
  bool read_text(std::string_view key, std::string& out) const {
    if (const std::string* value = forced(key)) {
      out = *value;
      return true;
    }
    if (read_text_with_fallback(kProfileSection, key, out, kProfileTextSize, first(), second()) >=
        0)
      return true;
    return key == "Proxy" && environment_proxy(out);
  }

 private:
  const std::string* forced(std::string_view key) const {
    if (run_ == nullptr) return nullptr;
    const auto found = run_->forced.find(key);
    return found == run_->forced.end() ? nullptr : &found->second;
  }
  bool environment_proxy(std::string& out) const {
    if (run_ == nullptr) return false;
    const std::optional<std::string> proxy =
        proxy_from_environment(url_, run_->http_proxy, run_->https_proxy, run_->no_proxy);
    if (proxy) out = *proxy;
    return proxy.has_value();
  }

  std::optional<std::string> host_;
  std::string default_;
  std::string url_;
  const RunProfile* run_;
};

// Index of the n-th '/' (n >= 1), or npos when there are fewer.
std::size_t nth_slash(std::string_view text, int n) {
  std::size_t at = std::string_view::npos;
  for (int i = 0; i < n; ++i) {
    at = text.find('/', at == std::string_view::npos ? 0 : at + 1);
    if (at == std::string_view::npos) break;
  }
  return at;
}

// The URL with its host part replaced: the scheme prefix ("http://",
// "https://", up to the second '/'), the new host, then everything from the
// third '/' on. A URL without a third '/', or a result
// that would not fit the field, stays as it is: a cut URL would send the
// request somewhere nobody asked for.
void splice_host(ListItem& item, std::string_view host) {
  const std::string_view url(item.url);
  const std::size_t path = nth_slash(url, 3);
  if (path == std::string_view::npos) return;
  std::string spliced(url.substr(0, nth_slash(url, 2) + 1));
  spliced.append(host);
  spliced.append(url.substr(path));
  if (spliced.size() > sizeof item.url - 1) return;
  set_field(item.url, spliced);
}

// The first request of a "Cookie" 2 or more: the URL cut after its last '/'
// (2) or after its N-th '/' (N of 3 or more; the one after the host is the
// third). With fewer slashes the request goes to the whole URL.
std::string_view first_request_url(std::string_view url, int cookie) {
  const std::size_t cut = cookie == 2 ? url.rfind('/') : nth_slash(url, cookie);
  return cut == std::string_view::npos ? url : url.substr(0, cut + 1);
}

// The decimal value of the division text the item was added with: leading
// blanks, a sign and the digits that follow; anything else reads as 0.
int division_text_value(const char (&text)[4]) {
  constexpr NumberRules kRules{
      .blanks = LeadingBlanks::kSpacesAndTabs, .sign = true, .leading = true};
  // Three characters at most: always within range.
  return static_cast<int>(
      parse_number(std::string_view(text, strnlen(text, sizeof text)), -99, 999, kRules)
          .value_or(0));
}

int saturate_int(long long value) {
  return static_cast<int>(std::clamp<long long>(value, INT_MIN, INT_MAX));
}

// `value` of `key` brought into [low, high]. A value outside is noted with
// the one used: a profile asking for what cannot work gets a working
// download, and the user learns why it does not do what was written.
int in_range(int value, int low, int high, std::string_view key, const ItemSettingsEnv& env) {
  const int used = std::clamp(value, low, high);
  if (used != value && env.notes != nullptr) {
    const std::string range =
        std::to_string(low) + (high == INT_MAX ? " and up" : " to " + std::to_string(high));
    env.notes->push_back(std::string(key) + "=" + std::to_string(value) + " is out of range (" +
                         range + "); " + std::to_string(used) + " is used");
  }
  return used;
}

// Which file decides a link jump: "urljump" 1 in the first file; else, only
// when the first file does not have the key at all, "urljump" 1 in the
// default profile behind a host profile. An explicit 0 in the host profile
// therefore switches a default jump off. Null: no link jump.
const char* link_jump_file(const Profiles& profiles) {
  const int first = Profiles::read_int_from(profiles.first(), "urljump");
  if (first == 1) return profiles.first();
  if (first == kAbsentInt && profiles.second() != nullptr &&
      Profiles::read_int_from(profiles.second(), "urljump") == 1) {
    return profiles.second();
  }
  return nullptr;
}

constexpr std::string_view kIfRange = "If-Range:";
constexpr std::size_t kMaxValidator = 1024;

std::string_view trim_blanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

bool usable_validator(std::string_view value) {
  if (value.empty() || value.size() > kMaxValidator) return false;
  // It goes back out as a header line of its own.
  return !has_control_char(value);
}

bool name_is(std::string_view name, std::string_view wanted) {
  return name.size() == wanted.size() &&
         std::equal(name.begin(), name.end(), wanted.begin(), [](char a, char b) {
           return std::tolower(static_cast<unsigned char>(a)) ==
                  std::tolower(static_cast<unsigned char>(b));
         });
}

// The item's cookie and header lines, then "If-Range: <validator>" when the record has a
// validator fit to send (the list file may have been edited) and the lines
// do not carry one already.
std::string resume_header(std::string_view lines, const char* validator) {
  std::string header(lines);
  if (validator == nullptr || !usable_validator(validator)) return header;
  if (find_text_ci(header, kIfRange, static_cast<long>(header.size())) != kNone) return header;
  header.append(kIfRange).append(" ").append(validator).append("\r\n");
  return header;
}

// The URL a fresh start requests: the item's, rewritten for good by "URL"
// and "Host"; with "Cookie" 1 or more the first request goes to memory, and
// from 2 on to a shortened URL.
void set_request_url(SlotWriter& slot, ListItem& item, const Profiles& profiles) {
  std::string text;
  if (profiles.read_text("URL", text)) set_field(item.url, text);
  if (profiles.read_text("Host", text)) splice_host(item, text);
  slot.point_url(item.url);
  const int cookie = profiles.read_int("Cookie");
  if (cookie >= 1) slot.add_options(TVN_OPT_MEMORY_FETCH);
  // A shortened copy that cannot be made leaves the item's URL.
  if (cookie >= 2) slot.copy_request_url(first_request_url(item.url, cookie));
}

// The division count: "Div", else the item's own division text; 0 is 1
// without a word, anything else is brought into 1 to kMaxDivisions.
void set_divisions(SlotWriter& slot, ListItem& item, const Profiles& profiles,
                   const ItemSettingsEnv& env) {
  const int div = profiles.read_int("Div");
  item.division_from_profile = div != kAbsentInt ? 1 : 0;
  const int divisions = div != kAbsentInt ? div : division_text_value(item.division_text);
  item.division_count = divisions == 0 ? 1 : in_range(divisions, 1, kMaxDivisions, "Div", env);
  slot.set_divisions(item.division_count);
}

// The receive buffer: "BufferSize" per division (in range), times the
// division count already set.
void set_buffer(SlotWriter& slot, const Profiles& profiles, const ItemSettingsEnv& env) {
  int per_division = profiles.read_int("BufferSize");
  per_division = per_division == kAbsentInt ? kDefaultBufferPerDivision
                                            : in_range(per_division, kMinBufferPerDivision,
                                                       kMaxBufferPerDivision, "BufferSize", env);
  slot.set_buffer(saturate_int(static_cast<long long>(per_division) * slot.record().div_count));
}

// A failed copy leaves the field null: the engine then goes without a
// proxy (it needs both the bit and the text) or sends no fixed referrer.
void set_proxy_and_referrer(SlotWriter& slot, const Profiles& profiles) {
  std::string text;
  const bool proxy = profiles.read_text("Proxy", text);
  slot.set_proxy(proxy ? std::optional<std::string_view>(text) : std::nullopt);
  if (proxy) slot.add_options(TVN_OPT_USE_PROXY);
  const bool referrer = profiles.read_text("Referrer", text);
  slot.set_referrer(referrer ? std::optional<std::string_view>(text) : std::nullopt);
  if (!referrer) {
    const int auto_referer = profiles.read_int("AutoReferrer");
    slot.set_auto_referer(auto_referer == kAbsentInt ? 1 : auto_referer);
  }
}

void set_option_bits(SlotWriter& slot, const Profiles& profiles) {
  for (const OptionKey& option : kOptionKeys) {
    const int value = profiles.read_int(option.key);
    // AutoResume is the one option that is on unless a profile turns it off.
    const bool on = value > 0 || (value == kAbsentInt && option.bit == TVN_OPT_AUTO_RESUME);
    if (on) slot.add_options(option.bit);
  }
  // Certificates are verified unless a profile says TLSVerify=0.
  if (profiles.read_int("TLSVerify") == 0) slot.add_options(TVN_OPT_NO_TLS_VERIFY);
}

// A link jump from `jump_file`, when that file has "skip".
void arm_link_jump(SlotWriter& slot, ListItem& item, const char* jump_file) {
  const int skip = Profiles::read_int_from(jump_file, "skip");
  if (skip == kAbsentInt) return;
  // The link page comes into memory over one connection; the item keeps its
  // own division count (and buffer) for the download that follows.
  slot.add_options(TVN_OPT_MEMORY_FETCH);
  item.url_jump = kJumpArmed;
  item.skip_count = skip;
  slot.set_divisions(1);
}

// The lines of a "Header" value (one line in a profile file, several from
// a run), each ending in "\r\n". A line that is not "Name: value", or that
// names a header the engine writes itself, is left out: a second Range or
// Host would contradict the request's own.
std::string header_lines_of(std::string_view value) {
  std::string out;
  for (const std::string_view line : split_lines(value)) {
    const std::size_t colon = line.find(':');
    if (colon == 0 || colon == std::string_view::npos) continue;
    const std::string_view name = line.substr(0, colon);
    const bool own = request_own_header(name).has_value();
    const bool controls = std::any_of(line.begin(), line.end(), [](char c) {
      return static_cast<unsigned char>(c) < 0x20 && c != '\t';
    });
    if (!own && !controls && name.find_first_of(" \t") == std::string_view::npos)
      out.append(line).append("\r\n");
  }
  return out;
}

// "UserAgent" and "Header", read at every start (a resume too): the agent
// replaces the engine's own, and the header lines follow the cookie line.
void read_request_lines(SlotWriter& slot, ListItem& item, const Profiles& profiles) {
  std::string text;
  if (profiles.read_text("UserAgent", text) && !text.empty()) slot.set_user_agent(text);
  item.header_lines = profiles.read_text("Header", text) ? header_lines_of(text) : std::string();
}

// A stopped item taken up again from the record saved at its stop.
int restore_saved_record(ItemData* record, WideSizes* wide, ListItem& item, SlotWriter& slot,
                         const Profiles& profiles, const ItemSettingsEnv& env) {
  // Out of memory: the record stays empty, and the item keeps its saved
  // record for a later try.
  if (!slot.adopt_saved(env.api, item.saved.get())) return 1;
  // A file of 4 GiB or more goes on only with its whole sizes in the slot:
  // the saturated fields alone would be taken for 4 GiB - 1. Without them
  // the record goes back as after a failed copy.
  if (!item.saved_wide.empty() && !slot.set_wide_sizes(env.api, wide, item.saved_wide)) {
    slot.free_copies(env.api);
    slot.zero();
    return 1;
  }
  read_request_lines(slot, item, profiles);
  // The saved pointer is from an earlier run. The engine reads the cookie
  // line from a copy the slot owns, as after the cookie step, so the item's
  // own text can change or go while the slot still runs.
  slot.set_extra_header(resume_header(item.cookie_line + item.header_lines, record->reserved_text));
  // dl_resume drops what waited in the shares: the first speed after the
  // resume is measured from what the file holds, not from nothing.
  WideSizes whole = item.saved_wide.view();
  item.last_bytes = static_cast<std::int64_t>(bytes_done(*record, &whole, true, false).value_or(0));
  if (item.target_path.empty() && record->disk.file_name != nullptr) {
    item.target_path = record->disk.file_name;
  }
  item.opening = record;
  item.saved.reset();
  item.saved_wide = {};
  return 1;
}

// The stall rule of the item's profiles. A value no one means is brought
// into range: a negative one (or none) is the default; a timeout past a day
// or a floor past 1 GiB/s is cut to that.
void read_stall_rule(ListItem& item, const Profiles& profiles) {
  constexpr int kMaxStallTimeout = 24 * 60 * 60;
  constexpr int kMaxMinSpeed = 1 << 30;
  const auto value = [&](std::string_view key, int fallback, int max) {
    const int read = profiles.read_int(key);
    return read < 0 ? fallback : std::min(read, max);
  };
  item.stall_rule = {.timeout_s = value("StallTimeout", kDefaultStallTimeout, kMaxStallTimeout),
                     .min_speed = value("MinSpeed", kDefaultMinSpeed, kMaxMinSpeed)};
  item.stall_note.clear();
}

}  // namespace

std::uint64_t apply_file_size_value(std::uint64_t size, std::string_view value) {
  char sign = 0;
  if (!value.empty() && (value.front() == '+' || value.front() == '-')) {
    sign = value.front();
    value.remove_prefix(1);
  }
  constexpr std::uint64_t kMax = kMaxFileSizeValue;
  const std::optional<std::int64_t> number =
      parse_number(value, 0, kMax, {.leading = true, .saturate = true});
  // A typo must not turn a reported size into "no size".
  if (!number) return size;
  const auto n = static_cast<std::uint64_t>(*number);
  size = std::min(size, kMax);
  if (sign == '+') return n >= kMax - size ? kMax : size + n;
  if (sign == '-') return n >= size ? 0 : size - n;
  return n;
}

std::optional<std::string> answer_validator(std::string_view header) {
  std::optional<std::string> etag, modified;
  bool first = true;
  while (!header.empty()) {
    std::size_t end = header.find('\n');
    std::string_view line = header.substr(0, end);
    header.remove_prefix(end == std::string_view::npos ? header.size() : end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (first) {
      // "HTTP/1.x 200 ..." or 206: only an answer with the file's bytes
      // tells which version of the file they are.
      first = false;
      const std::size_t blank = line.find(' ');
      if (!line.starts_with("HTTP/") || blank == std::string_view::npos) return std::nullopt;
      const std::string_view code = line.substr(blank + 1, 3);
      if (code != "200" && code != "206") return std::nullopt;
      continue;
    }
    if (line.empty()) break;  // the end of the header
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    const std::string_view name = trim_blanks(line.substr(0, colon));
    const std::string_view value = trim_blanks(line.substr(colon + 1));
    if (!usable_validator(value)) continue;
    // A weak tag only says the content means the same; the bytes of a
    // range must be the same.
    if (name_is(name, "ETag") && !value.starts_with("W/") && !etag) etag.emplace(value);
    if (name_is(name, "Last-Modified") && !modified) modified.emplace(value);
  }
  return etag ? etag : modified;
}

void remember_validator(ItemData* record, int div, SlotStrings& strings) {
  if (record == nullptr || div < 0 || div >= load_acquire(record->div_count)) return;
  char** shares = record->disk.buf_ptr;
  std::int32_t* fill = record->disk.buf_fill;
  if (shares == nullptr || fill == nullptr || shares[div] == nullptr) return;
  const std::int32_t size = load_relaxed(fill[div]);
  if (size <= 0) return;
  const std::optional<std::string> validator =
      answer_validator(std::string_view(shares[div], static_cast<std::size_t>(size)));
  if (!validator) return;
  const char* const old = load_acquire(record->reserved_text);
  if (old != nullptr && *validator == old) return;
  // Out of memory: the one learnt before stays.
  SlotWriter(*record, strings).set_validator(*validator);
}

int apply_item_settings(ItemData* record, WideSizes* wide, ListItem& item, SlotStrings& strings,
                        const ItemSettingsEnv& env) {
  item.start_tick = env.clock.tick_ms();
  item.opening = nullptr;
  // One look-up of the host's profile per start.
  const Profiles profiles(env.folder, item.url, env.run);
  // Not part of the engine record: a resume reads it afresh too.
  read_stall_rule(item, profiles);
  SlotWriter slot(*record, strings);
  if (item.slot_link == kResumePending && item.saved != nullptr) {
    return restore_saved_record(record, wide, item, slot, profiles, env);
  }
  // A fresh start writes a file of its own, from byte 0.
  item.target_path.clear();
  item.last_bytes = 0;

  const int data_type = profiles.read_int("DataType");
  slot.set_data_type(data_type == kAbsentInt ? TVN_DATA_HTTP : data_type);
  set_request_url(slot, item, profiles);
  set_divisions(slot, item, profiles, env);
  std::string save;
  if (profiles.read_text("SAVE", save)) set_field(item.save_folder, save);
  slot.point_save_path(item.save_folder);
  set_buffer(slot, profiles, env);
  set_proxy_and_referrer(slot, profiles);
  read_request_lines(slot, item, profiles);
  // A cookie step, when the profiles ask for one, sends these after its line.
  slot.set_extra_header(item.header_lines);
  set_option_bits(slot, profiles);
  const int retry = profiles.read_int("Retry");
  slot.set_retry(retry == kAbsentInt ? kDefaultRetry : in_range(retry, 0, INT_MAX, "Retry", env));

  item.url_jump = kNoJump;
  const char* jump_file = link_jump_file(profiles);
  if (jump_file != nullptr) arm_link_jump(slot, item, jump_file);
  // Only a start that opens its file at once raises the open notice within
  // the start; an in-memory first request opens it later, when the item is
  // linked to its slot.
  if ((record->options & TVN_OPT_MEMORY_FETCH) == 0) item.opening = record;
  return 0;
}

int on_header_received(ItemData* record, WideSizes* wide, ListItem* item, int prepared_divisions,
                       SlotStrings& strings, const ItemSettingsEnv& env) {
  if (item == nullptr || record == nullptr) return 0;
  const int state = load_acquire(record->state);
  const bool probe_sent = (load_acquire(record->run_flags) & TVN_RUN_PROBE_SENT) != 0;
  if (state != TVN_STATE_PROBING && !(state == TVN_STATE_DOWNLOADING && probe_sent)) return 0;

  // Read afresh: a profile edited since the start applies from here on.
  const Profiles profiles(env.folder, item->url, env.run);
  SlotWriter slot(*record, strings);
  const std::uint64_t size = RecordSizes(*record, wide).file_size();
  if (size != 0) {
    if (item->division_from_profile == 0) {
      if (const std::optional<int> row = divisions_for_size(env.ini, size)) {
        // The division arrays were made for the prepared count and are never
        // enlarged, so a larger row is capped (not ignored: the file still
        // gets as many divisions as the slot can carry).
        const int cap = std::max(prepared_divisions, 1);
        int count = std::min(*row, cap);
        if (count < 0) count = 1;
        slot.set_divisions(count);
        item->division_count = count;
      }
    }
    std::string file_size;
    if (profiles.read_text("FileSize", file_size)) {
      slot.set_file_size(apply_file_size_value(size, file_size), wide);
    }
  }

  const int cookie = profiles.read_int("Cookie");
  if (cookie == kAbsentInt) return 0;
  return cookie_step(record, *item, cookie, prepared_divisions, strings, env);
}

}  // namespace torvane
