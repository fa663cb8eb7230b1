// The command line of torvane-get and the URL list it asks for. Pure text
// handling: nothing here touches files, the network or the download manager,
// so every rule is checked by unit tests.
//
// Exit codes the program uses (kept here so the parser and main agree):
// 0 every item finished, 1 an item failed or the engine did not start,
// 2 bad usage or unusable input, 130 interrupted (Ctrl-C or SIGTERM).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace torvane::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitInterrupted = 130;

// Bounds of the numeric options: the division box of the add-items panel
// offers 1 to 64, and a limit beyond 100 only multiplies idle slots.
inline constexpr int kMaxDivisions = 64;
inline constexpr int kMaxSimultaneous = 100;
inline constexpr int kMaxRetry = 1000;
inline constexpr int kMaxStallTimeout = 86400;

struct Options {
  std::string save_folder;           // -o; empty: the current folder
  std::string divisions;             // -d as decimal text; empty: not given
  int simultaneous = 0;              // -j; 0: the program's stored limit
  bool expand = false;               // -e
  std::string input_file;            // -i; "-" is standard input; empty: none
  std::string home;                  // --home; empty: not given
  bool verbose = false;              // -v
  bool quiet = false;                // -q
  bool help = false;                 // --help
  bool version = false;              // --version
  int exist_file = -1;               // --exist as the policy 0..3; -1: the stored ExistFile
  bool history = false;              // --history: write tvnlog.txt
  bool shutdown = false;             // --shutdown: the stored shutdown when the list empties
  std::string output_name;           // -O: the file name (one URL only); empty: from the URL
  std::string user_agent;            // -U; empty: the profile's or the engine's
  std::vector<std::string> headers;  // -H lines "Name: value", in order
  int retry = -1;                    // --retry; -1: the profile's
  int stall_timeout = -1;            // --stall-timeout in seconds; -1: the profile's
  bool retry_failed = false;         // --retry-failed: failed items of earlier runs too
  bool list = false;                 // --list: print the queue and stop
  bool forget = false;               // --forget: empty the queue and stop
  bool insecure = false;             // -k: https certificates go unchecked
  std::vector<std::string> urls;
};

struct ParseResult {
  int status = kExitOk;  // kExitOk, or kExitUsage with `error` set
  std::string error;
  Options options;
};

// Parses the arguments after the program name. Options and URLs may come in
// any order; "--" ends the options. Every option that takes a value takes it
// from the next argument.
ParseResult parse_options(const std::vector<std::string_view>& args);

// The --help text.
std::string usage_text();

// The --version line: "torvane-get " and the project's version.
std::string version_text();

// The save folder an item gets for `-o DIR`: DIR with one trailing '/' (so
// the file name comes from the URL), "./" for the current folder.
std::string item_save_folder(std::string_view dir);

// True for an "http://", "https://" or "ftp://" URL (scheme in lower case, as the
// add-items panel requires) with something after the scheme.
bool supported_url(std::string_view url);

// The URLs to register, in order, without repeats: each command-line URL
// (expanded as a pattern first with -e), then the URLs found in
// `input_text` (the -i file's content), one per line. 0, or kExitUsage with
// `error` set for an unsupported URL, a failed expansion, or an -i file
// without any URL.
int gather_urls(const Options& options, std::string_view input_text, std::vector<std::string>& urls,
                std::string& error);

}  // namespace torvane::cli
