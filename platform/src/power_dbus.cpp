#include "platform/power_dbus.h"

#include <systemd/sd-bus.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "platform/thread_time.h"

namespace torvane::platform {
namespace {

constexpr const char* kLogin = "org.freedesktop.login1";
constexpr const char* kLoginPath = "/org/freedesktop/login1";
constexpr const char* kLoginManager = "org.freedesktop.login1.Manager";
constexpr const char* kLoginSession = "org.freedesktop.login1.Session";
constexpr const char* kNetwork = "org.freedesktop.NetworkManager";
constexpr const char* kNetworkPath = "/org/freedesktop/NetworkManager";
constexpr const char* kActiveConnection = "org.freedesktop.NetworkManager.Connection.Active";
constexpr const char* kNotActiveError = "org.freedesktop.NetworkManager.ConnectionNotActive";
constexpr std::uint32_t kStateDeactivated = 4;  // NM_ACTIVE_CONNECTION_STATE_DEACTIVATED
constexpr int kPollMs = 100;

// Connection types that stand for a line dialled through a modem or a phone.
constexpr std::string_view kDialupTypes[] = {"gsm", "cdma", "pppoe", "adsl", "bluetooth"};

class Bus {
 public:
  Bus() {
    if (sd_bus_open_system(&bus_) < 0) bus_ = nullptr;
  }
  ~Bus() { sd_bus_flush_close_unref(bus_); }
  Bus(const Bus&) = delete;
  Bus& operator=(const Bus&) = delete;
  sd_bus* get() const { return bus_; }

 private:
  sd_bus* bus_ = nullptr;
};

struct Error {
  sd_bus_error e = SD_BUS_ERROR_NULL;
  Error() = default;
  Error(const Error&) = delete;
  Error& operator=(const Error&) = delete;
  ~Error() { sd_bus_error_free(&e); }
};

struct Reply {
  sd_bus_message* m = nullptr;
  Reply() = default;
  Reply(const Reply&) = delete;
  Reply& operator=(const Reply&) = delete;
  ~Reply() { sd_bus_message_unref(m); }
};

// The object was removed between two calls (a connection that went down on
// its own), as opposed to a service that failed to answer.
bool object_gone(const sd_bus_error& error) {
  return sd_bus_error_has_names(&error, SD_BUS_ERROR_UNKNOWN_OBJECT, SD_BUS_ERROR_UNKNOWN_METHOD,
                                SD_BUS_ERROR_UNKNOWN_INTERFACE, SD_BUS_ERROR_INVALID_ARGS) != 0;
}

int login_manager_call(const char* method) {
  Bus bus;
  if (bus.get() == nullptr) return -1;
  Error error;
  // interactive = false: nobody is there to answer a prompt.
  const int r = sd_bus_call_method(bus.get(), kLogin, kLoginPath, kLoginManager, method, &error.e,
                                   nullptr, "b", 0);
  return r >= 0 ? 0 : -1;
}

bool network_manager_running(sd_bus* bus, bool& running) {
  Error error;
  Reply reply;
  if (sd_bus_call_method(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                         "org.freedesktop.DBus", "NameHasOwner", &error.e, &reply.m, "s",
                         kNetwork) < 0)
    return false;
  int has_owner = 0;
  if (sd_bus_message_read(reply.m, "b", &has_owner) < 0) return false;
  running = has_owner != 0;
  return true;
}

bool active_connections(sd_bus* bus, std::vector<std::string>& paths) {
  Error error;
  Reply reply;
  if (sd_bus_get_property(bus, kNetwork, kNetworkPath, kNetwork, "ActiveConnections", &error.e,
                          &reply.m, "ao") < 0)
    return false;
  if (sd_bus_message_enter_container(reply.m, 'a', "o") < 0) return false;
  const char* path = nullptr;
  int r;
  while ((r = sd_bus_message_read(reply.m, "o", &path)) > 0) paths.emplace_back(path);
  return r == 0;
}

enum class TypeRead { kRead, kGone, kFailed };

TypeRead connection_type(sd_bus* bus, const std::string& path, std::string& type) {
  Error error;
  char* text = nullptr;
  if (sd_bus_get_property_string(bus, kNetwork, path.c_str(), kActiveConnection, "Type", &error.e,
                                 &text) < 0)
    return object_gone(error.e) ? TypeRead::kGone : TypeRead::kFailed;
  type = text;
  std::free(text);
  return TypeRead::kRead;
}

bool is_dialup(std::string_view type) {
  for (std::string_view t : kDialupTypes)
    if (type == t) return true;
  return false;
}

// Asks for the deactivation, then waits a bounded time for the connection
// to reach the deactivated state or disappear.
bool take_down(sd_bus* bus, const std::string& path) {
  {
    Error error;
    if (sd_bus_call_method(bus, kNetwork, kNetworkPath, kNetwork, "DeactivateConnection", &error.e,
                           nullptr, "o", path.c_str()) < 0)
      return sd_bus_error_has_name(&error.e, kNotActiveError) != 0 || object_gone(error.e);
  }
  const std::uint32_t start = tick_ms();
  for (;;) {
    Error error;
    std::uint32_t state = 0;
    if (sd_bus_get_property_trivial(bus, kNetwork, path.c_str(), kActiveConnection, "State",
                                    &error.e, 'u', &state) < 0)
      return object_gone(error.e);
    if (state == kStateDeactivated) return true;
    if (tick_ms() - start >= static_cast<std::uint32_t>(DbusPower::kHangUpWaitMs)) return false;
    sleep_ms(kPollMs);
  }
}

}  // namespace

int DbusPower::log_off() {
  Bus bus;
  if (bus.get() == nullptr) return -1;
  {
    Error error;
    Reply reply;
    // PID 0 lets the login manager find the caller from its bus credentials.
    if (sd_bus_call_method(bus.get(), kLogin, kLoginPath, kLoginManager, "GetSessionByPID",
                           &error.e, &reply.m, "u", 0u) >= 0) {
      const char* session = nullptr;
      if (sd_bus_message_read(reply.m, "o", &session) < 0) return -1;
      Error terminate_error;
      return sd_bus_call_method(bus.get(), kLogin, session, kLoginSession, "Terminate",
                                &terminate_error.e, nullptr, nullptr) >= 0
                 ? 0
                 : -1;
    }
  }
  // Not inside a session itself (started by a service manager, say): the
  // session the environment names is the user's.
  const char* id = std::getenv("XDG_SESSION_ID");
  if (id == nullptr || *id == '\0') return -1;
  Error error;
  return sd_bus_call_method(bus.get(), kLogin, kLoginPath, kLoginManager, "TerminateSession",
                            &error.e, nullptr, "s", id) >= 0
             ? 0
             : -1;
}

int DbusPower::power_off() {
  return login_manager_call("PowerOff");
}
int DbusPower::reboot() {
  return login_manager_call("Reboot");
}
int DbusPower::suspend() {
  return login_manager_call("Suspend");
}
int DbusPower::hibernate() {
  return login_manager_call("Hibernate");
}

int DbusPower::hang_up_dialup() {
  Bus bus;
  if (bus.get() == nullptr) return 0;
  // Asked first so that a stopped network manager is not started by bus
  // activation only to report that nothing is up.
  bool running = false;
  if (!network_manager_running(bus.get(), running)) return 0;
  if (!running) return 1;
  std::vector<std::string> paths;
  if (!active_connections(bus.get(), paths)) return 0;
  bool every_one_down = true;
  for (const std::string& path : paths) {
    std::string type;
    switch (connection_type(bus.get(), path, type)) {
      case TypeRead::kGone:
        continue;
      case TypeRead::kFailed:
        every_one_down = false;
        continue;
      case TypeRead::kRead:
        break;
    }
    if (is_dialup(type) && !take_down(bus.get(), path)) every_one_down = false;
  }
  return every_one_down ? 1 : 0;
}

}  // namespace torvane::platform
