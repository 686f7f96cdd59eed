#include "settings/text_edit.h"

#include <algorithm>

namespace tarnel {
namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

/// The file's own style: its first indentation step (two spaces when it has
/// none, or a mixed one) and its line ending.
TextStyle styleOf(std::string_view text) {
  TextStyle style;
  std::size_t newline = text.find('\n');
  if (newline != std::string_view::npos && newline > 0 && text[newline - 1] == '\r') style.newline = "\r\n";
  for (; newline != std::string_view::npos; newline = text.find('\n', newline + 1)) {
    std::size_t i = newline + 1;
    while (i < text.size() && isBlank(text[i])) ++i;
    if (i == newline + 1 || i == text.size() || text[i] == '\n' || text[i] == '\r') continue;
    std::string_view unit = text.substr(newline + 1, i - newline - 1);
    if (unit.find_first_not_of(unit[0]) == std::string_view::npos) style.unit = unit;
    break;
  }
  return style;
}

/// The blanks that begin the line holding `at`.
std::string lineIndent(std::string_view text, std::size_t at) {
  std::size_t start = text.rfind('\n', at);
  start = start == std::string_view::npos ? 0 : start + 1;
  std::size_t end = start;
  while (end < text.size() && isBlank(text[end])) ++end;
  return std::string(text.substr(start, end - start));
}

void write(const json& value, const TextStyle& style, const std::string& indent, std::string& out) {
  if (!value.is_structured() || value.empty()) {
    out += value.dump(-1, ' ', false, json::error_handler_t::strict);
    return;
  }
  bool object = value.is_object();
  std::string inner = indent + style.unit;
  out += object ? '{' : '[';
  for (auto it = value.begin(); it != value.end(); ++it) {
    if (it != value.begin()) out += ',';
    if (style.multiLine) out += style.newline + inner;
    else if (it != value.begin()) out += ' ';
    if (object) out += json(it.key()).dump(-1, ' ', false, json::error_handler_t::strict) + ": ";
    write(*it, style, inner, out);
  }
  if (style.multiLine) out += style.newline + indent;
  out += object ? '}' : ']';
}

}  // namespace

std::string writeJson(const json& value, const TextStyle& style, const std::string& indent) {
  std::string out;
  try {
    write(value, style, indent, out);
  } catch (const json::type_error&) {
    throw std::domain_error("a text in it is not valid UTF-8");
  }
  return out;
}

EditedText::EditedText(std::string_view original, std::vector<Replacement> replacements)
    : original_(original), replacements_(std::move(replacements)) {
  std::stable_sort(replacements_.begin(), replacements_.end(),
                   [](auto& a, auto& b) { return a.span.begin < b.span.begin; });
}

std::vector<std::string_view> EditedText::pieces() const {
  std::vector<std::string_view> pieces;
  std::size_t at = 0;
  for (const auto& r : replacements_) {
    pieces.push_back(original_.substr(at, r.span.begin - at));
    pieces.push_back(r.text);
    at = r.span.end;
  }
  pieces.push_back(original_.substr(at));
  return pieces;
}

std::string EditedText::str() const {
  std::string text;
  for (auto piece : pieces()) text += piece;
  return text;
}

TextEditor::TextEditor(const JsonDoc& doc) : doc_(doc), text_(doc.text()), style_(styleOf(text_)) {}

std::vector<Span> TextEditor::items(const JsonDoc::Node& container) const {
  std::vector<Span> found;
  for (const JsonDoc::Node& item : doc_.children(container)) found.push_back(item.whole());
  return found;
}

void TextEditor::append(const JsonDoc::Node& container, const std::vector<JsonItem>& items, bool spread, bool mayPrune) {
  std::size_t open = container.begin;
  std::vector<Span> existing = this->items(container);
  TextStyle style = style_;
  style.multiLine = spread;
  if (mayPrune && existing.empty() && (text_[open + 1] == ']' || text_[open + 1] == '}')) {
    style.multiLine = false;
    std::string added = " ";
    for (const JsonItem& item : items)
      added += (added.size() > 1 ? ", " : "") + (item.key ? writeJson(*item.key, style) + ": " : "") + writeJson(item.value, style);
    edits_.push_back({{open + 1, open + 1}, added + " "});
    return;
  }
  std::string indent = existing.empty() ? lineIndent(text_, open) + style.unit : lineIndent(text_, existing.front().begin);
  std::size_t at = existing.empty() ? open + 1 : existing.back().end;
  // A comment that ends the line of the last item, or of the opening
  // bracket, stays on that line: the items go on the lines after it, the
  // comma before them stays with the item.
  auto lineEnd = style.multiLine ? commentedLineEnd(at) : std::nullopt;
  if (lineEnd && !existing.empty()) edits_.push_back({{at, at}, ","});
  std::string added;
  for (const JsonItem& item : items) {
    if (!added.empty() || (!existing.empty() && !lineEnd)) added += ',';
    if (style.multiLine) added += style.newline + indent;
    else if (!existing.empty() || !added.empty()) added += ' ';
    if (item.key) added += writeJson(*item.key, style) + ": ";
    added += writeJson(item.value, style, indent);
  }
  // Into an empty container the items go first, then a line break before
  // whatever the container held (blanks, comments) and its closing bracket.
  if (existing.empty() && style.multiLine && !lineEnd) added += style.newline + lineIndent(text_, open);
  at = lineEnd.value_or(at);
  edits_.push_back({{at, at}, std::move(added)});
}

void TextEditor::remove(const JsonDoc::Node& container, const std::vector<bool>& gone) {
  std::vector<Span> items = this->items(container);
  auto lastKept = std::find(gone.rbegin(), gone.rend(), false);
  if (lastKept == gone.rend()) return removeAll(items, container.begin);
  std::size_t kept = static_cast<std::size_t>(gone.rend() - lastKept) - 1;
  for (std::size_t i = 0; i < kept; ++i)
    if (gone[i]) removeBefore(items[i], items[i + 1]);
  if (kept + 1 < items.size()) removeTrailing(items[kept], items[kept + 1], items.back());
}

bool TextEditor::madeByUs(const JsonDoc::Node& container) const {
  std::vector<Span> items = this->items(container);
  if (items.empty() || padded(items, container.begin)) return false;
  Span all = allItems(items, container.begin);
  return all.begin == container.begin + 1 && all.end == container.end - 1;
}

bool TextEditor::spread(const JsonDoc::Node& container, bool outerSpread) const {
  if (doc_.children(container).empty()) return outerSpread;
  std::size_t first = (*doc_.children(container).begin()).whole().begin;
  return text_.substr(container.begin, first - container.begin).find('\n') != std::string_view::npos;
}

void TextEditor::replace(Span span, const json& value) { edits_.push_back({span, writeJson(value, style_)}); }

std::optional<EditedText> TextEditor::result() {
  if (edits_.empty()) return std::nullopt;
  return EditedText(text_, std::move(edits_));
}

/// Where the text of `comment` ends: before the line break that ends a `//` comment.
std::size_t TextEditor::textEnd(Span comment) const {
  std::string_view body = text_.substr(comment.begin, comment.end - comment.begin);
  if (!body.starts_with("//")) return comment.end;
  return comment.end - (body.ends_with("\r\n") ? 2 : body.ends_with('\n') || body.ends_with('\r') ? 1 : 0);
}

/// Where the line that holds `at` ends, when only blanks and at least one
/// comment stand between `at` and that end.
std::optional<std::size_t> TextEditor::commentedLineEnd(std::size_t at) const {
  bool commented = false;
  for (Span comment : doc_.comments(at, text_.size())) {
    while (at < comment.begin && isBlank(text_[at])) ++at;
    if (at != comment.begin) break;
    at = textEnd(comment);
    if (at != comment.end) return at;  // a `//` comment, which ends the line
    if (text_.substr(comment.begin, at - comment.begin).find_first_of("\r\n") != std::string_view::npos) return {};
    commented = true;
  }
  while (at < text_.size() && isBlank(text_[at])) ++at;
  if (commented && at < text_.size() && (text_[at] == '\n' || text_[at] == '\r')) return at;
  return std::nullopt;
}

/// The items from `first` to `last` that end their container: they go with
/// the separator before them; the comments before them stay, each on its line.
void TextEditor::removeTrailing(Span previous, Span first, Span last) {
  auto comments = doc_.comments(previous.end, first.begin);
  if (comments.empty()) return cut({previous.end, last.end});
  std::size_t comma = doc_.skipSpace(previous.end);
  cut({comma, comma + 1});
  cut({std::max(textEnd(comments.back()), comma + 1), last.end});
}

/// An item that another follows: it goes with the separator and the blanks after it.
void TextEditor::removeBefore(Span item, Span next) {
  std::size_t end = doc_.skipSpace(item.end) + 1;  // past the comma
  while (end < next.begin && (isBlank(text_[end]) || text_[end] == '\n' || text_[end] == '\r')) ++end;
  cut({item.begin, end});
}

/// Items that `append` put into a `[]` or `{}`, a space on each side.
bool TextEditor::padded(const std::vector<Span>& items, std::size_t open) const {
  std::size_t end = items.back().end;
  return items.front().begin == open + 2 && text_[open + 1] == ' ' && end + 1 < text_.size() && text_[end] == ' ' &&
         (text_[end + 1] == ']' || text_[end + 1] == '}');
}

/// The bytes that all of `items` take: the undoing of `append` to an empty
/// container, which put a line break and the container's own indentation
/// after them, or only a line break before them after a comment.
Span TextEditor::allItems(const std::vector<Span>& items, std::size_t open) const {
  if (padded(items, open)) return {open + 1, items.back().end + 1};
  std::size_t begin = open + 1;
  auto comments = doc_.comments(begin, items.front().begin);
  if (!comments.empty()) begin = textEnd(comments.back());
  // After a comment that ends the opening line, `append` put the items at the
  // line break, past the blanks that end that line: they stay.
  std::size_t blanks = begin;
  while (!comments.empty() && blanks < items.front().begin && isBlank(text_[blanks])) ++blanks;
  if (text_[blanks] == '\n' || text_[blanks] == '\r') begin = blanks;
  std::size_t end = items.back().end;
  bool ownLines = comments.empty() && text_.substr(begin, items.front().begin - begin).find('\n') != std::string_view::npos;
  for (std::string_view newline : {std::string_view(style_.newline), std::string_view("\n")}) {
    if (!ownLines) break;
    if (!text_.substr(end).starts_with(newline)) continue;
    end += newline.size();
    if (std::string closing = lineIndent(text_, open); text_.substr(end).starts_with(closing)) end += closing.size();
    break;
  }
  return {begin, end};
}

/// Empties a container; comments between its items stay, each item going with the comma after it.
void TextEditor::removeAll(const std::vector<Span>& items, std::size_t open) {
  if (doc_.comments(items.front().begin, items.back().end).empty()) return cut(allItems(items, open));
  for (std::size_t i = 0; i + 1 < items.size(); ++i) {
    std::size_t comma = doc_.skipSpace(items[i].end);
    cut(items[i]);
    cut({comma, comma + 1});
  }
  cut(items.back());
}

}  // namespace tarnel
