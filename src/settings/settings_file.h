// A settings file on disk: read once, backed up once, replaced atomically,
// and never over a change that another program made in the meantime.
// Keyed by path; it knows no agent.
#pragma once

#include <sys/stat.h>

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
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
};

/// A settings file as read: its bytes (nothing when there was no file) and
/// the state that tells whether it is still the same file.
struct SettingsRead {
  std::optional<std::string> bytes;
  std::optional<struct stat> status;
};

/// Reads the file at `where`, through symbolic links. Throws SettingsError
/// for a file that cannot be read or is no regular file.
SettingsRead readSettings(const SettingsPath& where);

/// The suffix of the one-time backup beside the settings file.
inline constexpr std::string_view backupSuffix = ".tarnel-backup";

/// Replaces the file that `read` came from with the text made of `pieces`: makes the missing
/// folders, keeps the first backup of an existing file, and renames a flushed
/// temporary file over the file (or a symbolic link's target) with the same
/// permission bits and, when run as root, the same owner. False, with nothing
/// written, when the file is no longer the one that was read. Throws SettingsError.
bool replaceSettings(const SettingsPath& where, const SettingsRead& read, const std::vector<std::string_view>& pieces);

/// Deletes the file that `read` came from (keeping its backup). False, with
/// nothing deleted, when it is no longer the one that was read. Throws SettingsError.
bool removeSettings(const SettingsPath& where, const SettingsRead& read);

}  // namespace tarnel
