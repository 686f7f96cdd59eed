// A lock from systemd-logind that keeps the machine from sleeping and from
// going idle. The lock is the file descriptor that logind hands out: holding it
// open holds the lock, closing it releases it, and a daemon that dies releases
// it with its descriptors, so it cannot leak.
#pragma once

#include <string>

struct sd_bus;

namespace tarneld {

class Inhibitor {
public:
  Inhibitor() = default;
  ~Inhibitor();
  Inhibitor(const Inhibitor&) = delete;
  Inhibitor& operator=(const Inhibitor&) = delete;

  /// Asks whether logind can be reached, without taking anything; `problem` tells.
  void probe();
  /// Takes the lock, naming `why`, unless it is held. False when logind cannot give it; `problem` says why.
  bool take(const std::string& why);
  /// Closes the lock, if held.
  void release();
  bool held() const { return fd_ >= 0; }
  /// Why the machine cannot be kept awake, as found by the last `probe` or `take`; empty when it can.
  const std::string& problem() const { return problem_; }

private:
  /// The system bus, connected if need be; null (with `problem` set) when there is none.
  sd_bus* bus();

  sd_bus* bus_ = nullptr;
  int fd_ = -1;
  std::string problem_;
};

}  // namespace tarneld
