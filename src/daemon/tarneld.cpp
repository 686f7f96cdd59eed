// tarneld: the Tarnel keep-awake application of a Linux session. It observes
// "dev.tarnel.command" on the user's session bus (the signals tarnelctl
// posts), answers every command but a heartbeat with one "dev.tarnel.status",
// and holds one logind inhibitor exactly while a manual hold, a timer or an
// agent at work holds. What holds, and until when, is KeepAwake's business;
// this file is the bus, the clock, the signals and the journal (standard error).
#include <signal.h>
#include <systemd/sd-bus.h>
#include <systemd/sd-event.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "cli/version.h"
#include "daemon/daemon_settings.h"
#include "daemon/inhibitor.h"
#include "daemon/keep_awake.h"
#include "messaging/app_messaging.h"
#include "messaging/signal_address.h"

namespace {

using namespace tarneld;
using std::chrono::system_clock;

constexpr const char* usageText =
    "usage: tarneld [--version]\n"
    "Keeps this machine awake while Tarnel's commands ask for it; started by systemd:\n"
    "  systemctl --user enable --now tarneld\n";

/// Owning it makes a second daemon on the same session bus refuse to start.
constexpr const char* busName = "dev.tarnel.tarneld";

/// The tests' hand on the clock: with --test-clock, a notification of this name
/// carrying "N" moves the daemon's clock N minutes ahead. Nothing else turns it on.
constexpr std::string_view clockName = "dev.tarnel.clock";

struct Daemon {
  KeepAwake state;
  Inhibitor inhibitor;
  std::string settingsFile;
  LoadedSettings settings;
  sd_bus* bus = nullptr;
  sd_event_source* timer = nullptr;
  SignalAddress reply = signalAddress(statusName);
  system_clock::duration ahead{};  ///< how far the test clock runs ahead of the real one
  bool wasHolding = false;
  std::string lastLogged;  ///< the journal's last line about the lock

  TimePoint now() const { return system_clock::now() + ahead; }

  Daemon() = default;
  Daemon(const Daemon&) = delete;
  Daemon& operator=(const Daemon&) = delete;
  ~Daemon() {
    sd_event_source_unref(timer);
    sd_bus_flush_close_unref(bus);
  }
};

void loadSettings(Daemon& d) {
  d.settings = tarneld::loadSettings(d.settingsFile);
  d.state.setSettings(d.settings.settings);
  if (!d.settings.problem.empty()) fprintf(stderr, "settings: %s\n", d.settings.problem.c_str());
}

/// Writes `line` to the journal when it says something new: a lock refused on
/// every request is logged once, until something else happens.
void journal(Daemon& d, const std::string& line) {
  if (line == d.lastLogged) return;
  d.lastLogged = line;
  fprintf(stderr, "%s\n", line.c_str());
}

/// Brings the inhibitor and the timer in line with the state. The lock is
/// asked for when a hold begins, and again on any command but a heartbeat if
/// logind refused it: a heartbeat never waits for logind.
void settle(Daemon& d, bool retry) {
  TimePoint now = d.now();
  bool holding = d.state.holding(now);
  if (holding && !d.inhibitor.held() && (!d.wasHolding || retry)) {
    std::string why = d.state.reason(now);
    if (d.inhibitor.take(why))
      journal(d, "keeping the machine awake: " + why);
    else
      journal(d, "cannot keep the machine awake: " + d.inhibitor.problem());
  } else if (!holding && d.inhibitor.held()) {
    d.inhibitor.release();
    journal(d, "nothing holds: the machine may sleep");
  }
  d.wasHolding = holding;
  if (auto end = d.state.nextEnd(now)) {
    auto usec = std::chrono::ceil<std::chrono::microseconds>((*end - d.ahead).time_since_epoch()).count();
    (void)sd_event_source_set_time(d.timer, static_cast<uint64_t>(usec));
    (void)sd_event_source_set_enabled(d.timer, SD_EVENT_ONESHOT);
  } else {
    (void)sd_event_source_set_enabled(d.timer, SD_EVENT_OFF);
  }
}

/// The status line with what keeps the daemon from doing its job.
std::string statusReply(const Daemon& d, TimePoint now) {
  std::string text = d.state.status(now);
  if (!d.inhibitor.problem().empty()) text += "; cannot keep the machine awake: " + d.inhibitor.problem();
  if (!d.settings.problem.empty()) text += "; settings: " + d.settings.problem;
  return text;
}

/// The string argument of `message`, or null when it has none.
const char* stringArgument(sd_bus_message* message) {
  char type = 0;
  const char* text = nullptr;
  if (sd_bus_message_peek_type(message, &type, nullptr) <= 0 || type != SD_BUS_TYPE_STRING) return nullptr;
  return sd_bus_message_read_basic(message, SD_BUS_TYPE_STRING, &text) < 0 ? nullptr : text;
}

int onCommand(sd_bus_message* message, void* userdata, sd_bus_error*) {
  auto& d = *static_cast<Daemon*>(userdata);
  const char* command = stringArgument(message);
  if (!command) return 0;
  TimePoint now = d.now();
  Outcome outcome = d.state.apply(command, now);
  settle(d, outcome != Outcome::heartbeat);
  if (outcome == Outcome::heartbeat) return 0;
  std::string text = outcome == Outcome::unknown ? unknownCommand(command) : statusReply(d, now);
  int r = sd_bus_emit_signal(d.bus, d.reply.path.c_str(), d.reply.interface.c_str(), d.reply.member.c_str(), "s",
                             text.c_str());
  if (r < 0) fprintf(stderr, "cannot send a reply: %s\n", strerror(-r));
  return 0;
}

int onClock(sd_bus_message* message, void* userdata, sd_bus_error*) {
  auto& d = *static_cast<Daemon*>(userdata);
  const char* minutes = stringArgument(message);
  if (!minutes || !*minutes || strspn(minutes, "0123456789") != strlen(minutes) || strlen(minutes) > 7) return 0;
  d.ahead += std::chrono::minutes(std::stol(minutes));
  settle(d, false);
  return 0;
}

int onTimer(sd_event_source*, uint64_t, void* userdata) {
  settle(*static_cast<Daemon*>(userdata), false);
  return 0;
}

int onSignal(sd_event_source* source, const struct signalfd_siginfo* info, void* userdata) {
  if (info->ssi_signo == SIGHUP) {
    loadSettings(*static_cast<Daemon*>(userdata));
    return 0;
  }
  return sd_event_exit(sd_event_source_get_event(source), 0);
}

int fail(const char* what, int r) {
  fprintf(stderr, "tarneld: %s: %s\n", what, strerror(-r));
  return 1;
}

/// Observes the notification `name` on the session bus with `handler`.
int observe(Daemon& d, std::string_view name, sd_bus_message_handler_t handler) {
  SignalAddress address = signalAddress(name);
  return sd_bus_match_signal(d.bus, nullptr, nullptr, address.path.c_str(), address.interface.c_str(),
                             address.member.c_str(), handler, &d);
}

}  // namespace

int main(int argc, char** argv) {
  bool testClock = false;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg == "--version") {
      printf("tarneld %.*s\n", static_cast<int>(programVersion.size()), programVersion.data());
      return 0;
    }
    if (arg != "--test-clock") {
      fputs(usageText, arg == "--help" || arg == "-h" ? stdout : stderr);
      return arg == "--help" || arg == "-h" ? 0 : 2;
    }
    testClock = true;
  }

  Daemon d;
  d.settingsFile = settingsPath();
  loadSettings(d);

  sigset_t handled;
  sigemptyset(&handled);
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&handled, signal);
  sigprocmask(SIG_BLOCK, &handled, nullptr);

  sd_event* event = nullptr;
  int r = sd_event_default(&event);
  if (r < 0) return fail("cannot make an event loop", r);
  std::unique_ptr<sd_event, decltype(&sd_event_unref)> ownedEvent(event, sd_event_unref);
  for (int signal : {SIGTERM, SIGINT, SIGHUP})
    if ((r = sd_event_add_signal(event, nullptr, signal, onSignal, &d)) < 0) return fail("cannot watch for signals", r);
  if ((r = sd_event_add_time(event, &d.timer, CLOCK_REALTIME, 0, 0, onTimer, &d)) < 0 ||
      (r = sd_event_source_set_enabled(d.timer, SD_EVENT_OFF)) < 0)
    return fail("cannot make a timer", r);

  if ((r = sd_bus_open_user(&d.bus)) == -ENOMEDIUM) {
    fputs("tarneld: no session bus: neither DBUS_SESSION_BUS_ADDRESS nor XDG_RUNTIME_DIR is set; "
          "start it in your login session: systemctl --user start tarneld\n", stderr);
    return 1;
  }
  if (r < 0) return fail("cannot connect to the session bus", r);
  r = sd_bus_request_name(d.bus, busName, 0);
  if (r == -EEXIST) {
    fputs("tarneld: another tarneld already runs in this session\n", stderr);
    return 1;
  }
  if (r < 0) return fail("cannot take its name on the session bus", r);
  // It goes when its bus goes: the session is over.
  if ((r = sd_bus_set_exit_on_disconnect(d.bus, 1)) < 0) return fail("cannot set up the bus", r);
  if ((r = observe(d, commandName, onCommand)) < 0) return fail("cannot observe commands", r);
  if (testClock && (r = observe(d, clockName, onClock)) < 0) return fail("cannot observe the test clock", r);
  if ((r = sd_bus_attach_event(d.bus, event, SD_EVENT_PRIORITY_NORMAL)) < 0) return fail("cannot attach the bus", r);

  d.inhibitor.probe();
  if (!d.inhibitor.problem().empty()) journal(d, "cannot keep the machine awake: " + d.inhibitor.problem());
  fputs("tarneld ready\n", stdout);
  fflush(stdout);

  r = sd_event_loop(event);
  if (d.inhibitor.held()) fputs("stopping: the machine may sleep\n", stderr);
  d.inhibitor.release();
  if (r > 0) fputs("tarneld: the session bus has gone\n", stderr);  // the bus ended the loop
  return r < 0 ? fail("event loop failed", r) : r;
}
