// The whole course of install and uninstall over arbitrary settings file
// bytes, on real files in a scratch home. The first byte picks the agent.
// A refused install leaves the file as it was, with nothing beside it; an
// accepted one leaves a backup of the file as it was; uninstall after it
// leaves no hook of ours.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "hooks/hook_commands.h"
#include "settings/settings_file.h"

namespace fs = std::filesystem;
using namespace tarnel;

namespace {

void check(bool ok, const char* what) {
  if (!ok) {
    fprintf(stderr, "broken: %s\n", what);
    abort();
  }
}

std::string slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

const fs::path& home() {
  static const fs::path dir = [] {
    std::string pattern = (fs::exists("/dev/shm") ? "/dev/shm" : fs::temp_directory_path().string()) + "/tarnel-fuzz-XXXXXX";
    check(mkdtemp(pattern.data()) != nullptr, "scratch home");
    setenv("HOME", pattern.c_str(), 1);
    for (const char* name : {"CLAUDE_CONFIG_DIR", "CODEX_HOME", "GEMINI_CLI_HOME"}) unsetenv(name);
    atexit([] { fs::remove_all(getenv("HOME")); });
    return fs::path(pattern);
  }();
  return dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const Agent& agent = agents[data[0] % agents.size()];
  const std::string input(reinterpret_cast<const char*>(data + 1), size - 1);
  const fs::path file = home() / agent.homePath, backup = file.string() + std::string(backupSuffix);
  fs::remove_all(file.parent_path());
  fs::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary) << input;

  HookOutcome installed;
  try {
    installed = runHookCommand({Verb::install, &agent});
  } catch (const SettingsError&) {
    check(slurp(file) == input, "a refused install changed the file");
    check(std::distance(fs::directory_iterator(file.parent_path()), {}) == 1, "a refused install left a file");
    return 0;
  }
  check(installed.wrote == fs::exists(backup), "a backup without a write, or a write without a backup");
  if (installed.wrote) check(slurp(backup) == input, "the backup is not the file as it was");
  check(!runHookCommand({Verb::install, &agent}).wrote, "a second install wrote");
  runHookCommand({Verb::uninstall, &agent});
  check(!runHookCommand({Verb::uninstall, &agent}).wrote, "a hook of ours is left after uninstall");
  return 0;
}
