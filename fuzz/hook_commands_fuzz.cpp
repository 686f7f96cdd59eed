// The whole course of install and uninstall over arbitrary settings file
// bytes, on real files in a scratch home; the first byte picks the agent. A
// refused install leaves the file as it was with nothing beside it; an
// accepted one leaves a backup of the file as it was, if it had anything;
// after uninstall no hook of ours is left. Where the agent has a script for
// each hook, one refused leaves the others written. A file wholly of ours (a plugin, a
// script) has no backup. An agent's second file holds our
// hook for its first event already: install leaves it as it is.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "hooks/hook_commands.h"
#include "hooks/hook_edit.h"
#include "hooks/settings_location.h"
#include "settings/settings_file.h"
#include "settings/json_doc.h"

namespace fs = std::filesystem;
using namespace tarnel;

static std::string slurp(const fs::path& path) { return {std::istreambuf_iterator<char>(std::ifstream(path).rdbuf()), {}}; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const fs::path home = [] {
    std::string dir = fs::temp_directory_path().string() + "/tarnel-fuzz-XXXXXX";
    if (!mkdtemp(dir.data())) abort();
    setenv("HOME", dir.c_str(), 1);
    atexit([] { fs::remove_all(getenv("HOME")); });
    return fs::path(dir);
  }();
  if (size == 0) return 0;
  const Agent& agent = agents[data[0] % agents.size()];
  const std::string input(reinterpret_cast<const char*>(data + 1), size - 1);
  try {  // text cut short is waited out as a save in progress, a quarter of a second a run: tested apart
    JsonDoc(input, Comments::allowed);
  } catch (const JsonSyntaxError& error) {
    if (error.endsEarly()) return 0;
  }
  const fs::path file = locate(agent).path, backup = file.string() + std::string(backupSuffix);
  fs::remove_all(file.parent_path());
  fs::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary) << input;
  const bool twoFiles = agent.second.sharing != SecondFile::none;
  const fs::path second = twoFiles ? home / agent.second.homePath : file;
  static const HookRules rules = runningProgramRules();
  static const std::optional<std::string> none;
  if (twoFiles) std::ofstream(second) << installHook(inSecondFile(agent), none, rules, agent.events.first(1)).text->str();
  const std::string secondBefore = slurp(second);
  HookOutcome installed;
  try {
    installed = runHookCommand({Verb::install, &agent});
  } catch (const SettingsError&) {
    auto beside = std::distance(fs::directory_iterator(file.parent_path()), {});
    auto others = agent.file == HookFile::script ? agent.events.size() - 1 : 0;  // the scripts of the other hooks go on
    if (slurp(file) != input || beside != static_cast<long>(1 + others + (second.parent_path() == file.parent_path() && second != file)))
      abort();
    return 0;
  }
  // A backup of what there was, when there was anything, and the message names it only then.
  bool backedUp = installed.wrote && !input.empty() && agent.file == HookFile::settings;  // ours alone: no backup
  if (backedUp != fs::exists(backup) || (backedUp && slurp(backup) != input)) abort();
  if ((installed.message.find("(backup: ") != std::string::npos) != backedUp) abort();
  if (twoFiles && slurp(second) != secondBefore) abort();
  if (runHookCommand({Verb::install, &agent}).wrote) abort();
  runHookCommand({Verb::uninstall, &agent});
  if (runHookCommand({Verb::uninstall, &agent}).wrote) abort();
  return 0;
}
