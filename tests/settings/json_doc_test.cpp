// In process: a settings text read into its tree. Each accepted text is shown
// as its values (strings and names decoded, numbers as written) with its
// comments' bytes; each refused one by the parser's words, at the edges where
// a one-pass reader could differ from it.
#include "settings/json_doc.h"

#include <gtest/gtest.h>

namespace {

using namespace tarnel;

std::string shown(const JsonDoc& doc, const JsonDoc::Node& node) {
  std::string text(doc.text().substr(node.begin, node.end - node.begin));
  if (node.kind == JsonKind::string) return std::string(1, '\'').append(doc.string(node)).append(1, '\'');
  if (node.kind != JsonKind::object && node.kind != JsonKind::array) return text;
  std::string out(1, text.front());
  for (const JsonDoc::Node& child : doc.children(node))
    out.append(out.size() > 1 ? " " : "").append(node.kind == JsonKind::object ? std::string(doc.name(child)) + "=" : "").append(shown(doc, child));
  return out + text.back();
}

std::string read(const std::string& text, Comments comments = Comments::allowed) {
  try {
    JsonDoc doc(text, comments);
    std::string out = shown(doc, doc.root());
    for (Span c : doc.comments(0, text.size())) out += " #" + std::to_string(c.begin) + "-" + std::to_string(c.end);
    return out;
  } catch (const JsonSyntaxError& error) {
    return error.what();
  }
}

struct Case {
  std::string text, shown;
};

const Case cases[] = {
    {"\xEF\xBB\xBF// c\r\n{/*x*/\"a\": 1 // d\n}", "{a=1} #3-9 #10-15 #22-27"},
    {"{\"\\u00e9\\ud83d\\ude00\\/\": \"a\\\"b\\\\c\\n\", \"k\": [-0.0e+1, 1e-999, true, null, {}]}",
     "{é😀/='a\"b\\c\n' k=[-0.0e+1 1e-999 true null {}]}"},
    {"[\"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\", " + std::string(308, '9') + "]", "['é€😀' " + std::string(308, '9') + "]"},
    {std::string(512, '[') + std::string(512, ']'), std::string(512, '[') + std::string(512, ']')},
    {std::string(513, '[') + std::string(513, ']'), "line 1, column 513: nesting deeper than 512 levels"},
    {"[" + std::string(309, '9') + "]", "line 1, column 310: number out of range"},
    {"[1e309]", "line 1, column 6: number out of range"},
    {"[\"\\udc00\"]", "line 1, column 8: invalid string: surrogate U+DC00..U+DFFF must follow U+D800..U+DBFF"},
    {"[\"\\ud800x\"]", "line 1, column 9: invalid string: surrogate U+D800..U+DBFF must be followed by U+DC00..U+DFFF"},
    {"[\"\xC0\xAF\"]", "line 1, column 3: invalid string: ill-formed UTF-8 byte"},
    {"[\"\xED\xA0\x80\"]", "line 1, column 4: invalid string: ill-formed UTF-8 byte"},
    {"[\"\xF4\x90\x80\x80\"]", "line 1, column 4: invalid string: ill-formed UTF-8 byte"},
    {"[01]", "line 1, column 3: unexpected number literal; expected ']'"},
    {"[1,]", "line 1, column 4: unexpected ']'; expected '[', '{', or a literal"},
    {std::string("{} // \0", 7), "line 1, column 7: unexpected NUL byte after the end of the settings"},
    {"{} /* x", "line 1, column 8: invalid comment; missing closing '*/'; expected end of input"},
    {"{}/", "line 1, column 4: invalid comment; expecting '/' or '*' after '/'; expected end of input"},
    {"{} x", "line 1, column 4: invalid literal; expected end of input"},
    {"\xEF\xBB{}", "line 1, column 3: invalid BOM; must be 0xEF 0xBB 0xBF if given"},
};

TEST(JsonDoc, ReadsWhatTheParserReadsAndRefusesWithItsWords) {
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(read(c.text), c.shown);
  }
  EXPECT_EQ(read("{} // x", Comments::refused), "line 1, column 4: a comment, which this file must not hold: it is read as strict JSON");
}

TEST(JsonDoc, TheLastOfRepeatedKeysCounts) {
  JsonDoc doc("{\"a\": 1, \"\\u0061\": [{}], \"b\": 3}", Comments::refused);
  const JsonDoc::Node* a = doc.find(doc.root(), "a");
  ASSERT_TRUE(a && doc.isObjectList(*a));
  EXPECT_EQ(a->begin, 19u);
  EXPECT_EQ(doc.find(doc.root(), "c"), nullptr);
  EXPECT_EQ(doc.find(*a, "a"), nullptr);
}

}  // namespace
