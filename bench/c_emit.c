/* Baseline for the heartbeat: the least a C program can do to post one
 * "busy" notification with sd-bus (open the user bus, emit, flush, close). */
#include <systemd/sd-bus.h>

int main(void) {
  sd_bus *bus = NULL;
  if (sd_bus_open_user(&bus) < 0) return 0;
  sd_bus_emit_signal(bus, "/dev/tarnel", "dev.tarnel", "command", "s", "busy");
  sd_bus_flush(bus);
  sd_bus_close_unref(bus);
  return 0;
}
