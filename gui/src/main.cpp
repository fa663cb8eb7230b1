// torvane-gui: the windowed program. Binds the engine, shows the main
// window, runs Qt's event loop, and when the window has closed writes the
// settings, stops every download, waits for the engine to settle, saves the
// list and ends the engine.
#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <memory>
#include <string>

#include "core/queue/download_manager.h"
#include "core/settings/program_home.h"
#include "core/settings/shutdown.h"
#include "core/system/clock.h"
#include "gui/main_window.h"
#include "gui/qt_text.h"
#include "gui/queued_view.h"
#include "platform/file.h"
#include "platform/lock_file.h"
#include "platform/process.h"

namespace torvane::gui {
namespace {

constexpr char kListFile[] = "test.tvn";
// Held while a program works on the list file of its folder (torvane-get
// takes the same one).
constexpr char kListLockFile[] = "test.tvn.lock";
// How often a SIGTERM or SIGINT is looked for; it closes the window as the
// window manager's close request does.
constexpr int kInterruptPollMs = 100;
// How long the ending waits for the engine to report every download
// stopped; the list is written either way.
constexpr std::uint32_t kSettleMs = 30000;

// Before the window exists, a message of the core (the engine that could
// not be started) is shown and waited for: the program ends after it.
class StartupMessages final : public QuietView {
 public:
  void show_message(std::string_view text, std::string_view caption, MessageOwner,
                    MessageIcon) override {
    QMessageBox(QMessageBox::NoIcon, qt_text(caption), qt_text(text)).exec();
  }
};

// Two programs on one list would download the same items twice.
bool lock_list(platform::FileLock& lock) {
  int holder = 0;
  const int taken = lock.acquire(kListLockFile, &holder);
  if (taken == 0) return true;
  const std::string who = holder > 0 ? "プロセス " + std::to_string(holder) : "別のプロセス";
  const std::string text = taken == 1 ? "このフォルダのダウンロード一覧 (" +
                                            std::string(kListFile) + ") は" + who + "が使用中です。"
                                      : "ダウンロード一覧 (" + std::string(kListFile) +
                                            ") をロックできません: " + platform::last_error_text();
  QMessageBox(QMessageBox::Warning, QString::fromUtf8("エラー"), qt_text(text)).exec();
  return false;
}

int run(QApplication& app) {
  platform::FileLock lock;
  if (!lock_list(lock)) return 1;

  QueuedView view;
  StartupMessages startup;
  view.attach(&startup);
  const SystemClock clock;
  const std::unique_ptr<PowerBackend> power = make_power_backend();
  ManagerConfig config;
  config.folder = choose_program_folder();
  config.list_file = kListFile;
  config.power = power.get();
  DownloadManager manager(std::move(config), view, clock);
  if (manager.start_up() != 0) {
    // The message the failed start queued is shown, and waited for.
    QCoreApplication::processEvents();
    view.attach(nullptr);
    return 0;
  }
  {
    MainWindow window(manager, view, manager.ini(), clock);
    QObject::connect(&window, &MainWindow::closed, &app, &QCoreApplication::quit);
    QTimer interrupts;
    QObject::connect(&interrupts, &QTimer::timeout, &window, [&window] {
      if (platform::interrupt_signal() != 0) window.close();
    });
    interrupts.start(kInterruptPollMs);
    window.show_at_start();
    app.exec();
    manager.save_settings();
  }  // the window goes: the add-items panel writes its history
  view.attach(nullptr);
  manager.end(kSettleMs);
  return 0;
}

}  // namespace
}  // namespace torvane::gui

int main(int argc, char** argv) {
  torvane::platform::catch_interrupts();
  QApplication app(argc, argv);
  // The window's class name, as the window manager sees it.
  QApplication::setApplicationName(QStringLiteral("Torvane GUI"));
  // The program ends when the main window has closed, not when its last
  // window (a message box, say) has.
  QApplication::setQuitOnLastWindowClosed(false);
  return torvane::gui::run(app);
}
