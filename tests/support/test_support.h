// What the end-to-end tests share: scratch directories, running a program and
// capturing what it prints, and a private notification center.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdio>
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

/// A program started in the background whose output goes to files.
struct Started {
  pid_t pid;
  FILE* out;
  FILE* err;
  std::chrono::steady_clock::time_point start;
};
Started start(const std::vector<std::string>& argv, const EnvChanges& env = {});

/// Waits for `child` (killing it after `limit`) and returns what it printed.
RunResult finish(const Started& child, std::chrono::seconds limit = std::chrono::seconds(20));

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

/// Where notifications travel: the D-Bus session bus, or Foundation's
/// distributed notification center (gdnc through GNUstep, distnoted on macOS).
enum class CenterKind { dbus, foundation };

/// A notification center of the tests' own, stopped when destroyed: a private
/// `dbus-daemon --session`, or a private `gdnc`, which GNUstep finds through the
/// port names under $TMP. macOS has one distnoted per user: that one is used.
class PrivateCenter {
public:
  explicit PrivateCenter(CenterKind kind);
  ~PrivateCenter();
  PrivateCenter(const PrivateCenter&) = delete;
  PrivateCenter& operator=(const PrivateCenter&) = delete;

  /// The environment change that points a child at this center.
  const EnvChanges& env() const { return env_; }
  /// Freezes the daemon (SIGSTOP): connections are accepted but never answered.
  void pause();

private:
  TempDir dir_;
  EnvChanges env_;
  pid_t pid_ = -1;
};

}  // namespace testing_support
