#include "settings/json_syntax.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include <nlohmann/json.hpp>

namespace tarnel {
namespace {

using json = nlohmann::ordered_json;

/// Where the character at `index` stands, 1-based.
std::pair<std::size_t, std::size_t> lineAndColumn(std::string_view text, std::size_t index) {
  index = std::min(index, text.size());
  std::string_view before = text.substr(0, index);
  std::size_t line = 1 + static_cast<std::size_t>(std::count(before.begin(), before.end(), '\n'));
  std::size_t lineStart = before.rfind('\n');
  return {line, lineStart == std::string_view::npos ? index + 1 : index - lineStart};
}

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

/// The first character of the top-level value: past a byte order mark and whitespace.
std::size_t firstValueAt(std::string_view text) {
  std::size_t i = text.starts_with("\xEF\xBB\xBF") ? 3 : 0;
  while (i < text.size() && isSpace(text[i])) ++i;
  return i;
}

/// Just past the string whose opening quote is at `at`.
std::size_t stringEnd(std::string_view text, std::size_t at) {
  for (std::size_t i = at + 1;;) {
    const void* quote = std::memchr(text.data() + i, '"', text.size() - i);
    if (!quote) return text.size();
    std::size_t q = static_cast<std::size_t>(static_cast<const char*>(quote) - text.data());
    std::size_t slashes = 0;
    while (q - slashes > at && text[q - slashes - 1] == '\\') ++slashes;
    if (slashes % 2 == 0) return q + 1;
    i = q + 1;
  }
}

/// The bracket that opens the first container nested deeper than `maxJsonDepth`.
std::size_t tooDeepAt(std::string_view text) {
  std::size_t depth = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '"') i = stringEnd(text, i) - 1;
    else if ((c == '{' || c == '[') && ++depth > maxJsonDepth) return i;
    else if (c == '}' || c == ']') --depth;
  }
  return text.size();
}

/// The parser's own account of an error, without its exception name, position
/// and token echo: "unexpected end of input; expected '}'", "invalid literal".
std::string plainReason(const json::exception& error, const std::string& lastToken) {
  if (dynamic_cast<const json::out_of_range*>(&error)) return "number out of range";
  std::string text = error.what();
  if (auto end = text.find("] "); text.starts_with("[json.exception.") && end != std::string::npos)
    text.erase(0, end + 2);
  if (auto column = text.find(", column "); text.starts_with("parse error") && column != std::string::npos)
    if (auto colon = text.find(": ", column); colon != std::string::npos) text.erase(0, colon + 2);
  if (auto dash = text.find(" - "); text.starts_with("syntax error while parsing ") && dash != std::string::npos)
    text.erase(0, dash + 3);
  std::string echo = "; last read: '" + lastToken + "'";
  if (auto at = text.find(echo); at != std::string::npos) text.erase(at, echo.size());
  return text;
}

/// Follows the parser's events without building anything: it only watches the
/// nesting depth and that the top level is a container.
class Checker {
public:
  enum class Refusal { none, syntax, tooDeep, scalarTopLevel };

  bool null() { return scalar(); }
  bool boolean(bool) { return scalar(); }
  bool number_integer(json::number_integer_t) { return scalar(); }
  bool number_unsigned(json::number_unsigned_t) { return scalar(); }
  bool number_float(json::number_float_t, const std::string&) { return scalar(); }
  bool string(std::string&) { return scalar(); }
  bool binary(json::binary_t&) { return false; }  // JSON text holds none
  bool key(std::string&) { return true; }
  bool start_object(std::size_t) { return open(); }
  bool start_array(std::size_t) { return open(); }
  bool end_object() { return --depth_, true; }
  bool end_array() { return --depth_, true; }

  bool parse_error(std::size_t charsRead, const std::string& lastToken, const json::exception& error) {
    refusal_ = Refusal::syntax;
    errorAt_ = charsRead > 0 ? charsRead - 1 : 0;
    reason_ = plainReason(error, lastToken);
    return false;
  }

  JsonSyntaxError failure(std::string_view text, bool withComments) const {
    std::size_t at = errorAt_;
    std::string reason = reason_;
    std::string_view here = text.substr(std::min(at, text.size()));
    if (refusal_ == Refusal::syntax && !withComments && (here.starts_with("//") || here.starts_with("/*")))
      reason = "a comment, which this file must not hold: it is read as strict JSON";
    if (refusal_ == Refusal::tooDeep) {
      at = tooDeepAt(text);
      reason = "nesting deeper than " + std::to_string(maxJsonDepth) + " levels";
    } else if (refusal_ == Refusal::scalarTopLevel) {
      at = firstValueAt(text);
      reason = "expected '{' or '['";
    }
    // The parser takes a NUL byte for the end; a file that a crash left zero-filled holds nothing else.
    if (refusal_ == Refusal::syntax && at < text.size() && text[at] == '\0') reason = "unexpected NUL byte";
    auto [line, column] = lineAndColumn(text, at);
    return JsonSyntaxError(line, column, reason, refusal_ == Refusal::syntax && at >= text.size());
  }

private:
  bool scalar() {
    if (depth_ == 0) refusal_ = Refusal::scalarTopLevel;
    return depth_ > 0;
  }
  bool open() {
    if (++depth_ <= maxJsonDepth) return true;
    refusal_ = Refusal::tooDeep;
    return false;
  }

  std::size_t depth_ = 0;
  Refusal refusal_ = Refusal::none;
  std::size_t errorAt_ = 0;
  std::string reason_;
};

}  // namespace

JsonSyntaxError::JsonSyntaxError(std::size_t line, std::size_t column, const std::string& reason, bool endsEarly)
    : std::runtime_error("line " + std::to_string(line) + ", column " + std::to_string(column) + ": " + reason),
      endsEarly_(endsEarly) {}

std::optional<JsonSyntaxError> strictJsonError(std::string_view text, Comments comments) {
  bool withComments = comments == Comments::allowed;
  Checker checker;
  // By pointer and length, so that the whole text is read: the parser would
  // take a NUL byte for the end of a C string.
  if (!json::sax_parse(text.data(), text.data() + text.size(), &checker, json::input_format_t::json, true,
                       withComments))
    return checker.failure(text, withComments);
  if (auto nul = text.find('\0'); nul != std::string_view::npos) {
    auto [line, column] = lineAndColumn(text, nul);
    return JsonSyntaxError(line, column, "unexpected NUL byte after the end of the settings");
  }
  return std::nullopt;
}

}  // namespace tarnel
