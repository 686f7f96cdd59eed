// In process, through stand-ins for the disk and for the swap: the waits and
// the give-ups of the hook commands, and the courses of a replace that only a
// race or an odd filesystem would take.
#include <gtest/gtest.h>

#include "hooks/hook_commands.h"
#include "test_support.h"

namespace fs = std::filesystem;
using namespace testing_support;

/// A file that reads as `reads` in turn (then the last again), written to between reads when `writing`,
/// and found changed at every attempt to change it.
struct ChangingDisk : tarnel::SettingsDisk {
  std::vector<std::string> reads;
  bool writing;
  int served = 0, changes = 0;
  ChangingDisk(std::vector<std::string> texts, bool moving) : reads(std::move(texts)), writing(moving) {}
  tarnel::SettingsRead read(const tarnel::SettingsPath&) override {
    tarnel::SettingsRead read;
    read.bytes = reads[std::min<std::size_t>(served, reads.size() - 1)];
    read.status.emplace();
    const_cast<timespec&>(tarnel::modifiedAt(*read.status)).tv_nsec = writing ? ++served : (++served, 0);
    return read;
  }
  bool replace(const tarnel::SettingsPath&, const tarnel::SettingsRead&, const tarnel::EditedText&) override { return ++changes, false; }
  bool remove(const tarnel::SettingsPath&, const tarnel::SettingsRead&) override { return ++changes, false; }
  bool backedUp(const tarnel::SettingsPath&, const tarnel::SettingsRead&) override { return false; }
};

// A save caught halfway is read again until it is whole, or until five reads agree; one that never settles is given up.
TEST(DiskSeam, WaitsOutASaveInProgressAndGivesUpOnAFileThatKeepsChanging) {
  const std::string cutShort = "{\"hooks\": {", kept = "s.json: another program kept changing it while we were writing — nothing was changed. Try again in a moment.";
  struct Case { std::vector<std::string> reads; bool writing; std::string outcome; int served; } cases[] = {
      {{"", cutShort, "{}"}, true, "{}", 3}, {{""}, false, "", 5}, {{""}, true, kept, 20},
      {{cutShort}, false, "s.json is not valid JSON (line 1, column 12: unexpected end of input; expected string literal) — refusing to modify it. Fix it by hand first.", 5}};
  for (auto& [reads, writing, outcome, served] : cases) {
    ChangingDisk disk(reads, writing);
    std::string got;
    try {
      got = *tarnel::planHookCommand(*tarnel::hookCommand("install-claude-hooks"), {"/s.json", "s.json", "/"},
                                     tarnel::runningProgramRules(), std::nullopt, disk).read->bytes;
    } catch (const tarnel::SettingsError& error) {
      got = error.what();
    }
    EXPECT_EQ(got + " after " + std::to_string(disk.served), outcome + " after " + std::to_string(served));
  }
  setenv("HOME", "/", 1);  // a file found changed at each of its six attempts
  ChangingDisk disk({"{}"}, false);
  EXPECT_THROW(tarnel::runHookCommand(*tarnel::hookCommand("install-claude-hooks"), disk), tarnel::SettingsError);
  EXPECT_EQ(disk.changes, 6);
}

// Where the filesystem cannot swap, the new file is renamed over the old one after a last look, and the backup
// is a copy; where another program saves into the old one just before the swap, ours is swapped back out.
TEST(DiskSeam, RenamesWhereItCannotSwapAndSwapsBackOverASave) {
  struct Case { bool (*swap)(const std::string&, const std::string&); bool replaced; std::string after; } cases[] = {
      {[](const std::string&, const std::string&) { return errno = ENOTSUP, false; }, true, "new old 2"},
      {[](const std::string& a, const std::string& b) { static int swaps = 0; return (swaps++ ? void() : writeFile(b, "saved")), tarnel::exchangeFiles(a, b); },
       false, "saved  1"}};
  for (auto& [swap, replaced, after] : cases) {
    TempDir dir;
    tarnel::SettingsPath where{(dir.path() / "s.json").string(), "s.json", dir.path().string()};
    writeFile(where.path, "old");
    tarnel::swapFiles = swap;
    EXPECT_EQ(tarnel::replaceSettings(where, tarnel::readSettings(where), {"new"}), replaced);
    tarnel::swapFiles = tarnel::exchangeFiles;
    std::string backup = fs::exists(where.path + ".tarnel-backup") ? readFile(where.path + ".tarnel-backup") : "";
    EXPECT_EQ(readFile(where.path) + " " + backup + " " + std::to_string(std::distance(fs::directory_iterator(dir.path()), {})), after);
  }
}
