#include "hooks/settings_store.h"
#include "util/write_all.h"

#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <new>
#include <vector>

#ifdef __APPLE__
#include <CoreFoundation/CoreFoundation.h>
#include <crt_externs.h>
#include <limits.h>
#endif

namespace tarnel {
namespace {

constexpr std::string_view refusal = " — refusing to modify it. Fix it by hand first.";
constexpr std::string_view backupSuffix = ".tarnel-backup";

/// How error messages name the file, whatever the home directory is.
std::string shortName(const AgentFile& agent) { return "~/" + std::string(agent.relativePath); }

[[noreturn]] void fail(const AgentFile& agent, std::string_view reason) {
  throw SettingsError(shortName(agent) + ": " + std::string(reason));
}

[[noreturn]] void failWithErrno(const AgentFile& agent, int error) { fail(agent, std::strerror(error)); }

/// Install found a value it must not overwrite.
[[noreturn]] void refuse(const AgentFile& agent, const std::string& what) {
  fail(agent, what + std::string(refusal));
}

std::string homeDirectory() {
  if (const char* home = std::getenv("HOME")) return home;
  if (const passwd* user = getpwuid(getuid()); user && user->pw_dir) return user->pw_dir;
  return "/";
}

// The path this program was started by, and the running executable's own.
#ifdef __APPLE__
const char* invokedAs() {
  char** argv = *_NSGetArgv();
  return argv ? argv[0] : nullptr;
}

std::string runningExecutable() {
  std::string path;
  if (CFBundleRef bundle = CFBundleGetMainBundle()) {
    if (CFURLRef url = CFBundleCopyExecutableURL(bundle)) {
      UInt8 buffer[PATH_MAX];
      if (CFURLGetFileSystemRepresentation(url, true, buffer, sizeof buffer))
        path = reinterpret_cast<const char*>(buffer);
      CFRelease(url);
    }
  }
  return path;
}
#else
const char* invokedAs() { return program_invocation_name; }

std::string runningExecutable() {
  std::error_code error;
  return std::filesystem::read_symlink("/proc/self/exe", error).string();
}
#endif

bool sameFile(const char* a, const std::string& b) {
  struct stat first, second;
  return stat(a, &first) == 0 && stat(b.c_str(), &second) == 0 && first.st_dev == second.st_dev &&
         first.st_ino == second.st_ino;
}

/// Reads the whole file behind `fd`; false with errno set on failure.
bool readAll(int fd, std::string& bytes, size_t expected) {
  bytes.resize(expected + 1);
  size_t filled = 0;
  for (;;) {
    if (filled == bytes.size()) bytes.resize(bytes.size() * 2);
    ssize_t n = read(fd, bytes.data() + filled, bytes.size() - filled);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    filled += static_cast<size_t>(n);
  }
  bytes.resize(filled);
  return true;
}

/// The first copy of a settings file, never more readable than the file.
/// Best effort: an existing backup stays, and a failed copy leaves none.
void backUp(const std::string& backupPath, std::string_view bytes, mode_t mode) {
  int fd = open(backupPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode & 0777);
  if (fd < 0) return;
  bool copied = fchmod(fd, mode & 0777) == 0 && writeAll(fd, bytes) && fsync(fd) == 0;
  if (close(fd) != 0 || !copied) unlink(backupPath.c_str());
}

/// The file that a write to `path` should replace: the end of a chain of
/// symbolic links (which may not exist yet), or `path` itself.
std::string linkTarget(const AgentFile& agent, std::filesystem::path path) {
  for (int hops = 0; hops < 40; ++hops) {
    struct stat status;
    if (lstat(path.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) return path.string();
    std::error_code error;
    auto next = std::filesystem::read_symlink(path, error);
    if (error) fail(agent, error.message());
    path = next.is_absolute() ? next : path.parent_path() / next;
  }
  failWithErrno(agent, ELOOP);
}

/// Replaces `path` with the text of `root` through a flushed temporary file
/// beside it: readers see the old file or the new one, and a failure leaves the old one.
void writeAtomically(const AgentFile& agent, const std::string& path, const json& root, mode_t mode) {
  std::filesystem::path target(path);
  std::string leaf = target.filename().string();
  leaf.insert(0, 1, '.').append(".tarnel-XXXXXX");  // hidden, beside the file
  std::string temporary = (target.parent_path() / leaf).string();
  int fd = mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) failWithErrno(agent, errno);
  try {
    serializeJson(root, [&](std::string_view piece) {
      if (!writeAll(fd, piece)) failWithErrno(agent, errno);
    });
    if (fchmod(fd, mode) != 0 || fsync(fd) != 0) failWithErrno(agent, errno);
  } catch (const SettingsError&) {
    close(fd);
    unlink(temporary.c_str());
    throw;
  } catch (const std::runtime_error& unwritable) {
    close(fd);
    unlink(temporary.c_str());
    fail(agent, unwritable.what());
  }
  if (close(fd) != 0 || rename(temporary.c_str(), path.c_str()) != 0) {
    int error = errno;
    unlink(temporary.c_str());
    failWithErrno(agent, error);
  }
  if (int dir = open(target.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
    fsync(dir);  // make the rename itself durable; nothing to do if it fails
    close(dir);
  }
}

mode_t defaultFileMode() {
  mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

std::string_view entryWord(const AgentFile& agent) {
  return agent.layout == Layout::hookGroups ? "hook groups" : "hook entries";
}

/// The element that install appends to an event list.
json ourElement(const AgentFile& agent, const std::string& hookCommand) {
  json handler = agent.ourHandler(hookCommand);
  if (agent.layout == Layout::flatEntries) return handler;
  json group = json::object();
  group["hooks"] = json::array({std::move(handler)});
  return group;
}

/// Takes the program's handlers out of one event list, drops the groups that
/// this leaves without handlers, and returns how many handlers went.
size_t removeOurs(const AgentFile& agent, json& list) {
  size_t removed = 0;
  json kept = json::array();
  for (json& element : list) {
    if (agent.layout == Layout::flatEntries) {
      if (agent.isOurs(element)) ++removed;
      else kept.push_back(std::move(element));
      continue;
    }
    json* handlers = member(element, "hooks");
    if (!handlers || !isListOfObjects(*handlers)) {
      kept.push_back(std::move(element));
      continue;
    }
    auto& items = handlers->get_ref<json::array_t&>();
    size_t before = items.size();
    std::erase_if(items, agent.isOurs);
    removed += before - items.size();
    if (!items.empty()) kept.push_back(std::move(element));
  }
  list = std::move(kept);
  return removed;
}

/// Keeps the loaded settings until the process ends. An install or uninstall
/// is the last thing a run does, and freeing a large document value by value
/// would take a tenth of the run; parked, it stays reachable (leak checkers
/// stay quiet) and goes with the process.
class Parked {
public:
  explicit Parked(Settings& settings) : settings_(settings) {}
  ~Parked() {
    static auto* parked = new std::vector<Settings>;
    try {
      parked->push_back(std::move(settings_));
    } catch (const std::bad_alloc&) {
      // then it is freed here after all
    }
  }

private:
  Settings& settings_;
};

std::string joined(const std::vector<std::string_view>& names) {
  std::string text;
  for (auto name : names) text += (text.empty() ? "" : " + ") + std::string(name);
  return text;
}

}  // namespace

std::string settingsURL(const AgentFile& agent) {
  std::string home = homeDirectory();
  if (!home.ends_with('/')) home += '/';
  return home + std::string(agent.relativePath);
}

std::string command() {
  const char* invoked = invokedAs();
  std::string running = runningExecutable();
  std::string path;
  // A package manager's bin/ link outlives upgrades; the versioned file it points to does not.
  if (invoked && invoked[0] == '/' && !running.empty() && sameFile(invoked, running)) path = invoked;
  else if (!running.empty()) path = running;
  else if (invoked && invoked[0] != '\0') path = invoked;
  else path = "tarnelctl";
  return path + " busy";
}

Settings load(const AgentFile& agent) {
  Settings settings{json::object(), std::nullopt, 0};
  std::string path = settingsURL(agent);
  int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return settings;
    failWithErrno(agent, errno);
  }
  struct stat status;
  std::string bytes;
  int error = 0;
  if (fstat(fd, &status) != 0) error = errno;
  else if (S_ISDIR(status.st_mode)) error = EISDIR;
  else if (!S_ISREG(status.st_mode)) error = EINVAL;
  else if (!readAll(fd, bytes, static_cast<size_t>(status.st_size))) error = errno;
  close(fd);
  if (error == EINVAL) fail(agent, "not a regular file");
  if (error) failWithErrno(agent, error);

  settings.mode = status.st_mode & 07777;
  if (!bytes.empty()) {
    try {
      settings.root = parseJson(bytes);
    } catch (const JsonSyntaxError& syntax) {
      throw SettingsError(shortName(agent) + " is not valid JSON (" + syntax.what() + ")" + std::string(refusal));
    }
    if (!isObject(settings.root)) std::rethrow_exception(agent.notAnObject());
  }
  settings.bytes = std::move(bytes);
  return settings;
}

void save(const AgentFile& agent, const Settings& settings) {
  // Past a file size limit, write must fail with EFBIG rather than kill us.
  signal(SIGXFSZ, SIG_IGN);
  std::filesystem::path path = settingsURL(agent);
  std::error_code error;
  std::filesystem::create_directories(path.parent_path(), error);
  if (error) fail(agent, error.message());
  if (settings.bytes) backUp(path.string() + std::string(backupSuffix), *settings.bytes, settings.mode);
  writeAtomically(agent, linkTarget(agent, path), settings.root, settings.bytes ? settings.mode : defaultFileMode());
}

bool hasOurs(const AgentFile& agent, const json& element) {
  if (agent.layout == Layout::flatEntries) return agent.isOurs(element);
  const json* handlers = member(element, "hooks");
  return handlers && isListOfObjects(*handlers) && std::any_of(handlers->begin(), handlers->end(), agent.isOurs);
}

std::string install(const AgentFile& agent) {
  Settings settings = load(agent);
  Parked parked(settings);
  json fresh = json::object();
  json* hooks = member(settings.root, "hooks");
  if (hooks && !isObject(*hooks)) refuse(agent, "\"hooks\" is not an object");
  bool hadHooks = hooks != nullptr;
  if (!hooks) hooks = &fresh;

  const std::string hookCommand = command();
  std::vector<std::string_view> added;
  for (std::string_view event : agent.events) {
    json* list = member(*hooks, event);
    if (list && !isListOfObjects(*list))
      refuse(agent, "\"hooks\" → \"" + std::string(event) + "\" is not a list of " + std::string(entryWord(agent)));
    if (list && std::any_of(list->begin(), list->end(), [&](const json& e) { return hasOurs(agent, e); })) continue;
    if (!list) {
      setMember(*hooks, event, json::array());
      list = member(*hooks, event);
    }
    list->push_back(ourElement(agent, hookCommand));
    added.push_back(event);
  }
  if (added.empty()) return "Tarnel hooks already installed — nothing to do.";

  if (!hadHooks) setMember(settings.root, "hooks", std::move(fresh));
  if (agent.onInstall) agent.onInstall(settings.root);
  save(agent, settings);
  std::string path = settingsURL(agent);
  return "✓ Added Tarnel's \"busy\" heartbeat to " + joined(added) + " in\n  " + path + "\n  (backup: " + path +
         std::string(backupSuffix) + ")." + std::string(agent.installNote) + "\n  Undo any time: tarnelctl " +
         std::string(agent.uninstallWord);
}

std::string uninstall(const AgentFile& agent) {
  Settings settings = load(agent);
  Parked parked(settings);
  json* hooks = member(settings.root, "hooks");
  if (!hooks || !isObject(*hooks)) return "No Tarnel hooks found.";

  size_t removed = 0;
  for (std::string_view event : agent.events) {
    json* list = member(*hooks, event);
    if (!list || !isListOfObjects(*list)) continue;
    removed += removeOurs(agent, *list);
    if (list->empty()) hooks->erase(std::string(event));
  }
  // Pruning alone is no reason to write: without a handler removed, nothing changed for the agent.
  if (removed == 0) return "No Tarnel hooks found.";

  if (hooks->empty()) settings.root.erase("hooks");
  save(agent, settings);
  return "✓ Removed Tarnel hooks (" + std::to_string(removed) + "). Restart " + std::string(agent.agentName) +
         " to apply.";
}

std::string notAnObjectText(const AgentFile& agent) {
  return shortName(agent) + " is not a JSON object" + std::string(refusal);
}

bool hasMarker(const json& handler, std::string_view key) {
  const json* marker = member(handler, key);
  return marker && isString(*marker, "tarnel");
}

bool runsOurCommand(const json& handler) {
  const json* text = member(handler, "command");
  if (!text || !text->is_string()) return false;
  const auto& command = text->get_ref<const std::string&>();
  return command.find("tarnelctl") != std::string::npos && command.ends_with(" busy");
}

}  // namespace tarnel
