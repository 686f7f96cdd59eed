// A settings file on disk: read once with a bound, backed up once, and
// replaced by swapping a new file in for it, never over a change that another
// program made in the meantime. Keyed by path; it knows no agent.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tarnel {

/// Everything reading or writing a settings file fails with. what() names
/// the file and says what is wrong.
class SettingsError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

/// Where a settings file lies, and how messages name it.
struct SettingsPath {
  std::string path;   ///< absolute
  std::string shown;  ///< "~/.claude/settings.json" below the home directory, else `path`
  std::string base;   ///< the folder that must exist (the home, or the agent's own folder's parent); folders below it are made
  bool keepsBackup = true;  ///< the first content replaced is kept as a backup; a file wholly of our making needs none
  bool runs = false;        ///< a new file here is made executable, as a hook script must be
};

/// An open file descriptor, closed with its owner.
class OpenFile {
public:
  explicit OpenFile(int fd = -1) : fd_(fd) {}
  OpenFile(OpenFile&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  OpenFile& operator=(OpenFile&& other) noexcept {
    std::swap(fd_, other.fd_);
    return *this;
  }
  ~OpenFile() {
    if (fd_ >= 0) close(fd_);
  }
  int fd() const { return fd_; }

private:
  int fd_;
};

/// A settings file as read: its bytes (nothing when there was no file), its
/// state then, and the file itself held open, which tells at the swap whether
/// it is still the file that was read.
struct SettingsRead {
  std::optional<std::string> bytes;
  std::optional<struct stat> status;
  OpenFile file;
};

/// When the file was last written.
inline const timespec& modifiedAt(const struct stat& s) {
#ifdef __APPLE__
  return s.st_mtimespec;
#else
  return s.st_mtim;
#endif
}

/// Settings files are kilobytes; a larger one is refused before it is read.
inline constexpr std::uint64_t settingsSizeLimit = 64 << 20;

/// How a new file takes its name where nothing may stand yet, in the order
/// tried: a hard link; where the filesystem has none (FAT, exFAT, SMB), a
/// rename that never replaces; where it lacks that too, an empty file made
/// exclusively at the name, then a rename over it while it is still that file.
/// A file that another program puts there meanwhile stays in each.
enum class Naming { hardLink, exclusiveRename, heldName };
/// The course tried first: tests begin later to take the others on any filesystem.
inline Naming firstNaming = Naming::hardLink;

/// Exchanges the files at `a` and `b` in one step; false, with errno set, when they cannot be.
bool exchangeFiles(const std::string& a, const std::string& b);
/// How a new file is swapped in: tests stand in for it to play a filesystem
/// that cannot swap, or another program's save just before the swap.
inline bool (*swapFiles)(const std::string& a, const std::string& b) = exchangeFiles;

/// Whether a symbolic link stands at `path` itself.
bool isSymbolicLink(const std::string& path);

/// Reads the file at `where`, through symbolic links. Throws SettingsError
/// for a file that cannot be read, is no regular file, or is over the limit.
SettingsRead readSettings(const SettingsPath& where);

/// The suffix of the one-time backup beside the settings file.
inline constexpr std::string_view backupSuffix = ".tarnel-backup";

/// Whether the backup of the file at `where` exists.
bool hasBackup(const SettingsPath& where);

/// Whether the backup exists after replacing the file that `read` came from:
/// it exists, or the file has content and nothing stands at the backup's name.
bool wouldBackUp(const SettingsPath& where, const SettingsRead& read);

/// Puts the text made of `pieces` in place of the file that `read` came from
/// (through a symbolic link, at its target): makes the file's missing folder
/// (not its parents), keeps the first backup of non-empty content, and swaps in
/// a flushed new file with the same permission bits, owner, group and extended
/// attributes. False, with nothing changed, when the file is no longer exactly
/// the one that was read. Throws SettingsError, also for a file with more than
/// one hard link or another user's file, which a new file would cut off or take over.
bool replaceSettings(const SettingsPath& where, const SettingsRead& read, const std::vector<std::string_view>& pieces);

/// Throws what replaceSettings with `size` bytes (or, with `remove`,
/// removeSettings) would throw before writing anything: what a dry run must
/// say, changing nothing.
void checkChange(const SettingsPath& where, const SettingsRead& read, std::size_t size, bool remove = false);

/// Deletes the file that `read` came from (keeping its backup). False, with
/// nothing deleted, when it is no longer the one that was read. Throws SettingsError.
bool removeSettings(const SettingsPath& where, const SettingsRead& read);

}  // namespace tarnel
