#include "platform/process.h"

#include <dlfcn.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstdlib>

namespace torvane::platform {

LibraryHandle library_open(const char* path_or_name, std::string* error) {
  // RTLD_NOW: a library missing an export fails here, not at the first call.
  void* handle = dlopen(path_or_name, RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr && error != nullptr) {
    const char* text = dlerror();
    *error = text != nullptr ? text : "cannot load";
  }
  return handle;
}

void* library_symbol(LibraryHandle library, const char* name) {
  if (library == nullptr) return nullptr;
  return dlsym(library, name);
}

void library_close(LibraryHandle library) {
  if (library != nullptr) dlclose(library);
}

std::string program_file_path() {
  char buffer[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return {};
  return std::string(buffer, static_cast<std::size_t>(n));
}

bool stdout_is_terminal() {
  return isatty(STDOUT_FILENO) == 1;
}
bool stderr_is_terminal() {
  return isatty(STDERR_FILENO) == 1;
}

int stderr_columns() {
  struct winsize size {};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_col;
}

namespace {
std::atomic<int> g_signal{0};
static_assert(std::atomic<int>::is_always_lock_free, "signal handlers need a lock-free flag");

extern "C" void record_signal(int number) {
  int expected = 0;
  g_signal.compare_exchange_strong(expected, number);
}
}  // namespace

void catch_interrupts() {
  struct sigaction action {};
  action.sa_handler = record_signal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

int interrupt_signal() {
  return g_signal.load();
}

const char* environment(const char* name) {
  return std::getenv(name);
}

bool folder_writable(const char* path) {
  return path != nullptr && *path != '\0' && access(path, W_OK | X_OK) == 0;
}

}  // namespace torvane::platform
