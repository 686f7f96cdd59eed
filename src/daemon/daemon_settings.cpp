#include "daemon/daemon_settings.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace tarneld {
namespace {

std::string_view trim(std::string_view text) {
  size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

/// What is wrong with one "name = value" line, or nothing.
std::string setLine(std::string_view line, Settings& settings) {
  size_t equals = line.find('=');
  if (equals == std::string_view::npos) return "expected \"name = value\"";
  std::string_view name = trim(line.substr(0, equals)), value = trim(line.substr(equals + 1));
  if (name != "agent-minutes") return "unknown setting \"" + std::string(name) + "\" (known: agent-minutes)";
  long minutes = 0;
  bool digits = !value.empty() && value.size() <= 7 && value.find_first_not_of("0123456789") == std::string_view::npos;
  if (digits) minutes = std::stol(std::string(value));
  if (!digits || minutes < 1 || minutes > longestAgentHold)
    return "agent-minutes must be a whole number of minutes from 1 to " + std::to_string(longestAgentHold);
  settings.agentMinutes = minutes;
  return {};
}

}  // namespace

LoadedSettings parseSettings(std::string_view text) {
  LoadedSettings loaded;
  int number = 0;
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);  // a byte order mark some editors write
  while (!text.empty()) {
    size_t end = text.find('\n');
    std::string_view line = trim(text.substr(0, end));
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    ++number;
    if (line.empty() || line.front() == '#') continue;
    if (std::string problem = setLine(line, loaded.settings); !problem.empty())
      return {Settings(), "line " + std::to_string(number) + ": " + problem};
  }
  return loaded;
}

std::string settingsPath() {
  const char* config = getenv("XDG_CONFIG_HOME");
  if (config && config[0] == '/') return std::string(config) + "/tarnel/tarneld.conf";
  const char* home = getenv("HOME");
  if (!home || !*home) {
    const passwd* user = getpwuid(getuid());
    home = user ? user->pw_dir : "/";
  }
  return std::string(home) + "/.config/tarnel/tarneld.conf";
}

LoadedSettings loadSettings(const std::string& path) {
  // A folder opens as a stream that reads nothing: it would pass for an empty file.
  struct stat status;
  if (stat(path.c_str(), &status) == 0 && !S_ISREG(status.st_mode))
    return {Settings(), path + ": is not a file; using the defaults"};
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    if (errno == ENOENT) return {};
    return {Settings(), path + ": cannot be read (" + strerror(errno) + "); using the defaults"};
  }
  std::ostringstream text;
  text << file.rdbuf();
  LoadedSettings loaded = parseSettings(text.str());
  if (!loaded.problem.empty()) loaded.problem = path + ", " + loaded.problem + "; using the defaults";
  return loaded;
}

}  // namespace tarneld
