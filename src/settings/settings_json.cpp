#include "settings/settings_json.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <unordered_map>
#include <utility>
#include <vector>

namespace tarnel {
namespace {

using Members = json::object_t::Container;  // ordered_map is a vector of key/value pairs

/// Objects up to this size find a repeated key by a plain scan; larger ones
/// keep a hash index of their keys.
constexpr std::size_t scanLimit = 16;

/// Where in `text` the character at `index` stands, 1-based.
std::pair<std::size_t, std::size_t> lineAndColumn(std::string_view text, std::size_t index) {
  index = std::min(index, text.size());
  std::string_view before = text.substr(0, index);
  std::size_t line = 1 + static_cast<std::size_t>(std::count(before.begin(), before.end(), '\n'));
  std::size_t lineStart = before.rfind('\n');
  return {line, lineStart == std::string_view::npos ? index + 1 : index - lineStart};
}

/// The first character of the top-level value: past a byte order mark and whitespace.
std::size_t firstValueAt(std::string_view text) {
  std::size_t i = text.starts_with("\xEF\xBB\xBF") ? 3 : 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' || text[i] == '\r')) ++i;
  return i;
}

/// The bracket that opens the first container nested deeper than `maxJsonDepth`.
std::size_t tooDeepAt(std::string_view text) {
  std::size_t depth = 0;
  bool inString = false, escaped = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (inString) {
      if (escaped) escaped = false;
      else if (c == '\\') escaped = true;
      else if (c == '"') inString = false;
    } else if (c == '"') {
      inString = true;
    } else if (c == '{' || c == '[') {
      if (++depth > maxJsonDepth) return i;
    } else if (c == '}' || c == ']') {
      --depth;
    }
  }
  return text.size();
}

/// The parser's own account of an error, without its exception name, position
/// and token echo: "unexpected end of input; expected '}'", "invalid literal".
std::string plainReason(const nlohmann::detail::exception& error, const std::string& lastToken) {
  if (error.id == 406) return "number out of range";
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

/// Builds the parsed value from nlohmann's SAX events. Members are appended
/// to their object's vector directly: ordered_map's own insertion searches all
/// members first, which makes large objects quadratic to read.
class Builder {
public:
  enum class Refusal { none, syntax, tooDeep, scalarTopLevel };

  explicit Builder(json& root) : root_(root) {}

  bool null() { return put(nullptr); }
  bool boolean(bool value) { return put(value); }
  bool number_integer(json::number_integer_t value) { return put(value); }
  bool number_unsigned(json::number_unsigned_t value) { return put(value); }
  bool number_float(json::number_float_t value, const std::string&) { return put(value); }
  bool string(std::string& value) { return put(std::move(value)); }
  bool binary(json::binary_t&) { return false; }  // JSON text holds none
  bool start_object(std::size_t) { return open(json::value_t::object); }
  bool start_array(std::size_t) { return open(json::value_t::array); }
  bool end_object() { return close(); }
  bool end_array() { return close(); }

  bool key(std::string& name) {
    Frame& frame = frames_.back();
    auto& members = static_cast<Members&>(frame.container->get_ref<json::object_t&>());
    if (members.size() == scanLimit && frame.index.empty())
      for (std::size_t i = 0; i < members.size(); ++i) frame.index.emplace(members[i].first, i);
    std::optional<std::size_t> earlier;
    if (frame.index.empty()) {
      auto found = std::find_if(members.begin(), members.end(), [&](const auto& m) { return m.first == name; });
      if (found != members.end()) earlier = static_cast<std::size_t>(found - members.begin());
    } else if (auto [at, added] = frame.index.try_emplace(name, members.size()); !added) {
      earlier = at->second;
    }
    if (earlier) {
      pending_ = &members[*earlier].second;  // a repeated key keeps its place, takes the new value
    } else {
      members.emplace_back(std::move(name), json());
      pending_ = &members.back().second;
    }
    return true;
  }

  bool parse_error(std::size_t charsRead, const std::string& lastToken, const nlohmann::detail::exception& error) {
    refusal_ = Refusal::syntax;
    errorAt_ = charsRead > 0 ? charsRead - 1 : 0;
    reason_ = plainReason(error, lastToken);
    return false;
  }

  /// Why the parse stopped, for a text in which the parser found no fault of its own.
  JsonSyntaxError failure(std::string_view text) const {
    std::size_t at = errorAt_;
    std::string reason = reason_;
    if (refusal_ == Refusal::tooDeep) {
      at = tooDeepAt(text);
      reason = "nesting deeper than " + std::to_string(maxJsonDepth) + " levels";
    } else if (refusal_ == Refusal::scalarTopLevel) {
      at = firstValueAt(text);
      reason = "expected '{' or '['";
    }
    auto [line, column] = lineAndColumn(text, at);
    return JsonSyntaxError(line, column, reason);
  }

private:
  struct Frame {
    json* container;
    std::unordered_map<std::string, std::size_t> index;  // key to position, once past scanLimit
  };

  /// Where the next value goes: the member named by the last key, or a new
  /// element at the end of the open array.
  json* slot() {
    json& container = *frames_.back().container;
    if (container.is_object()) return pending_;
    auto& elements = container.get_ref<json::array_t&>();
    elements.emplace_back();
    return &elements.back();
  }

  template <class Value>
  bool put(Value&& value) {
    if (frames_.empty()) {
      refusal_ = Refusal::scalarTopLevel;
      return false;
    }
    *slot() = std::forward<Value>(value);
    return true;
  }

  bool open(json::value_t kind) {
    if (frames_.size() >= maxJsonDepth) {
      refusal_ = Refusal::tooDeep;
      return false;
    }
    json* target = frames_.empty() ? &root_ : slot();
    *target = json(kind);
    frames_.push_back({target, {}});
    return true;
  }

  bool close() {
    frames_.pop_back();
    return true;
  }

  json& root_;
  std::vector<Frame> frames_;
  json* pending_ = nullptr;
  Refusal refusal_ = Refusal::none;
  std::size_t errorAt_ = 0;
  std::string reason_;
};

/// Hands the serializer's output on in large pieces. (The serializer's own
/// adapters go through std::ostream per character or grow one string for the
/// whole text; both cost more than the rest of a save.)
class ChunkedOutput : public nlohmann::detail::output_adapter_protocol<char> {
public:
  explicit ChunkedOutput(const std::function<void(std::string_view)>& write) : write_(write) {}

  void write_character(char c) override {
    if (used_ == sizeof buffer_) flush();
    buffer_[used_++] = c;
  }

  void write_characters(const char* text, std::size_t length) override {
    if (used_ + length > sizeof buffer_) flush();
    if (length >= sizeof buffer_) return write_(std::string_view(text, length));
    std::copy_n(text, length, buffer_ + used_);
    used_ += length;
  }

  void flush() {
    if (used_ > 0) write_(std::string_view(buffer_, used_));
    used_ = 0;
  }

private:
  const std::function<void(std::string_view)>& write_;
  char buffer_[1 << 16];
  std::size_t used_ = 0;
};

}  // namespace

JsonSyntaxError::JsonSyntaxError(std::size_t line, std::size_t column, std::string reason)
    : std::runtime_error("line " + std::to_string(line) + ", column " + std::to_string(column) + ": " + reason),
      line_(line), column_(column), reason_(std::move(reason)) {}

json parseJson(std::string_view text) {
  json root;
  Builder builder(root);
  if (!json::sax_parse(text.data(), text.data() + text.size(), &builder)) throw builder.failure(text);
  return root;
}

void serializeJson(const json& value, const std::function<void(std::string_view)>& write) {
  auto output = std::make_shared<ChunkedOutput>(write);
  try {
    nlohmann::detail::serializer<json>(output, ' ', json::error_handler_t::strict).dump(value, true, false, 2);
  } catch (const json::exception&) {
    throw std::runtime_error("a text in it is not valid UTF-8");
  }
  output->flush();
}

bool isListOfObjects(const json& value) {
  return value.is_array() && std::all_of(value.begin(), value.end(), [](const json& e) { return e.is_object(); });
}

json* member(json& object, std::string_view key) {
  auto found = object.find(key);
  return found == object.end() ? nullptr : &*found;
}

const json* member(const json& object, std::string_view key) {
  auto found = object.find(key);
  return found == object.end() ? nullptr : &*found;
}

void setMember(json& object, std::string_view key, json value) { object[std::string(key)] = std::move(value); }

}  // namespace tarnel
