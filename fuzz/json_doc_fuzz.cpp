// Reading a settings text, over arbitrary bytes; the first byte says whether
// comments are allowed. The one-pass reader accepts exactly the texts that
// nlohmann-json's strict parser accepts, and refuses the others with its
// words. Of an accepted text, the tree is the text: the same value as the
// parser reads, each name, string and number at bytes that read as it, each
// container between its brackets, each value inside its container, in order.
#include <cstdint>
#include <cstdlib>

#include <nlohmann/json.hpp>

#include "settings/json_doc.h"

using namespace tarnel;
using json = nlohmann::json;

static void check(bool ok) {
  if (!ok) abort();
}

static json valueOf(const JsonDoc& doc, const JsonDoc::Node& node, bool comments) {
  std::string_view text = doc.text().substr(node.begin, node.end - node.begin);
  json value = node.kind == JsonKind::object ? json::object() : json::array();
  std::size_t after = node.begin;
  for (const JsonDoc::Node& child : doc.children(node)) {
    check(child.whole().begin > after && child.end < node.end);
    after = child.end;
    if (node.kind == JsonKind::array) {
      value.push_back(valueOf(doc, child, comments));
      continue;
    }
    check(json::parse(doc.text().substr(child.keyBegin, child.keyEnd - child.keyBegin)) == doc.name(child));
    value[std::string(doc.name(child))] = valueOf(doc, child, comments);
    check(doc.find(node, doc.name(child))->end >= child.end);
  }
  switch (node.kind) {
    case JsonKind::object: check(text.starts_with('{') && text.ends_with('}')); return value;
    case JsonKind::array: check(text.starts_with('[') && text.ends_with(']')); return value;
    case JsonKind::string: check(json::parse(text) == doc.string(node)); return doc.string(node);
    default: value = json::parse(text); check(value.is_primitive()); return value;
  }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  Comments comments = data[0] % 2 ? Comments::allowed : Comments::refused;
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  auto expected = strictJsonError(text, comments);
  try {
    JsonDoc doc(text, comments);
    check(!expected);
    bool withComments = comments == Comments::allowed;
    check(valueOf(doc, doc.root(), withComments) == json::parse(text, nullptr, true, withComments));
    std::size_t after = 0;
    for (Span c : doc.comments(0, text.size())) {
      std::string_view body = std::string_view(text).substr(c.begin, c.end - c.begin);
      check(withComments && c.begin >= after && (body.starts_with("//") || (body.starts_with("/*") && body.ends_with("*/"))));
      after = c.end;
    }
  } catch (const JsonSyntaxError& error) {
    check(expected && std::string(error.what()) == expected->what() && error.endsEarly() == expected->endsEarly());
  }
  return 0;
}
