// What the end-to-end tests share: scratch directories, running a program and
// capturing what it prints, and a private D-Bus session bus.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace testing_support {

/// A fresh directory under the system's temporary directory, removed with its contents.
class TempDir {
public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }

private:
  std::filesystem::path path_;
};

struct RunResult {
  std::string out;
  std::string err;
  int status = -1;  ///< exit status, or 128 + signal number
  std::chrono::duration<double> elapsed{};
};

/// Changes to the child's environment: a value sets the variable, nothing unsets it.
using EnvChanges = std::map<std::string, std::optional<std::string>>;

/// Runs `argv` (argv[0] is looked up on PATH) with standard input closed,
/// waits for it (killing it after `limit`) and returns what it printed.
RunResult run(const std::vector<std::string>& argv, const EnvChanges& env = {},
              std::chrono::seconds limit = std::chrono::seconds(20));

/// Starts `argv` in the background with the given environment; its standard
/// output is a pipe whose read end is returned in `stdoutFd` when asked for,
/// otherwise /dev/null, as is its standard error.
pid_t spawn(const std::vector<std::string>& argv, const EnvChanges& env = {}, int* stdoutFd = nullptr);

/// Reads one line (without its newline) from `fd`, waiting at most `limit`.
std::optional<std::string> readLine(int fd, std::chrono::milliseconds limit);

/// Stops `pid` with SIGKILL and reaps it.
void killAndReap(pid_t pid);

std::string readFile(const std::filesystem::path& path);
void writeFile(const std::filesystem::path& path, const std::string& bytes);

/// A private `dbus-daemon --session` of its own, stopped when destroyed.
class PrivateBus {
public:
  PrivateBus();
  ~PrivateBus();
  PrivateBus(const PrivateBus&) = delete;
  PrivateBus& operator=(const PrivateBus&) = delete;

  /// The address to put into DBUS_SESSION_BUS_ADDRESS.
  const std::string& address() const { return address_; }
  /// The environment change that points a child at this bus.
  EnvChanges env() const { return {{"DBUS_SESSION_BUS_ADDRESS", address_}}; }
  /// Freezes the daemon (SIGSTOP): connections are accepted but never answered.
  void pause();
  void resume();

private:
  TempDir dir_;
  std::string address_;
  pid_t pid_ = -1;
};

}  // namespace testing_support
