// Test infrastructure: starts and stops child processes with POSIX calls.
#include "tests/support/real_peers.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <thread>

#include "tests/support/test_files.h"

extern char** environ;

namespace torvane::test {
namespace {

constexpr auto kStartDeadline = std::chrono::seconds(5);
constexpr int kStartAttempts = 3;

std::string find_program(const std::vector<std::string>& candidates) {
  for (const std::string& path : candidates)
    if (::access(path.c_str(), X_OK) == 0) return path;
  return {};
}

std::string log_tail(const std::string& path) {
  const std::optional<std::string> log = read_file(path);
  if (!log) return "no log at " + path;
  return log->size() > 2000 ? log->substr(log->size() - 2000) : *log;
}

}  // namespace

bool peers_required() {
  const char* value = std::getenv("TORVANE_REQUIRE_PEERS");
  return value != nullptr && std::string(value) == "1";
}

int free_loopback_port() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return 0;
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof sa;
  int port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len) == 0)
    port = ntohs(sa.sin_port);
  ::close(fd);
  return port;
}

bool wait_port_open(int port, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  do {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sa.sin_port = htons(static_cast<std::uint16_t>(port));
    const bool open = ::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
    ::close(fd);
    if (open) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  } while (std::chrono::steady_clock::now() < deadline);
  return false;
}

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::string& log_path) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid == 0) {
    // Only async-signal-safe calls from here on. A test process that dies
    // without running destructors (a sanitizer abort, a crash) takes its
    // peer with it instead of leaving it on its port.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(127);
    const int in = ::open("/dev/null", O_RDONLY);
    const int out = ::open(log_path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (in < 0 || out < 0) ::_exit(127);
    ::dup2(in, STDIN_FILENO);
    ::dup2(out, STDOUT_FILENO);
    ::dup2(out, STDERR_FILENO);
    ::execve(args[0], args.data(), environ);
    ::_exit(127);
  }
  if (pid > 0) pid_ = pid;
}

bool ChildProcess::running() const {
  if (pid_ <= 0) return false;
  int status = 0;
  return ::waitpid(pid_, &status, WNOHANG) == 0;
}

void ChildProcess::stop() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGTERM);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  int status = 0;
  while (::waitpid(pid_, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() >= deadline) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  pid_ = -1;
}

std::string NginxServer::program() { return find_program({"/usr/sbin/nginx", "/usr/bin/nginx"}); }

NginxServer::NginxServer(const std::string& root, const std::string& work_dir) {
  const std::string nginx = program();
  if (nginx.empty()) {
    error_ = "nginx is not installed";
    return;
  }
  const std::string log = work_dir + "/nginx.log";
  // A port taken between the probe and nginx's bind makes it exit; another
  // port is tried then.
  for (int attempt = 0; attempt < kStartAttempts && !ok_; ++attempt) {
    port_ = free_loopback_port();
    const std::string conf = work_dir + "/nginx.conf";
    std::string text;
    text += "daemon off;\nmaster_process off;\nworker_processes 1;\n";
    // As root nginx would serve as "nobody", who cannot read a private test folder.
    if (::geteuid() == 0) text += "user root;\n";
    text += "pid " + work_dir + "/nginx.pid;\nerror_log " + log + " warn;\n";
    text += "events { worker_connections 1024; }\n";
    text += "http {\n  access_log off;\n  sendfile on;\n  tcp_nopush on;\n";
    text += "  default_type application/octet-stream;\n  types { }\n";
    for (const char* kind : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"})
      text += std::string("  ") + kind + "_temp_path " + work_dir + "/" + kind + "_temp;\n";
    text += "  server {\n    listen 127.0.0.1:" + std::to_string(port_) + ";\n";
    text += "    root " + root + ";\n    location / { }\n  }\n}\n";
    if (!write_file(conf, text)) {
      error_ = "cannot write " + conf;
      return;
    }
    process_ = ChildProcess({nginx, "-p", work_dir, "-c", conf, "-e", log}, log);
    ok_ = wait_port_open(port_, kStartDeadline) && process_.running();
  }
  if (!ok_) error_ = log_tail(log);
}

std::string NginxServer::url(std::string_view path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + std::string(path);
}

std::string TinyProxy::program() { return find_program({"/usr/bin/tinyproxy", "/usr/sbin/tinyproxy"}); }

TinyProxy::TinyProxy(const std::string& work_dir) {
  const std::string tinyproxy = program();
  if (tinyproxy.empty()) {
    error_ = "tinyproxy is not installed";
    return;
  }
  const std::string log = work_dir + "/tinyproxy.log";
  for (int attempt = 0; attempt < kStartAttempts && !ok_; ++attempt) {
    port_ = free_loopback_port();
    const std::string conf = work_dir + "/tinyproxy.conf";
    std::string text;
    text += "Port " + std::to_string(port_) + "\nListen 127.0.0.1\nTimeout 60\nMaxClients 256\n";
    text += "Allow 127.0.0.1\nLogLevel Info\nLogFile \"" + log + "\"\n";
    text += "PidFile \"" + work_dir + "/tinyproxy.pid\"\nDisableViaHeader Yes\n";
    if (!write_file(conf, text)) {
      error_ = "cannot write " + conf;
      return;
    }
    process_ = ChildProcess({tinyproxy, "-d", "-c", conf}, log);
    ok_ = wait_port_open(port_, kStartDeadline) && process_.running();
  }
  if (!ok_) error_ = log_tail(log);
}

std::string TinyProxy::address() const { return "127.0.0.1:" + std::to_string(port_); }

}  // namespace torvane::test
