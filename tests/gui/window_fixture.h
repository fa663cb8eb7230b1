// Shared set-up of the window tests: a temporary program folder, the real
// engine loaded from the build tree, a scripted loopback server, and the
// main window over a manager that calls it through the queued view.
#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QUrl>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "core/queue/download_manager.h"
#include "gui/main_window.h"
#include "gui/queued_view.h"
#include "tests/support/http_replies.h"
#include "tests/support/test_files.h"

namespace torvane::test {

// Runs the GUI thread's queued calls until `done`, for at most `limit`.
template <class F>
bool pump_until(F done, std::chrono::milliseconds limit = std::chrono::seconds(15)) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

class WindowTest : public ::testing::Test {
 protected:
  WindowTest() {
    server_.set_handler([this](const HttpRequest& r) {
      std::lock_guard<std::mutex> lock(files_mutex_);
      const auto it = files_.find(r.target);
      return it == files_.end() ? status_reply(404, "Not Found") : it->second(r);
    });
  }
  ~WindowTest() override {
    for (auto& gate : gates_) gate->open();
    close();
  }

  void set_ini(const std::string& text) { ASSERT_TRUE(write_file(dir_ / "Torvane.ini", text)); }
  std::string ini_text() const { return read_file(dir_ / "Torvane.ini").value_or(""); }
  std::string out() const { return dir_ / "out/"; }

  // The manager started and the window built over it (not shown yet).
  gui::MainWindow& open() {
    ManagerConfig config;
    config.folder = ProgramFolder(dir_.path());
    config.list_file = dir_ / "test.tvn";
    config.history_file = dir_ / "tvnlog.txt";
    config.library_candidates = {TORVANE_ENGINE_LIBRARY};
    ini_ = std::make_unique<IniAccess>(config.folder.path("Torvane.ini"));
    manager_ = std::make_unique<DownloadManager>(std::move(config), view_, clock_);
    EXPECT_EQ(manager_->start_up(), 0);
    window_ = std::make_unique<gui::MainWindow>(*manager_, view_, *ini_, clock_);
    return *window_;
  }
  // The program's ending: the window closed, the settings written, the
  // window gone, the manager ended.
  void close() {
    if (window_ == nullptr) return;
    window_->close();
    manager_->save_settings();
    window_.reset();
    manager_->end(10000);
    manager_.reset();
  }

  // `path` is served as a static file of `size` bytes; GETs pause after
  // `hold` body bytes until the returned gate opens (npos: never).
  std::shared_ptr<Gate> serve(const std::string& path, std::size_t size,
                              std::size_t hold = std::string::npos) {
    auto gate = std::make_shared<Gate>();
    auto body = std::make_shared<const std::string>(pattern_bytes(size, 3));
    std::lock_guard<std::mutex> lock(files_mutex_);
    // A name with bytes outside ASCII is asked for percent-encoded.
    const std::string encoded =
        QUrl::toPercentEncoding(QString::fromStdString(path), "/").toStdString();
    files_[path] = files_[encoded] = [=](const HttpRequest& r) {
      HttpReply reply = resource_reply(r, body);
      if (r.method == "GET" && hold != std::string::npos) {
        reply.gate = gate;
        reply.gate_at = reply.head.size() + hold;
      }
      return reply;
    };
    gates_.push_back(gate);
    return gate;
  }

  std::vector<int> states() {
    return manager_->with_items([](const ItemList& list) {
      std::vector<int> out;
      for (std::size_t i = 0; i < list.size(); ++i) out.push_back(list.at(i)->state);
      return out;
    });
  }

  // Declared before the server, whose thread reads them until it is destroyed.
  std::mutex files_mutex_;
  std::map<std::string, HttpHandler> files_;
  std::vector<std::shared_ptr<Gate>> gates_;
  TempDir dir_;
  ScriptedServer server_;
  SystemClock clock_;
  gui::QueuedView view_;
  std::unique_ptr<IniAccess> ini_;
  std::unique_ptr<DownloadManager> manager_;
  std::unique_ptr<gui::MainWindow> window_;
};

}  // namespace torvane::test
