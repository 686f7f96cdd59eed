// What an edit of a settings text changes, as a unified diff: what a dry run
// shows. Derived from the edit's replaced byte ranges, not by comparing texts.
#pragma once

#include <string>
#include <string_view>

#include "settings/text_edit.h"

namespace tarnel {

/// The unified diff from `edit`'s original text to its new one, with three
/// lines of context and hunks that close changes share, under the header
/// `--- oldName` / `+++ newName`. Empty when the texts are the same.
std::string unifiedDiff(const EditedText& edit, std::string_view oldName, std::string_view newName);

}  // namespace tarnel
