// Shared set-up of the window tests: the manager tests' program folder,
// engine and scripted server (manager_fixture.h), and the main window over a
// manager that calls it through the queued view.
#pragma once

#include <QCoreApplication>
#include <chrono>
#include <memory>
#include <thread>

#include "gui/main_window.h"
#include "gui/queued_view.h"
#include "tests/core/manager_fixture.h"

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

class WindowTest : public ManagerTest {
 protected:
  ~WindowTest() override { close(); }

  std::string ini_text() const { return read_file(dir_ / "Torvane.ini").value_or(""); }

  // The manager started and the window built over it (not shown yet).
  gui::MainWindow& open() {
    manager_ = std::make_unique<DownloadManager>(config(), queued_, clock_);
    EXPECT_EQ(manager_->start_up(), 0);
    window_ = std::make_unique<gui::MainWindow>(*manager_, queued_, ini_, clock_);
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
  // `hold` body bytes for good.
  void serve(const std::string& path, std::size_t size, std::size_t hold = std::string::npos) {
    ManagerTest::serve(path, content(size, 3), hold);
  }
  std::vector<int> states() { return test::states(*manager_); }

  gui::QueuedView queued_;
  IniAccess ini_{dir_ / "Torvane.ini"};
  std::unique_ptr<DownloadManager> manager_;
  std::unique_ptr<gui::MainWindow> window_;
};

}  // namespace torvane::test
