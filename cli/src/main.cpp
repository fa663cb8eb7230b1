// torvane-get: the headless front end. Registers each URL as a download item,
// runs the download manager until nothing is left to do or the user
// interrupts, and leaves an interrupted list in "test.tvn" of the current
// folder, from which the same command resumes.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "cli/options.h"
#include "cli/progress_lines.h"
#include "cli/terminal_view.h"
#include "core/queue/download_manager.h"
#include "core/queue/item_lookup.h"
#include "core/settings/add_items_history.h"
#include "core/settings/program_home.h"
#include "core/settings/settings.h"
#include "core/settings/shutdown.h"
#include "core/system/clock.h"
#include "core/text/url_parse.h"
#include "platform/file.h"
#include "platform/lock_file.h"
#include "platform/process.h"
#include "platform/thread_time.h"

namespace torvane::cli {
namespace {

constexpr const char* kListFile = "test.tvn";
// Held while a run works on the list file of its folder.
constexpr const char* kListLockFile = "test.tvn.lock";
// Short sleeps so that Ctrl-C is acted on within a tenth of a second.
constexpr int kPollMs = 50;
constexpr std::uint32_t kTickMs = 1000;
// Without a terminal the progress is printed this often (and on state changes).
constexpr std::uint32_t kPlainReportMs = 5000;
// How long the ending may wait for the engine to report every item stopped.
constexpr std::uint32_t kSettleMs = 15000;

void write_to(std::FILE* stream, std::string_view text) {
  if (text.empty()) return;
  std::fwrite(text.data(), 1, text.size(), stream);
  std::fflush(stream);
}

void error_line(std::string_view text) {
  write_to(stderr, "torvane-get: " + std::string(text) + "\n");
}

// The division text of new items: -d, else the add-items panel's stored
// "Div", else "1".
std::string division_text(const Options& options, const IniAccess& ini) {
  return options.divisions.empty() ? default_division_text(ini) : options.divisions;
}

// Progress output: redrawn in place on a terminal, periodic plain lines
// otherwise, nothing but queued messages when quiet.
class Display {
 public:
  Display(bool quiet, bool terminal, std::uint32_t start_ms)
      : quiet_(quiet), terminal_(terminal), start_ms_(start_ms) {}

  // `record` gives the counts of the totals line, worked out only when the
  // lines are drawn (this runs every few milliseconds).
  void update(const std::vector<RowSnapshot>& rows, const RunRecord& record,
              const std::string& queued, bool tick, std::uint32_t now) {
    if (quiet_) {
      write_to(stderr, queued);
      return;
    }
    if (terminal_) {
      if (!tick && queued.empty()) return;
      // One column spare: a line that fills the last one would wrap on some
      // terminals and leave a row the next erase does not know of.
      const int columns = platform::stderr_columns();
      const std::size_t width = columns > 20 ? static_cast<std::size_t>(columns) - 1 : 79;
      std::vector<std::string> lines = running_lines(rows, now, width);
      lines.push_back(totals_line(rows, record.counts(rows), now - start_ms_, width));
      std::string out = drawn_ > 0 ? erase_block(drawn_) : std::string();
      out += queued;
      // Autowrap off while drawing, so that a terminal made narrower since
      // the width was read still cuts instead of wrapping.
      out += "\x1b[?7l";
      for (const std::string& line : lines) out += line + "\n";
      out += "\x1b[?7h";
      drawn_ = lines.size();
      write_to(stderr, out);
      return;
    }
    write_to(stderr, queued);
    if (!tick) return;
    std::map<std::string, int> states = states_by_item(rows);
    if (states == last_states_ && now - last_report_ < kPlainReportMs) return;
    last_states_ = std::move(states);
    last_report_ = now;
    std::string out;
    for (const std::string& line : running_lines(rows, now)) out += line + "\n";
    write_to(stderr, out);
  }

  // Takes the live lines away before the closing words.
  void clear() {
    if (terminal_ && drawn_ > 0) write_to(stderr, erase_block(drawn_));
    drawn_ = 0;
  }

 private:
  const bool quiet_;
  const bool terminal_;
  const std::uint32_t start_ms_;
  std::size_t drawn_ = 0;
  std::map<std::string, int> last_states_;
  std::uint32_t last_report_ = 0;
};

// Nothing is left to do when no item runs or waits: the list is empty or
// holds only finished, failed and resting items. Nobody here stops an item,
// so one that rests was stopped by the engine (a full disk) and stays so
// until a later run resumes it.
bool all_done(const DownloadManager& manager) {
  return manager.with_items([&](const ItemList& items) {
    if (manager.busy()) return false;
    for (std::size_t i = 0; i < items.size(); ++i) {
      const int state = items.at(static_cast<std::int64_t>(i))->state;
      if (state != kFinished && state != kFailed && state != kResting) return false;
    }
    return true;
  });
}

std::vector<RowSnapshot> snapshot(const DownloadManager& manager) {
  return manager.with_items([](const ItemList& items) { return snapshot_rows(items); });
}

// The last rows of the items that finished, handed over by the manager
// (on an engine thread) and taken by the main loop.
class FinishedRows {
 public:
  void add(const ListItem& item) {
    std::lock_guard<std::mutex> lock(mutex_);
    rows_.push_back(snapshot_row(item));
    rows_.back().state = kFinished;
  }
  std::vector<RowSnapshot> take() {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::exchange(rows_, {});
  }

 private:
  std::mutex mutex_;
  std::vector<RowSnapshot> rows_;
};

// The list as it is now, then the items that finished until now: an item
// that finished after the copy was made keeps the name of its finished row.
std::vector<RowSnapshot> observe(const DownloadManager& manager, FinishedRows& finished,
                                 RunRecord& record) {
  std::vector<RowSnapshot> rows = snapshot(manager);
  record.observe(rows);
  record.observe(finished.take());
  return rows;
}

// The main loop: a tick a second, the display, and the end when nothing is
// left to do (false) or an interrupt came (true).
bool run_until_done(DownloadManager& manager, TerminalView& view, const Clock& clock,
                    Display& display, FinishedRows& finished, RunRecord& record) {
  std::uint32_t last_tick = clock.tick_ms();
  // The first speed is measured against this tick, not against the start
  // of the clock.
  manager.tick(last_tick);
  IdleStarter idle_starter;
  for (;;) {
    if (platform::interrupt_signal() != 0) return true;
    const std::uint32_t now = clock.tick_ms();
    const bool tick = now - last_tick >= kTickMs;
    if (tick) {
      last_tick = now;
      manager.tick(now);
      idle_starter.on_tick(manager);
    }
    const std::vector<RowSnapshot> rows = observe(manager, finished, record);
    display.update(rows, record, view.take_output(), tick, now);
    if (all_done(manager)) return false;
    platform::sleep_ms(kPollMs);
  }
}

// Makes the save folder (it ends in '/') with every folder above it that is
// missing. An error text naming the part that is in the way, or "".
std::string make_save_folder(const std::string& folder) {
  std::string part;
  switch (platform::make_parent_folders(folder.c_str(), &part)) {
    case 0:
      return {};
    case platform::kFileInTheWay:
      return "cannot save into '" + folder.substr(0, folder.size() - 1) + "': '" + part +
             "' is a file, not a folder";
    default:
      return "cannot create the folder '" + part + "': " + platform::last_error_text();
  }
}

// The command line's choices for this run, over the stored settings (which
// are not changed). The header log is kept only while the log pane is
// shown; -v shows it for this run. A stored automatic shutdown is left to
// the windowed program: from a terminal the machine only goes down when the
// command line asks for it.
void apply_run_options(DownloadManager& manager, const Options& options) {
  manager.with_settings([&](ProgramSettings& s) {
    if (options.verbose) s.log_view = 0;
    if (options.exist_file >= 0) s.exist_file = options.exist_file;
    if (options.history) s.write_log = 1;
    if (!options.output_name.empty()) s.save_to_dir = 0;
    s.shut_down = options.shutdown ? 1 : 0;
  });
}

// Registers each URL that is not queued yet into the same folder: the same
// command again resumes instead of duplicating. kExitFailed when one could
// not be added, else kExitOk.
int register_urls(DownloadManager& manager, const std::vector<std::string>& urls,
                  const std::string& divisions, const std::string& save_folder,
                  FinishedRows& finished, RunRecord& record) {
  int exit_code = kExitOk;
  for (const std::string& url : urls) {
    const bool known = manager.with_items(
        [&](const ItemList& items) { return find_item(items, url, save_folder) >= 0; });
    if (known) continue;
    if (manager.register_item(divisions, save_folder, url) < 0) {
      error_line("cannot add " + url);
      exit_code = kExitFailed;
    }
    observe(manager, finished, record);
  }
  return exit_code;
}

// The closing words after an ending that was not interrupted, and the exit
// status: failed when an item failed or was left resting.
int report_outcomes(const Options& options, const std::vector<RunRecord::Outcome>& outcomes,
                    int exit_code) {
  if (!options.quiet) {
    write_to(stdout, summary_text(outcomes));
  } else {
    for (const RunRecord::Outcome& o : outcomes) {
      if (o.state == kFailed || o.state == kResting) {
        error_line(std::string(o.state == kFailed ? "failed: " : "not done: ") + o.path + " (" +
                   url_for_display(o.url) + ")" + (o.reason.empty() ? "" : ": " + o.reason));
      }
    }
  }
  const bool resting = std::any_of(outcomes.begin(), outcomes.end(),
                                   [](const RunRecord::Outcome& o) { return o.state == kResting; });
  if (failed_count(outcomes) > 0 || resting) return kExitFailed;
  return exit_code;
}

void report_interrupt(int ended) {
  write_to(stderr,
           std::string("\ninterrupted: ") +
               (ended == 0 ? "the downloads are saved in " : "not every download stopped; see ") +
               kListFile + ", run the same command here to resume\n");
}

// kExitOk when the run can start: something to fetch or a list to resume,
// and the save folder there.
int check_start(const std::vector<std::string>& urls, const std::string& save_folder) {
  // With nothing to fetch and no list to resume, starting the engine would
  // only leave an empty list file behind.
  if (urls.empty() && platform::path_kind(kListFile) != 1) {
    error_line("no URL given and no interrupted downloads here to resume");
    write_to(stderr, "Try 'torvane-get --help'.\n");
    return kExitUsage;
  }
  if (!urls.empty()) {
    if (const std::string error = make_save_folder(save_folder); !error.empty()) {
      error_line(error);
      return kExitFailed;
    }
  }
  return kExitOk;
}

// Takes the list file of this folder for the run: two runs on one list would
// download the same items twice. kExitOk, or the exit status with the
// message printed.
int lock_list(platform::FileLock& lock) {
  int holder = 0;
  switch (lock.acquire(kListLockFile, &holder)) {
    case 0:
      return kExitOk;
    case 1:
      error_line(std::string("the downloads of this folder (") + kListFile + ") are in use by " +
                 (holder > 0 ? "process " + std::to_string(holder) : "another process") +
                 "; wait for it to end, or run in another folder");
      return kExitUsage;
    default:
      error_line(std::string("cannot lock ") + kListFile + " (" + kListLockFile +
                 "): " + platform::last_error_text());
      return kExitFailed;
  }
}

// The command line's request values, given to each item as the profile
// keys of the same meaning would be, and the environment's proxy.
RunProfile run_profile(const Options& options) {
  RunProfile run;
  if (!options.user_agent.empty()) run.forced["UserAgent"] = options.user_agent;
  std::string lines;
  for (const std::string& line : options.headers) lines += line + "\r\n";
  if (!lines.empty()) run.forced["Header"] = lines;
  if (options.retry >= 0) run.forced["Retry"] = std::to_string(options.retry);
  if (options.stall_timeout >= 0)
    run.forced["StallTimeout"] = std::to_string(options.stall_timeout);
  if (options.insecure) run.forced["TLSVerify"] = "0";
  const auto env = [](const char* name) {
    const char* value = platform::environment(name);
    return std::string(value != nullptr ? value : "");
  };
  // http_proxy in lower case only: a web server's CGI environment passes a
  // request's "Proxy:" header as HTTP_PROXY.
  run.http_proxy = env("http_proxy");
  run.https_proxy = env("https_proxy").empty() ? env("HTTPS_PROXY") : env("https_proxy");
  run.no_proxy = env("no_proxy").empty() ? env("NO_PROXY") : env("no_proxy");
  return run;
}

// Starts the manager; false, with what it said and why, when the engine
// could not be loaded.
bool started(DownloadManager& manager, TerminalView& view) {
  if (manager.start_up() == 0) return true;
  write_to(stderr, view.take_output());
  error_line("the download engine (libtorvane.so) could not be started");
  return false;
}

ManagerConfig manager_config(const Options& options) {
  ManagerConfig config;
  config.folder = choose_program_folder(options.home);
  config.list_file = kListFile;
  config.limit_override = options.simultaneous;
  config.run_profile = run_profile(options);
  return config;
}

// --list and --forget: the list of this folder read (the engine only reads
// the saved records; nothing starts), shown or emptied.
int show_or_forget_queue(const Options& options) {
  if (platform::path_kind(kListFile) != 1) {
    write_to(stdout, "nothing is queued here\n");
    return kExitOk;
  }
  platform::FileLock lock;
  if (const int status = lock_list(lock); status != kExitOk) return status;
  TerminalView view(false);
  const SystemClock clock;
  DownloadManager manager(manager_config(options), view, clock);
  if (!started(manager, view)) return kExitFailed;
  manager.load_list();
  const std::vector<RowSnapshot> rows = snapshot(manager);
  std::string out;
  if (options.list) {
    out = queue_text(rows);
  } else {
    std::vector<std::string> partial;
    for (const RowSnapshot& row : rows) {
      const std::string path = row.save_folder + row.file_name;
      if (row.state != kFinished && platform::path_kind(path.c_str()) == 1) partial.push_back(path);
    }
    manager.delete_all();
    out = forget_text(rows.size(), partial);
  }
  manager.end(kSettleMs);
  write_to(stderr, view.take_output());
  write_to(stdout, out);
  return kExitOk;
}

// Failed items of earlier runs are tried again only when asked: their URL
// given again, or --retry-failed; the others are named once and left out
// of this run's outcome. Resting items go on. How many were left out.
std::size_t requeue_earlier_items(DownloadManager& manager, const Options& options,
                                  const std::vector<std::string>& urls, RunRecord& record) {
  const std::vector<RowSnapshot> rows = snapshot(manager);
  std::size_t left_out = 0;
  for (std::size_t k = 0; k < rows.size(); ++k) {
    const RowSnapshot& row = rows[k];
    const bool asked =
        options.retry_failed || std::find(urls.begin(), urls.end(), row.url) != urls.end();
    if (row.state == kFailed && !asked) {
      record.leave_out(row);
      ++left_out;
      if (!options.quiet) {
        write_to(stderr, "failed earlier: " + row.save_folder + row.file_name + " (" +
                             url_for_display(row.url) + ")" +
                             (row.reason.empty() ? "" : ": " + row.reason) + "\n");
      }
      continue;
    }
    if (row.state == kFailed || row.state == kResting) manager.requeue(static_cast<int>(k));
  }
  if (left_out > 0 && !options.quiet) {
    write_to(stderr,
             "  (give the URL again or use --retry-failed to try again, --forget to "
             "clear the queue)\n");
  }
  return left_out;
}

// What filling the queue came to: the status of registering the URLs, and
// whether anything is left to download.
struct QueueFill {
  int added = kExitOk;
  bool nothing = false;
};

// The queue this run works through: the list of earlier runs (their
// failures left out unless asked for) and the URLs given.
QueueFill fill_queue(DownloadManager& manager, const Options& options,
                     const std::vector<std::string>& urls, const std::string& save_folder,
                     const IniAccess& ini, FinishedRows& finished, RunRecord& record) {
  observe(manager, finished, record);  // the items of an earlier run take part too
  // Before the new items: one that fails at once is this run's failure,
  // not an earlier one to try again.
  const std::size_t left_out = requeue_earlier_items(manager, options, urls, record);
  // -O: the save path names the file itself, so no '/' may be added to it.
  const int added = register_urls(manager, urls, division_text(options, ini),
                                  save_folder + options.output_name, finished, record);
  return {added, manager.with_items([](const ItemList& l) { return l.size(); }) == left_out};
}

// Runs the queue to its end or an interrupt, ends the manager and reports.
int download(DownloadManager& manager, TerminalView& view, const Clock& clock,
             const Options& options, FinishedRows& finished, RunRecord& record, int added) {
  manager.scheduler_pass(-1, false);
  Display display(options.quiet, !options.quiet && platform::stderr_is_terminal(), clock.tick_ms());
  const bool interrupted = run_until_done(manager, view, clock, display, finished, record);
  const std::vector<RunRecord::Outcome> outcomes =
      record.outcomes(observe(manager, finished, record));
  const int ended = manager.end(kSettleMs);
  display.clear();
  write_to(stderr, view.take_output());
  if (interrupted) {
    report_interrupt(ended);
    return kExitInterrupted;
  }
  return report_outcomes(options, outcomes, added);
}

int run(const Options& options, const std::vector<std::string>& urls) {
  if (options.list || options.forget) return show_or_forget_queue(options);
  const std::string save_folder = item_save_folder(options.save_folder);
  if (const int status = check_start(urls, save_folder); status != kExitOk) return status;
  platform::FileLock lock;
  if (const int status = lock_list(lock); status != kExitOk) return status;

  platform::catch_interrupts();
  TerminalView view(options.verbose);
  const SystemClock clock;
  ManagerConfig config = manager_config(options);
  const IniAccess ini(config.folder.path("Torvane.ini"));
  const std::unique_ptr<PowerBackend> power = options.shutdown ? make_power_backend() : nullptr;
  config.power = power.get();
  FinishedRows finished;
  config.finished = [&finished](const ListItem& item) { finished.add(item); };
  DownloadManager manager(std::move(config), view, clock);
  if (!started(manager, view)) return kExitFailed;
  apply_run_options(manager, options);
  manager.load_list();  // no list file is an empty list
  RunRecord record;
  const QueueFill fill = fill_queue(manager, options, urls, save_folder, ini, finished, record);
  if (fill.nothing) {
    manager.end(kSettleMs);
    write_to(stderr, view.take_output());  // what the load of the list had to say
    error_line("nothing to download");
    return fill.added == kExitOk ? kExitUsage : fill.added;
  }
  return download(manager, view, clock, options, finished, record, fill.added);
}

}  // namespace
}  // namespace torvane::cli

int main(int argc, char** argv) {
  using namespace torvane::cli;
  const std::vector<std::string_view> args(argv + 1, argv + argc);
  const ParseResult parsed = parse_options(args);
  if (parsed.status != kExitOk) {
    error_line(parsed.error);
    write_to(stderr, "Try 'torvane-get --help'.\n");
    return parsed.status;
  }
  const Options& options = parsed.options;
  if (options.help) {
    write_to(stdout, usage_text());
    return kExitOk;
  }
  if (options.version) {
    write_to(stdout, version_text());
    return kExitOk;
  }
  std::string input_text;
  if (!options.input_file.empty()) {
    const std::string path = options.input_file == "-" ? "/dev/stdin" : options.input_file;
    if (!torvane::platform::read_whole_file(path.c_str(), input_text)) {
      error_line("cannot read '" + options.input_file +
                 "': " + torvane::platform::last_error_text());
      return kExitUsage;
    }
  }
  std::vector<std::string> urls;
  std::string error;
  if (gather_urls(options, input_text, urls, error) != kExitOk) {
    error_line(error);
    return kExitUsage;
  }
  return run(options, urls);
}
