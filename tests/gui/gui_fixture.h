// The window tests' set-up: a download manager over the real engine in a
// temporary program folder (manager_fixture.h), the program INI there, and
// either a panel or dialog over it or the main window, which the manager
// calls through the queued view. Panel items point at 127.0.0.1:1, where
// nothing listens; only the rows count.
#pragma once

#include <QAbstractButton>
#include <QCoreApplication>
#include <QTest>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

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

// Division, save folder and URL of an item.
using Row = std::tuple<std::string, std::string, std::string>;

// A manager the test starts (after writing its INI, say), and its settings.
class DialogTest : public ManagerTest {
 protected:
  ProgramSettings settings() {
    return manager_->with_settings([](ProgramSettings& s) { return s; });
  }
  std::vector<int> states() { return test::states(*manager_); }
  std::string ini_text() const { return read_file(dir_ / "Torvane.ini").value_or(""); }
  static void click(QAbstractButton* button) {
    ASSERT_NE(button, nullptr);
    QTest::mouseClick(button, Qt::LeftButton);
  }

  std::unique_ptr<DownloadManager> manager_;
  IniAccess ini_{dir_ / "Torvane.ini"};
};

class PanelTest : public DialogTest {
 protected:
  void SetUp() override { manager_ = start(clock_, 0); }

  std::vector<Row> rows() const {
    return manager_->with_items([](const ItemList& list) {
      std::vector<Row> out;
      for (std::size_t i = 0; i < list.size(); ++i) {
        const ListItem& item = *list.at(static_cast<std::int64_t>(i));
        out.emplace_back(item.division_text, item.save_folder, item.url);
      }
      return out;
    });
  }
};

class WindowTest : public DialogTest {
 protected:
  ~WindowTest() override { close(); }

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

  gui::QueuedView queued_;
  std::unique_ptr<gui::MainWindow> window_;
};

}  // namespace torvane::test
