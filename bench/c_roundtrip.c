/* Baseline for a request: a minimal C sd-bus client that listens for
 * dev.tarnel.status, sends "status" and prints the first reply. */
#include <stdio.h>
#include <string.h>
#include <systemd/sd-bus.h>

static int onStatus(sd_bus_message *m, void *userdata, sd_bus_error *error) {
  (void)error;
  const char *text = NULL;
  if (sd_bus_message_read(m, "s", &text) > 0) {
    puts(text);
    *(int *)userdata = 1;
  }
  return 0;
}

int main(void) {
  sd_bus *bus = NULL;
  int done = 0;
  if (sd_bus_open_user(&bus) < 0) return 1;
  sd_bus_match_signal_async(bus, NULL, NULL, NULL, "dev.tarnel", "status", onStatus, NULL, &done);
  sd_bus_emit_signal(bus, "/dev/tarnel", "dev.tarnel", "command", "s", "status");
  for (int rounds = 0; !done && rounds < 1000; ++rounds) {
    int r = sd_bus_process(bus, NULL);
    if (r < 0) break;
    if (r == 0) sd_bus_wait(bus, 2000000);
  }
  sd_bus_close_unref(bus);
  return done ? 0 : 1;
}
