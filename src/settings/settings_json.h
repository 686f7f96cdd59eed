// Agent settings as JSON text: strict validation with the place of an error,
// byte spans of members and elements in a validated text, and a writer for
// the little text that we add, in the file's own style.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "settings/json_doc.h"

namespace tarnel {

/// A JSON value whose objects keep their members in file order.
using json = nlohmann::ordered_json;

/// A settings text read as a JsonDoc (throws JsonSyntaxError), seen through
/// the places where its values begin. Lets a reader find the spans of members
/// and elements; the spans are those of `text`, comments included.
class JsonText {
public:
  /// Reads `text` in place: it must outlive this.
  JsonText(const std::string& text, Comments comments);

  /// The text as the file holds it.
  std::string_view text() const { return doc_.text(); }
  /// Where the top-level value begins (past a byte order mark and whitespace).
  std::size_t root() const { return doc_.root().begin; }
  /// The character at `at`, read through comments as if they were spaces.
  char at(std::size_t pos) const { return scanned()[pos]; }

  /// One member of an object: its key's span, its decoded name and its value's span.
  struct Member {
    Span key;
    std::string name;
    Span value;
  };
  /// The members of the object that opens at `open`, in text order.
  std::vector<Member> members(std::size_t open) const;
  /// The elements of the array that opens at `open`, in text order.
  std::vector<Span> elements(std::size_t open) const;
  /// The value at `span`, parsed.
  json value(Span span) const;

  /// The first non-space at or after `at` (comments count as space).
  std::size_t skipSpace(std::size_t at) const;
  /// The comments inside [begin, end), in order; for a `//` comment its end is past its line break.
  std::vector<Span> comments(std::size_t begin, std::size_t end) const { return doc_.comments(begin, end); }

private:
  /// The text with its comments turned to spaces.
  std::string_view scanned() const { return blanked_.empty() ? doc_.text() : std::string_view(blanked_); }

  JsonDoc doc_;
  std::string blanked_;  ///< the text with comments turned to spaces, when it has any
};

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

// Shape rules. Any value that fails one counts as absent where it is asked.

/// A JSON array whose elements are all objects; the empty array is one.
bool isListOfObjects(const json& value);

/// The member `key` of `object`, or nullptr when it has none or is no object.
const json* member(const json& object, std::string_view key);

}  // namespace tarnel
