#include "settings/settings_json.h"

#include <algorithm>

namespace tarnel {
namespace {

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

}  // namespace

JsonText::JsonText(const std::string& text, Comments comments) : doc_(text, comments) {
  auto all = doc_.comments(0, text.size());
  if (all.empty()) return;
  blanked_ = text;
  for (Span c : all)
    for (std::size_t i = c.begin; i < c.end; ++i)
      if (blanked_[i] != '\n') blanked_[i] = ' ';
}

std::size_t JsonText::skipSpace(std::size_t at) const {
  std::string_view text = scanned();
  while (at < text.size() && isSpace(text[at])) ++at;
  return at;
}

std::vector<JsonText::Member> JsonText::members(std::size_t open) const {
  std::vector<Member> found;
  for (const JsonDoc::Node& m : doc_.children(*doc_.at(open))) found.push_back({m.key(), std::string(doc_.name(m)), m.span()});
  return found;
}

std::vector<Span> JsonText::elements(std::size_t open) const {
  std::vector<Span> found;
  for (const JsonDoc::Node& e : doc_.children(*doc_.at(open))) found.push_back(e.span());
  return found;
}

json JsonText::value(Span span) const { return json::parse(scanned().substr(span.begin, span.end - span.begin)); }

namespace {

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

bool isListOfObjects(const json& value) {
  return value.is_array() && std::all_of(value.begin(), value.end(), [](const json& e) { return e.is_object(); });
}

const json* member(const json& object, std::string_view key) {
  if (!object.is_object()) return nullptr;
  auto found = object.find(key);
  return found == object.end() ? nullptr : &*found;
}

}  // namespace tarnel
