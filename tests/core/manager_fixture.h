// Shared set-up of the download manager tests: a recording view, a program
// folder and list file in a temporary folder, the real engine loaded from
// the build tree, and a scripted loopback server.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "gui/shell/download_manager.h"
#include "tests/support/http_replies.h"
#include "tests/support/recording_power.h"
#include "tests/support/scripted_server.h"
#include "tests/support/test_files.h"

namespace torvane::test {

class RecordingView final : public View {
 public:
  void redraw_rows(int, int) override {}
  void set_item_count(std::size_t) override {}
  int focused_row() const override { return focused.load(); }
  void write_detail_row(int row, std::string_view text) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (static_cast<std::size_t>(row) >= detail_.size()) detail_.resize(row + 1);
    detail_[row] = std::string(text);
  }
  void clear_detail_rows() override {
    std::lock_guard<std::mutex> lock(mutex_);
    detail_.clear();
  }
  void append_header_log(std::string_view text) override {
    std::lock_guard<std::mutex> lock(mutex_);
    log_ += text;
  }
  void set_status_text(int part, std::string_view text) override {
    std::lock_guard<std::mutex> lock(mutex_);
    status_[part] = std::string(text);
  }
  void show_message(std::string_view text, std::string_view caption) override {
    std::lock_guard<std::mutex> lock(mutex_);
    messages_.push_back(std::string(caption) + ": " + std::string(text));
  }
  void limit_changed(int ok, int limit) override {
    std::lock_guard<std::mutex> lock(mutex_);
    limit_answers_.push_back({ok, limit});
  }

  std::vector<std::string> detail() const { return locked(detail_); }
  std::vector<std::string> messages() const { return locked(messages_); }
  std::string status(int part) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = status_.find(part);
    return it == status_.end() ? "" : it->second;
  }
  std::vector<std::pair<int, int>> limit_answers() const { return locked(limit_answers_); }
  std::string log() const { return locked(log_); }

  std::atomic<int> focused{-1};

 private:
  template <class T>
  T locked(const T& value) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return value;
  }
  mutable std::mutex mutex_;
  std::vector<std::string> detail_, messages_;
  std::string log_;
  std::map<int, std::string> status_;
  std::vector<std::pair<int, int>> limit_answers_;
};

constexpr auto kDeadline = std::chrono::seconds(15);

inline bool wait_until(const std::function<bool()>& done,
                       std::chrono::milliseconds timeout = kDeadline) {
  const auto until = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

// The state of each item, in list order.
inline std::vector<int> states(DownloadManager& manager) {
  return manager.with_items([](const ItemList& list) {
    std::vector<int> out;
    for (std::size_t i = 0; i < list.size(); ++i) out.push_back(list.at(i)->state);
    return out;
  });
}

class ManagerTest : public ::testing::Test {
 protected:
  ManagerTest() { make_folder_tree(); }

  void make_folder_tree() {
    std::filesystem::create_directories(home() + "/Servers");
    write_file(home() + "/Torvane.ini", "");
  }
  std::string home() const { return dir_ / "home"; }
  std::string out() const { return dir_ / "out/"; }
  std::string list_file() const { return dir_ / "test.tvn"; }
  void set_ini(const std::string& text) { ASSERT_TRUE(write_file(home() + "/Torvane.ini", text)); }

  ManagerConfig config() {
    ManagerConfig c;
    c.folder = ProgramFolder(home());
    c.list_file = list_file();
    c.history_file = dir_ / "tvnlog.txt";
    c.library_candidates = {TORVANE_ENGINE_LIBRARY};
    c.power = &power_;
    return c;
  }

  std::unique_ptr<DownloadManager> start(const Clock& clock, int limit = 4) {
    ManagerConfig c = config();
    c.limit_override = limit;
    auto manager = std::make_unique<DownloadManager>(std::move(c), view_, clock);
    EXPECT_EQ(manager->start_up(), 0);
    return manager;
  }

  // A file of `size` bytes at `path`; GETs stop after `at` body bytes while
  // the path's gate is shut.
  std::shared_ptr<Gate> serve(const std::string& path, std::shared_ptr<const std::string> body,
                              std::size_t at = std::string::npos) {
    auto gate = std::make_shared<Gate>();
    if (at == std::string::npos) gate->open();
    std::lock_guard<std::mutex> lock(files_mutex_);
    files_[path] = {body, gate, at};
    server_.set_handler([this](const HttpRequest& r) {
      std::lock_guard<std::mutex> lock(files_mutex_);
      auto it = files_.find(r.target);
      if (it == files_.end()) return status_reply(404, "Not Found");
      HttpReply reply = resource_reply(r, it->second.body);
      if (r.method == "GET" && !it->second.gate->is_open()) {
        reply.gate = it->second.gate;
        reply.gate_at = reply.head.size() + it->second.at;
      }
      return reply;
    });
    return gate;
  }

  std::string saved(const std::string& name) const {
    return read_file(out() + name).value_or("<no file>");
  }

  struct Served {
    std::shared_ptr<const std::string> body;
    std::shared_ptr<Gate> gate;
    std::size_t at;
  };
  // Declared before the server, whose thread reads them until it is destroyed.
  std::mutex files_mutex_;
  std::map<std::string, Served> files_;
  TempDir dir_;
  RecordingView view_;
  SystemClock clock_;
  ScriptedServer server_;
  RecordingPower power_;  // read it under the manager's lock

};

inline std::shared_ptr<const std::string> content(std::size_t size, std::uint32_t seed = 7) {
  return std::make_shared<const std::string>(pattern_bytes(size, seed));
}

}  // namespace torvane::test
