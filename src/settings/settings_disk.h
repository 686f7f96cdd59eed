// The disk as the hook commands see it: read a settings file, put a new text
// in its place, delete it, ask after its backup. The real disk does it; the
// dry run does everything up to the writing and shows the change instead.
#pragma once

#include <string>

#include "settings/settings_file.h"
#include "settings/text_edit.h"

namespace tarnel {

/// Interface for reading and changing settings files. Abstract so that the
/// dry run and tests can stand in for the disk. The real implementation is RealDisk.
class SettingsDisk {
public:
  virtual ~SettingsDisk() = default;
  /// The file at `where` as it is now (see readSettings).
  virtual SettingsRead read(const SettingsPath& where) = 0;
  /// Puts `text` in place of the file that `read` came from; false, changing nothing, when it is no longer that file.
  virtual bool replace(const SettingsPath& where, const SettingsRead& read, const EditedText& text) = 0;
  /// Deletes the file that `read` came from, keeping its backup; false when it is no longer that file.
  virtual bool remove(const SettingsPath& where, const SettingsRead& read) = 0;
  /// Whether the file's backup exists once it has been replaced.
  virtual bool backedUp(const SettingsPath& where, const SettingsRead& read) = 0;
  /// Whether changes are only shown.
  virtual bool dryRun() const { return false; }
};

class RealDisk : public SettingsDisk {
public:
  SettingsRead read(const SettingsPath& where) override { return readSettings(where); }
  bool replace(const SettingsPath& where, const SettingsRead& read, const EditedText& text) override {
    return replaceSettings(where, read, text.pieces());
  }
  bool remove(const SettingsPath& where, const SettingsRead& read) override { return removeSettings(where, read); }
  bool backedUp(const SettingsPath& where, const SettingsRead&) override { return hasBackup(where); }
};

/// Changes nothing: refuses what the real disk would refuse before writing,
/// and gathers the unified diff of each change in its place.
class DryRun : public SettingsDisk {
public:
  SettingsRead read(const SettingsPath& where) override { return readSettings(where); }
  bool replace(const SettingsPath& where, const SettingsRead& read, const EditedText& text) override;
  bool remove(const SettingsPath& where, const SettingsRead& read) override;
  bool backedUp(const SettingsPath& where, const SettingsRead& read) override { return wouldBackUp(where, read); }
  bool dryRun() const override { return true; }
  /// The diffs of the changes so far, in their order.
  const std::string& diff() const { return diff_; }

private:
  std::string diff_;
};

}  // namespace tarnel
