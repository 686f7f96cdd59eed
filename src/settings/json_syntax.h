// What JSON a settings file may hold, and the words that say why a text is
// not such JSON: nlohmann-json's own account of the error, with its place.
#pragma once

#include <cstddef>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace tarnel {

/// The deepest nesting of objects and arrays that a settings file may have.
inline constexpr std::size_t maxJsonDepth = 512;

/// Whether `//` and `/* */` comments may stand wherever whitespace may.
enum class Comments { refused, allowed };

/// Why a text is not JSON that we accept, and where: "line 2, column 13: <reason>"
/// (1-based line, column in bytes).
class JsonSyntaxError : public std::runtime_error {
public:
  JsonSyntaxError(std::size_t line, std::size_t column, const std::string& reason, bool endsEarly = false);
  /// Whether the text is JSON cut short: what a file holds while it is being written.
  bool endsEarly() const { return endsEarly_; }

private:
  bool endsEarly_;
};

/// Why nlohmann-json's strict parser does not accept `text` as a settings
/// text, or nothing when it does. Accepted: one JSON value whose top level is
/// an object or an array, nothing after it but whitespace (a NUL byte is no
/// whitespace), nesting at most `maxJsonDepth` deep, and comments only where
/// allowed. The whole text is read, so this is the slow, sure reading: the
/// error of a text that a faster reader refused.
std::optional<JsonSyntaxError> strictJsonError(std::string_view text, Comments comments);

}  // namespace tarnel
