// A new file written beside a settings file and then given its name: the
// system calls that this takes, with the errors that name the settings file.
// Used by settings_file only.
#pragma once

#include <signal.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "settings/settings_file.h"

namespace tarnel {

[[noreturn]] void fail(const SettingsPath& where, const std::string& reason);
/// Fails with the system's reason for `error`, and what to do about it where there is something to do.
[[noreturn]] void failWithErrno(const SettingsPath& where, int error);

bool runningAsRoot();
bool sameFile(const struct stat& a, const struct stat& b);
/// Whether `error` says that this filesystem cannot do what was asked.
bool isUnsupported(int error);
/// Renames `from` to `to` in one step: with `swap`, exchanging the two files;
/// without, only when nothing stands at `to` (else errno EEXIST). False, with
/// errno set, when they cannot be.
bool renameOnce(const std::string& from, const std::string& to, bool swap);
/// Makes a rename or link in `dir` durable; nothing to do if it fails.
void flushFolder(const std::filesystem::path& dir);

/// Holds SIGINT, SIGTERM and SIGHUP while it lives, so that a named new file
/// is always renamed or removed before they end the process.
class HeldSignals {
public:
  HeldSignals() {
    sigset_t held;
    sigemptyset(&held);
    for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&held, s);
    sigprocmask(SIG_BLOCK, &held, &previous_);
  }
  ~HeldSignals() { sigprocmask(SIG_SETMASK, &previous_, nullptr); }
  HeldSignals(const HeldSignals&) = delete;
  HeldSignals& operator=(const HeldSignals&) = delete;

private:
  sigset_t previous_;
};

/// A new file in the folder of `beside`. Written without a name where the
/// system allows (O_TMPFILE; such a file can be named only by a hard link), so
/// that a killed run leaves nothing; otherwise, and once named to be swapped
/// in, named ".<file>.tarnel-<pid>-…", so that the next run knows a dead run's
/// leftovers. Its name is removed with it.
class NewFile {
public:
  NewFile(const SettingsPath& where, const std::filesystem::path& beside);
  ~NewFile();
  NewFile(const NewFile&) = delete;
  NewFile& operator=(const NewFile&) = delete;

  /// Writes `pieces` with the mode, owner, group and attributes of `like` (or
  /// `from`, the file it replaces), and flushes them.
  void fill(const std::vector<std::string_view>& pieces, mode_t mode, const struct stat& like, int from);
  /// Gives the file the name `path` (see Naming); false when something stands there.
  bool link(const std::string& path);
  /// The file's own temporary name, given now if it has none.
  const std::string& named();
  struct stat status() const;

private:
  bool moveOverHeldName(const std::string& path);

  const SettingsPath& where_;
  std::filesystem::path dir_;
  std::string prefix_, name_;
  int fd_ = -1;
};

}  // namespace tarnel
