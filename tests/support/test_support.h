// What the end-to-end tests share: scratch directories, and running programs
// and reading what they print.
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

/// Whether the shell finds `program` on PATH: a test that needs a missing one skips.
bool onPath(const std::string& program);

std::string readFile(const std::filesystem::path& path);
void writeFile(const std::filesystem::path& path, const std::string& bytes);

}  // namespace testing_support
