#include "hooks/settings_location.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

namespace tarnel {

std::string homeDirectory(std::string_view variable) {
  // A wrong home is never made up: not from the password database, and not made as a folder.
  std::string fix = " — set it to your home folder" + (variable.empty() ? "" : ", or set " + std::string(variable)) + ".";
  const char* home = std::getenv("HOME");
  if (!home || !*home) throw SettingsError("tarnelctl: HOME is not set" + fix);
  if (home[0] != '/') throw SettingsError("tarnelctl: HOME is \"" + std::string(home) + "\", which is not an absolute path" + fix);
  struct stat status;
  if (stat(home, &status) != 0 || !S_ISDIR(status.st_mode))
    throw SettingsError("tarnelctl: HOME names " + std::string(home) + ", which is not a folder" + fix);
  return home;
}

namespace {

/// `where` as the agent's hook file: a script, the one of its first event in that folder.
SettingsPath ofAgent(const Agent& agent, SettingsPath where) {
  if (agent.file == HookFile::script)
    for (std::string* path : {&where.path, &where.shown}) path->append("/").append(agent.events.front());
  where.keepsBackup = agent.file == HookFile::settings;
  where.runs = agent.file == HookFile::script;
  return where;
}

}  // namespace

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
    // A variable that names a home (its file lies in a dot folder below it) must name one that
    // exists; one that names the agent's own folder is made as ~/.claude is, below its parent.
    std::filesystem::path own = std::filesystem::path(dir).lexically_normal();
    if (!own.has_filename()) own = own.parent_path();  // "/c/d/" is /c/d
    path += agent.pathInDir;
    return ofAgent(agent, {path, path, agent.pathInDir.starts_with('.') ? std::string(dir) : own.parent_path().string()});
  }
  std::string home = homeDirectory(variable), base = home;
  if (!home.ends_with('/')) home += '/';
  return ofAgent(agent, {home + std::string(agent.homePath), "~/" + std::string(agent.homePath), base});
}

}  // namespace tarnel
