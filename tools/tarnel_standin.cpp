// tarnel-standin: a small stand-in for the Tarnel application on the D-Bus
// session bus, for tests and the demo. It observes "dev.tarnel.command"
// requests (signal /dev/tarnel dev.tarnel.command, one string), keeps a
// keep-awake state in memory and answers every request, heartbeats included,
// with a one-line "dev.tarnel.status" reply. Options make it misbehave the
// ways the tests need. It speaks D-Bus itself, apart from the program's own
// notification center; tarnel-standin-foundation is its Foundation twin.
#include <signal.h>
#include <systemd/sd-bus.h>
#include <systemd/sd-event.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "standin_app.h"

namespace {

struct Standin {
  standin::App& core;
  sd_bus* bus = nullptr;
  sd_event* event = nullptr;
};

void sendReply(Standin& app, const std::string& text) {
  sd_bus_message* message = nullptr;
  int r = sd_bus_message_new_signal(app.bus, &message, "/dev/tarnel", "dev.tarnel", "status");
  if (r >= 0) {
    if (app.core.options().nonString)
      r = sd_bus_message_append(message, "i", 42);
    else if (!app.core.options().noArg)
      r = sd_bus_message_append(message, "s", text.c_str());
  }
  if (r >= 0) r = sd_bus_send(app.bus, message, nullptr);
  if (r < 0) fprintf(stderr, "tarnel-standin: cannot send a reply: %s\n", strerror(-r));
  sd_bus_message_unref(message);
}

/// The replies to one request, sent together once their delay is over.
struct PendingReplies {
  Standin* app;
  std::vector<std::string> texts;
};

void sendAll(const PendingReplies& pending) {
  for (const auto& text : pending.texts) sendReply(*pending.app, text);
}

int onDelayOver(sd_event_source*, uint64_t, void* userdata) {
  sendAll(*static_cast<PendingReplies*>(userdata));
  return 0;
}

void deletePending(void* userdata) { delete static_cast<PendingReplies*>(userdata); }

int onCommand(sd_bus_message* message, void* userdata, sd_bus_error*) {
  auto& app = *static_cast<Standin*>(userdata);
  const char* command = nullptr;
  if (sd_bus_message_read(message, "s", &command) <= 0) return 0;  // not a command
  auto* pending = new PendingReplies{&app, app.core.handle(command)};
  if (pending->texts.empty()) {
    delete pending;
    return 0;
  }
  if (app.core.options().delayMs == 0) {
    sendAll(*pending);
    delete pending;
    return 0;
  }
  sd_event_source* timer = nullptr;
  uint64_t delayUs = static_cast<uint64_t>(app.core.options().delayMs) * 1000;
  int r = sd_event_add_time_relative(app.event, &timer, CLOCK_MONOTONIC, delayUs, 0, onDelayOver, pending);
  if (r < 0) {
    delete pending;
    fprintf(stderr, "tarnel-standin: cannot delay a reply: %s\n", strerror(-r));
    return 0;
  }
  sd_event_source_set_destroy_callback(timer, deletePending);
  sd_event_source_set_floating(timer, 1);
  sd_event_source_unref(timer);
  return 0;
}

int onQuit(sd_event_source* source, const struct signalfd_siginfo*, void*) {
  return sd_event_exit(sd_event_source_get_event(source), 0);
}

int fail(const char* what, int r) {
  fprintf(stderr, "tarnel-standin: %s: %s\n", what, strerror(-r));
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  auto options = standin::parseOptions(argc, argv);
  if (!options) return 2;
  standin::App standin(*options);
  if (!standin.ok()) return fail("cannot open the log", -errno);
  Standin app{standin};

  sigset_t quitSignals;
  sigemptyset(&quitSignals);
  sigaddset(&quitSignals, SIGTERM);
  sigaddset(&quitSignals, SIGINT);
  sigprocmask(SIG_BLOCK, &quitSignals, nullptr);

  int r = sd_event_default(&app.event);
  if (r < 0) return fail("cannot make an event loop", r);
  for (int signal : {SIGTERM, SIGINT})
    if ((r = sd_event_add_signal(app.event, nullptr, signal, onQuit, nullptr)) < 0)
      return fail("cannot watch for signals", r);

  if ((r = sd_bus_open_user(&app.bus)) < 0) return fail("cannot connect to the session bus", r);
  // The stand-in goes when its bus goes.
  if ((r = sd_bus_set_exit_on_disconnect(app.bus, 1)) < 0) return fail("cannot set up the bus", r);
  // Synchronous: once it returns the match is in place and the tests may post.
  sd_bus_slot* slot = nullptr;
  r = sd_bus_match_signal(app.bus, &slot, nullptr, nullptr, "dev.tarnel", "command", onCommand, &app);
  if (r < 0) return fail("cannot observe requests", r);
  if ((r = sd_bus_attach_event(app.bus, app.event, SD_EVENT_PRIORITY_NORMAL)) < 0)
    return fail("cannot attach the bus", r);

  fputs("ready\n", stdout);
  fflush(stdout);

  r = sd_event_loop(app.event);
  sd_bus_slot_unref(slot);
  sd_bus_flush_close_unref(app.bus);
  sd_event_unref(app.event);
  return r < 0 ? fail("event loop failed", r) : 0;
}
