// A settings text read once: checked whole and strictly, and kept as a tree of
// its values, each with the bytes it takes, so that an editor can change the
// text at exactly the places that change and a reader never parses it again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "settings/json_syntax.h"

namespace tarnel {

/// Bytes [begin, end) of a text.
struct Span {
  std::size_t begin = 0, end = 0;
};

enum class JsonKind : std::uint8_t { object, array, string, number, boolean, null };

/// A validated settings text (see strictJsonError for what passes) as a tree:
/// each value a node with its kind, its bytes and, in an object, its key's
/// bytes and decoded name. The top level is an object or an array. Spans are
/// those of the text, comments included; the text must outlive the document.
class JsonDoc {
public:
  /// One value of the text.
  struct Node {
    std::uint32_t begin, end;        ///< the value's bytes
    std::uint32_t keyBegin, keyEnd;  ///< its key's bytes, quotes included, in an object; both 0 elsewhere
    std::uint32_t next;              ///< the index of the node after it and all it holds
    JsonKind kind;
    bool escapedKey, escaped;  ///< whether the key, or the string value, holds a backslash

    Span span() const { return {begin, end}; }
    Span key() const { return {keyBegin, keyEnd}; }
    /// The member's bytes: from its key to the end of its value.
    Span whole() const { return {keyEnd ? keyBegin : begin, end}; }
  };

  /// The values directly inside a container, in text order.
  class Children {
  public:
    class iterator {
    public:
      using iterator_category = std::forward_iterator_tag;
      using value_type = Node;
      using difference_type = std::ptrdiff_t;
      using pointer = const Node*;
      using reference = const Node&;
      iterator() = default;
      iterator(const Node* nodes, std::uint32_t at) : nodes_(nodes), at_(at) {}
      const Node& operator*() const { return nodes_[at_]; }
      const Node* operator->() const { return nodes_ + at_; }
      iterator& operator++() { return at_ = nodes_[at_].next, *this; }
      iterator operator++(int) { return std::exchange(*this, iterator(nodes_, nodes_[at_].next)); }
      bool operator==(const iterator& other) const { return at_ == other.at_; }

    private:
      const Node* nodes_ = nullptr;
      std::uint32_t at_ = 0;
    };
    Children(const Node* nodes, std::uint32_t first, std::uint32_t end) : nodes_(nodes), first_(first), end_(end) {}
    iterator begin() const { return {nodes_, first_}; }
    iterator end() const { return {nodes_, end_}; }
    bool empty() const { return first_ == end_; }

  private:
    const Node* nodes_;
    std::uint32_t first_, end_;
  };

  /// Reads `text`; throws JsonSyntaxError with strictJsonError's words.
  JsonDoc(std::string_view text, Comments comments);

  std::string_view text() const { return text_; }
  const Node& root() const { return nodes_.front(); }
  Children children(const Node& container) const;
  /// The member `name` of `object`: the last of repeated keys, as JSON readers
  /// take it. Nullptr when it has none, or `object` is no object.
  const Node* find(const Node& object, std::string_view name) const;
  /// Whether `node` is an array whose elements are all objects (the empty one is).
  bool isObjectList(const Node& node) const;
  /// The decoded name of a member.
  std::string_view name(const Node& member) const { return decoded(member.keyBegin, member.keyEnd, member.escapedKey); }
  /// The decoded text of a string value.
  std::string_view string(const Node& value) const { return decoded(value.begin, value.end, value.escaped); }
  /// The value whose bytes begin at `begin`; nullptr for none.
  const Node* at(std::size_t begin) const;
  /// The comments inside [begin, end), in order; a `//` comment's span ends past its line break.
  std::vector<Span> comments(std::size_t begin, std::size_t end) const;
  /// The first byte at or after `at` that is neither whitespace nor in a comment.
  std::size_t skipSpace(std::size_t at) const;

private:
  friend class JsonScanner;
  std::string_view decoded(std::uint32_t open, std::uint32_t close, bool escaped) const;

  std::string_view text_;
  std::vector<Node> nodes_;  ///< in text order: each container before what it holds
  std::vector<Span> comments_;
  std::vector<std::pair<std::uint32_t, std::string>> unescaped_;  ///< strings with escapes, by their quote's place
};

}  // namespace tarnel
