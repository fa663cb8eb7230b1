// Shared set-up of the download manager tests: a recording view, a
// temporary program folder (INI, profiles, list file, history, out/), the
// real engine loaded from the build tree, and a scripted loopback server.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sstream>
#include <thread>

#include "core/queue/download_manager.h"
#include "tests/support/http_replies.h"
#include "tests/support/recording_power.h"
#include "tests/support/test_files.h"

namespace torvane::test {

// Everything the manager showed.
struct Seen {
  std::vector<std::string> detail, messages;
  // "+first-last" and "-first-last" for inserted and removed rows, in order.
  std::vector<std::string> row_changes;
  std::vector<std::pair<MessageOwner, MessageIcon>> message_kinds;
  std::string log, status[3];
  std::vector<std::pair<int, int>> limits;
};

// The manager calls its view under its own lock; tests read and set it the
// same way. Row `focus` has the focus.
class RecordingView final : public QuietView, public Seen {
 public:
  int focus = 0;
  void rows_inserted(int first, int last) override {
    row_changes.push_back("+" + std::to_string(first) + "-" + std::to_string(last));
  }
  void rows_removed(int first, int last) override {
    row_changes.push_back("-" + std::to_string(first) + "-" + std::to_string(last));
  }
  int focused_row() const override { return focus; }
  void write_detail_row(int row, std::string_view text) override {
    detail.resize(std::max(detail.size(), static_cast<std::size_t>(row) + 1));
    detail[row] = text;
  }
  void clear_detail_rows() override { detail.clear(); }
  void append_header_log(std::string_view text) override { log += text; }
  void set_status_text(int part, std::string_view text) override { status[part] = text; }
  void show_message(std::string_view t, std::string_view c, MessageOwner owner,
                    MessageIcon icon) override {
    messages.emplace_back(c).append(": ").append(t);
    message_kinds.emplace_back(owner, icon);
  }
  void limit_changed(int ok, int limit) override { limits.emplace_back(ok, limit); }
};

// Polls `done` every 5 ms, for at most 15 s.
template <class F>
bool wait_until(F done) {
  using namespace std::chrono_literals;
  for (int i = 0; i < 3000 && !done(); ++i) std::this_thread::sleep_for(5ms);
  return done();
}

// How often `piece` occurs in `text`.
inline std::size_t occurrences(std::string_view text, std::string_view piece) {
  std::size_t n = 0;
  for (auto at = text.find(piece); at != text.npos; at = text.find(piece, at + 1)) ++n;
  return n;
}

// The state of each item, in list order.
inline std::vector<int> states(DownloadManager& manager) {
  return manager.with_items([](const ItemList& list) {
    std::vector<int> out;
    for (std::size_t i = 0; i < list.size(); ++i) out.push_back(list.at(i)->state);
    return out;
  });
}

inline std::shared_ptr<const std::string> content(std::size_t size, std::uint32_t seed = 7) {
  return std::make_shared<const std::string>(pattern_bytes(size, seed));
}

class ManagerTest : public ::testing::Test {
 protected:
  ManagerTest() {
    std::filesystem::create_directories(dir_ / "Servers");
    server_.set_handler([this](const HttpRequest& r) {
      std::lock_guard<std::mutex> lock(files_mutex_);
      auto it = files_.contains(r.target) ? files_.find(r.target) : files_.find("*");
      return it == files_.end() ? status_reply(404, "Not Found") : it->second(r);
    });
  }

  std::string out() const { return dir_ / "out/"; }
  std::string list_file() const { return dir_ / "test.tvn"; }
  void set_ini(const std::string& text) { ASSERT_TRUE(write_file(dir_ / "Torvane.ini", text)); }
  std::string saved(const std::string& name) { return read_file(out() + name).value_or("<none>"); }
  Seen seen(DownloadManager& m) {
    return m.with_items([&](auto&) { return Seen(view_); });
  }

  ManagerConfig config(int limit = 0, std::string library = TORVANE_ENGINE_LIBRARY) {
    return {.folder = ProgramFolder(dir_.path()),
            .list_file = list_file(),
            .history_file = dir_ / "tvnlog.txt",
            .library_candidates = {library},
            .limit_override = limit,
            .run_profile = {},
            .power = &power_,
            .finished = {}};
  }
  std::unique_ptr<DownloadManager> start(const Clock& clock, int limit) {
    auto manager = std::make_unique<DownloadManager>(config(limit), view_, clock);
    EXPECT_EQ(manager->start_up(), 0);
    return manager;
  }

  // `path` ("*": any other) answers through `handler`.
  void handle(const std::string& path, HttpHandler handler) {
    std::lock_guard<std::mutex> lock(files_mutex_);
    files_[path] = std::move(handler);
  }
  // `path` answers as a static file (a null body: an empty page) with
  // `lines` added to its header; with `at`, GETs pause after `at` body bytes
  // until the returned gate opens.
  std::shared_ptr<Gate> serve(const std::string& path, std::shared_ptr<const std::string> body,
                              std::size_t at = std::string::npos, const std::string& lines = "") {
    auto gate = std::make_shared<Gate>();
    handle(path, [=](const HttpRequest& r) {
      HttpReply reply = body != nullptr ? resource_reply(r, body) : status_reply(200, "OK");
      reply.head.insert(reply.head.find("\r\n") + 2, lines);
      if (r.method == "GET" && at != std::string::npos) reply.gate = gate;
      reply.gate_at = reply.head.size() + at;
      return reply;
    });
    return gate;
  }

  // A redirect, held before its first byte until the returned gate opens.
  std::shared_ptr<Gate> serve_redirect(const std::string& path, const std::string& location) {
    auto gate = std::make_shared<Gate>();
    handle(path, [=](const HttpRequest&) {
      HttpReply reply = redirect_reply(302, location);
      reply.gate = gate;
      return reply;
    });
    return gate;
  }
  void serve_link_page(const std::string& path, const std::string& link) {
    serve(path, std::make_shared<const std::string>("<a href=\"" + link + "\">x</a>"));
  }
  // "http://127.1:port": the server written as another host (the same
  // loopback address, with no name lookup) whose profile is `keys`.
  std::string other_host(const std::string& keys) {
    const std::string host = "127.1" + server_.url("").substr(16);
    EXPECT_TRUE(write_file(dir_ / "Servers.ini", "[ServerData]\n" + host + "=Servers\\h.ini\n"));
    EXPECT_TRUE(write_file(dir_ / "Servers/h.ini", "[TVNBASICDATA]\n" + keys));
    return "http://" + host;
  }
  // The default profile.
  void profile(const std::string& keys) {
    ASSERT_TRUE(write_file(dir_ / "Servers/default.ini", "[TVNBASICDATA]\n" + keys));
  }
  // Until `file` holds 1000 bytes of `body` at each of `starts`.
  bool has_bytes_at(const std::string& file, const std::string& body,
                    std::initializer_list<std::size_t> starts) {
    return wait_until([&] {
      const std::string part = read_file(file).value_or("");
      for (std::size_t at : starts) {
        if (part.size() < at + 1000 || part.compare(at, 1000, body, at, 1000) != 0) return false;
      }
      return true;
    });
  }
  // Stops the first item and waits until it alone rests.
  bool stop_first(DownloadManager& m) {
    m.stop_item(0);
    return wait_until([&] { return states(m) == std::vector<int>{kResting}; });
  }
  // Ends the manager and starts a fresh one that reads the list.
  void restart(std::unique_ptr<DownloadManager>& m, const Clock& clock, int limit) {
    EXPECT_EQ(m->end(10000), 0);
    m = start(clock, limit);
    ASSERT_EQ(m->load_list(), 0);
  }
  // The body bytes nginx logged in `log` for its GETs, each of which must
  // have been a partial answer: what a resume asked for.
  static std::uint64_t partial_bytes(const std::string& log) {
    std::istringstream lines(log);
    std::uint64_t sum = 0;
    for (std::string line; std::getline(lines, line);) {
      if (line.find("\"GET ") == std::string::npos) continue;
      const std::size_t status = line.find("\" 206 ");
      EXPECT_NE(status, std::string::npos) << line;
      if (status != std::string::npos) sum += std::stoull(line.substr(status + 6));
    }
    return sum;
  }
  std::string reason(DownloadManager& m, int k) {
    return m.with_items([k](const ItemList& l) { return l.at(k)->reason; });
  }

  // Declared before the server, whose thread reads them until it is destroyed.
  std::mutex files_mutex_;
  std::map<std::string, HttpHandler> files_;
  TempDir dir_;
  RecordingView view_;
  SystemClock clock_;
  ScriptedServer server_;
  RecordingPower power_;  // read it under the manager's lock
};

}  // namespace torvane::test
