#include "daemon/inhibitor.h"

#include <fcntl.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cstring>

namespace tarneld {
namespace {

constexpr const char* logind = "org.freedesktop.login1";

/// No call to logind may hold up the daemon's answers for long.
constexpr uint64_t callTimeoutUs = 5'000'000;

/// `error` in plain words: logind's absence is the usual case, in a container.
std::string describe(const sd_bus_error& error, int r) {
  if (sd_bus_error_has_names(&error, SD_BUS_ERROR_SERVICE_UNKNOWN, SD_BUS_ERROR_NAME_HAS_NO_OWNER))
    return "systemd-logind is not running";
  return "systemd-logind refused the lock (" + std::string(error.message ? error.message : strerror(-r)) + ")";
}

}  // namespace

Inhibitor::~Inhibitor() {
  release();
  sd_bus_flush_close_unref(bus_);
}

sd_bus* Inhibitor::bus() {
  if (bus_ && sd_bus_is_open(bus_) > 0) return bus_;
  bus_ = sd_bus_flush_close_unref(bus_);
  int r = sd_bus_open_system(&bus_);
  if (r >= 0) r = sd_bus_set_method_call_timeout(bus_, callTimeoutUs);
  if (r < 0) {
    bus_ = sd_bus_flush_close_unref(bus_);
    problem_ = "no system bus (" + std::string(strerror(-r)) + ")";
  }
  return bus_;
}

void Inhibitor::probe() {
  sd_bus* system = bus();
  if (!system) return;
  sd_bus_error error = SD_BUS_ERROR_NULL;
  sd_bus_message* reply = nullptr;
  int r = sd_bus_call_method(system, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                             "GetNameOwner", &error, &reply, "s", logind);
  problem_ = r < 0 ? describe(error, r) : "";
  sd_bus_error_free(&error);
  sd_bus_message_unref(reply);
}

bool Inhibitor::take(const std::string& why) {
  if (fd_ >= 0) return true;
  sd_bus* system = bus();
  if (!system) return false;
  sd_bus_error error = SD_BUS_ERROR_NULL;
  sd_bus_message* reply = nullptr;
  int r = sd_bus_call_method(system, logind, "/org/freedesktop/login1", "org.freedesktop.login1.Manager", "Inhibit",
                             &error, &reply, "ssss", "sleep:idle", "Tarnel", why.c_str(), "block");
  int fd = -1;
  if (r >= 0) r = sd_bus_message_read(reply, "h", &fd);
  // The descriptor belongs to the reply: ours is a copy that outlives it.
  if (r >= 0 && (fd_ = fcntl(fd, F_DUPFD_CLOEXEC, 3)) < 0) r = -errno;
  problem_ = r < 0 ? describe(error, r) : "";
  sd_bus_error_free(&error);
  sd_bus_message_unref(reply);
  return fd_ >= 0;
}

void Inhibitor::release() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

}  // namespace tarneld
