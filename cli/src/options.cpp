#include "cli/options.h"

#include <algorithm>

#include "core/text/number_text.h"
#include "core/text/pattern_expand.h"
#include "core/text/url_parse.h"

namespace torvane::cli {
namespace {

enum class Key {
  kOutput,
  kDivisions,
  kJobs,
  kExpand,
  kInput,
  kHome,
  kVerbose,
  kQuiet,
  kHelp,
  kVersion,
  kExist,
  kHistory,
  kShutdown
};

struct Spelling {
  std::string_view short_name;
  std::string_view long_name;
  Key key;
  bool takes_value;
};

constexpr Spelling kSpellings[] = {
    {"-o", "--output", Key::kOutput, true},    {"-d", "--divisions", Key::kDivisions, true},
    {"-j", "--jobs", Key::kJobs, true},        {"-e", "--expand", Key::kExpand, false},
    {"-i", "--input", Key::kInput, true},      {"", "--home", Key::kHome, true},
    {"-v", "--verbose", Key::kVerbose, false}, {"-q", "--quiet", Key::kQuiet, false},
    {"-h", "--help", Key::kHelp, false},       {"", "--exist", Key::kExist, true},
    {"", "--history", Key::kHistory, false},   {"", "--shutdown", Key::kShutdown, false},
    {"", "--version", Key::kVersion, false},
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

// Applies one option with its value; an error text, or "" when it was fine.
std::string apply(Options& o, const Spelling& s, std::string_view arg, std::string_view value) {
  switch (s.key) {
    case Key::kOutput:
      if (value.empty()) return arg == "-o" ? "-o needs a folder" : "--output needs a folder";
      o.save_folder = value;
      return {};
    case Key::kDivisions: {
      const int n = bounded_number(value, 1, kMaxDivisions);
      if (n < 0)
        return std::string(arg) + " needs a division count from 1 to 64, not " + quoted(value);
      o.divisions = std::to_string(n);
      return {};
    }
    case Key::kJobs: {
      const int n = bounded_number(value, 1, kMaxSimultaneous);
      if (n < 0)
        return std::string(arg) + " needs a download count from 1 to 100, not " + quoted(value);
      o.simultaneous = n;
      return {};
    }
    case Key::kInput:
      if (value.empty()) return std::string(arg) + " needs a file name (- for standard input)";
      o.input_file = value;
      return {};
    case Key::kHome:
      if (value.empty()) return "--home needs a folder";
      o.home = value;
      return {};
    case Key::kExpand:
      o.expand = true;
      return {};
    case Key::kVerbose:
      o.verbose = true;
      return {};
    case Key::kQuiet:
      o.quiet = true;
      return {};
    case Key::kHelp:
      o.help = true;
      return {};
    case Key::kVersion:
      o.version = true;
      return {};
    case Key::kExist:
      for (int policy = 0; policy < 4; ++policy) {
        if (value == kExistNames[policy]) {
          o.exist_file = policy;
          return {};
        }
      }
      return "--exist needs overwrite, error, rename-new or rename-old, not " + quoted(value);
    case Key::kHistory:
      o.history = true;
      return {};
    case Key::kShutdown:
      o.shutdown = true;
      return {};
  }
  return {};
}

// Splits at "\n" (a "\r" before it goes too), the last piece included.
std::vector<std::string_view> split_lines(std::string_view text) {
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
  if (!supported_url(url)) return "not an http:// or ftp:// URL: " + quoted(url);
  if (std::find(urls.begin(), urls.end(), url) == urls.end()) urls.emplace_back(url);
  return {};
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
    } else if (s->takes_value && i + 1 >= args.size()) {
      result.error = std::string(arg) + " needs a value";
    } else {
      result.error = apply(o, *s, arg, s->takes_value ? args[++i] : std::string_view());
    }
    if (!result.error.empty()) break;
  }
  if (result.error.empty() && o.quiet && o.verbose) result.error = "-q and -v exclude each other";
  if (!result.error.empty()) result.status = kExitUsage;
  return result;
}

std::string usage_text() {
  return "Usage: torvane-get [options] URL...\n"
         "Downloads each URL over several connections and waits until all are done.\n"
         "Run it again in the same folder to resume downloads that were interrupted.\n"
         "\n"
         "  -o DIR     save the files in DIR (default: the current folder)\n"
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
         "  --history  add a record of each finished download to tvnlog.txt here\n"
         "  --shutdown when every download is done, run the shutdown of the settings\n"
         "             (HowtoSD); TORVANE_POWER=dry-run only prints what it would do\n"
         "  -h, --help this text\n"
         "  --version  the program's name and version\n"
         "\n"
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
  for (const std::string_view scheme : {std::string_view("http://"), std::string_view("ftp://")}) {
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
        const std::vector<std::string_view> parts = split_lines(lines);
        std::string_view why = parts.size() > 1 ? parts[1] : "";
        if (why.starts_with("　")) why.remove_prefix(std::string_view("　").size());
        error = "cannot expand " + quoted(arg) + ": " + std::string(why);
      }
      for (const std::string_view line : split_lines(lines)) {
        if (!error.empty()) break;
        if (!line.empty()) error = add_url(urls, line);
      }
    }
    if (!error.empty()) return kExitUsage;
  }
  if (options.input_file.empty()) return kExitOk;
  bool found = false;
  for (const std::string_view line : split_lines(input_text)) {
    const std::optional<std::string> url = line_url(line);
    if (!url) continue;
    found = true;
    error = add_url(urls, cut_at_blank(*url));
    if (!error.empty()) return kExitUsage;
  }
  if (!found) {
    error = "no http:// URL in " + (options.input_file == "-" ? std::string("standard input")
                                                              : quoted(options.input_file));
    return kExitUsage;
  }
  return kExitOk;
}

}  // namespace torvane::cli
