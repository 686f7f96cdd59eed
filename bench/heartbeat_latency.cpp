// How long a heartbeat's handshake and signal take: from opening the user's
// bus until the bus has answered the ping sent after the signal, as
// `tarnelctl busy` does it but with no time limit (and counting from the
// opening, a little before tarnelctl starts its clock), each heartbeat a new
// process of its own. Prints the percentiles that the heartbeat's bound on
// that wait is chosen from; scripts/heartbeat_load.sh runs it on a loaded machine.
// usage: bench-heartbeat-latency [COUNT]
#include <systemd/sd-bus.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "messaging/notification_center.h"

namespace {

using Clock = std::chrono::steady_clock;

bool answered = false;

int onAnswer(sd_bus_message*, void*, sd_bus_error*) {
  answered = true;
  return 0;
}

/// One heartbeat; its microseconds, or -1 when the bus failed it.
int64_t heartbeat() {
  auto start = Clock::now();
  sd_bus* bus = nullptr;
  if (sd_bus_open_user(&bus) < 0) return -1;
  int r = sd_bus_emit_signal(bus, "/dev/tarnel", "dev.tarnel", "command", "s", "busy");
  if (r >= 0)
    r = sd_bus_call_method_async(bus, nullptr, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                 "org.freedesktop.DBus.Peer", "Ping", onAnswer, nullptr, nullptr);
  // tarnelctl's wait when it closes, unbounded: until the bus has answered the ping.
  while (r >= 0 && !answered) {
    if ((r = sd_bus_process(bus, nullptr)) == 0) r = sd_bus_wait(bus, UINT64_MAX);
    if (r == -EINTR) r = 0;
  }
  sd_bus_close_unref(bus);
  if (r < 0) return -1;
  return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::string_view(argv[1]) == "--one") {  // a heartbeat's own process: its time to stdout
    int64_t us = heartbeat();
    return write(1, &us, sizeof us) == sizeof us ? 0 : 1;
  }
  long count = argc > 1 ? std::atol(argv[1]) : 5000;
  if (count <= 0) return std::fputs("usage: bench-heartbeat-latency [COUNT]\n", stderr), 2;
  int pipeFds[2];
  if (pipe(pipeFds) != 0) return std::perror("pipe"), 1;
  std::vector<int64_t> times;
  long failed = 0;
  for (long i = 0; i < count; ++i) {
    // A new program each time, as an agent starts tarnelctl: loaded, linked, then the bus.
    pid_t child = fork();
    if (child < 0) return std::perror("fork"), 1;
    if (child == 0) {
      dup2(pipeFds[1], 1);
      execl("/proc/self/exe", argv[0], "--one", static_cast<char*>(nullptr));
      _exit(127);
    }
    int status = 0;
    int64_t us = -1;
    // A child that exited 0 has written its time: the read cannot block.
    if (waitpid(child, &status, 0) < 0 || status != 0 || read(pipeFds[0], &us, sizeof us) != sizeof us || us < 0) {
      ++failed;
      continue;
    }
    times.push_back(us);
  }
  if (times.empty()) return std::fputs("no heartbeat reached the bus\n", stderr), 1;
  std::sort(times.begin(), times.end());
  auto at = [&](double q) { return static_cast<double>(times[static_cast<size_t>(q * (times.size() - 1))]) / 1000; };
  auto limit = std::chrono::duration_cast<std::chrono::microseconds>(handOverLimit).count();
  auto over = std::count_if(times.begin(), times.end(), [&](int64_t us) { return us > limit; });
  std::printf("heartbeats %zu, failed %ld; handshake and signal: p50 %.2f ms, p99 %.2f ms, p99.9 %.2f ms, max %.2f ms; "
              "over the %lld ms that tarnelctl waits: %td\n",
              times.size(), failed, at(0.5), at(0.99), at(0.999), at(1.0), static_cast<long long>(limit / 1000), over);
  return failed ? 1 : 0;
}
