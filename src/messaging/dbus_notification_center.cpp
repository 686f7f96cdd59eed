// The user's notification center on Linux: signals on the D-Bus session bus.
//
// A notification carrying the string O is a signal (signal_address.h) with the
// single string argument O.
//
// Every wait is bounded. The heartbeat runs before each tool call of an AI
// agent, so a session bus that is missing must cost it next to nothing, one
// that accepts the connection but never answers no more than `handOverLimit`,
// and neither an error.
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <utility>

#include "messaging/notification_center.h"
#include "messaging/signal_address.h"

namespace {

using Clock = std::chrono::steady_clock;

/// Microseconds left until `deadline`, 0 when it has passed.
uint64_t microsecondsUntil(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<uint64_t>(left) : 0;
}

struct BusCloser {
  void operator()(sd_bus* bus) const { sd_bus_close_unref(bus); }
};
using BusPtr = std::unique_ptr<sd_bus, BusCloser>;

struct SlotUnref {
  void operator()(sd_bus_slot* slot) const { sd_bus_slot_unref(slot); }
};
using SlotPtr = std::unique_ptr<sd_bus_slot, SlotUnref>;

/// Whether `address`, which gave `error`, may be a bus address: sd-bus
/// refuses a malformed one (EINVAL), and passes over each part of it that
/// names no transport it knows, to refuse the connection in the end.
bool isBusAddress(std::string_view address, int error) {
  if (error == -EINVAL) return false;
  for (std::size_t at = 0;; at = address.find(';', at) + 1) {  // each part, after the ";" before it
    for (std::string_view transport : {"unix:", "tcp:", "unixexec:", "x-machine-unix:"})
      if (address.substr(at).starts_with(transport)) return true;
    if (address.find(';', at) == std::string_view::npos) return false;
  }
}

/// Why the session bus cannot be reached (`error`, a negative errno), and what to do.
std::string missingBus(int error) {
  const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  std::string why = "neither DBUS_SESSION_BUS_ADDRESS nor XDG_RUNTIME_DIR is set";
  if (address && *address && !isBusAddress(address, error))
    return "no session bus: DBUS_SESSION_BUS_ADDRESS is \"" + std::string(address) + "\", which is not a valid bus " +
           "address — set it to one, such as unix:path=/run/user/" + std::to_string(getuid()) + "/bus, or unset it";
  if (address && *address)
    why = "DBUS_SESSION_BUS_ADDRESS is " + std::string(address) + ": " + std::strerror(-error);
  else if (runtime && *runtime)
    why = "DBUS_SESSION_BUS_ADDRESS is not set, and there is no bus at " + std::string(runtime) + "/bus (XDG_RUNTIME_DIR): " +
          std::strerror(-error);
  else if (runtime)
    why = "DBUS_SESSION_BUS_ADDRESS is not set, and XDG_RUNTIME_DIR is empty";
  return "no session bus: " + why + " — run this in your login session, and start Tarnel there: systemctl --user start tarneld";
}

/// The session bus as a notification center. Without a bus it posts nothing
/// and its `run` returns at once.
class DBusNotificationCenter final : public NotificationCenter {
public:
  /// `bus`, or null and the error that sd_bus_open_user gave.
  DBusNotificationCenter(BusPtr bus, int error) : bus_(std::move(bus)), error_(error) {}
  ~DBusNotificationCenter() override {
    removeObserver();
    awaitHandOver();
  }

  void post(std::string_view name, const std::string& object) override {
    if (!bus_) return;
    auto address = signalAddress(name);
    // Nothing to report when it fails: a post nobody hears has no result either.
    if (sd_bus_emit_signal(bus_.get(), address.path.c_str(), address.interface.c_str(), address.member.c_str(), "s",
                           object.c_str()) < 0)
      return;
    // Written is not yet handed over: dbus-daemon can drop what a client wrote but
    // it has not read yet when that client goes away without reading what the
    // daemon sent it (the answer to its Hello). The bus handles a connection's
    // messages in order, so its answer to a ping sent after the signal is the
    // proof that the signal has gone on to its observers.
    sd_bus_slot* slot = nullptr;
    if (sd_bus_call_method_async(bus_.get(), &slot, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                 "org.freedesktop.DBus.Peer", "Ping", &DBusNotificationCenter::handedOver, this,
                                 nullptr) < 0)
      return;
    handOver_.reset(slot);
    handOverDeadline_ = Clock::now() + handOverLimit;
  }

  void addObserver(std::string_view name, Observer observer) override {
    removeObserver();
    if (!bus_) return;
    auto address = signalAddress(name);
    sd_bus_slot* slot = nullptr;
    // Asynchronous, so nothing waits for the daemon's answer; the daemon handles
    // our messages in order, so the match is in place before a later post.
    int r = sd_bus_match_signal_async(bus_.get(), &slot, nullptr, nullptr, address.interface.c_str(),
                                      address.member.c_str(), &DBusNotificationCenter::deliver, nullptr, this);
    if (r < 0) return;
    slot_.reset(slot);
    observer_ = std::move(observer);
  }

  void removeObserver() override {
    slot_.reset();
    observer_ = nullptr;
  }

  RunEnd run(std::chrono::duration<double> timeout) override {
    stopped_ = false;
    if (!bus_) return {false, missingBus(error_)};
    auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(timeout);
    for (;;) {
      uint64_t left = microsecondsUntil(deadline);
      int r = sd_bus_process(bus_.get(), nullptr);
      if (r < 0) return {false, missingBus(r)};  // the connection is gone: nothing more can come
      // After `stop`, what has already arrived is still handled, as a run loop
      // finishes the batch it is in; only then does the run end.
      if (r > 0 && left > 0) continue;
      if (stopped_ || left == 0) return {};
      r = sd_bus_wait(bus_.get(), left);
      if (r < 0 && r != -EINTR) return {false, missingBus(r)};
    }
  }

  void stop() override { stopped_ = true; }

private:
  /// Processes the bus (the handshake first, if it is still going on) until it
  /// has answered the last post's ping, or that post's `handOverLimit` is over.
  void awaitHandOver() {
    while (handOver_) {
      uint64_t left = microsecondsUntil(handOverDeadline_);
      if (left == 0) return;
      int r = sd_bus_process(bus_.get(), nullptr);
      if (r < 0) return;
      if (r > 0) continue;
      r = sd_bus_wait(bus_.get(), left);
      if (r < 0 && r != -EINTR) return;
    }
  }

  /// Any answer to a post's ping ends the wait: the bus's, an error too, means that
  /// everything posted before it has been handed over; sd-bus's own, when the
  /// connection is gone, that nothing more can be.
  static int handedOver(sd_bus_message*, void* userdata, sd_bus_error*) {
    static_cast<DBusNotificationCenter*>(userdata)->handOver_.reset();
    return 0;
  }

  /// Hands the string argument of a matching signal to the observer; a signal
  /// whose first argument is not a string, or that has none, is no notification.
  static int deliver(sd_bus_message* message, void* userdata, sd_bus_error*) {
    auto* self = static_cast<DBusNotificationCenter*>(userdata);
    char type = 0;
    if (sd_bus_message_peek_type(message, &type, nullptr) <= 0 || type != SD_BUS_TYPE_STRING) return 0;
    const char* text = nullptr;
    if (sd_bus_message_read_basic(message, SD_BUS_TYPE_STRING, &text) < 0 || !text) return 0;
    if (!self->observer_) return 0;
    try {
      self->observer_(text);
    } catch (const std::exception&) {
      return -ENOMEM;  // no exception may cross the C library
    }
    return 0;
  }

  BusPtr bus_;
  int error_;
  SlotPtr slot_;
  Observer observer_;
  bool stopped_ = false;
  SlotPtr handOver_;                      ///< the last post's ping, until the bus answers it
  Clock::time_point handOverDeadline_{};  ///< when the last post's `handOverLimit` runs out
};

}  // namespace

std::unique_ptr<NotificationCenter> defaultCenter() {
  // sd_bus_open_user only starts connecting: it neither blocks nor waits for
  // the daemon. No session bus at all leaves a center that does nothing.
  sd_bus* bus = nullptr;
  int r = sd_bus_open_user(&bus);
  if (r < 0) bus = nullptr;
  return std::make_unique<DBusNotificationCenter>(BusPtr(bus), r);
}
