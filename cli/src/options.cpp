#include "cli/options.h"

#include <algorithm>

#include "core/text/number_text.h"
#include "core/text/pattern_expand.h"
#include "core/text/text_util.h"
#include "core/text/url_parse.h"

namespace torvane::cli {
namespace {

enum class Key {
  kFlag,  // sets Spelling::flag
  kOutput,
  kOutputName,
  kDivisions,
  kJobs,
  kInput,
  kHome,
  kExist,
  kUserAgent,
  kHeader,
  kRetry,
  kStallTimeout,
};

struct Spelling {
  std::string_view short_name;
  std::string_view long_name;
  Key key;
  bool Options::*flag = nullptr;  // for Key::kFlag
};

constexpr Spelling kSpellings[] = {
    {"-o", "--output", Key::kOutput},
    {"-O", "--output-name", Key::kOutputName},
    {"-d", "--divisions", Key::kDivisions},
    {"-j", "--jobs", Key::kJobs},
    {"-e", "--expand", Key::kFlag, &Options::expand},
    {"-i", "--input", Key::kInput},
    {"", "--home", Key::kHome},
    {"-v", "--verbose", Key::kFlag, &Options::verbose},
    {"-q", "--quiet", Key::kFlag, &Options::quiet},
    {"-h", "--help", Key::kFlag, &Options::help},
    {"", "--exist", Key::kExist},
    {"", "--history", Key::kFlag, &Options::history},
    {"", "--shutdown", Key::kFlag, &Options::shutdown},
    {"", "--version", Key::kFlag, &Options::version},
    {"-U", "--user-agent", Key::kUserAgent},
    {"-H", "--header", Key::kHeader},
    {"", "--retry", Key::kRetry},
    {"", "--stall-timeout", Key::kStallTimeout},
    {"", "--retry-failed", Key::kFlag, &Options::retry_failed},
    {"", "--list", Key::kFlag, &Options::list},
    {"", "--forget", Key::kFlag, &Options::forget},
    {"-k", "--insecure", Key::kFlag, &Options::insecure},
};

// The existing-file policies by their option names, in policy order.
constexpr std::string_view kExistNames[] = {"overwrite", "error", "rename-new", "rename-old"};

const Spelling* find_spelling(std::string_view arg) {
  for (const Spelling& s : kSpellings) {
    if (arg == s.long_name || (!s.short_name.empty() && arg == s.short_name)) return &s;
  }
  return nullptr;
}

// A whole decimal number (digits alone: no sign, no blank) within
// [low, high]; -1 otherwise.
int bounded_number(std::string_view text, int low, int high) {
  return static_cast<int>(parse_number(text, low, high).value_or(-1));
}

std::string quoted(std::string_view text) {
  return "'" + std::string(text) + "'";
}

// A text that goes into a request line as it stands: present, and without
// the control bytes that would end the line early.
std::string request_text(std::string& field, std::string_view arg, std::string_view value,
                         std::string_view what) {
  if (value.empty() || has_control_char(value))
    return std::string(arg) + " needs " + std::string(what) + " without control characters";
  field = value;
  return {};
}

// "Name: value" with a name of visible characters and no control byte.
std::string header_line(Options& o, std::string_view arg, std::string_view value) {
  const std::size_t colon = value.find(':');
  const std::string_view name = value.substr(0, colon);
  if (colon == std::string_view::npos || name.empty() || has_control_char(value) ||
      name.find_first_of(" \t") != std::string_view::npos)
    return std::string(arg) + " needs a header line 'Name: value', not " + quoted(value);
  if (const std::optional<std::string_view> own = request_own_header(name))
    return std::string(arg) + " cannot set " + std::string(*own) +
           ": each request sets it for its own part of the file";
  o.headers.emplace_back(value);
  return {};
}

// -O: a name in the save folder, not a path.
std::string output_name(Options& o, std::string_view arg, std::string_view value) {
  if (value.empty() || value.find('/') != std::string_view::npos || value == "." || value == ".." ||
      has_control_char(value))
    return std::string(arg) + " needs a file name without '/', not " + quoted(value);
  o.output_name = value;
  return {};
}

std::string exist_policy(Options& o, std::string_view value) {
  for (int policy = 0; policy < 4; ++policy) {
    if (value == kExistNames[policy]) {
      o.exist_file = policy;
      return {};
    }
  }
  return "--exist needs overwrite, error, rename-new or rename-old, not " + quoted(value);
}

// Applies one option with its value; an error text, or "" when it was fine.
std::string apply(Options& o, const Spelling& s, std::string_view arg, std::string_view value) {
  const auto number = [&](int& field, int low, int high, std::string_view what) {
    const int n = bounded_number(value, low, high);
    if (n < 0) return std::string(arg) + " needs " + std::string(what) + ", not " + quoted(value);
    field = n;
    return std::string();
  };
  switch (s.key) {
    case Key::kFlag:
      o.*s.flag = true;
      return {};
    case Key::kOutput:
      if (value.empty()) return std::string(arg) + " needs a folder";
      o.save_folder = value;
      return {};
    case Key::kOutputName:
      return output_name(o, arg, value);
    case Key::kDivisions: {
      int n = 0;
      std::string error = number(n, 1, kMaxDivisions, "a division count from 1 to 64");
      if (error.empty()) o.divisions = std::to_string(n);
      return error;
    }
    case Key::kJobs:
      return number(o.simultaneous, 1, kMaxSimultaneous, "a download count from 1 to 100");
    case Key::kInput:
      if (value.empty()) return std::string(arg) + " needs a file name (- for standard input)";
      o.input_file = value;
      return {};
    case Key::kHome:
      if (value.empty()) return "--home needs a folder";
      o.home = value;
      return {};
    case Key::kExist:
      return exist_policy(o, value);
    case Key::kUserAgent:
      return request_text(o.user_agent, arg, value, "a User-Agent text");
    case Key::kHeader:
      return header_line(o, arg, value);
    case Key::kRetry:
      return number(o.retry, 0, kMaxRetry, "a number of attempts from 0 to 1000");
    case Key::kStallTimeout:
      return number(o.stall_timeout, 0, kMaxStallTimeout,
                    "a number of seconds from 0 (never) to 86400");
  }
  return {};
}

// The lines of a file as most tools write them: split at "\n" (a "\r" before
// it goes too), the last piece included. Unlike split_lines of the core, a
// lone line feed ends a line and empty lines are kept.
std::vector<std::string_view> text_lines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return lines;
}

// A URL found in running text ends at the first blank: the words after it
// on the line are not part of it.
std::string_view cut_at_blank(std::string_view text) {
  return text.substr(0, std::min(text.find(' '), text.find('\t')));
}

// Adds `url` unless it is there already; an error text for a URL the
// program cannot fetch.
std::string add_url(std::vector<std::string>& urls, std::string_view url) {
  if (url.size() > kMaxUrlChars)
    return "URL longer than 2047 characters: " + quoted(url.substr(0, 60)) + "...";
  if (!supported_url(url)) return "not an http://, https:// or ftp:// URL: " + quoted(url);
  if (std::find(urls.begin(), urls.end(), url) == urls.end()) urls.emplace_back(url);
  return {};
}

// The URLs of the -i file's lines, added to `urls`.
int read_input_urls(const Options& options, std::string_view input_text,
                    std::vector<std::string>& urls, std::string& error) {
  bool found = false;
  for (const std::string_view line : text_lines(input_text)) {
    const std::optional<std::string> url = line_url(line);
    if (!url) continue;
    found = true;
    error = add_url(urls, cut_at_blank(*url));
    if (!error.empty()) return kExitUsage;
  }
  if (!found) {
    error =
        "no http:// or https:// URL in " +
        (options.input_file == "-" ? std::string("standard input") : quoted(options.input_file));
    return kExitUsage;
  }
  return kExitOk;
}

}  // namespace

ParseResult parse_options(const std::vector<std::string_view>& args) {
  ParseResult result;
  Options& o = result.options;
  bool options_ended = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    if (options_ended || arg.size() < 2 || arg[0] != '-') {
      o.urls.emplace_back(arg);
      continue;
    }
    if (arg == "--") {
      options_ended = true;
      continue;
    }
    const Spelling* s = find_spelling(arg);
    if (s == nullptr) {
      result.error = "unknown option " + quoted(arg);
    } else if (s->key != Key::kFlag && i + 1 >= args.size()) {
      result.error = std::string(arg) + " needs a value";
    } else {
      result.error = apply(o, *s, arg, s->key != Key::kFlag ? args[++i] : std::string_view());
    }
    if (!result.error.empty()) break;
  }
  if (result.error.empty() && o.quiet && o.verbose) result.error = "-q and -v exclude each other";
  if (result.error.empty() && o.list && o.forget)
    result.error = "--list and --forget exclude each other";
  if (!result.error.empty()) result.status = kExitUsage;
  return result;
}

std::string usage_text() {
  return "Usage: torvane-get [options] URL...\n"
         "Downloads each URL over several connections and waits until all are done.\n"
         "Run it again in the same folder to resume downloads that were interrupted.\n"
         "\n"
         "  -o DIR     save the files in DIR (default: the current folder)\n"
         "  -O NAME    save the one URL given as NAME (in DIR with -o)\n"
         "  -d N       divisions (parallel ranges) per file, 1 to 64\n"
         "             (default: Div of the program settings, else 1)\n"
         "  -j N       downloads at the same time, 1 to 100 (default: MaxDLFiles, else 15)\n"
         "  -e         expand each URL as a numbered pattern first, e.g. 'http://h/f[01-20].bin'\n"
         "  -i FILE    read URLs from FILE, one per line ('-' for standard input)\n"
         "  --home DIR program folder with Torvane.ini and the server profiles\n"
         "             (default: TORVANE_HOME, else the program's own folder)\n"
         "  -v         print the request and response headers to standard error\n"
         "  -q         print nothing but errors\n"
         "  --exist P  a file of the same name is overwritten (overwrite), fails the\n"
         "             download (error), makes it go to another name (rename-new) or is\n"
         "             moved aside first (rename-old); default: ExistFile of the settings\n"
         "  -U TEXT    send TEXT as the User-Agent\n"
         "  -H LINE    send the header line 'Name: value' too (may be repeated)\n"
         "  --retry N  attempts per division, 0 to 1000 (default: Retry of the profile, else 5)\n"
         "  -k, --insecure\n"
         "             take https servers' certificates unchecked (TLSVerify=0)\n"
         "  --stall-timeout S\n"
         "             reconnect a connection that moved no byte for S seconds, 0 never\n"
         "             (default: StallTimeout of the profile, else 60)\n"
         "  --history  add a record of each finished download to tvnlog.txt here\n"
         "  --shutdown when every download is done, run the shutdown of the settings\n"
         "             (HowtoSD); TORVANE_POWER=dry-run only prints what it would do\n"
         "  --retry-failed\n"
         "             try again the downloads that failed in earlier runs here (without\n"
         "             it, only those whose URL is given again)\n"
         "  --list     print the downloads queued here (test.tvn) and stop\n"
         "  --forget   empty the queue here; partly downloaded files stay\n"
         "  -h, --help this text\n"
         "  --version  the program's name and version\n"
         "\n"
         "URLs: http://, https:// (certificates checked against the system's trust\n"
         "store; SSL_CERT_FILE and SSL_CERT_DIR name others) and ftp://.\n"
         "http_proxy, https_proxy and no_proxy are honoured when no server profile\n"
         "sets a proxy.\n"
         "Exit status: 0 all finished, 1 a download failed, 2 bad usage, 130 interrupted.\n";
}

std::string version_text() {
  // The build passes the version of the project() line.
  return "torvane-get " TORVANE_VERSION "\n";
}

std::string item_save_folder(std::string_view dir) {
  if (dir.empty()) return "./";
  std::string folder(dir);
  if (folder.back() != '/') folder += '/';
  return folder;
}

bool supported_url(std::string_view url) {
  for (const std::string_view scheme :
       {std::string_view("http://"), std::string_view("https://"), std::string_view("ftp://")}) {
    if (url.size() > scheme.size() && url.substr(0, scheme.size()) == scheme) return true;
  }
  return false;
}

int gather_urls(const Options& options, std::string_view input_text, std::vector<std::string>& urls,
                std::string& error) {
  urls.clear();
  error.clear();
  for (const std::string& arg : options.urls) {
    if (!options.expand) {
      error = add_url(urls, arg);
    } else {
      const std::string lines = expand_pattern(arg);
      if (lines.starts_with("ERROR!!")) {
        // The expansion's own error text, without its marker line and the
        // full-width indent it carries for the edit box.
        const std::vector<std::string_view> parts = text_lines(lines);
        std::string_view why = parts.size() > 1 ? parts[1] : "";
        if (why.starts_with("　")) why.remove_prefix(std::string_view("　").size());
        error = "cannot expand " + quoted(arg) + ": " + std::string(why);
      }
      for (const std::string_view line : text_lines(lines)) {
        if (!error.empty()) break;
        if (!line.empty()) error = add_url(urls, line);
      }
    }
    if (!error.empty()) return kExitUsage;
  }
  if (!options.input_file.empty() && read_input_urls(options, input_text, urls, error) != kExitOk)
    return kExitUsage;
  if (options.list || options.forget) {
    if (urls.empty()) return kExitOk;
    error = std::string(options.list ? "--list" : "--forget") + " takes no URL";
    return kExitUsage;
  }
  if (!options.output_name.empty() && urls.size() != 1) {
    error = "-O names one file: give exactly one URL with it";
    return kExitUsage;
  }
  return kExitOk;
}

}  // namespace torvane::cli
