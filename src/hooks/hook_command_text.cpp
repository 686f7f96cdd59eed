#include "hooks/hook_command_text.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#ifdef __APPLE__
#include <crt_externs.h>
#include <mach-o/dyld.h>
#endif

namespace tarnel {
namespace {

bool isSafe(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
         (c != '\0' && std::strchr("/._-+,:@%=", c));
}

// The path this program was started by, and the running executable's own.
#ifdef __APPLE__
const char* invokedAs() {
  char** argv = *_NSGetArgv();
  return argv ? argv[0] : nullptr;
}

std::string runningExecutable() {
  char path[PATH_MAX], resolved[PATH_MAX];
  uint32_t size = sizeof path;
  if (_NSGetExecutablePath(path, &size) != 0 || !realpath(path, resolved)) return "";
  return resolved;
}
#else
const char* invokedAs() { return program_invocation_name; }

std::string runningExecutable() {
  char path[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", path, sizeof path);
  return n > 0 && static_cast<size_t>(n) < sizeof path ? std::string(path, static_cast<size_t>(n)) : "";
}
#endif

bool sameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

/// Whether `path` is one of the kernel's aliases, which name another file for
/// each process that looks: run by an agent's shell, /proc/self/exe is that shell.
bool isKernelAlias(std::string_view path) { return path.starts_with("/proc/") || path.starts_with("/dev/fd/"); }

/// The text of the double-quoted piece that opens at `at`, and where it ends;
/// nothing when it holds an expansion or does not end.
std::optional<std::string> doubleQuoted(std::string_view word, size_t& at) {
  std::string text;
  for (size_t i = at + 1; i < word.size(); ++i) {
    char c = word[i];
    if (c == '"') {
      at = i + 1;
      return text;
    }
    if (c == '$' || c == '`' || c == '\0') return std::nullopt;
    if (c == '\\' && i + 1 < word.size() && word[i + 1] != '\0' && std::strchr("\"\\$`", word[i + 1])) c = word[++i];
    text += c;
  }
  return std::nullopt;
}

/// The working folder as the shell that started us names it, $PWD, when that
/// is an absolute path without "." or ".." naming this folder (as `pwd` says
/// it); otherwise as the system names it. A folder reached through a link,
/// such as macOS's /var/folders/… (/var links to /private/var), keeps the
/// link, as every other name the program was started by does.
std::optional<std::filesystem::path> workingFolder() {
  const char* named = std::getenv("PWD");
  struct stat there, here;
  if (named && *named == '/' && stat(named, &there) == 0 && stat(".", &here) == 0 && sameFile(there, here)) {
    std::filesystem::path path = named;
    if (std::none_of(path.begin(), path.end(), [](const auto& part) { return part == "." || part == ".."; }))
      return path;
  }
  std::error_code error;
  auto path = std::filesystem::current_path(error);
  return error ? std::nullopt : std::optional(path);
}

/// Where the program may have been started from: `invoked` itself when it is
/// a path (below the working folder when relative), or each place the shell
/// looks for a bare name on PATH.
std::vector<std::string> startedAs(std::string_view invoked) {
  if (invoked.starts_with('/')) return {std::string(invoked)};
  std::vector<std::string> places;
  if (auto here = workingFolder(); invoked.find('/') != std::string_view::npos && here)
    places.push_back((*here / invoked).string());
  const char* path = std::getenv("PATH");
  if (invoked.empty() || invoked.find('/') != std::string_view::npos || !path) return places;
  for (std::string_view dirs = path; !dirs.empty();) {
    std::string_view dir = dirs.substr(0, dirs.find(':'));
    dirs.remove_prefix(std::min(dirs.size(), dir.size() + 1));
    if (dir.starts_with('/')) places.push_back(std::string(dir) + "/" + std::string(invoked));
  }
  return places;
}

/// The first name along the chain of symbolic links from `started` whose last
/// component is "tarnelctl", never one of the kernel's aliases; else `running`.
std::string ourName(const std::string& started, const std::string& running, const struct stat& self) {
  namespace fs = std::filesystem;
  fs::path path = started;
  for (int hops = 0; hops < 40; ++hops) {
    std::string text = path.string();
    struct stat status;
    if (path.filename() == "tarnelctl" && !isKernelAlias(text)) {
      std::string normal = path.lexically_normal().string();  // "bin/../lib/x" names the same file unless a link says otherwise
      return stat(normal.c_str(), &status) == 0 && sameFile(status, self) ? normal : text;
    }
    std::error_code error;
    fs::path next = fs::read_symlink(path, error);
    if (error) break;
    path = next.is_absolute() ? next : path.parent_path() / next;
  }
  return running;
}

}  // namespace

std::string shellWord(std::string_view path) {
  bool safe = !path.empty();
  for (char c : path) safe = safe && isSafe(c);
  if (safe) return std::string(path);
  std::string word = "'";
  for (char c : path) word += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return word + "'";
}

std::optional<std::string> busyProgram(std::string_view command) {
  constexpr std::string_view busy = " busy";
  if (command.ends_with(neverFails)) command.remove_suffix(neverFails.size());
  if (!command.ends_with(busy) || command.size() == busy.size()) return std::nullopt;
  std::string_view word = command.substr(0, command.size() - busy.size());
  std::string program;
  for (size_t i = 0; i < word.size();) {
    char c = word[i];
    if (c == '\'') {
      size_t close = word.find('\'', i + 1);
      if (close == std::string_view::npos) return std::nullopt;
      program += word.substr(i + 1, close - i - 1);
      i = close + 1;
    } else if (c == '"') {
      auto text = doubleQuoted(word, i);
      if (!text) return std::nullopt;
      program += *text;
    } else if (c == '\\' && i + 1 < word.size() && word[i + 1] != '\0') {
      program += word[i + 1];
      i += 2;
    } else if (isSafe(c) || c == '~' || static_cast<unsigned char>(c) >= 0x80) {
      program += c;
      ++i;
    } else {
      return std::nullopt;  // a blank, an operator or an expansion: not one plain word
    }
  }
  return program;
}

std::vector<int> goneStatuses(const std::string& program) {
  struct stat status;
  if (isKernelAlias(program)) return {2, 127};
  return {stat(program.c_str(), &status) != 0 && errno == ENOENT ? 127 : 126};
}

bool isOurProgram(const std::string& program, const HookRules& rules) {
  // Only an earlier version of ours, started by such a name, wrote a kernel alias into a hook.
  return program.substr(program.rfind('/') + 1) == "tarnelctl" || rules.isRunning(program) || isKernelAlias(program);
}

HookRules runningProgramRules() {
  std::string running = runningExecutable();
  const char* invoked = invokedAs();
  struct stat self {};
  bool known = !running.empty() && stat(running.c_str(), &self) == 0;
  std::string path = known ? running : invoked && *invoked ? invoked : "tarnelctl";
  for (const std::string& candidate : startedAs(invoked ? invoked : "")) {
    struct stat status;
    if (known && stat(candidate.c_str(), &status) == 0 && sameFile(status, self)) {
      path = ourName(candidate, running, self);
      break;
    }
  }

  auto isRunning = [self, known](const std::string& program) {
    struct stat status;
    return known && !isKernelAlias(program) && stat(program.c_str(), &status) == 0 && sameFile(status, self);
  };
  auto isGone = [](const std::string& program) {  // a kernel alias runs whatever looks at it, never us
    struct stat status;
    return program.starts_with('/') && (isKernelAlias(program) || stat(program.c_str(), &status) != 0 ||
                                        !S_ISREG(status.st_mode) || access(program.c_str(), X_OK) != 0);
  };
  auto isDeadName = [](const std::string& program) {
    struct stat status;
    std::string folder = program.substr(0, program.rfind('/') + 1);
    return program.starts_with('/') && lstat(program.c_str(), &status) != 0 && errno == ENOENT &&
           stat(folder.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
  };
  return {path, shellWord(path) + " busy", isRunning, isGone, isDeadName};
}

}  // namespace tarnel
