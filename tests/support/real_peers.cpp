// Test infrastructure: sockets and child processes with POSIX calls.
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

sockaddr_in loopback(int port) {
  return {AF_INET, htons(static_cast<std::uint16_t>(port)), {htonl(INADDR_LOOPBACK)}, {}};
}

// True once something accepts connections on 127.0.0.1:port.
bool wait_port_open(int port, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;; std::this_thread::sleep_for(std::chrono::milliseconds(10))) {
    const sockaddr_in sa = loopback(port);
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool open =
        fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0;
    if (fd >= 0) ::close(fd);
    if (open || fd < 0 || std::chrono::steady_clock::now() >= deadline) return open;
  }
}

}  // namespace

bool peers_required() {
  const char* value = std::getenv("TORVANE_REQUIRE_PEERS");
  return value != nullptr && std::string_view(value) == "1";
}

int listen_loopback(int& port, int flags) {
  sockaddr_in sa = loopback(0);
  socklen_t len = sizeof sa;
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | flags, 0);
  if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&sa), len) == 0 &&
      ::listen(fd, SOMAXCONN) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len) == 0) {
    port = ntohs(sa.sin_port);
    return fd;
  }
  if (fd >= 0) ::close(fd);
  return -1;
}

int free_loopback_port() {
  int port = 0;
  const int fd = listen_loopback(port);
  if (fd >= 0) ::close(fd);
  return port;
}

void ChildProcess::start(const std::vector<std::string>& argv, const std::string& log_path) {
  stop();
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
    const int out = ::open(log_path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (out < 0) ::_exit(127);
    ::dup2(out, STDOUT_FILENO);
    ::dup2(out, STDERR_FILENO);
    ::execve(args[0], args.data(), environ);
    ::_exit(127);
  }
  pid_ = pid > 0 ? pid : -1;
}

void ChildProcess::stop() {
  send_signal(SIGKILL);
  wait_exit(std::chrono::seconds(10));
}

void ChildProcess::send_signal(int sig) {
  if (pid_ > 0) ::kill(pid_, sig);
}

int ChildProcess::wait_exit(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (int status = 0; pid_ > 0; std::this_thread::sleep_for(std::chrono::milliseconds(10))) {
    const pid_t done = ::waitpid(pid_, &status, WNOHANG);
    if (done != 0) {
      pid_ = -1;
      return done < 0 ? -1 : WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
    }
    if (std::chrono::steady_clock::now() >= deadline) return -1;
  }
  return -1;
}

std::string RealPeer::program(const std::string& name) {
  for (const std::string folder : {"/usr/sbin/", "/usr/bin/"})
    if (::access((folder + name).c_str(), X_OK) == 0) return folder + name;
  return {};
}

RealPeer::RealPeer(const std::string& name, const std::string& dir,
                   const std::string& location_lines, const PeerExtras& extras)
    : tls_(name == "nginx" && !extras.cert_file.empty()) {
  const std::string path = program(name), conf = dir + "/" + name + ".conf";
  const std::string log = dir + "/" + name + ".log";
  if (path.empty()) {
    error_ = name + " is not installed";
    return;
  }
  // A port taken between the probe and the peer's bind makes it exit; another
  // port is tried then.
  for (int attempt = 0; attempt < 3 && !ok_; ++attempt) {
    port_ = free_loopback_port();
    const std::string port = std::to_string(port_);
    std::string text;
    std::vector<std::string> argv = {path, "-d", "-c", conf};
    if (name == "nginx") {
      // As root nginx would serve as "nobody", who cannot read a private test folder.
      text = ::geteuid() == 0 ? "user root;\n" : "";
      text += "daemon off;\nmaster_process off;\nworker_processes 1;\npid " + dir + "/nginx.pid;\n";
      text += "error_log " + log + " warn;\nevents { worker_connections 1024; }\nhttp {\n";
      text += "  access_log off;\n  sendfile on;\n  tcp_nopush on;\n  types { }\n";
      text += "  default_type application/octet-stream;\n";
      for (const char* kind : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"})
        text += std::string("  ") + kind + "_temp_path " + dir + "/" + kind + "_temp;\n";
      std::string listen = "listen 127.0.0.1:" + port;
      if (tls_) {
        // TLS 1.2 and 1.3, as the engine offers; no session cache, so every
        // connection does a whole handshake unless the client offers a ticket.
        listen += " ssl; ssl_certificate " + extras.cert_file + "; ssl_certificate_key " +
                  extras.key_file + "; ssl_protocols TLSv1.2 TLSv1.3";
      }
      text += "  server { " + listen + "; root " + dir + "; location / { " + location_lines +
              " } }\n}\n";
      argv = {path, "-p", dir, "-c", conf, "-e", log};
    } else {
      text = "Port " + port + "\nListen 127.0.0.1\nTimeout 60\nMaxClients 256\nAllow 127.0.0.1\n";
      text += "LogLevel Info\nLogFile \"" + log + "\"\nPidFile \"" + dir + "/tinyproxy.pid\"\n";
      text += "DisableViaHeader Yes\n";
      // CONNECT reaches that port only (without the line, any port).
      if (extras.connect_port > 0)
        text += "ConnectPort " + std::to_string(extras.connect_port) + "\n";
    }
    write_file(conf, text);  // a missing configuration shows in the log
    process_.start(argv, log);
    // Up, and not ended (an ended child is reaped here).
    ok_ = wait_port_open(port_, std::chrono::seconds(5)) &&
          process_.wait_exit(std::chrono::milliseconds(0)) == -1;
  }
  if (!ok_) error_ = read_file(log).value_or("no log at " + log);
}

}  // namespace torvane::test
