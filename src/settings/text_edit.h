// Editing a settings text the way its author would: values added, removed or
// replaced at their places in the text, in the file's own indentation and
// line endings, every other byte kept, comments included. Knows no agent.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "settings/json_doc.h"

namespace tarnel {

/// A JSON value to write; objects keep their members in the order given.
using json = nlohmann::ordered_json;

/// How the lines that we write look: one indentation step, the line ending,
/// and whether containers spread their elements over lines.
struct TextStyle {
  std::string unit = "  ";
  std::string newline = "\n";
  bool multiLine = true;
};

/// `value` as JSON text in `style`; the lines after the first start with
/// `indent`. Strings are written in UTF-8 with slashes as they are; throws
/// std::domain_error for a string that is not valid UTF-8.
std::string writeJson(const json& value, const TextStyle& style, const std::string& indent = "");

/// A settings text after an edit: the original's bytes with some ranges
/// replaced. It refers to the original, which must outlive it.
class EditedText {
public:
  struct Replacement {
    Span span;
    std::string text;
  };
  EditedText(std::string_view original, std::vector<Replacement> replacements);
  /// The new text in order: pieces of the original and the replacements' texts.
  std::vector<std::string_view> pieces() const;
  std::string str() const;
  std::string_view original() const { return original_; }
  const std::vector<Replacement>& replacements() const { return replacements_; }

private:
  std::string_view original_;
  std::vector<Replacement> replacements_;  ///< by position, none overlapping
};

/// A member (with its key) or an element (without) to add.
struct JsonItem {
  std::optional<std::string> key;
  json value;
};

/// The edits of one settings text, gathered and then applied in one pass.
/// Containers are the document's nodes; their items are their children.
class TextEditor {
public:
  explicit TextEditor(const JsonDoc& doc);

  /// Adds `items` at the end of `container`; spread over lines (`spread`),
  /// one item a line. Into a `[]` or `{}` that uninstall could take for one
  /// that install made (`mayPrune`), the items go on its line with a space
  /// inside each bracket, which tells them apart.
  void append(const JsonDoc::Node& container, const std::vector<JsonItem>& items, bool spread, bool mayPrune = true);
  /// Takes out the items of `container` marked in `gone`, with their
  /// separators, keeping the comments between them and the others.
  void remove(const JsonDoc::Node& container, const std::vector<bool>& gone);
  /// Writes `value` over the bytes of `span`.
  void replace(Span span, const json& value);

  /// Whether install made `container`: taking its items out would leave nothing in it.
  bool madeByUs(const JsonDoc::Node& container) const;
  /// Whether `container` spreads its items over lines; an empty one does as
  /// the container around it does (`outerSpread`).
  bool spread(const JsonDoc::Node& container, bool outerSpread) const;

  /// The edited text; nothing when nothing was edited.
  std::optional<EditedText> result();

private:
  std::vector<Span> items(const JsonDoc::Node& container) const;
  std::size_t textEnd(Span comment) const;
  std::optional<std::size_t> commentedLineEnd(std::size_t at) const;
  void removeTrailing(Span previous, Span first, Span last);
  void removeBefore(Span item, Span next);
  bool padded(const std::vector<Span>& items, std::size_t open) const;
  Span allItems(const std::vector<Span>& items, std::size_t open) const;
  void removeAll(const std::vector<Span>& items, std::size_t open);
  void cut(Span span) { edits_.push_back({span, ""}); }

  const JsonDoc& doc_;
  std::string_view text_;
  TextStyle style_;
  std::vector<EditedText::Replacement> edits_;
};

}  // namespace tarnel
