#include "hooks/settings_location.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

namespace tarnel {

std::string homeDirectory() {
  if (const char* home = std::getenv("HOME"); home && *home) return home;
  if (const passwd* user = getpwuid(getuid()); user && user->pw_dir && *user->pw_dir) return user->pw_dir;
  return "/";
}

SettingsPath locate(const Agent& agent) {
  std::string variable(agent.dirVariable);
  const char* dir = variable.empty() ? nullptr : std::getenv(variable.c_str());
  if (dir && *dir) {
    if (dir[0] != '/')
      throw SettingsError(variable + " is \"" + dir + "\", which is not an absolute path — set it to one, or unset it.");
    struct stat status;
    if (agent.dirMustExist && (stat(dir, &status) != 0 || !S_ISDIR(status.st_mode)))
      throw SettingsError(variable + " names " + dir + ", which is not a folder — " + std::string(agent.restartName) +
                          " needs it to exist: create it, or unset " + variable + ".");
    std::string path = dir;
    if (!path.ends_with('/')) path += '/';
    path += agent.pathInDir;
    return {path, path};
  }
  std::string home = homeDirectory();
  if (!home.ends_with('/')) home += '/';
  return {home + std::string(agent.homePath), "~/" + std::string(agent.homePath)};
}

}  // namespace tarnel
