#include "settings/unified_diff.h"

#include <algorithm>
#include <cstddef>
#include <vector>

namespace tarnel {
namespace {

constexpr std::size_t context = 3;

/// A text cut into lines, each with its line break (the last may have none).
struct Lines {
  explicit Lines(std::string_view text) : text(text) {
    for (std::size_t at = 0; at < text.size(); at = std::min(text.find('\n', at), text.size() - 1) + 1)
      starts.push_back(at);
    starts.push_back(text.size());
  }
  std::size_t count() const { return starts.size() - 1; }
  std::string_view operator[](std::size_t i) const { return text.substr(starts[i], starts[i + 1] - starts[i]); }
  /// The number of the line that begins at `boundary`; count() for the end.
  std::size_t at(std::size_t boundary) const {
    return static_cast<std::size_t>(std::lower_bound(starts.begin(), starts.end(), boundary) - starts.begin());
  }
  bool isBoundary(std::size_t at) const { return at == 0 || at == text.size() || text[at - 1] == '\n'; }

  std::string_view text;
  std::vector<std::size_t> starts;
};

/// Where byte `at` of the old text went in the new one, moved by `shift`.
std::size_t moved(std::size_t at, std::ptrdiff_t shift) { return static_cast<std::size_t>(static_cast<std::ptrdiff_t>(at) + shift); }

/// Whole lines that differ: [oldBegin, oldEnd) of the old text's lines stand
/// where [newBegin, newEnd) of the new text's lines do.
struct Change {
  std::size_t oldBegin, oldEnd, newBegin, newEnd;
};

/// The replacements widened to whole lines in both texts, touching ones joined.
std::vector<Change> changedLines(const EditedText& edit, const Lines& old, const Lines& now) {
  struct Bytes {
    std::size_t begin, end;
    std::ptrdiff_t shiftBefore, shiftAfter;  ///< new position minus old, before and after the range
  };
  std::vector<Bytes> ranges;
  std::ptrdiff_t shift = 0;
  for (const auto& r : edit.replacements()) {
    std::ptrdiff_t after = shift + static_cast<std::ptrdiff_t>(r.text.size()) -
                           static_cast<std::ptrdiff_t>(r.span.end - r.span.begin);
    std::size_t begin = r.span.begin == 0 ? 0 : old.text.rfind('\n', r.span.begin - 1) + 1;
    // The range ends at the first place past the replacement that is a line
    // boundary in both texts; the text after the replacement is the same in both.
    std::size_t end = r.span.end;
    if (!old.isBoundary(end) || !now.isBoundary(moved(end, after)))
      end = std::min(old.text.find('\n', end), old.text.size() - 1) + 1;
    if (!ranges.empty() && begin <= ranges.back().end) {
      begin = ranges.back().begin;
      end = std::max(end, ranges.back().end);
      shift = ranges.back().shiftBefore;
      ranges.pop_back();
    }
    ranges.push_back({begin, end, shift, after});
    shift = after;
  }
  std::vector<Change> changes;
  for (const Bytes& b : ranges) {
    Change c{old.at(b.begin), old.at(b.end), now.at(moved(b.begin, b.shiftBefore)), now.at(moved(b.end, b.shiftAfter))};
    while (c.oldBegin < c.oldEnd && c.newBegin < c.newEnd && old[c.oldBegin] == now[c.newBegin]) ++c.oldBegin, ++c.newBegin;
    while (c.oldBegin < c.oldEnd && c.newBegin < c.newEnd && old[c.oldEnd - 1] == now[c.newEnd - 1]) --c.oldEnd, --c.newEnd;
    if (c.oldBegin < c.oldEnd || c.newBegin < c.newEnd) changes.push_back(c);
  }
  return changes;
}

void addLine(std::string& out, char mark, std::string_view line) {
  out += mark;
  out += line;
  if (!line.ends_with('\n')) out += "\n\\ No newline at end of file\n";
}

/// "start,count" of a hunk's range, as diff(1) writes it: an empty range
/// starts at the line before it, and a count of one is left out.
std::string range(std::size_t begin, std::size_t end) {
  std::size_t count = end - begin;
  std::string text = std::to_string(count ? begin + 1 : begin);
  if (count != 1) text.append(",").append(std::to_string(count));
  return text;
}

}  // namespace

std::string unifiedDiff(const EditedText& edit, std::string_view oldName, std::string_view newName) {
  std::string newText = edit.str();
  Lines old(edit.original()), now(newText);
  std::vector<Change> changes = changedLines(edit, old, now);
  if (changes.empty()) return "";
  std::string out = "--- " + std::string(oldName) + "\n+++ " + std::string(newName) + "\n";
  for (std::size_t first = 0, last; first < changes.size(); first = last + 1) {
    // A hunk takes the following changes while their contexts would meet.
    for (last = first; last + 1 < changes.size() && changes[last + 1].oldBegin - changes[last].oldEnd <= 2 * context;) ++last;
    std::size_t before = std::min(context, changes[first].oldBegin);
    std::size_t after = std::min(context, old.count() - changes[last].oldEnd);
    std::size_t oldBegin = changes[first].oldBegin - before, oldEnd = changes[last].oldEnd + after;
    out += "@@ -" + range(oldBegin, oldEnd) + " +" +
           range(changes[first].newBegin - before, changes[last].newEnd + after) + " @@\n";
    std::size_t line = oldBegin;
    for (std::size_t i = first; i <= last; line = changes[i++].oldEnd) {
      for (; line < changes[i].oldBegin; ++line) addLine(out, ' ', old[line]);
      for (std::size_t l = changes[i].oldBegin; l < changes[i].oldEnd; ++l) addLine(out, '-', old[l]);
      for (std::size_t l = changes[i].newBegin; l < changes[i].newEnd; ++l) addLine(out, '+', now[l]);
    }
    for (; line < oldEnd; ++line) addLine(out, ' ', old[line]);
  }
  return out;
}

}  // namespace tarnel
