#include "settings/settings_disk.h"

#include "settings/unified_diff.h"

namespace tarnel {

bool DryRun::replace(const SettingsPath& where, const SettingsRead& read, const EditedText& text) {
  checkChange(where, read, text.str().size());
  diff_ += unifiedDiff(text, read.bytes ? where.path : "/dev/null", where.path);
  return true;
}

bool DryRun::remove(const SettingsPath& where, const SettingsRead& read) {
  checkChange(where, read, 0, true);
  std::string_view before = read.bytes ? std::string_view(*read.bytes) : std::string_view();
  diff_ += unifiedDiff(EditedText(before, {{{0, before.size()}, ""}}), read.bytes ? where.path : "/dev/null", "/dev/null");
  return true;
}

}  // namespace tarnel
