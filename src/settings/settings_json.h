// Agent settings as JSON values: strict, order-keeping reading and writing,
// and the shape rules every installer asks of a value.
#pragma once

#include <cstddef>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace tarnel {

/// A JSON value whose objects keep their members in file order.
using json = nlohmann::ordered_json;

/// The deepest nesting of objects and arrays that `parseJson` accepts.
inline constexpr std::size_t maxJsonDepth = 512;

/// Why a text is not JSON that `parseJson` accepts, and where (1-based line,
/// column in bytes, counted as the parser reads).
class JsonSyntaxError : public std::runtime_error {
public:
  JsonSyntaxError(std::size_t line, std::size_t column, std::string reason);
  std::size_t line() const { return line_; }
  std::size_t column() const { return column_; }
  const std::string& reason() const { return reason_; }

private:
  std::size_t line_, column_;
  std::string reason_;
};

/// Parses `text` as strict JSON whose top level is an object or an array.
/// Linear in the size of the text, also for objects with very many members;
/// a key given twice keeps its first place and its last value. Throws
/// JsonSyntaxError, also for nesting deeper than `maxJsonDepth`.
json parseJson(std::string_view text);

/// Writes `value` pretty-printed, piece by piece, through `write`: two-space
/// indent, UTF-8 and slashes written as they are, no newline at the end.
/// Throws std::runtime_error for a string that is not valid UTF-8 (only a text
/// of our own making can hold one); lets what `write` throws pass.
void serializeJson(const json& value, const std::function<void(std::string_view)>& write);

// The shape rules. Any value that fails one counts as absent where it is asked.

/// A JSON object.
inline bool isObject(const json& value) { return value.is_object(); }

/// A JSON array whose elements are all objects; the empty array is one.
bool isListOfObjects(const json& value);

/// A JSON string equal to `text`; other kinds are never converted to text.
inline bool isString(const json& value, std::string_view text) {
  return value.is_string() && value.get_ref<const std::string&>() == text;
}

/// The member `key` of `object`, or nullptr when it has none.
json* member(json& object, std::string_view key);
const json* member(const json& object, std::string_view key);

/// Appends `key` with `value` at the end of `object`, or replaces the value in place.
void setMember(json& object, std::string_view key, json value);

}  // namespace tarnel
