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
#include "core/settings/settings.h"
#include "core/settings/shutdown.h"
#include "core/system/clock.h"
#include "platform/file.h"
#include "platform/process.h"
#include "platform/thread_time.h"

namespace torvane::cli {
namespace {

constexpr const char* kListFile = "test.tvn";
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

// The program folder: --home, else TORVANE_HOME, else the program file's
// folder; a folder the program may not write to (an installed program) gives
// way to the user's configuration folder.
ProgramFolder program_folder(const std::string& home) {
  if (!home.empty()) return ProgramFolder(home);
  const char* env = platform::environment("TORVANE_HOME");
  if (env != nullptr && *env != '\0') return ProgramFolder(env);
  ProgramFolder beside = ProgramFolder::of_program_file(platform::program_file_path());
  if (platform::folder_writable(beside.dir().c_str())) return beside;
  std::string base;
  const char* xdg = platform::environment("XDG_CONFIG_HOME");
  if (xdg != nullptr && *xdg != '\0') {
    base = xdg;
  } else {
    const char* user_home = platform::environment("HOME");
    base = std::string(user_home != nullptr ? user_home : "") + "/.config";
  }
  platform::make_folder(base.c_str());  // the folders may exist already
  platform::make_folder((base + "/torvane").c_str());
  return ProgramFolder(base + "/torvane");
}

// The division text of new items: -d, else the add-items panel's stored
// "Div", else "1".
std::string division_text(const Options& options, const IniAccess& ini) {
  if (!options.divisions.empty()) return options.divisions;
  std::string stored;
  ini.read_text(kSettingSection, "Div", stored, 4);
  const bool usable = !stored.empty() &&
                      stored.find_first_not_of("0123456789") == std::string::npos &&
                      std::stoi(stored) > 0;
  return usable ? stored : "1";
}

// Progress output: redrawn in place on a terminal, periodic plain lines
// otherwise, nothing but queued messages when quiet.
class Display {
 public:
  Display(bool quiet, bool terminal) : quiet_(quiet), terminal_(terminal) {}

  void update(const std::vector<RowSnapshot>& rows, const std::string& queued,
              const std::string& status, bool tick, std::uint32_t now) {
    if (quiet_) {
      write_to(stderr, queued);
      return;
    }
    if (terminal_) {
      if (!tick && queued.empty()) return;
      std::vector<std::string> lines = running_lines(rows);
      if (!lines.empty() && !status.empty()) lines.push_back(status);
      std::string out = drawn_ > 0 ? erase_block(drawn_) : std::string();
      out += queued;
      // Autowrap off while drawing: a line wider than the terminal is cut
      // instead of taking a second row the next erase would not know of.
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
    for (const std::string& line : running_lines(rows)) out += line + "\n";
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
  std::size_t drawn_ = 0;
  std::map<std::string, int> last_states_;
  std::uint32_t last_report_ = 0;
};

bool has_item(const ItemList& items, const std::string& url, const std::string& folder) {
  for (std::size_t i = 0; i < items.size(); ++i) {
    const ListItem* item = items.at(static_cast<std::int64_t>(i));
    if (item != nullptr && url == item->url && folder == item->save_folder) return true;
  }
  return false;
}

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

bool waiting_idle(const DownloadManager& manager) {
  return manager.with_items([&](const ItemList& items) {
    if (manager.busy()) return false;
    for (std::size_t i = 0; i < items.size(); ++i) {
      if (items.at(static_cast<std::int64_t>(i))->state == kWaiting) return true;
    }
    return false;
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
  int idle_ticks = 0;
  for (;;) {
    if (platform::interrupt_signal() != 0) return true;
    const std::uint32_t now = clock.tick_ms();
    const bool tick = now - last_tick >= kTickMs;
    if (tick) {
      last_tick = now;
      manager.tick(now);
      // A waiting item with nothing running would wait for a slot-freed
      // notice that never comes; give it the pass such a notice runs.
      idle_ticks = waiting_idle(manager) ? idle_ticks + 1 : 0;
      if (idle_ticks >= 2) manager.scheduler_pass(-1, false);
    }
    const std::vector<RowSnapshot> rows = observe(manager, finished, record);
    display.update(rows, view.take_output(), view.status_text(2), tick, now);
    if (all_done(manager)) return false;
    platform::sleep_ms(kPollMs);
  }
}

// Makes the save folder with every folder above it that is missing. An
// error text naming the part that is in the way, or "" when the folder is
// there. Nothing is made when a part of the path is a file.
std::string make_save_folder(const std::string& folder) {
  constexpr int kFile = 1;
  constexpr int kFolder = 2;
  for (std::size_t end = folder.find('/', 1); end != std::string::npos;
       end = folder.find('/', end + 1)) {
    const std::string part = folder.substr(0, end);
    const int kind = platform::path_kind(part.c_str());
    if (kind == kFile)
      return "cannot save into '" + folder.substr(0, folder.size() - 1) + "': '" + part +
             "' is a file, not a folder";
    if (kind != kFolder && platform::make_folder(part.c_str()) != 0) {
      return "cannot create the folder '" + part + "': " + platform::last_error_text();
    }
  }
  return {};
}

int run(const Options& options, const std::vector<std::string>& urls) {
  // With nothing to fetch and no list to resume, starting the engine would
  // only leave an empty list file behind.
  if (urls.empty() && platform::path_kind(kListFile) != 1) {
    error_line("no URL given and no interrupted downloads here to resume");
    write_to(stderr, "Try 'torvane-get --help'.\n");
    return kExitUsage;
  }
  const std::string save_folder = item_save_folder(options.save_folder);
  if (!urls.empty()) {
    if (const std::string error = make_save_folder(save_folder); !error.empty()) {
      error_line(error);
      return kExitFailed;
    }
  }

  platform::catch_interrupts();
  TerminalView view(options.verbose);
  const SystemClock clock;
  ManagerConfig config;
  config.folder = program_folder(options.home);
  config.list_file = kListFile;
  config.limit_override = options.simultaneous;
  const IniAccess ini(config.folder.path("Torvane.ini"));
  const std::unique_ptr<PowerBackend> power = options.shutdown ? make_power_backend() : nullptr;
  config.power = power.get();
  FinishedRows finished;
  config.finished = [&finished](const ListItem& item) { finished.add(item); };
  DownloadManager manager(std::move(config), view, clock);
  if (manager.start_up() != 0) {
    write_to(stderr, view.take_output());
    error_line("the download engine (libtorvane.so) could not be started");
    return kExitFailed;
  }
  // The header log is kept only while the log pane is shown; -v shows it
  // for this run without changing the stored setting.
  // The same for the run's own choices. A stored automatic shutdown is left
  // to the windowed program: from a terminal the machine only goes down when
  // the command line asks for it.
  manager.with_settings([&](ProgramSettings& s) {
    if (options.verbose) s.log_view = 0;
    if (options.exist_file >= 0) s.exist_file = options.exist_file;
    if (options.history) s.write_log = 1;
    s.shut_down = options.shutdown ? 1 : 0;
  });
  manager.load_list();  // no list file is an empty list

  RunRecord record;
  observe(manager, finished, record);  // the items of an earlier run take part too
  const std::string divisions = division_text(options, ini);
  int exit_code = kExitOk;
  for (const std::string& url : urls) {
    const bool known = manager.with_items(
        [&](const ItemList& items) { return has_item(items, url, save_folder); });
    if (known) continue;  // the same command again resumes instead of duplicating
    if (manager.register_item(divisions, save_folder, url) < 0) {
      error_line("cannot add " + url);
      exit_code = kExitFailed;
    }
    observe(manager, finished, record);
  }
  if (manager.with_items([](const ItemList& items) { return items.empty(); })) {
    manager.end(kSettleMs);
    write_to(stderr, view.take_output());  // what the load of the list had to say
    error_line("nothing to download");
    return exit_code == kExitOk ? kExitUsage : exit_code;
  }
  // Items the earlier run left resting or failed start again.
  manager.scheduler_pass(-1, true);

  Display display(options.quiet, !options.quiet && platform::stderr_is_terminal());
  const bool interrupted = run_until_done(manager, view, clock, display, finished, record);

  const std::vector<RunRecord::Outcome> outcomes =
      record.outcomes(observe(manager, finished, record));
  const int ended = manager.end(kSettleMs);
  display.clear();
  write_to(stderr, view.take_output());
  if (interrupted) {
    write_to(stderr,
             std::string("\ninterrupted: ") +
                 (ended == 0 ? "the downloads are saved in " : "not every download stopped; see ") +
                 kListFile + ", run the same command here to resume\n");
    return kExitInterrupted;
  }
  if (!options.quiet) {
    write_to(stdout, summary_text(outcomes));
  } else {
    for (const RunRecord::Outcome& o : outcomes) {
      if (o.state == kFailed || o.state == kResting) {
        error_line(std::string(o.state == kFailed ? "failed: " : "not done: ") + o.path + " (" +
                   o.url + ")" + (o.reason.empty() ? "" : ": " + o.reason));
      }
    }
  }
  const bool resting = std::any_of(outcomes.begin(), outcomes.end(),
                                   [](const RunRecord::Outcome& o) { return o.state == kResting; });
  if (failed_count(outcomes) > 0 || resting) return kExitFailed;
  return exit_code;
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
