#include "settings/json_doc.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <stdexcept>

namespace tarnel {

/// One pass over a text that builds the nodes of a JsonDoc. It accepts exactly
/// what strictJsonError accepts (the fuzzer holds the two to that) and says no
/// more than yes or no: the words of a refusal are the parser's.
class JsonScanner {
public:
  JsonScanner(JsonDoc& doc, bool comments) : doc_(doc), t_(doc.text_), comments_(comments) {}

  bool run() {
    i_ = t_.starts_with("\xEF\xBB\xBF") ? 3 : 0;
    if (!space() || (peek() != '{' && peek() != '[')) return false;
    std::vector<std::uint32_t> open;  // the containers around the next value
    Key key;
    for (;;) {
      if (!value(key, open)) return false;
      // After a value: close what ends here, then expect the next element or member.
      for (;;) {
        if (!space()) return false;
        if (open.empty()) return i_ == t_.size();
        JsonDoc::Node& container = doc_.nodes_[open.back()];
        bool object = container.kind == JsonKind::object;
        if (peek() == (object ? '}' : ']')) {
          container.end = static_cast<std::uint32_t>(++i_);
          container.next = static_cast<std::uint32_t>(doc_.nodes_.size());
          open.pop_back();
          continue;
        }
        if (peek() != ',') return false;
        ++i_;
        if (!space() || (object && !memberKey(key))) return false;
        break;
      }
    }
  }

private:
  struct Key {
    std::uint32_t begin = 0, end = 0;
    bool escaped = false;
  };

  char peek() const { return i_ < t_.size() ? t_[i_] : '\0'; }
  std::uint8_t byte(std::size_t at) const { return at < t_.size() ? static_cast<std::uint8_t>(t_[at]) : 0; }

  /// Reads the value at the current place (whitespace skipped); a container
  /// is opened, its first element or member key read when it has one.
  bool value(Key& key, std::vector<std::uint32_t>& open) {
    auto at = static_cast<std::uint32_t>(i_);
    JsonDoc::Node node{at, at, key.begin, key.end, 0, JsonKind::null, key.escaped, false};
    key = {};
    char c = peek();
    if (c == '{' || c == '[') {
      if (open.size() == maxJsonDepth) return false;
      node.kind = c == '{' ? JsonKind::object : JsonKind::array;
      open.push_back(static_cast<std::uint32_t>(doc_.nodes_.size()));
      doc_.nodes_.push_back(node);
      ++i_;
      if (!space()) return false;
      if (peek() == (c == '{' ? '}' : ']')) return true;  // empty: the caller closes it
      if (c == '{') return memberKey(key) && value(key, open);
      return value(key, open);
    }
    bool ok = c == '"' ? (node.kind = JsonKind::string, string(node.escaped))
            : c == '-' || (c >= '0' && c <= '9') ? (node.kind = JsonKind::number, number())
            : c == 't' ? (node.kind = JsonKind::boolean, literal("true"))
            : c == 'f' ? (node.kind = JsonKind::boolean, literal("false"))
            : c == 'n' && literal("null");
    if (!ok) return false;
    node.end = static_cast<std::uint32_t>(i_);
    node.next = static_cast<std::uint32_t>(doc_.nodes_.size() + 1);
    doc_.nodes_.push_back(node);
    if (node.escaped) unescape(node.begin, node.end);
    return true;
  }

  /// Reads a member's key and its colon, up to its value.
  bool memberKey(Key& key) {
    if (peek() != '"') return false;
    key.begin = static_cast<std::uint32_t>(i_);
    if (!string(key.escaped)) return false;
    key.end = static_cast<std::uint32_t>(i_);
    if (key.escaped) unescape(key.begin, key.end);
    if (!space() || peek() != ':') return false;
    ++i_;
    return space();
  }

  /// Skips whitespace and, where allowed, comments; false at a comment that
  /// is not allowed or not closed.
  bool space() {
    for (;;) {
      while (i_ < t_.size() && (t_[i_] == ' ' || t_[i_] == '\n' || t_[i_] == '\r' || t_[i_] == '\t')) ++i_;
      if (peek() != '/') return true;
      if (!comments_ || !comment()) return false;
    }
  }

  bool comment() {
    std::size_t begin = i_, end;
    if (byte(i_ + 1) == '/') {
      end = t_.find_first_of(std::string_view("\r\n\0", 3), i_ + 2);
      if (end != std::string_view::npos && t_[end] == '\0') return false;
      end = end == std::string_view::npos ? t_.size() : end + (t_.substr(end, 2) == "\r\n" ? 2 : 1);
    } else if (byte(i_ + 1) == '*') {
      end = t_.find("*/", i_ + 2);
      if (end == std::string_view::npos || t_.substr(i_, end - i_).find('\0') != std::string_view::npos) return false;
      end += 2;
    } else {
      return false;
    }
    doc_.comments_.push_back({begin, end});
    i_ = end;
    return true;
  }

  bool literal(std::string_view word) {
    if (t_.substr(i_, word.size()) != word) return false;
    i_ += word.size();
    return true;
  }

  bool digits() {
    std::size_t from = i_;
    while (i_ < t_.size() && t_[i_] >= '0' && t_[i_] <= '9') ++i_;
    return i_ > from;
  }

  /// A number as JSON writes it, that a double can hold (the parser refuses
  /// one that overflows to infinity).
  bool number() {
    std::size_t begin = i_;
    if (peek() == '-') ++i_;
    std::size_t integer = i_;
    if (peek() == '0') ++i_;
    else if (!digits()) return false;
    std::size_t integerDigits = i_ - integer;
    if (peek() == '.' && (++i_, !digits())) return false;
    bool exponent = peek() == 'e' || peek() == 'E';
    if (exponent) {
      ++i_;
      if (peek() == '+' || peek() == '-') ++i_;
      if (!digits()) return false;
    }
    if (!exponent && integerDigits < std::numeric_limits<double>::max_exponent10) return true;
    return std::isfinite(std::strtod(std::string(t_.substr(begin, i_ - begin)).c_str(), nullptr));
  }

  /// The bytes that a string may hold as they are: printable ASCII but the quote and the backslash.
  static constexpr std::array<bool, 256> plain = [] {
    std::array<bool, 256> table{};
    for (int c = 0x20; c < 0x80; ++c) table[c] = c != '"' && c != '\\';
    return table;
  }();

  bool string(bool& escaped) {
    ++i_;
    for (;;) {
      while (i_ < t_.size() && plain[static_cast<std::uint8_t>(t_[i_])]) ++i_;
      std::uint8_t c = byte(i_);
      if (i_ >= t_.size() || c < 0x20) return false;
      if (c == '"') return ++i_, true;
      if (c == '\\') {
        escaped = true;
        if (!escape()) return false;
      } else if (!utf8(c)) {
        return false;
      }
    }
  }

  /// Four hex digits at `at`, or -1.
  long hex4(std::size_t at) const {
    if (at + 4 > t_.size()) return -1;
    long value = 0;
    for (std::size_t k = at; k < at + 4; ++k) {
      char c = t_[k];
      int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
      if (digit < 0) return -1;
      value = value * 16 + digit;
    }
    return value;
  }

  bool escape() {
    char c = static_cast<char>(byte(i_ + 1));
    if (c != 'u') return std::string_view("\"\\/bfnrt").find(c) != std::string_view::npos && (i_ += 2, true);
    long unit = hex4(i_ + 2);
    i_ += 6;
    if (unit >= 0xDC00 && unit <= 0xDFFF) return false;  // a low surrogate alone
    if (unit < 0xD800 || unit > 0xDBFF) return unit >= 0;
    if (byte(i_) != '\\' || byte(i_ + 1) != 'u') return false;
    long low = hex4(i_ + 2);
    i_ += 6;
    return low >= 0xDC00 && low <= 0xDFFF;
  }

  /// One well-formed UTF-8 character of two to four bytes, leading with `lead`.
  bool utf8(std::uint8_t lead) {
    auto within = [&](std::size_t k, int lo, int hi) { return byte(i_ + k) >= lo && byte(i_ + k) <= hi; };
    std::size_t size = lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3 : lead >= 0xF0 && lead <= 0xF4 ? 4 : 0;
    if (size == 0) return false;
    int lo = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80, hi = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
    if (!within(1, lo, hi)) return false;
    for (std::size_t k = 2; k < size; ++k)
      if (!within(k, 0x80, 0xBF)) return false;
    i_ += size;
    return true;
  }

  /// Keeps the decoded text of the string whose quotes stand at `open` and `close` - 1.
  void unescape(std::uint32_t open, std::uint32_t close) {
    std::string out;
    for (std::size_t k = open + 1; k + 1 < close; ++k) {
      if (t_[k] != '\\') {
        out += t_[k];
        continue;
      }
      char c = t_[++k];
      if (c != 'u') {
        out += c == 'b' ? '\b' : c == 'f' ? '\f' : c == 'n' ? '\n' : c == 'r' ? '\r' : c == 't' ? '\t' : c;
        continue;
      }
      auto code = static_cast<std::uint32_t>(hex4(k + 1));
      k += 4;
      if (code >= 0xD800 && code <= 0xDBFF) {
        code = 0x10000 + ((code - 0xD800) << 10) + (static_cast<std::uint32_t>(hex4(k + 3)) - 0xDC00);
        k += 6;
      }
      if (code < 0x80) {
        out += static_cast<char>(code);
      } else {
        int size = code < 0x800 ? 2 : code < 0x10000 ? 3 : 4;
        out += static_cast<char>((0xF00u >> size) | (code >> (6 * (size - 1))));
        for (int s = size - 2; s >= 0; --s) out += static_cast<char>(0x80 | ((code >> (6 * s)) & 0x3F));
      }
    }
    doc_.unescaped_.emplace_back(open, std::move(out));
  }

  JsonDoc& doc_;
  std::string_view t_;
  bool comments_;
  std::size_t i_ = 0;
};

JsonDoc::JsonDoc(std::string_view text, Comments comments) : text_(text) {
  if (text.size() >= std::numeric_limits<std::uint32_t>::max()) throw std::length_error("a settings text over 4 GiB");
  nodes_.reserve(text.size() / 16 + 1);  // pretty-printed settings take some 30 bytes a value
  if (!JsonScanner(*this, comments == Comments::allowed).run()) {
    if (auto error = strictJsonError(text, comments)) throw *error;
    throw std::logic_error("the scanner refused a text that the parser accepts");
  }
}

JsonDoc::Children JsonDoc::children(const Node& container) const {
  auto at = static_cast<std::uint32_t>(&container - nodes_.data());
  bool scalar = container.kind != JsonKind::object && container.kind != JsonKind::array;
  return {nodes_.data(), scalar ? container.next : at + 1, container.next};
}

const JsonDoc::Node* JsonDoc::find(const Node& object, std::string_view name) const {
  if (object.kind != JsonKind::object) return nullptr;
  const Node* found = nullptr;
  for (const Node& m : children(object))
    if (this->name(m) == name) found = &m;
  return found;
}

bool JsonDoc::isObjectList(const Node& node) const {
  if (node.kind != JsonKind::array) return false;
  auto all = children(node);
  return std::all_of(all.begin(), all.end(), [](const Node& e) { return e.kind == JsonKind::object; });
}

const JsonDoc::Node* JsonDoc::at(std::size_t begin) const {
  auto found = std::lower_bound(nodes_.begin(), nodes_.end(), begin, [](const Node& n, std::size_t b) { return n.begin < b; });
  return found != nodes_.end() && found->begin == begin ? &*found : nullptr;
}

std::vector<Span> JsonDoc::comments(std::size_t begin, std::size_t end) const {
  std::vector<Span> inside;
  auto first = std::lower_bound(comments_.begin(), comments_.end(), begin, [](Span c, std::size_t b) { return c.begin < b; });
  for (auto c = first; c != comments_.end() && c->end <= end; ++c) inside.push_back(*c);
  return inside;
}

std::size_t JsonDoc::skipSpace(std::size_t at) const {
  for (;;) {
    while (at < text_.size() && (text_[at] == ' ' || text_[at] == '\n' || text_[at] == '\r' || text_[at] == '\t')) ++at;
    auto c = std::lower_bound(comments_.begin(), comments_.end(), at, [](Span c, std::size_t b) { return c.begin < b; });
    if (c == comments_.end() || c->begin != at) return at;
    at = c->end;
  }
}

std::string_view JsonDoc::decoded(std::uint32_t open, std::uint32_t close, bool escaped) const {
  if (!escaped) return text_.substr(open + 1, close - open - 2);
  auto found = std::lower_bound(unescaped_.begin(), unescaped_.end(), open, [](auto& u, std::uint32_t o) { return u.first < o; });
  return found->second;
}

}  // namespace tarnel
