// What the end-to-end tests share: scratch directories, running programs and
// reading what they print, and a notification center of the tests' own.
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

using namespace std::chrono_literals;

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

/// A program running in the background, standard input closed, its standard
/// output and error going to files.
struct Started {
  pid_t pid;
  FILE* out;
  FILE* err;
  std::chrono::steady_clock::time_point start;
};

/// Starts `argv`; argv[0] is looked up on PATH.
Started start(const std::vector<std::string>& argv, const EnvChanges& env = {});
/// Waits for `child`, killing it after `limit`, and returns what it printed.
RunResult finish(const Started& child, std::chrono::seconds limit = 20s);
/// Kills `child` and returns what it printed.
RunResult stop(const Started& child);
/// What `child` has printed on standard output so far, once that holds `text` (or after `limit`).
std::string output(const Started& child, const std::string& text, std::chrono::milliseconds limit = 10s);
/// Runs `argv` to its end.
RunResult run(const std::vector<std::string>& argv, const EnvChanges& env = {}, std::chrono::seconds limit = 20s);

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
  std::optional<Started> daemon_;
};

}  // namespace testing_support
